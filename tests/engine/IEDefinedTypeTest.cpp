#include <gtest/gtest.h>

#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFuzzyLogic.h"
#include "engine/model/IEValue.h"
#include "tests/support/IETestValues.h"

using namespace ie;

using namespace ie::test;

TEST(IEDefinedType, NewTypeAcceptsEveryKindButLists) {
    auto t = TIEDefinedType::Create(nullptr);
    EXPECT_EQ(t->GetName(), "implicit");
    EXPECT_TRUE(t->IsValid(Int(5).get()));
    EXPECT_TRUE(t->IsValid(Atom("a").get()));
    EXPECT_TRUE(t->IsValid(TIEValue::CreateInteger(dtFactId, 3).get()));
    EXPECT_FALSE(t->GetBaseTypes().Contains(dtList));
    // A multifield of valid elements is judged by its elements and, when limited, its count.
    auto list = List({Int(1), Atom("b")});
    EXPECT_TRUE(t->IsValid(list.get()));
    t->SetCardinalityLimited(true);
    t->SetMinCardinality(3);
    EXPECT_FALSE(t->IsValid(list.get()));
    EXPECT_EQ(t->ValidationError(list.get()),
              "Value \"1 b \" is not valid, Multislot must have between 3 and 2147483647 elements");
}

TEST(IEDefinedType, RangeIsInclusiveAndOnlyForNumbers) {
    auto t = TIEDefinedType::Create(nullptr);
    t->SetRangeLimited(true);
    t->SetMinRange(0);
    t->SetMaxRange(10);
    EXPECT_TRUE(t->IsValid(Flt(10.0).get()));
    EXPECT_FALSE(t->IsValid(Flt(10.0001).get()));
    EXPECT_TRUE(t->IsValid(Atom("b").get()));
    EXPECT_EQ(t->ValidationError(Int(11).get()),
              "Value \"11\" is not valid, Range must be between 0.0000 and 10.0000");
    EXPECT_EQ(t->ValidationError(Int(10).get()), "");
}

TEST(IEDefinedType, KindMessageListsAllowedKindsUpperCase) {
    auto t = TIEDefinedType::Create(nullptr);
    t->SetBaseTypes({dtInteger, dtFloat});
    EXPECT_EQ(t->ValidationError(Atom("abc").get()),
              "Value \"abc\" is not valid, Not a INTEGER, FLOAT type.  Value (abc) is a dtAtom "
              "type");
    // Variables, calls and nothing are accepted by every non-fuzzy type.
    EXPECT_TRUE(t->IsValid(TIEValue::CreateText(dtVariable, "x").get()));
    EXPECT_TRUE(t->IsValid(TIEValue::CreateText(dtMultiVariable, "x").get()));
    EXPECT_TRUE(t->IsValid(TIEValue::Create().get()));
    // The first failing element of a list gives its own text.
    EXPECT_EQ(t->ValidationError(List({Int(1), Str("s")}).get()),
              "Value \"1 \"s\" \" is not valid, Value \"\"s\"\" is not valid, Not a INTEGER, "
              "FLOAT type.  Value (\"s\") is a dtString type");
}

TEST(IEDefinedType, EmptyListElementValidatesWithoutCrash) {
    auto t = TIEDefinedType::Create(nullptr);
    auto v = TValueVector::Create();
    v->Add(nullptr);
    auto list = TIEValue::CreateList(v);
    EXPECT_TRUE(t->IsValid(list.get()));
    EXPECT_EQ(t->ValidationError(list.get()), "");
}

TEST(IEDefinedType, FuzzyCannotMixAndLeavesTypeUnchanged) {
    auto t = TIEDefinedType::Create(nullptr);
    const TIETypes before = t->GetBaseTypes();
    EXPECT_EQ(RaisedMessage([&] {
                  t->SetBaseTypes({dtFuzzy, dtAtom});
              }),
              "Cannot mix fuzzy type with other primitive types");
    EXPECT_EQ(t->GetBaseTypes(), before);
    t->SetBaseTypes({dtFuzzy});
    ASSERT_TRUE(t->GetFuzzyVariable());
    EXPECT_TRUE(t->IsValid(Int(3).get())); // numbers become fuzzy values later
    EXPECT_EQ(t->ValidationError(TIEValue::CreateInteger(dtFactId, 1).get()),
              "Value \"<Fact-1>\" is not valid, invalid fuzzy value");
    t->SetBaseTypes({dtAtom});
    EXPECT_FALSE(t->GetFuzzyVariable());
}

TEST(IEDefinedType, FuzzyValueMustBeATermOfTheTypesVariable) {
    auto t = TIEDefinedType::Create(nullptr);
    auto var = NewIEFuzzyVariable("temp");
    var->SetMaximum(100);
    var->SetUnits("celsius");
    t->SetFuzzyVariable(var);
    EXPECT_EQ(t->GetBaseTypes(), TIETypes{dtFuzzy});
    EXPECT_EQ(t->GetMaxRange(), 100.0);
    EXPECT_EQ(t->GetUnits(), "celsius");
    auto hot = var->CreateSet("hot");
    EXPECT_TRUE(t->IsValid(TIEValue::CreateFuzzy(hot).get()));
    auto other = NewIEFuzzyVariable("other");
    EXPECT_FALSE(t->IsValid(TIEValue::CreateFuzzy(other->CreateSet("hot")).get()));
    // The default of a fuzzy slot is the empty term, made when missing.
    auto def = t->DefaultValue(false);
    ASSERT_EQ(def->GetDType(), dtFuzzy);
    EXPECT_EQ(def->AsFuzzy()->GetName(), "__Empty");
    t->SetMaxRange(50);
    EXPECT_EQ(var->GetMaximum(), 50.0);
}

TEST(IEDefinedType, InheritanceLoopIsRefused) {
    auto a = TIEDefinedType::Create(nullptr);
    a->SetName("A");
    auto b = TIEDefinedType::Create(nullptr);
    b->SetName("B");
    b->SetImplicit(true);
    b->SetAncestor(a);
    EXPECT_FALSE(b->GetImplicit());
    EXPECT_EQ(RaisedMessage([&] { a->SetAncestor(b); }),
              "Type inheritance loop detected, A type cannot be an ancestor of itself");
    EXPECT_FALSE(a->GetAncestor());
    b->SetAncestor(nullptr); // break the reference so both are freed
}

TEST(IEDefinedType, AllowedAtomsIgnoreLetterCase) {
    auto t = TIEDefinedType::Create(nullptr);
    t->SetConstraints({vcAtom});
    int changes = 0;
    t->SetOnChange([&](IIEDefinedType*) { ++changes; });
    t->AddAllowedValue(Atom("red"));
    EXPECT_EQ(changes, 1);
    t->AddAllowedValue(Atom("Red"));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(t->AllowedAtomCount(), 1);
    EXPECT_TRUE(t->IsValid(Atom("RED").get()));
    EXPECT_EQ(t->ValidationError(Atom("blue").get()),
              "Value \"blue\" is not valid, Not in allowed values");
    t->RemoveAllowedValue(Atom("rEd").get());
    EXPECT_EQ(t->AllowedAtomCount(), 0);
    EXPECT_EQ(changes, 2);
}

TEST(IEDefinedType, AllowedFloatsAndWholeFloatsAsIntegers) {
    auto t = TIEDefinedType::Create(nullptr);
    t->SetConstraints({vcFloat});
    t->AddAllowedValue(Flt(1.5));
    EXPECT_TRUE(t->IsValid(Flt(1.5).get()));
    EXPECT_FALSE(t->IsValid(Flt(2.5).get()));

    auto n = TIEDefinedType::Create(nullptr);
    n->SetConstraints({vcInteger});
    n->AddAllowedValue(Int(2));
    EXPECT_TRUE(n->IsValid(Flt(2.0).get())); // a whole float is checked as an integer
    // A fraction falls to the float kind, which is not constrained.
    EXPECT_TRUE(n->IsValid(Flt(2.5).get()));
    EXPECT_FALSE(n->IsValid(Int(3).get()));
}

TEST(IEDefinedType, IntegerMatchesAllowedFloatOfSameNumber) {
    // An integer falls to the float list when only floats are constrained; it is compared by
    // number, the way a whole float is compared with the allowed integers.
    auto t = TIEDefinedType::Create(nullptr);
    t->SetConstraints({vcFloat});
    t->AddAllowedValue(Flt(2.0));
    EXPECT_TRUE(t->IsValid(Int(2).get()));
    EXPECT_FALSE(t->IsValid(Int(3).get()));
}

TEST(IEDefinedType, ConstraintMessages) {
    auto t = TIEDefinedType::Create(nullptr);
    t->SetName("color");
    t->SetConstraints({vcAtom});
    EXPECT_EQ(RaisedMessage([&] { t->AddAllowedValue(Int(5)); }),
              "Defined Type color cannot contain Integer constraint types");
    EXPECT_EQ(RaisedMessage([&] { t->AddAllowedValue(TIEValue::CreateInteger(dtFactId, 1)); }),
              "Defined Type color cannot contain FactId constraint types");
    t->SetConstraints({vcAtom, vcString});
    t->AddAllowedValue(Atom("a"));
    t->AddAllowedValue(Str("s"));
    t->SetConstraints({vcAtom});
    EXPECT_EQ(t->AllowedAtomCount(), 1);
    EXPECT_EQ(t->AllowedStringCount(), 0);
    EXPECT_EQ(RaisedMessage([&] { t->GetAllowedString(0); }),
              "Defined Type color does not have String constraints");
    EXPECT_EQ(RaisedMessage([&] { t->DeleteAllowedValue(0, vcFloat); }),
              "Defined Type color does not have Float constraints");
    EXPECT_THROW(t->GetAllowedAtom(5), EListError);
}

TEST(IEDefinedType, ConstraintTextForms) {
    auto t = TIEDefinedType::Create(nullptr);
    t->SetConstraints({vcInteger, vcFloat});
    t->AddAllowedValue(Int(1));
    t->AddAllowedValue(Int(2));
    t->AddAllowedValue(Flt(1.5));
    EXPECT_EQ(t->ConstraintsText(), "    (allowed-numbers 1 2 1.5000 ) \r\n");

    auto all = TIEDefinedType::Create(nullptr);
    all->SetConstraints({vcAtom, vcString, vcInteger, vcFloat});
    all->AddAllowedValue(Atom("a"));
    all->AddAllowedValue(Str("s"));
    all->AddAllowedValue(Int(1));
    all->AddAllowedValue(Flt(2.0));
    EXPECT_EQ(all->ConstraintsText(), "    (allowed-values a \"s\" 1 2.0000 )\r\n");

    auto two = TIEDefinedType::Create(nullptr);
    two->SetConstraints({vcFloat, vcAtom});
    two->AddAllowedValue(Flt(0.5));
    two->AddAllowedValue(Atom("x"));
    EXPECT_EQ(two->ConstraintsText(),
              "    (allowed-floats 0.5000 ) \r\n    (allowed-symbols x )\r\n");
}

TEST(IEDefinedType, AllowedStringsAreEscapedInText) {
    auto t = TIEDefinedType::Create(nullptr);
    t->SetConstraints({vcString});
    t->AddAllowedValue(Str("say \"hi\" \\o/"));
    EXPECT_EQ(t->ConstraintsText(), "    (allowed-strings \"say \\\"hi\\\" \\\\o/\" )\r\n");
}

TEST(IEDefinedType, NamedTypeText) {
    auto small = TIEDefinedType::Create(nullptr);
    small->SetName("small");
    small->SetBaseTypes({dtInteger});
    small->SetRangeLimited(true);
    small->SetMinRange(0);
    small->SetMaxRange(10);
    EXPECT_EQ(small->GetText(),
              "(deftype small extends (type INTEGER)\r\n        (range 0 10) \r\n)");
    small->SetComment("c");
    EXPECT_EQ(small->GetText(), "(deftype small \r\n    \"c\"\r\n    extends (type INTEGER)\r\n"
                                "        (range 0 10) \r\n)");

    auto big = TIEDefinedType::Create(nullptr);
    big->SetName("big");
    big->SetBaseTypes({dtInteger, dtFloat});
    big->SetAncestor(small);
    big->SetRangeLimited(true);
    big->SetMinRange(0);
    big->SetMaxRange(10);
    EXPECT_EQ(big->GetText(), "(deftype big extends (type small FLOAT)\r\n)");
    big->SetMaxRange(20);
    EXPECT_EQ(big->GetText(),
              "(deftype big extends (type small FLOAT)\r\n        (range 0 20) \r\n)");
}

TEST(IEDefinedType, DefaultValues) {
    auto t = TIEDefinedType::Create(nullptr);
    EXPECT_EQ(t->DefaultValue(false)->GetDType(), dtAtom);
    EXPECT_EQ(t->DefaultValue(true)->GetText(), "");
    // A multislot default is not the shared empty list: editing it leaves the constant alone.
    EXPECT_NE(t->DefaultValue(true).get(), IEEmptyList().get());

    auto i = TIEDefinedType::Create(nullptr);
    i->SetBaseTypes({dtInteger});
    i->SetRangeLimited(true);
    i->SetMinRange(3.7);
    EXPECT_EQ(i->DefaultValue(false)->GetText(), "3");
    i->SetCardinalityLimited(true);
    i->SetMinCardinality(2);
    EXPECT_EQ(i->DefaultValue(true)->GetText(), "3 3 ");

    auto f = TIEDefinedType::Create(nullptr);
    f->SetBaseTypes({dtFloat});
    f->SetRangeLimited(true);
    f->SetMaxRange(-2.5);
    EXPECT_EQ(f->DefaultValue(false)->GetText(), "-2.5000");
}

TEST(IEDefinedType, HugeDefaultsAreRefused) {
    auto t = TIEDefinedType::Create(nullptr);
    t->SetName("many");
    t->SetCardinalityLimited(true);
    t->SetMinCardinality(2000000000);
    EXPECT_EQ(RaisedMessage([&] { t->DefaultValue(true); }),
              "Defined Type many cannot make a default of 2000000000 elements, at most 65536 "
              "are allowed");

    auto r = TIEDefinedType::Create(nullptr);
    r->SetName("wide");
    r->SetBaseTypes({dtInteger});
    r->SetRangeLimited(true);
    r->SetMaxRange(1e20);
    r->SetMinRange(1e15);
    EXPECT_EQ(RaisedMessage([&] { r->DefaultValue(false); }),
              "Defined Type wide cannot make an integer default from the range bound "
              "1000000000000000.0000");
}

TEST(IEDefinedType, CardinalityAndRangeSettersKeepOrder) {
    auto t = TIEDefinedType::Create(nullptr);
    t->SetMinCardinality(5);
    t->SetMaxCardinality(2);
    EXPECT_EQ(t->GetMinCardinality(), 2);
    t->SetMinCardinality(-4);
    EXPECT_EQ(t->GetMinCardinality(), 0);
    t->SetMinCardinality(9);
    EXPECT_EQ(t->GetMaxCardinality(), 9);
    t->SetMaxRange(-5);
    EXPECT_EQ(t->GetMinRange(), -2147483648.0);
    t->SetMaxRange(-3e9);
    EXPECT_EQ(t->GetMinRange(), -3e9);
    t->SetMinRange(7);
    EXPECT_EQ(t->GetMaxRange(), 7.0);
}

TEST(IEDefinedType, AssignCopiesAndEquals) {
    auto a = TIEDefinedType::Create(nullptr);
    a->SetName("t");
    a->SetConstraints({vcAtom, vcFloat});
    a->AddAllowedValue(Atom("x"));
    a->AddAllowedValue(Flt(1.25));
    a->SetRangeLimited(true);
    auto b = RefCast<IIEDefinedType>(a->Clone());
    ASSERT_TRUE(b);
    EXPECT_TRUE(a->Equals(b.get()));
    b->AddAllowedValue(Atom("y"));
    EXPECT_FALSE(a->Equals(b.get()));
    EXPECT_EQ(a->AllowedAtomCount(), 1);

    int changes = 0;
    a->SetOnChange([&](IIEDefinedType*) { ++changes; });
    a->Assign(a.get()); // assigning a type to itself changes nothing
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(a->AllowedAtomCount(), 1);
}

namespace {
// An owner that is only compared by identity.
class TNullReasoner : public IReasoner {
public:
    std::string FunCallText(const IFunCall&) override { return {}; }
    std::string FactText(const IFact&) override { return {}; }
    std::string UserFunctionText(const IUserFunction&) override { return {}; }
    std::string DefinedTypeText(const IIEDefinedType& t) override { return "owned " + t.GetName(); }
    void AddUserFunction(const TRefPtr<IUserFunction>&) override {}
    void RemoveUserFunction(const TRefPtr<IUserFunction>&) override {}
    TRefPtr<IUserFunction> FindUserFunction(std::string_view) override { return nullptr; }
    void PutUserFunction(std::string_view, const TRefPtr<IUserFunction>&) override {}
};
} // namespace

TEST(IEDefinedType, AncestorOfAnotherOwnerIsNotCopied) {
    TNullReasoner e1, e2;
    auto parent = TIEDefinedType::Create(&e1);
    auto a = TIEDefinedType::Create(&e1);
    a->SetAncestor(parent);
    auto same = TIEDefinedType::Create(&e1);
    same->Assign(a.get());
    EXPECT_EQ(same->GetAncestor().get(), parent.get());
    auto other = TIEDefinedType::Create(&e2);
    other->Assign(a.get());
    EXPECT_FALSE(other->GetAncestor());
    EXPECT_EQ(other->GetText(), "owned implicit"); // the text comes from the owner
}

TEST(IEDefinedType, DescriptionLines) {
    auto t = TIEDefinedType::Create(nullptr);
    t->SetBaseTypes({dtAtom, dtInteger});
    t->SetCardinalityLimited(true);
    t->SetMaxCardinality(4);
    t->SetComment("note");
    auto lines = t->Description();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].Text, "Primitive Types: Atom, Integer");
    EXPECT_EQ(lines[1].Text, "Comment: note");
    EXPECT_EQ(lines[2].Text, "Cardinality: 0-4");
}
