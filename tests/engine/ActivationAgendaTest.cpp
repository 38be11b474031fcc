// The agenda's order and its index-based operations, which the engine mixes with insertions and
// removals (the index of an activation is asked for and then used to take it out).
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "engine/match/ActivationAgenda.h"
#include "platform/Exceptions.h"

namespace ie {
namespace {

TActivation* NewActivation() {
    return new TActivation(nullptr, 1.0f, nullptr, nullptr);
}

std::vector<TActivation*> InOrder(const TActivationAgenda& agenda) {
    std::vector<TActivation*> all;
    for (int32_t i = 0; i < agenda.Count(); ++i)
        all.push_back(agenda.Item(i));
    return all;
}

TEST(ActivationAgenda, DepthFirstPutsTheNewestOfASalienceFirst) {
    TActivationAgenda agenda;
    TActivation* a = NewActivation();
    TActivation* b = NewActivation();
    TActivation* c = NewActivation();
    EXPECT_EQ(agenda.AddActivation(a, 0), 0);
    EXPECT_EQ(agenda.AddActivation(b, 0), 0);
    EXPECT_EQ(agenda.AddActivation(c, 5), 0);
    EXPECT_EQ(InOrder(agenda), (std::vector<TActivation*>{c, b, a}));
    agenda.SetStrategy(ssBreadthFirst);
    TActivation* d = NewActivation();
    EXPECT_EQ(agenda.AddActivation(d, 0), 3);
    EXPECT_EQ(agenda.First(), c);
}

TEST(ActivationAgenda, IndexesStayRightAcrossInsertionsAndRemovals) {
    TActivationAgenda agenda;
    std::vector<TActivation*> all;
    for (int i = 0; i < 6; ++i) {
        all.push_back(NewActivation());
        agenda.AddActivation(all.back(), i % 2);
    }
    // Order: saliences 1 (newest first: 5, 3, 1), then 0 (4, 2, 0).
    ASSERT_EQ(InOrder(agenda),
              (std::vector<TActivation*>{all[5], all[3], all[1], all[4], all[2], all[0]}));
    EXPECT_EQ(agenda.IndexOf(all[2]), 4);
    // An insertion in front moves everything after it.
    TActivation* front = NewActivation();
    EXPECT_EQ(agenda.AddActivation(front, 9), 0);
    EXPECT_EQ(agenda.Item(4), all[4]);
    EXPECT_EQ(agenda.IndexOf(all[2]), 5);
    // A removal in front as well.
    EXPECT_EQ(agenda.IndexOf(all[0]), 6);
    delete agenda.Extract(all[5]);
    EXPECT_EQ(agenda.Item(5), all[0]);
    EXPECT_THROW(agenda.Item(6), EListError);
    EXPECT_EQ(agenda.IndexOf(all[0]), 5);
    // The engine's removal: the index, then the activation at that index.
    const int32_t index = agenda.IndexOf(all[3]);
    TActivation* taken = agenda.RemoveActivation(index);
    EXPECT_EQ(taken, all[3]);
    EXPECT_EQ(agenda.IndexOf(all[3]), -1);
    EXPECT_EQ(agenda.Extract(all[3]), nullptr);
    delete taken;
    EXPECT_EQ(InOrder(agenda), (std::vector<TActivation*>{front, all[1], all[4], all[2], all[0]}));
}

TEST(ActivationAgenda, AnActivationOfAnotherAgendaIsNotFound) {
    TActivationAgenda one, two;
    TActivation* a = NewActivation();
    TActivation* b = NewActivation();
    one.AddActivation(a, 0);
    two.AddActivation(b, 0); // the same order key in both
    EXPECT_EQ(one.IndexOf(b), -1);
    EXPECT_EQ(one.Extract(b), nullptr);
    EXPECT_EQ(two.Count(), 1);
    EXPECT_EQ(one.IndexOf(a), 0);
    // Taken out of every agenda at once, then filed again.
    std::vector<TActivation*> all = one.ExtractAll();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(one.IndexOf(a), -1);
    EXPECT_EQ(one.AddActivation(a, 3), 0);
    EXPECT_EQ(one.Item(0), a);
}

TEST(ActivationAgenda, CheckerPassesAcrossBlockSplitsAndCatchesAStaleKey) {
    TActivationAgenda agenda;
    std::vector<TActivation*> all;
    for (int i = 0; i < 400; ++i) {
        all.push_back(NewActivation());
        agenda.AddActivation(all.back(), i % 7);
    }
    for (int i = 0; i < 400; i += 3)
        delete agenda.Extract(all[static_cast<size_t>(i)]);
    agenda.IndexOf(all[1]); // remembered
    EXPECT_NO_THROW(agenda.CheckInvariants());
    // Filed twice: the first slot keeps a key its activation no longer has.
    TActivation* twice = all[1];
    agenda.AddActivation(twice, 3);
    EXPECT_THROW(agenda.CheckInvariants(), std::logic_error);
    std::vector<TActivation*> rest = agenda.ExtractAll();
    std::erase(rest, twice);
    for (TActivation* a : rest)
        delete a;
    delete twice;
}

} // namespace
} // namespace ie
