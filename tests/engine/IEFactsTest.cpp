#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "engine/model/IEFacts.h"
#include "engine/model/IEValue.h"
#include "tests/support/IETestValues.h"

namespace ie {
namespace {

using namespace ie::test;

TRefPtr<TFactTemplate> Foo() {
    auto t = TFactTemplate::CreateNamed(nullptr, "foo");
    t->AddSlot("x", Atom("none"));
    t->AddSlot("y", Atom("none"));
    return t;
}

TRefPtr<IFact> FooFact(const TRefPtr<TFactTemplate>& t, std::string_view x, std::string_view y) {
    auto f = t->NewFact();
    f->SetSlotValue("x", Atom(x));
    f->SetSlotValue("y", Atom(y));
    return f;
}

TEST(FactTemplate, ImpliedExactlyWhileDataIsTheOnlySlot) {
    auto t = TFactTemplate::CreateNamed(nullptr, "alert");
    t->AddMultiSlot("__Data", List({}));
    EXPECT_TRUE(t->GetImplied());
    t->AddSlot("extra", Int(0));
    EXPECT_FALSE(t->GetImplied());
    t->DeleteSlot("extra");
    EXPECT_TRUE(t->GetImplied());
    EXPECT_EQ(RaisedMessage([&] { t->DeleteSlot("extra"); }), "No such slot name: \"extra\"");
}

TEST(FactTemplate, SlotNamesAreCheckedAndRenamesKeepEverySlot) {
    auto t = Foo();
    auto x = t->SlotByName("x");
    EXPECT_EQ(RaisedMessage([&] { x->SetName("a b"); }),
              "a b contains unexpected character: \" \"");
    x->SetName("x"); // unchanged: silent
    // Renaming onto another slot's name would lose that slot: refused.
    EXPECT_EQ(RaisedMessage([&] { x->SetName("y"); }), "Slot name already exists: \"y\"");
    EXPECT_EQ(t->SlotCount(), 2);
    EXPECT_EQ(t->SlotByName("y")->GetName(), "y");
    x->SetName("z");
    EXPECT_EQ(t->IndexOfSlot("z"), 0); // keeps its place
    EXPECT_FALSE(t->HasSlot("x"));
    EXPECT_EQ(RaisedMessage([&] { t->SetName("a(b"); }),
              "a(b contains unexpected character: \"(\"");
}

TEST(FactTemplate, SlotPositionsHoldPastEightSlotsThroughRenamesAndDeletions) {
    auto t = TFactTemplate::CreateNamed(nullptr, "wide");
    for (int i = 0; i < 12; ++i)
        t->AddSlot(std::string(1, 's').append(std::to_string(i)), Int(i));
    t->SlotByName("s3")->SetName("t3");
    t->DeleteSlot("s0");
    t->DeleteSlot("s1");
    // 10 slots, then 6 (the short list alone again), then 7 with one added back.
    for (int size : {10, 6, 7}) {
        if (size == 6)
            for (const char* name : {"s2", "s5", "s7", "s9"})
                t->DeleteSlot(name);
        if (size == 7) t->AddSlot("s1", Int(1));
        ASSERT_EQ(t->SlotCount(), size);
        for (int i = 0; i < size; ++i) {
            const std::string& name = t->SlotAt(i)->GetName();
            EXPECT_EQ(t->IndexOfSlot(name), i) << name;
            EXPECT_EQ(t->IndexOfSlotText(*TIEText::Make(name)), i) << name;
        }
        EXPECT_EQ(t->IndexOfSlot("s3"), -1);
        EXPECT_EQ(t->IndexOfSlotText(*TIEText::Make("s0")), -1);
    }
    EXPECT_EQ(t->SlotAt(0)->GetName(), "t3");
    EXPECT_EQ(t->SlotAt(6)->GetName(), "s1");
}

TEST(FactTemplate, AddingSlotsChecksDefaultsAndKinds) {
    auto t = Foo();
    EXPECT_EQ(RaisedMessage([&] { t->AddSlot("z", nullptr); }), "Bad Slot Type");
    EXPECT_EQ(RaisedMessage([&] { t->AddSlot("z", List({Atom("a")})); }),
              "Invalid default slot value: a ");
    EXPECT_EQ(RaisedMessage([&] { t->AddMultiSlot("z", Atom("a")); }),
              "Invalid default value for a multislot, must be a multifield: a");
    EXPECT_EQ(RaisedMessage([&] { t->AddMultiSlot("  ", List({})); }), "Bad Slot Name:   ");
    EXPECT_EQ(RaisedMessage([&] { t->AddMultiSlot("x", List({})); }),
              "Invalid value for existing slot, slot is not multislot");
    t->AddMultiSlot("m", List({}));
    EXPECT_EQ(RaisedMessage([&] { t->AddSlot("m", Int(1)); }),
              "Invalid value for existing slot, multislot is not slot");
    t->AddSlot("x", Atom("other")); // existing single slot: only the default changes
    EXPECT_EQ(t->SlotByName("x")->GetSlotDefault()->GetText(), "other");
    EXPECT_EQ(t->SlotCount(), 3);
    auto extra = TFactSlot::Create(nullptr);
    extra->SetName("w");
    EXPECT_EQ(RaisedMessage([&] { t->PutSlot("v", extra); }),
              "Index does not match fact slot name: v and w");
}

TEST(FactSlot, ValidationNamesKindsAndOffendingElements) {
    auto t = TFactTemplate::CreateNamed(nullptr, "t");
    auto x = t->AddSlot("x", Int(0));
    x->SetSlotType(TIETypes{dtInteger});
    EXPECT_TRUE(x->IsValidValue(TIEValue::CreateText(dtVariable, "v").get()));
    EXPECT_TRUE(x->IsValidValue(Int(3).get()));
    EXPECT_EQ(x->ValidationMessage(Atom("abc").get()),
              "Not a INTEGER type.  Value (abc) is a dtAtom type for x slot");
    EXPECT_EQ(x->ValidationMessage(Int(1).get()), "");

    auto m = t->AddMultiSlot("m", List({}));
    m->SetSlotType(TIETypes{dtInteger, dtList, dtMultiSlot});
    auto bad = List({Int(1), Atom("abc")});
    EXPECT_FALSE(m->IsValidValue(bad.get()));
    EXPECT_NE(m->ValidationMessage(bad.get()).find("dtAtom (abc)"), std::string::npos);
    EXPECT_TRUE(m->IsValidValue(List({Int(1), Int(2)}).get()));

    EXPECT_EQ(RaisedMessage([&] {
                  x->SetSlotType(TIETypes{dtFuzzy, dtInteger});
              }),
              "Cannot mix fuzzy type with other primitive types");
    m->SetSlotType(TIETypes{dtFuzzy, dtList, dtMultiSlot});
    EXPECT_TRUE(m->IsFuzzy());
    EXPECT_TRUE(t->IsFuzzy());
}

TEST(FactTemplate, EqualityIgnoresOwnerAndHashFollowsNameAndSlots) {
    TComponent a(nullptr), b(nullptr);
    auto t1 = TFactTemplate::CreateNamed(&a, "foo");
    auto t2 = TFactTemplate::CreateNamed(&b, "foo");
    for (auto& t : {t1, t2}) {
        t->AddSlot("x", Int(0));
        t->AddMultiSlot("m", List({}));
    }
    EXPECT_TRUE(t1->Equals(t2.get()));
    EXPECT_EQ(t1->GetHashCode(), t2->GetHashCode());
    t2->SlotByName("x")->SetSlotDefault(Int(1));
    EXPECT_FALSE(t1->Equals(t2.get()));
    const int32_t before = t1->GetHashCode();
    t1->AddSlot("z", Int(0));
    EXPECT_NE(t1->GetHashCode(), before);

    auto copy = RefCast<IFactTemplate>(t1->Clone());
    EXPECT_TRUE(copy->Equals(t1.get()));
    EXPECT_EQ(copy->SlotAt(2)->GetName(), "z"); // declaration order kept
}

TEST(Fact, UnsetSlotsReadAsPrivateCopiesOfTheDefault) {
    auto t = TFactTemplate::CreateNamed(nullptr, "p");
    t->AddSlot("x", Int(5));
    auto f = TFact::Create(t);
    auto v = f->GetSlotValue("x");
    EXPECT_EQ(v->AsInteger(), 5);
    v->SetAsInteger(9);
    EXPECT_EQ(t->SlotByName("x")->GetSlotDefault()->AsInteger(), 5);
    EXPECT_EQ(f->GetSlotValue("x")->AsInteger(), 9);
    EXPECT_EQ(RaisedMessage([&] { f->GetSlotValue("nope"); }), "No such slot name: \"nope\"");
    TRefPtr<IIEValue> found;
    EXPECT_FALSE(f->FindSlotValue("nope", found));
    auto bare = TFact::Create(nullptr);
    EXPECT_EQ(RaisedMessage([&] { bare->GetSlotValue("x"); }), "Fact Template is missing");
    EXPECT_EQ(RaisedMessage([&] { bare->SetSlotValue("x", Int(1)); }), "Fact Template is missing");
}

TEST(Fact, EqualityComparesNonFuzzySlotsOfTheSameTemplateObject) {
    auto t = Foo();
    auto fz = t->AddMultiSlot("fz", List({}));
    fz->SetSlotType(TIETypes{dtFuzzy, dtList, dtMultiSlot});
    auto a = FooFact(t, "1", "2");
    auto b = FooFact(t, "1", "2");
    a->SetSlotValue("fz", List({Atom("hot")}));
    b->SetSlotValue("fz", List({Atom("cold")}));
    a->SetFactId(1);
    b->SetFactId(2);
    EXPECT_TRUE(a->Equals(b.get()));
    b->SetSlotValue("y", Atom("3"));
    EXPECT_FALSE(a->Equals(b.get()));
    auto other = FooFact(Foo(), "1", "2"); // an equal template, but another object
    EXPECT_FALSE(FooFact(t, "1", "2")->Equals(other.get()));
}

// Two different facts whose texts concatenate alike have the same hash code; the duplicate index
// must still keep both and never hand out or remove the wrong one.
TEST(FactIndex, CollidingHashesStayApart) {
    auto t = Foo();
    auto ab_c = FooFact(t, "ab", "c");
    auto a_bc = FooFact(t, "a", "bc");
    ASSERT_EQ(ab_c->GetHashCode(), a_bc->GetHashCode());
    ASSERT_FALSE(ab_c->Equals(a_bc.get()));

    for (bool specHash : {true, false}) {
        TFactIndex index = specHash ? TFactIndex([](const IFact& f) {
            return static_cast<size_t>(static_cast<uint32_t>(f.GetHashCode()));
        })
                                    : TFactIndex();
        index.Add(ab_c);
        EXPECT_EQ(index.FindEqual(*a_bc), nullptr);
        index.Add(a_bc);
        EXPECT_EQ(index.FindEqual(*FooFact(t, "a", "bc")), a_bc.get());
        EXPECT_EQ(index.FindEqual(*FooFact(t, "ab", "c")), ab_c.get());
        // Retracting an equal copy's stored fact removes that very fact only.
        EXPECT_FALSE(index.Remove(*FooFact(t, "ab", "c")));
        EXPECT_TRUE(index.Remove(*ab_c));
        EXPECT_EQ(index.FindEqual(*FooFact(t, "ab", "c")), nullptr);
        EXPECT_EQ(index.FindEqual(*FooFact(t, "a", "bc")), a_bc.get());
        EXPECT_EQ(index.Count(), 1);
    }
}

// Working memory with fact duplication on holds equal facts side by side: the index answers with
// the earliest still indexed, removes each very object only once, and keeps the others.
TEST(FactIndex, EqualFactsSideBySideLeaveOneByOne) {
    auto t = Foo();
    auto first = FooFact(t, "1", "2");
    auto second = FooFact(t, "1", "2");
    auto third = FooFact(t, "1", "2");
    auto other = FooFact(t, "3", "4");
    TFactIndex index;
    for (const auto& f : {first, second, third, other})
        index.Add(f);
    EXPECT_EQ(index.Count(), 4);
    EXPECT_EQ(index.FindEqual(*FooFact(t, "1", "2")), first.get());
    EXPECT_FALSE(index.Remove(*FooFact(t, "1", "2"))); // equal, but not indexed itself
    EXPECT_TRUE(index.Remove(*second));
    EXPECT_FALSE(index.Remove(*second));
    EXPECT_EQ(index.FindEqual(*second), first.get());
    EXPECT_TRUE(index.Remove(*first));
    EXPECT_EQ(index.FindEqual(*first), third.get());
    index.Add(first); // back again: now the latest of the two
    EXPECT_NO_THROW(index.CheckInvariants());
    EXPECT_TRUE(index.Remove(*third));
    EXPECT_EQ(index.FindEqual(*third), first.get());
    EXPECT_TRUE(index.Remove(*first));
    EXPECT_EQ(index.FindEqual(*first), nullptr);
    EXPECT_EQ(index.FindEqual(*FooFact(t, "3", "4")), other.get());
    EXPECT_EQ(index.Count(), 1);
    // The index let go of every reference it took.
    EXPECT_EQ(first->RefCount(), 1);
    EXPECT_EQ(second->RefCount(), 1);
    EXPECT_EQ(third->RefCount(), 1);
    EXPECT_EQ(other->RefCount(), 2);
}

// The checker finds a fact changed in place while indexed (its stored hash is stale) and a fact
// indexed twice.
TEST(FactIndex, CheckerCatchesAStaleHashAndAFactIndexedTwice) {
    auto t = Foo();
    auto a = FooFact(t, "1", "2");
    TFactIndex index;
    index.Add(a);
    index.Add(FooFact(t, "1", "2"));
    EXPECT_NO_THROW(index.CheckInvariants());
    a->SetSlotValue("x", Atom("9"));
    EXPECT_THROW(index.CheckInvariants(), std::logic_error);
    index.Clear();
    index.Add(a);
    index.Add(a);
    EXPECT_THROW(index.CheckInvariants(), std::logic_error);
}

// Adding reuses the hash of the lookup just before it only while the fact is unchanged.
TEST(FactIndex, AFactChangedAfterTheLookupIsAddedUnderItsNewHash) {
    auto t = Foo();
    TFactIndex index;
    index.Add(FooFact(t, "0", "0"));
    auto a = FooFact(t, "1", "2");
    EXPECT_EQ(index.FindEqual(*a), nullptr);
    a->SetSlotValue("x", Atom("9"));
    index.Add(a);
    EXPECT_NO_THROW(index.CheckInvariants());
    EXPECT_EQ(index.FindEqual(*FooFact(t, "9", "2")), a.get());
}

// Every fact under one hash: lookups walk past removed entries, growth keeps every fact, and an
// equal fact added again after its twin left is found.
TEST(FactIndex, OneSharedHashSurvivesRemovalsAndGrowth) {
    auto t = Foo();
    TFactIndex index([](const IFact&) { return size_t{7}; });
    std::vector<TRefPtr<IFact>> facts;
    for (int i = 0; i < 300; ++i) {
        facts.push_back(FooFact(t, std::to_string(i), "y"));
        index.Add(facts.back());
    }
    for (int i = 0; i < 300; i += 2)
        EXPECT_TRUE(index.Remove(*facts[i]));
    EXPECT_FALSE(index.Remove(*facts[0]));
    EXPECT_EQ(index.Count(), 150);
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(index.FindEqual(*FooFact(t, std::to_string(i), "y")),
                  i % 2 ? facts[i].get() : nullptr);
    auto again = FooFact(t, "0", "y");
    index.Add(again);
    EXPECT_EQ(index.FindEqual(*facts[0]), again.get());
    index.Clear();
    EXPECT_EQ(index.Count(), 0);
    EXPECT_EQ(index.FindEqual(*again), nullptr);
}

// Ordered facts of two small numbers, the working memory of a transitive closure: the identity
// hash takes each field in order, so permuted and nearby pairs spread over the table instead of
// sharing a handful of sums, and equal facts still hash alike.
TEST(FactIndex, OrderedFactsOfSmallNumbersHashApart) {
    auto t = TFactTemplate::CreateNamed(nullptr, "path");
    t->AddMultiSlot("__Data", List({}));
    auto pathFact = [&](int a, int b) {
        auto f = t->NewFact();
        f->SetSlotValue("__Data", List({Int(a), Int(b)}));
        return f;
    };
    auto hashOf = [](const TRefPtr<IFact>& f) {
        return dynamic_cast<const TFact&>(*f).IdentityHash();
    };
    std::set<size_t> hashes;
    TFactIndex index;
    for (int a = 1; a <= 60; ++a)
        for (int b = 1; b <= 60; ++b) {
            auto f = pathFact(a, b);
            hashes.insert(hashOf(f));
            index.Add(f);
        }
    EXPECT_GE(hashes.size(), 3590u); // of 3600
    EXPECT_EQ(hashOf(pathFact(3, 7)), hashOf(pathFact(3, 7)));
    EXPECT_NE(hashOf(pathFact(3, 7)), hashOf(pathFact(7, 3)));
    EXPECT_EQ(index.Count(), 3600);
    auto found = index.FindEqual(*pathFact(42, 17));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->GetSlotValue("__Data")->GetText(), "42 17 ");
    EXPECT_EQ(index.FindEqual(*pathFact(61, 1)), nullptr);
}

TEST(Fact, ChangingTheTemplateKeepsSharedSlots) {
    auto t = Foo();
    auto f = FooFact(t, "1", "2");
    auto u = TFactTemplate::CreateNamed(nullptr, "bar");
    u->AddSlot("y", Atom("dy"));
    u->AddSlot("w", Atom("dw"));
    f->SetTemplate(u);
    EXPECT_EQ(f->GetSlotValue("y")->GetText(), "2");
    EXPECT_EQ(f->GetSlotValue("w")->GetText(), "dw");
    EXPECT_FALSE(f->GetTemplate()->HasSlot("x"));

    // Slots added to or deleted from the template after the fact was made.
    auto g = FooFact(t, "1", "2");
    t->DeleteSlot("x");
    t->AddSlot("n", Int(4));
    EXPECT_EQ(g->GetSlotValue("y")->GetText(), "2");
    EXPECT_EQ(g->GetSlotValue("n")->AsInteger(), 4);
    EXPECT_EQ(g->GetText(), "(foo (y 2) (n 4))");
    // A slot renamed, then another added, before the fact is read again: the value follows
    // its slot to the new name.
    t->SlotByName("y")->SetName("z");
    t->AddSlot("m", Int(9));
    EXPECT_EQ(g->GetText(), "(foo (z 2) (n 4) (m 9))");

    auto other = Foo();
    auto h = FooFact(other, "1", "2");
    EXPECT_EQ(RaisedMessage([&] { h->AssignValues(*g); }),
              "Unable to assign slot values, fact templates are different: foo and foo");
}

TEST(Fact, CloneCopiesValuesIdentifierAndTag) {
    auto t = Foo();
    auto f = FooFact(t, "1", "2");
    f->SetFactId(7);
    f->SetTag(3);
    auto c = RefCast<IFact>(f->Clone());
    EXPECT_TRUE(c->Equals(f.get()));
    EXPECT_EQ(c->GetFactId(), 7);
    EXPECT_EQ(c->GetTag(), 3);
    c->GetSlotValue("x")->SetAsAtom("changed");
    EXPECT_EQ(f->GetSlotValue("x")->GetText(), "1");
    EXPECT_EQ(f->GetLabel(), "f-7 (foo (x 1) (y 2))");
}

TEST(DefaultWriter, FactsSlotsTemplatesAndFactSets) {
    auto ordered = TFactTemplate::CreateNamed(nullptr, "alert");
    ordered->AddMultiSlot("__Data", List({}));
    auto f = ordered->NewFact();
    EXPECT_EQ(f->GetText(), "(alert)");
    f->SetSlotValue("__Data", List({Atom("Power")}));
    EXPECT_EQ(f->GetText(), "(alert Power )");

    auto t = TFactTemplate::CreateNamed(nullptr, "point");
    auto x = t->AddSlot("x", Int(0));
    x->SetSlotType(TIETypes{dtInteger, dtFloat});
    EXPECT_EQ(x->GetText(), "(slot x (type INTEGER FLOAT)\r\n        (default 0) )");
    auto name = t->AddSlot("name", Atom("none"));
    EXPECT_EQ(name->GetText(), "(slot name (default none) )");
    auto tags = t->AddMultiSlot("tags", List({}));
    EXPECT_EQ(tags->GetText(), "(multislot tags )");
    t->SetComment("a point");
    EXPECT_EQ(t->GetText(), "(deftemplate point \"a point\"\r\n"
                            "    (slot x (type INTEGER FLOAT)\r\n"
                            "            (default 0) )\r\n"
                            "    (slot name (default none) )\r\n"
                            "    (multislot tags )\r\n"
                            ")");

    TFactSet set(nullptr);
    EXPECT_EQ(set.FactSetName(), "FactSet");
    set.SetFactSetName("init");
    set.SetComment("c");
    auto a = TFactTemplate::CreateNamed(nullptr, "a");
    a->AddMultiSlot("__Data", List({}));
    auto fa = a->NewFact();
    fa->SetSlotValue("__Data", List({Int(1)}));
    auto b = TFactTemplate::CreateNamed(nullptr, "b");
    b->AddMultiSlot("__Data", List({}));
    EXPECT_EQ(set.AddFact(fa), 0);
    EXPECT_EQ(set.AddFact(b->NewFact()), 1);
    EXPECT_EQ(set.GetText(), "(deffacts init \"c\"\r\n    (a 1 )\r\n    (b)\r\n)");
    EXPECT_EQ(set.GetFact(1)->GetText(), "(b)");
}

} // namespace
} // namespace ie

#include "engine/InferenceEngine.h"

namespace ie {
namespace {

// Labels pad the identifier to the width of the engine's next identifier.
TEST(Fact, LabelsPadToTheNextIdentifiersWidth) {
    TInferenceEngine engine(nullptr);
    engine.SetFactDuplication(true);
    auto t = engine.ImpliedTemplate("n");
    while (engine.NextFactId() < 123)
        engine.AssertFact(t->NewFact(), false);
    auto f = t->NewFact();
    f->SetFactId(7);
    EXPECT_EQ(f->GetLabel(), "f-007 (n)");
    f->SetFactId(1234);
    EXPECT_EQ(f->GetLabel(), "f-1234 (n)");
}

// Under dynamic checks an integer becomes a float for a float slot; other kinds are refused
// and the previous value stays.
TEST(Fact, DynamicChecksConvertIntegersAndRefuseOtherKinds) {
    TInferenceEngine engine(nullptr);
    engine.SetTypeChecks(TTypeChecks{tcStatic, tcDynamic});
    auto t = TFactTemplate::CreateNamed(&engine, "m");
    auto v = t->AddSlot("v", TIEValue::CreateFloat(1.5));
    v->SetSlotType(TIETypes{dtFloat});
    auto f = t->NewFact();
    f->SetSlotValue("v", Int(3));
    EXPECT_EQ(f->GetSlotValue("v")->GetDType(), dtFloat);
    EXPECT_EQ(f->GetSlotValue("v")->AsFloat(), 3.0);
    EXPECT_EQ(RaisedMessage([&] { f->SetSlotValue("v", Atom("abc")); }),
              "Not a FLOAT type.  Value (abc) is a dtAtom type for v slot");
    EXPECT_EQ(f->GetSlotValue("v")->AsFloat(), 3.0);
    EXPECT_EQ(RaisedMessage([&] { v->SetSlotDefault(Atom("abc")); }),
              "Invalid default slot value: abc");
}

} // namespace
} // namespace ie
