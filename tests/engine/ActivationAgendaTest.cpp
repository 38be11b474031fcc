// The agenda's order and its index-based operations, which the engine mixes with insertions and
// removals (the index of an activation is asked for and then used to take it out).
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
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

TEST(ActivationAgenda, CheckerPassesAcrossBlockSplitsAndCatchesAStrayActivation) {
    TActivationAgenda agenda;
    std::vector<TActivation*> all;
    all.push_back(NewActivation());
    agenda.AddActivation(all.back(), -1); // the last one throughout
    for (int i = 1; i < 400; ++i) {
        all.push_back(NewActivation());
        agenda.File(all.back(), i % 7);
    }
    for (int i = 3; i < 400; i += 3)
        delete agenda.Extract(all[static_cast<size_t>(i)]);
    EXPECT_NO_THROW(agenda.CheckInvariants());
    agenda.IndexOf(all[1]); // builds the index and remembers a place
    EXPECT_NO_THROW(agenda.CheckInvariants());
    for (int i = 2; i < 400; i += 3)
        delete agenda.Extract(all[static_cast<size_t>(i)]);
    EXPECT_NO_THROW(agenda.CheckInvariants());
    // Filed twice in one agenda: refused, the list stays whole.
    EXPECT_THROW(agenda.File(all[1], 5), std::logic_error);
    EXPECT_NO_THROW(agenda.CheckInvariants());
    // Filed in a second agenda without leaving the first.
    TActivationAgenda other;
    other.AddActivation(all[0], 3);
    EXPECT_NO_THROW(other.CheckInvariants());
    EXPECT_THROW(agenda.CheckInvariants(), std::logic_error);
    other.ExtractAll();
    for (TActivation* a : agenda.ExtractAll())
        delete a;
}

TEST(ActivationAgenda, ManyBlocksKeepTheOrderOfAPlainSortedList) {
    // Thousands of insertions and removals at the front, in the middle and at the end under
    // both strategies, checked against a sorted map of (salience, insertion number). For a
    // stretch nobody asks for an index (the index is dropped, then built again).
    TActivationAgenda agenda;
    std::map<std::pair<int, int>, TActivation*> model; // (-salience, +-sequence)
    std::map<TActivation*, std::pair<int, int>> keys;
    unsigned seed = 12345;
    const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    int sequence = 0;
    const auto checkAll = [&] {
        ASSERT_EQ(agenda.Count(), static_cast<int32_t>(model.size()));
        int32_t i = 0;
        for (const auto& [key, activation] : model) {
            ASSERT_EQ(agenda.Item(i), activation) << i;
            ASSERT_EQ(agenda.IndexOf(activation), i);
            ++i;
        }
        EXPECT_NO_THROW(agenda.CheckInvariants()); // the place the walk remembered
        // Backwards, so that no position is the one after the last asked.
        for (auto it = model.rbegin(); it != model.rend(); ++it)
            ASSERT_EQ(agenda.Item(--i), it->second) << i;
        EXPECT_EQ(agenda.First(), model.empty() ? nullptr : model.begin()->second);
        EXPECT_NO_THROW(agenda.CheckInvariants());
    };
    for (int round = 0; round < 4000; ++round) {
        if (round == 2000) agenda.SetStrategy(ssBreadthFirst);
        const bool depth = agenda.Strategy() == ssDepthFirst;
        const bool unasked = round >= 1000 && round < 1800;
        if (model.empty() || next() % 5 < 3) {
            const int salience = static_cast<int>(next() % 4) * 5;
            TActivation* a = NewActivation();
            ++sequence;
            const std::pair<int, int> key{-salience, depth ? -sequence : sequence};
            model[key] = a;
            keys[a] = key;
            if (unasked) {
                agenda.File(a, salience);
                continue;
            }
            const int32_t index = agenda.AddActivation(a, salience);
            ASSERT_EQ(index, static_cast<int32_t>(std::distance(model.begin(), model.find(key))));
        } else {
            // The first one (a firing) half of the time, else one anywhere, taken as the engine
            // does: its index, then the activation at that index.
            auto it = model.begin();
            if (next() % 2) std::advance(it, static_cast<long>(next() % model.size()));
            TActivation* a = it->second;
            if (unasked) {
                ASSERT_EQ(agenda.Extract(a), a);
                keys.erase(a);
                model.erase(it);
                delete a;
                continue;
            }
            const int32_t index = agenda.IndexOf(a);
            ASSERT_EQ(index, static_cast<int32_t>(std::distance(model.begin(), it)));
            ASSERT_EQ(agenda.RemoveActivation(index), a);
            keys.erase(a);
            model.erase(it);
            delete a;
        }
        if (round % 500 == 0) checkAll();
    }
    checkAll();
    // Where a new activation of each salience would go: after the equal ones breadth-first,
    // before them depth-first.
    for (const bool depth : {false, true}) {
        agenda.SetStrategy(depth ? ssDepthFirst : ssBreadthFirst);
        for (int salience = -5; salience <= 20; salience += 5) {
            auto at = model.lower_bound({-salience, depth ? std::numeric_limits<int>::min()
                                                          : std::numeric_limits<int>::max()});
            const int32_t expected =
                at == model.end() ? -1 : static_cast<int32_t>(std::distance(model.begin(), at));
            EXPECT_EQ(agenda.GetInsertIndex(salience), expected) << salience << depth;
        }
    }
    const std::vector<TActivation*> all = agenda.ExtractAll();
    ASSERT_EQ(all.size(), model.size());
    EXPECT_TRUE(std::equal(all.begin(), all.end(), model.begin(),
                           [](TActivation* a, const auto& entry) { return a == entry.second; }));
    for (TActivation* a : all)
        delete a;
}

} // namespace
} // namespace ie
