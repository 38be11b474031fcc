#include "fuzzy/IFuzzyLogic.h"

#include <gtest/gtest.h>

#include <vector>

namespace ie {
namespace {

// Counts the sets and variables that are freed, to check that each is freed exactly once.
struct TFreed {
    int Sets = 0;
    int Variables = 0;
};

class TCountedSet : public TIFuzzySet {
public:
    TCountedSet(IFuzzyVariable* v, std::string_view name, TFreed& freed)
        : TIFuzzySet(v, name), FFreed(freed) {}
    ~TCountedSet() override { ++FFreed.Sets; }
    TRefPtr<TIFuzzySet> CreateSet(IFuzzyVariable* v, std::string_view name) const override {
        return MakeRef<TCountedSet>(v, name, FFreed);
    }

private:
    TFreed& FFreed;
};

class TCountedVariable : public TIFuzzyVariable {
public:
    TCountedVariable(std::string_view name, TFreed& freed) : TIFuzzyVariable(name), FFreed(freed) {}
    ~TCountedVariable() override { ++FFreed.Variables; }
    TRefPtr<TIFuzzySet> CreateTerm(std::string_view name) override {
        return MakeRef<TCountedSet>(this, name, FFreed);
    }

private:
    TFreed& FFreed;
};

TEST(FuzzyVariable, Defaults) {
    auto v = MakeRef<TIFuzzyVariable>("temp");
    EXPECT_DOUBLE_EQ(v->GetMinimum(), 0.0);
    EXPECT_DOUBLE_EQ(v->GetMaximum(), 1.0);
    EXPECT_EQ(v->GetNumFunctionValues(), 7);
    EXPECT_DOUBLE_EQ(v->GetThreshold(), 0.0);
    EXPECT_EQ(v->Count(), 0);
    EXPECT_EQ(v->AsString(), "temp");
}

TEST(FuzzyVariable, UniverseAndThresholdSetters) {
    auto v = MakeRef<TIFuzzyVariable>("v");
    int changes = 0;
    v->SetOnChange([&](IFuzzyVariable&) { ++changes; });
    v->SetMinimum(5);
    EXPECT_DOUBLE_EQ(v->GetMaximum(), 5.0);
    v->SetMaximum(2);
    EXPECT_DOUBLE_EQ(v->GetMinimum(), 2.0);
    EXPECT_EQ(changes, 2);
    v->SetUnits("C"); // no change reported
    EXPECT_EQ(changes, 2);
    v->SetThreshold(1.5);
    EXPECT_DOUBLE_EQ(v->GetThreshold(), 1.0);
    v->SetThreshold(-1);
    EXPECT_DOUBLE_EQ(v->GetThreshold(), 0.0);
}

TEST(FuzzyVariable, TermsByNameInOrder) {
    auto v = MakeRef<TIFuzzyVariable>("v");
    std::vector<std::string> added;
    v->SetOnFuzzySetAdded([&](IFuzzyVariable&, IFuzzySet& s) { added.push_back(s.GetName()); });
    auto cold = v->CreateSet("cold");
    auto warm = v->CreateSet("warm");
    auto empty = v->CreateSet("__Empty");
    EXPECT_EQ(added, (std::vector<std::string>{"cold", "warm", "__Empty"}));
    EXPECT_TRUE(cold->GetRegistered());
    EXPECT_FALSE(empty->GetRegistered());
    EXPECT_EQ(warm->GetTermOrder(), 2);
    EXPECT_EQ(v->GetSet(1), warm);
    EXPECT_EQ(v->GetSet("cold"), cold);
    EXPECT_EQ(v->GetSet("hot"), nullptr);
    EXPECT_EQ(cold->GetFuzzyVariable(), v.get());
    // A set of the same name replaces the term.
    auto other = MakeRef<TIFuzzySet>(nullptr, "cold");
    v->AddSet(other);
    EXPECT_EQ(v->GetSet("cold"), other);
    EXPECT_EQ(other->GetFuzzyVariable(), v.get());
    EXPECT_EQ(other->GetTermOrder(), 4);
    v->RemoveSet(cold.get()); // not the term of that name any more
    EXPECT_EQ(v->Count(), 3);
    v->RemoveSet(other.get());
    EXPECT_EQ(v->Count(), 2);
}

TEST(FuzzyVariable, TermsEditsNotifyTheVariable) {
    auto v = MakeRef<TIFuzzyVariable>("v");
    int setChanges = 0;
    v->SetOnFuzzySetChange([&](IFuzzyVariable&, IFuzzySet&) { ++setChanges; });
    auto t = v->CreateSet("t");
    t->Add(0.5, 1);
    EXPECT_EQ(setChanges, 1);
}

TEST(FuzzyVariable, SetTextWithoutParser) {
    auto v = MakeRef<TIFuzzyVariable>("v");
    auto cold = v->CreateSet("cold");
    cold->Add(0, 1);
    cold->Add(0.5, 0);
    EXPECT_EQ(cold->AsString(), "(cold (0.0000 1.0000) (0.5000 0.0000) )");
    EXPECT_EQ(MakeRef<TIFuzzySet>(nullptr, "e")->ValuesAsString(), "()");
    cold->SetRegistered();
    cold->SetRegistered();
    EXPECT_TRUE(cold->GetRegistered());
}

TEST(FuzzyVariable, InferFiresAtTheThreshold) {
    auto v = MakeRef<TIFuzzyVariable>("v");
    v->SetMaximum(4);
    auto a = v->CreateSet("a");
    a->Triangle(0, 1, 2);
    auto x = v->CreateSet("x");
    x->Triangle(1.5, 1.5, 1.5); // crisp: degree of a at 1.5 is 0.5
    auto b = v->CreateSet("b");
    b->Triangle(2, 3, 4);
    v->SetThreshold(0.5);
    auto r = v->Infer(*a, *b, *x, nullptr);
    ASSERT_TRUE(r);
    // The conclusion is clipped at the degree.
    EXPECT_EQ(r->ValuesAsString(),
              "((2.0000 0.0000) (2.5000 0.5000) (3.0000 0.5000) (3.5000 0.5000) (4.0000 0.0000) )");
    EXPECT_EQ(b->ValuesAsString(), "((2.0000 0.0000) (3.0000 1.0000) (4.0000 0.0000) )");
    v->SetThreshold(0.5001);
    EXPECT_FALSE(v->Infer(*a, *b, *x, nullptr));
}

TEST(FuzzyVariable, CloneCopiesPropertiesAndTerms) {
    auto v = MakeRef<TIFuzzyVariable>("v");
    v->SetMaximum(10);
    v->SetUnits("m");
    v->CreateSet("short")->Triangle(0, 0, 5);
    auto copy = RefCast<TIFuzzyVariable>(v->Clone());
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->Equals(v.get()));
    auto term = copy->GetSet("short");
    ASSERT_TRUE(term);
    EXPECT_NE(term, v->GetSet("short"));
    EXPECT_EQ(term->GetFuzzyVariable(), copy.get());
    EXPECT_TRUE(term->GetRegistered()); // copied terms stay protected
    EXPECT_EQ(term->ValuesAsString(), "((0.0000 0.0000) (0.0000 1.0000) (5.0000 0.0000) )");
    copy->SetUnits("km");
    EXPECT_FALSE(copy->Equals(v.get()));
}

// Releasing the last outside reference frees the variable and its terms, each exactly once.
TEST(FuzzyVariableLifetime, LastReleaseFreesVariableAndTerms) {
    TFreed freed;
    {
        TRefPtr<TIFuzzyVariable> v = MakeRef<TCountedVariable>("v", freed);
        v->CreateSet("low");
        v->CreateSet("medium");
        v->CreateSet("high");
        EXPECT_EQ(v->RefCount(), 1); // terms do not keep their variable alive
    }
    EXPECT_EQ(freed.Variables, 1);
    EXPECT_EQ(freed.Sets, 3);
}

TEST(FuzzyVariableLifetime, ATermHeldElsewhereOutlivesItsVariable) {
    TFreed freed;
    TRefPtr<IFuzzySet> kept;
    {
        TRefPtr<TIFuzzyVariable> v = MakeRef<TCountedVariable>("v", freed);
        v->CreateSet("low");
        kept = v->CreateSet("high");
        kept->Add(0.5, 1);
    }
    EXPECT_EQ(freed.Variables, 1);
    EXPECT_EQ(freed.Sets, 1);
    EXPECT_EQ(kept->GetFuzzyVariable(), nullptr);
    EXPECT_EQ(kept->ValuesAsString(), "((0.5000 1.0000) )");
    kept->Add(2, 0); // usable: the free universe
    kept = nullptr;
    EXPECT_EQ(freed.Sets, 2);
}

TEST(FuzzyVariableLifetime, SetsDerivedFromATermKeepTheVariable) {
    TFreed freed;
    TRefPtr<IFuzzySet> derived;
    {
        TRefPtr<TIFuzzyVariable> v = MakeRef<TCountedVariable>("v", freed);
        auto hot = v->CreateSet("hot");
        hot->Triangle(0, 1, 1);
        derived = RefCast<IFuzzySet>(hot->Clone());
        derived->Hedge(fhVery);
    }
    EXPECT_EQ(freed.Variables, 0);
    ASSERT_TRUE(derived->GetFuzzyVariable());
    EXPECT_DOUBLE_EQ(derived->GetXMax(), 1.0);
    derived = nullptr;
    EXPECT_EQ(freed.Variables, 1);
    EXPECT_EQ(freed.Sets, 2);
}

TEST(FuzzyVariableLifetime, RemovedAndClearedTermsKeepTheirVariable) {
    TFreed freed;
    TRefPtr<IFuzzySet> removed, cleared;
    {
        TRefPtr<TIFuzzyVariable> v = MakeRef<TCountedVariable>("v", freed);
        removed = v->CreateSet("a");
        cleared = v->CreateSet("b");
        v->RemoveSet(removed.get());
        v->Clear();
        EXPECT_EQ(v->Count(), 0);
    }
    EXPECT_EQ(freed.Variables, 0);
    EXPECT_EQ(removed->GetFuzzyVariable()->GetName(), "v");
    removed = nullptr;
    cleared = nullptr;
    EXPECT_EQ(freed.Variables, 1);
    EXPECT_EQ(freed.Sets, 2);
}

TEST(FuzzyVariableLifetime, MovingATermToAnotherVariable) {
    TFreed freed;
    {
        TRefPtr<TIFuzzyVariable> a = MakeRef<TCountedVariable>("a", freed);
        TRefPtr<TIFuzzyVariable> b = MakeRef<TCountedVariable>("b", freed);
        auto t = a->CreateSet("t");
        b->AddSet(t);
        EXPECT_EQ(a->Count(), 0);
        EXPECT_EQ(b->Count(), 1);
        EXPECT_EQ(t->GetFuzzyVariable(), b.get());
        a = nullptr;
        EXPECT_EQ(freed.Variables, 1);
    }
    EXPECT_EQ(freed.Variables, 2);
    EXPECT_EQ(freed.Sets, 1);
}

} // namespace
} // namespace ie
