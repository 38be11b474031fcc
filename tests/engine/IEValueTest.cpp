#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "engine/model/IEConsts.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEValue.h"
#include "tests/support/IETestValues.h"

namespace ie {
namespace {

using namespace ie::test;

// ---------------------------------------------------------------------------------------------
// Messages

TEST(IEConsts, MessageTableKeepsExactTextsAndOrder) {
    EXPECT_EQ(IEMessage(imInvalidFuzzyOperation),
              "Invalid Fuzzy operation specified (%s) for %s, expected %s");
    EXPECT_EQ(IEMessage(imForPatternMatch), " for pattern match = ");
    EXPECT_EQ(IEMessage(imNotAType), "Not a %s type.  Value (%s) is a %s type");
    EXPECT_EQ(IEMessage(imInvalidDeffunctionArgument),
              "Invalid argument type for deffunction: \"%s\".  Expected %s");
    EXPECT_EQ(IEMessage(imErrorsParsingStream), "Errors parsing stream:\r\n%s");
    EXPECT_EQ(IEMessage(imEventNotImplemented),
              "The %s event has not been implemented or unassigned.\r\nWarning: Implementation "
              "of this function requires a blocking mechanism, \r\nsuch as ShowModal, or the use "
              "of threads");
    EXPECT_EQ(IEMessage(imExpectedOpenParen), "Expected \"(\"");
}

TEST(IEConsts, RaisingFormatsArgumentsInPlaceholderOrder) {
    EXPECT_EQ(RaisedMessage([] { RaiseIE(imUnexpectedCharacterIn, "my slot", 'x'); }),
              "my slot contains unexpected character: \"x\"");
    EXPECT_EQ(RaisedMessage([] { RaiseIE(imUncloneableValue, "TFoo"); }),
              "Uncloneable value.  Value owned an object of TFoo class type");
    EXPECT_EQ(RaisedMessage([] { RaiseIE(imValueTypeMismatch); }), "Value and type mismatch");
    EXPECT_EQ(RaisedMessage([] { RaiseIE(imMultislotCardinality, 1, 3); }),
              "Multislot must have between 1 and 3 elements");
    EXPECT_EQ(RaisedMessage([] { RaiseIE(imRangeMustBeBetween, 0.5, 2.0); }),
              "Range must be between 0.5000 and 2.0000");
}

TEST(IEConsts, TypeNamesFollowDeclarationOrder) {
    EXPECT_EQ(IETypeName(dtNone), "dtNone");
    EXPECT_EQ(IETypeName(dtExternalAddress), "dtExternalAddress");
    EXPECT_EQ(IETypeName(dtMultiSlot), "dtMultiSlot");
    EXPECT_EQ(IETypeCount, 19);
    TIETypes set{dtAtom, dtList};
    EXPECT_TRUE(set.Contains(dtList));
    EXPECT_FALSE(set.Contains(dtString));
    EXPECT_EQ(set.Bits(), (1u << 1) | (1u << 9));
}

// ---------------------------------------------------------------------------------------------
// Print forms

TEST(IEValuePrint, EveryKindHasItsPrintForm) {
    EXPECT_EQ(Str("say \"hi\" \\ there")->GetText(), "\"say \\\"hi\\\" \\\\ there\"");
    EXPECT_EQ(Flt(2.5)->GetText(), "2.5000");
    EXPECT_EQ(Flt(3)->GetText(), "3.0000");
    EXPECT_EQ(Int(-17)->GetText(), "-17");
    EXPECT_EQ(TIEValue::CreateText(dtVariable, "x")->GetText(), "?x");
    EXPECT_EQ(TIEValue::CreateText(dtMultiVariable, "rest")->GetText(), "$?rest");
    EXPECT_EQ(TIEValue::CreateText(dtSlot, "name")->GetText(), "name");
    EXPECT_EQ(TIEValue::CreateInteger(dtFactId, 3)->GetText(), "<Fact-3>");
    EXPECT_EQ(TIEValue::CreateInteger(dtDescriptor, 3)->GetText(), "<UNKNOWN>");
    EXPECT_EQ(TIEValue::CreateExternalAddress(77)->GetText(), "<External-Address: 77>");
    EXPECT_EQ(TIEValue::Create()->GetText(), "");
    EXPECT_EQ(List({Atom("a"), Atom("b")})->GetText(), "a b ");
    EXPECT_EQ(IEEmptyList()->GetText(), "");
}

TEST(IEValuePrint, ObjectsPrintTheirClass) {
    auto v = TIEValue::Create();
    v->SetAsObject(nullptr);
    EXPECT_EQ(v->GetText(), "");
    v->SetAsOwnedObject(new TBindingInfo(2, "speed", -1));
    EXPECT_EQ(v->GetText(), "<TBindingInfo: FactIdx=2 SlotIdx=speed>");
    v->SetAsOwnedObject(new TBindingInfo(0, "data", 4));
    EXPECT_EQ(v->GetText(), "<TBindingInfo: FactIdx=0 SlotIdx=data SubIdx=4>");
    TPersistent plain;
    v->SetAsObject(&plain);
    EXPECT_EQ(v->GetText(), "<Object: TPersistent>");
}

TEST(IEValuePrint, ListWithEmptyElementPrintsAndHashes) {
    auto list = MakeRef<TValueVector>();
    list->Add(Atom("a"));
    list->Add(nullptr);
    auto v = TIEValue::CreateList(list);
    EXPECT_EQ(v->GetText(), "a  ");
    EXPECT_EQ(v->GetHashCode(), HashString("a"));
    auto copy = v->CloneValue();
    EXPECT_TRUE(copy->Equals(v.get()));
}

// ---------------------------------------------------------------------------------------------
// Coercion

TEST(IEValueCoerce, NumbersAndTexts) {
    EXPECT_EQ(Flt(2.5)->AsInteger(), 2);
    EXPECT_EQ(Flt(-2.7)->AsInteger(), -2);
    EXPECT_EQ(Atom("7.9")->AsInteger(), 7);
    EXPECT_EQ(Str("42")->AsInteger(), 42);
    EXPECT_DOUBLE_EQ(Atom("1.5")->GetAsNumeric(), 1.5);
    EXPECT_DOUBLE_EQ(IEEmptyAtom()->GetAsNumeric(), 0.0);
    EXPECT_EQ(Int(12)->AsString(), "12");
    EXPECT_EQ(Flt(0.25)->AsString(), "0.2500");
    EXPECT_EQ(TIEValue::CreateInteger(dtFactId, 9)->AsInteger(), 9);
    EXPECT_EQ(Flt(4.9)->AsFactId(), 4);
}

TEST(IEValueCoerce, RefusalsNameWordValueAndKind) {
    EXPECT_EQ(RaisedMessage([] { Atom("abc")->AsInteger(); }),
              "Not a integer type.  Value (abc) is a dtAtom type");
    EXPECT_EQ(RaisedMessage([] { TIEValue::CreateInteger(dtFactId, 3)->AsString(); }),
              "Not a string type.  Value (<Fact-3>) is a dtFactId type");
    EXPECT_EQ(RaisedMessage([] { Str("x y")->AsFloat(); }),
              "Not a numeric type.  Value (\"x y\") is a dtString type");
    EXPECT_EQ(RaisedMessage([] { Int(1)->AsList(); }),
              "Not a list type.  Value (1) is a dtInteger type");
    EXPECT_EQ(RaisedMessage([] { Int(1)->AsDescriptor(); }),
              "Not a descriptor type.  Value (1) is a dtInteger type");
    EXPECT_EQ(RaisedMessage([] { Atom("a")->AsExternalAddress(); }),
              "Not a External Address type.  Value (a) is a dtAtom type");
    EXPECT_EQ(RaisedMessage([] { Atom("a")->AsFuzzy(); }),
              "Not a fuzzy value type.  Value (a) is a dtAtom type");
    EXPECT_EQ(RaisedMessage([] { Atom("a")->AsFunCall(); }),
              "Not a function call type.  Value (a) is a dtAtom type");
}

TEST(IEValueCoerce, FloatsOutsideTheIntegerRangeRaiseInsteadOfOverflowing) {
    EXPECT_EQ(RaisedMessage([] { Flt(1e10)->AsInteger(); }),
              "Not a integer type.  Value (10000000000.0000) is a dtFloat type");
    EXPECT_EQ(RaisedMessage([] { Atom("3e12")->AsInteger(); }),
              "Not a integer type.  Value (3e12) is a dtAtom type");
    EXPECT_EQ(RaisedMessage([] { Flt(-5e9)->AsFactId(); }),
              "Not a fact id type.  Value (-5000000000.0000) is a dtFloat type");
    EXPECT_EQ(Flt(2147483647.5)->AsInteger(), 2147483647);
}

TEST(IEValueCoerce, ConstructorsRefuseKindsThatDoNotFit) {
    EXPECT_EQ(RaisedMessage([] { TIEValue::CreateInteger(dtAtom, 1); }), "Value and type mismatch");
    EXPECT_EQ(RaisedMessage([] { TIEValue::CreateText(dtInteger, "1"); }),
              "Value and type mismatch");
}

TEST(IEValueCoerce, ExternalAddressKeepsFullPointerWidth) {
    int target = 0;
    auto v = TIEValue::Create();
    v->SetAsObject(reinterpret_cast<TObject*>(&target));
    EXPECT_EQ(v->AsExternalAddress(), reinterpret_cast<intptr_t>(&target));
    const intptr_t wide = intptr_t{1} << 40;
    auto a = TIEValue::CreateExternalAddress(wide);
    EXPECT_EQ(a->AsExternalAddress(), wide);
    EXPECT_EQ(a->GetText(), "<External-Address: 1099511627776>");
}

// ---------------------------------------------------------------------------------------------
// Equality and hashing

TEST(IEValueEquality, StrictAndCoerced) {
    EXPECT_FALSE(Int(1)->Equals(Flt(1.0).get()));
    EXPECT_TRUE(Int(1)->EqualsCoerced(Flt(1.0).get()));
    EXPECT_TRUE(Int(5)->EqualsCoerced(Atom("5").get()));
    EXPECT_TRUE(Atom("5")->EqualsCoerced(Int(5).get()));
    EXPECT_TRUE(Atom("abc")->Equals(Atom("abc").get()));
    EXPECT_FALSE(Atom("abc")->Equals(Atom("ABC").get()));
    EXPECT_FALSE(Atom("abc")->Equals(Str("abc").get()));
    EXPECT_TRUE(Flt(0.1)->Equals(Flt(0.1).get()));
    EXPECT_FALSE(Flt(0.1)->Equals(Flt(0.1000001).get()));
    EXPECT_TRUE(TIEValue::Create()->Equals(TIEValue::Create().get()));
}

TEST(IEValueEquality, EmptyOperandIsNeverEqual) {
    EXPECT_FALSE(Int(1)->Equals(static_cast<const IIEValue*>(nullptr)));
    EXPECT_FALSE(Int(1)->EqualsCoerced(nullptr));
    EXPECT_FALSE(TIEValue::Create()->EqualsCoerced(nullptr));
}

TEST(IEValueEquality, ClassValuesAreEqualOnlyToThemselves) {
    auto a = TIEValue::Create();
    auto b = TIEValue::Create();
    a->SetAsClass(nullptr);
    b->SetAsClass(nullptr);
    EXPECT_TRUE(a->Equals(a.get()));
    EXPECT_FALSE(a->Equals(b.get()));
}

TEST(IEValueEquality, ListsCompareElementsStrictly) {
    EXPECT_TRUE(List({Atom("a"), Atom("b")})->Equals(List({Atom("a"), Atom("b")}).get()));
    EXPECT_FALSE(List({Int(1), Int(2)})->Equals(List({Int(1), Flt(2.0)}).get()));
    EXPECT_FALSE(List({Int(1)})->Equals(List({Int(1), Int(1)}).get()));
}

TEST(IEValueEquality, EqualTextsShareOneBlockWhileEitherLives) {
    const size_t before = TIEText::InternedCount();
    TRefPtr<TIEValue> atom = TIEValue::CreateText(dtAtom, "interned-red");
    TRefPtr<TIEValue> string = TIEValue::CreateText(dtString, std::string("interned-") + "red");
    ASSERT_NE(atom->TextBlock(), nullptr);
    EXPECT_EQ(atom->TextBlock(), string->TextBlock());
    EXPECT_EQ(TIEText::InternedCount(), before + 1);
    // One block, two kinds: a symbol still never equals the string of its text.
    EXPECT_FALSE(atom->Equals(string.get()));
    EXPECT_TRUE(atom->EqualsCoerced(string.get()));
    EXPECT_TRUE(atom->Equals(TIEValue::CreateText(dtAtom, "interned-red").get()));
    EXPECT_FALSE(atom->Equals(TIEValue::CreateText(dtAtom, "interned-Red").get()));
    atom = nullptr;
    EXPECT_EQ(TIEText::InternedCount(), before + 1);
    string = nullptr;
    EXPECT_EQ(TIEText::InternedCount(), before);
    // A text made again after its last holder went is a fresh block that equals as before.
    TRefPtr<TIEValue> again = TIEValue::CreateText(dtAtom, "interned-red");
    EXPECT_EQ(again->AsString(), "interned-red");
    EXPECT_EQ(again->GetHashCode(), HashString("interned-red"));
    EXPECT_EQ(TIEValue::CreateText(dtAtom, "")->TextBlock(), TIEText::Empty().get());
}

TEST(IEValueHash, MatchesTheTextHashAndTheNumbers) {
    EXPECT_EQ(Atom("abc")->GetHashCode(), 96354);
    EXPECT_EQ(Str("abc")->GetHashCode(), 96354);
    EXPECT_EQ(Int(-42)->GetHashCode(), -42);
    EXPECT_EQ(Flt(2.9)->GetHashCode(), 2);
    EXPECT_EQ(TIEValue::CreateInteger(dtFactId, 7)->GetHashCode(), 7);
    EXPECT_EQ(List({Int(1), Int(2), Atom("abc")})->GetHashCode(), 96357);
    EXPECT_EQ(TIEValue::Create()->GetHashCode(), 0);
    // A long text uses every (length div 8)-th character.
    const std::string longText = "abcdefghijklmnopqrstuvwx"; // 24 characters, step 3
    EXPECT_EQ(Atom(longText)->GetHashCode(), HashStringStep(longText, 3));
}

TEST(IEValueHash, HugeFloatsHashWithoutOverflow) {
    // Equal values hash alike; the hash is computed, never an overflowing conversion.
    EXPECT_EQ(Flt(1e300)->GetHashCode(), Flt(1e300)->GetHashCode());
    EXPECT_NE(Flt(1e300)->GetHashCode(), Flt(-1e300)->GetHashCode());
    (void)Flt(std::numeric_limits<double>::quiet_NaN())->GetHashCode();
}

// ---------------------------------------------------------------------------------------------
// Copying

TEST(IEValueCopy, CloneOfAListIsIndependentAtEveryDepth) {
    auto inner = List({Int(1), Int(2)});
    auto outer = List({inner, Atom("x")});
    auto copy = outer->CloneValue();
    ASSERT_TRUE(copy->Equals(outer.get()));

    copy->AsList()->Add(Atom("new"));
    copy->AsList()->GetItem(0)->AsList()->Insert(0, Int(0));
    copy->AsList()->GetItem(1)->SetAsAtom("changed");

    EXPECT_EQ(outer->GetText(), "1 2  x ");
    EXPECT_EQ(inner->AsList()->Count(), 2);
    EXPECT_EQ(copy->GetText(), "0 1 2  changed new ");
}

TEST(IEValueCopy, ACopyOfANestedListSharesItsInnerListsUntilOneIsChanged) {
    auto inner = List({Int(1)});
    auto outer = List({inner});
    auto copy = outer->CloneValue();
    const auto payload = [](const TRefPtr<IIEValue>& v) {
        return static_cast<const TIEValue*>(v.get())->ListPayload();
    };
    const IValueVector* shared = payload(copy->AsList()->GetItem(0));
    EXPECT_EQ(shared, payload(inner));
    // A change gets a list of its own; the other holder keeps what it had.
    copy->AsList()->GetItem(0)->AsList()->Add(Int(2));
    EXPECT_EQ(inner->GetText(), "1 ");
    EXPECT_EQ(copy->GetText(), "1 2  ");
    inner->AsList()->Add(Int(3));
    EXPECT_EQ(copy->GetText(), "1 2  ");
    EXPECT_EQ(outer->GetText(), "1 3  ");

    // Built, copied, printed, hashed and freed at a depth the stack would not take by
    // recursion, each copy costing one level.
    TRefPtr<IIEValue> deep = List({});
    constexpr int Depth = 200000;
    for (int i = 0; i < Depth; ++i)
        deep = List({deep})->CloneValue();
    EXPECT_EQ(deep->GetText(), std::string(Depth, ' '));
    EXPECT_EQ(deep->CloneValue()->GetHashCode(), deep->GetHashCode());
}

TEST(IEValueCopy, AssignSharesInterfacesAndCopiesTag) {
    auto list = List({Int(1)});
    list->SetTag(5);
    auto other = TIEValue::Create();
    static_cast<TIEValue*>(other.get())->Assign(*static_cast<TIEValue*>(list.get()));
    EXPECT_EQ(other->GetTag(), 5);
    EXPECT_EQ(other->AsList().get(), list->AsList().get());
}

TEST(IEValueCopy, TagsGoWithTheirValuesAndLists) {
    // Tags and handlers are kept beside values and lists: the ones made after tagged ones were
    // freed (in their blocks) start without any, also after a thread that freed them ended.
    for (int round = 0; round < 3; ++round) {
        auto v = Int(round);
        auto l = TValueVector::Create();
        EXPECT_EQ(v->GetTag(), 0);
        EXPECT_EQ(l->GetTag(), 0);
        EXPECT_FALSE(v->GetOnChange());
        v->SetTag(7);
        v->SetOnChange([](IIEValue*) {});
        l->SetTag(8);
        EXPECT_EQ(v->GetTag(), 7);
        EXPECT_EQ(l->GetTag(), 8);
        if (round == 1) {
            std::thread([&] {
                v = nullptr;
                l = nullptr;
            }).join();
        }
    }
    std::vector<TRefPtr<IIEValue>> made;
    for (int32_t i = 0; i < 5000; ++i)
        made.push_back(Int(i));
    std::thread([&] { made.clear(); }).join();
    double sum = 0;
    for (int32_t i = 0; i < 10000; ++i)
        made.push_back(TIEValue::CreateFloat(i + 0.5));
    for (const auto& v : made)
        sum += v->AsFloat() + static_cast<double>(v->GetTag());
    EXPECT_EQ(sum, 10000.0 * 9999 / 2 + 5000);
}

TEST(IEValueCopy, AssignFromClonesTheList) {
    auto list = List({Int(1)});
    auto other = Atom("x");
    other->AssignFrom(list.get());
    EXPECT_NE(other->AsList().get(), list->AsList().get());
    EXPECT_TRUE(other->Equals(list.get()));
}

TEST(IEValueCopy, AssigningToItselfIsANoOp) {
    auto v = List({Int(1), Int(2)});
    auto* raw = static_cast<TIEValue*>(v.get());
    raw->Assign(*raw);
    v->AssignFrom(v.get());
    EXPECT_EQ(v->GetText(), "1 2 ");
    auto vec = v->AsList();
    vec->Assign(vec.get());
    EXPECT_EQ(vec->Count(), 2);
}

TEST(IEValueCopy, OwnedObjectsAreCopiedOrRefused) {
    auto v = TIEValue::Create();
    v->SetAsOwnedObject(new TBindingInfo(1, "s", 2));
    auto copy = v->CloneValue();
    ASSERT_TRUE(copy->OwnsObject());
    EXPECT_NE(copy->AsObject(), v->AsObject());
    EXPECT_EQ(copy->GetText(), v->GetText());

    struct TLocalThing : TObject {
        std::string_view ClassName() const override { return "TLocalThing"; }
    };
    auto w = TIEValue::Create();
    w->SetAsOwnedObject(new TLocalThing());
    EXPECT_EQ(RaisedMessage([&] { w->CloneValue(); }),
              "Uncloneable value.  Value owned an object of TLocalThing class type");
}

TEST(IEValueCopy, OwnedComponentDestroyedElsewhereClearsTheValue) {
    auto v = TIEValue::Create();
    auto* comp = new TComponent(nullptr);
    v->SetAsOwnedObject(comp);
    EXPECT_EQ(v->GetDType(), dtObject);
    comp->Free();
    EXPECT_EQ(v->GetDType(), dtNone);
    v->SetAsInteger(3); // releasing the old content must not touch the destroyed component
    EXPECT_EQ(v->AsInteger(), 3);
}

// ---------------------------------------------------------------------------------------------
// Change notification and constants

TEST(IEValueChange, SettersFireAndClearDoesNot) {
    int fired = 0;
    auto v = TIEValue::Create();
    v->SetOnChange([&](IIEValue* sender) {
        EXPECT_EQ(sender, v.get());
        ++fired;
    });
    v->SetAsInteger(1);
    v->SetAsAtom("a");
    v->SetAsFloat(1.5);
    EXPECT_EQ(fired, 3);
    v->Clear();
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(v->GetDType(), dtNone);
}

TEST(IEValueConstants, FourteenSharedConstantsInOrder) {
    EXPECT_EQ(IETrueValue()->GetText(), "TRUE");
    EXPECT_EQ(IEFalseValue()->GetText(), "FALSE");
    EXPECT_EQ(IEEmptyAtom()->GetDType(), dtAtom);
    EXPECT_EQ(IEEmptyList()->GetDType(), dtList);
    EXPECT_EQ(IEThenAtom()->GetText(), "then");
    EXPECT_EQ(IEEOFAtom()->GetText(), "EOF");
    EXPECT_DOUBLE_EQ(IEPiValue()->AsFloat(), 3.141592653589793);
    EXPECT_EQ(IEZeroValue()->GetText(), "0.0000");
    EXPECT_NE(IEBlankAtom().get(), IEEmptyAtom().get());
    EXPECT_TRUE(IsGlobalConstant(IEBlankAtom().get()));
    EXPECT_FALSE(IsGlobalConstant(Atom("TRUE").get()));
    EXPECT_TRUE(IsFalseValue(Atom("FALSE").get()));
    EXPECT_FALSE(IsFalseValue(Str("FALSE").get()));
}

TEST(IEValueConstants, NothingChangesAConstantInPlace) {
    EXPECT_THROW(IETrueValue()->SetAsAtom("FALSE"), EIEException);
    EXPECT_THROW(IEZeroValue()->SetAsFloat(1.0), EIEException);
    EXPECT_THROW(IEEmptyAtom()->Clear(), EIEException);
    EXPECT_THROW(IEEmptyList()->AsList()->Add(Int(1)), EIEException);
    EXPECT_THROW(IEEmptyList()->AsList()->Assign(List({Int(1)})->AsList().get()), EIEException);
    EXPECT_THROW(IEFalseValue()->AssignFrom(IETrueValue().get()), EIEException);
    EXPECT_EQ(IETrueValue()->GetText(), "TRUE");
    EXPECT_EQ(IEEmptyList()->AsList()->Count(), 0);

    // A clone of a constant is an ordinary value.
    auto list = IEEmptyList()->CloneValue();
    list->AsList()->Add(Int(1));
    EXPECT_EQ(list->GetText(), "1 ");
    auto t = IETrueValue()->CloneValue();
    t->SetAsAtom("x");
    EXPECT_EQ(IETrueValue()->GetText(), "TRUE");
}

TEST(IEValueConstants, SmallIntegersAreSharedConstants) {
    const auto seven = TIEValue::SharedInteger(7);
    ASSERT_TRUE(seven);
    EXPECT_EQ(seven.get(), TIEValue::SharedInteger(7).get());
    EXPECT_EQ(TIEValue::SharedInteger(-7)->AsInteger(), -7);
    EXPECT_TRUE(seven->IsConstant());
    EXPECT_THROW(seven->SetAsInteger(8), EIEException);
    EXPECT_EQ(seven->AsInteger(), 7);
    // A copy may be changed; a large number is nobody's to share.
    auto copy = seven->CloneValue();
    copy->SetAsInteger(8);
    EXPECT_EQ(seven->AsInteger(), 7);
    EXPECT_FALSE(TIEValue::SharedInteger(1 << 20));
    EXPECT_FALSE(TIEValue::SharedInteger(-100000));
}

// ---------------------------------------------------------------------------------------------
// Multifields and singletons

TEST(TValueVectorTest, EditingOperations) {
    auto list = MakeRef<TValueVector>();
    auto a = Atom("a");
    auto b = Atom("b");
    list->Add(a);
    list->Add(b);
    list->Insert(1, Int(3));
    EXPECT_EQ(list->GetText(), "a 3 b ");
    EXPECT_EQ(list->IndexOf(b.get()), 2);
    EXPECT_EQ(list->IndexOf(Atom("b").get()), -1); // by reference, not by value
    EXPECT_EQ(list->Remove(a.get()), 0);
    EXPECT_EQ(list->First()->GetText(), "3");
    EXPECT_EQ(list->Last().get(), b.get());
    list->Delete(0);
    EXPECT_EQ(list->Count(), 1);

    auto other = MakeRef<TValueVector>();
    other->AddAll(list.get());
    EXPECT_EQ(other->GetItem(0).get(), b.get()); // AddAll shares elements
    other->AddAll(other.get());
    EXPECT_EQ(other->Count(), 2);
}

TEST(TValueVectorTest, IndexOutsideTheListRaisesTheListError) {
    auto list = MakeRef<TValueVector>();
    list->Add(Int(1));
    try {
        list->GetItem(3);
        FAIL();
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (3)");
    }
    EXPECT_THROW(list->Insert(3, Int(1)), EListError);
    EXPECT_THROW(list->Delete(-1), EListError);
    EXPECT_THROW(MakeRef<TValueVector>()->First(), EListError);
}

TEST(TListViewTest, ReadsThroughTheBaseListAndOwnsItsElementsOnceChanged) {
    auto base = MakeRef<TValueVector>();
    for (const char* w : {"a", "b", "c", "d"})
        base->Add(Atom(w));
    auto run = TListView::Slice(base, 1, 2);
    EXPECT_EQ(run->GetText(), "b c ");
    EXPECT_EQ(run->GetItem(0).get(), base->GetItem(1).get()); // the base list's own elements
    EXPECT_THROW(run->GetItem(2), EListError);
    auto cut = TListView::Splice(base, 1, 2, TIEValue::CreateList(run));
    EXPECT_EQ(cut->Count(), 3);
    EXPECT_EQ(cut->GetText(), "a b c  d ");
    EXPECT_EQ(cut->Last().get(), base->GetItem(3).get());

    // Equal by content to a plain list, and cut alike to a view made again the same way.
    auto plain = MakeRef<TValueVector>();
    plain->Add(Atom("b"));
    plain->Add(Atom("c"));
    EXPECT_TRUE(run->Equals(plain.get()));
    EXPECT_TRUE(plain->Equals(run.get()));
    EXPECT_EQ(run->GetHashCode(), plain->GetHashCode());
    auto again = TListView::Splice(base, 1, 2, TIEValue::CreateList(TListView::Slice(base, 1, 2)));
    EXPECT_TRUE(TListView::SameCut(cut.get(), again.get()));
    EXPECT_TRUE(cut->Equals(again.get()));
    auto other = TListView::Splice(base, 1, 1, TIEValue::CreateList(TListView::Slice(base, 1, 1)));
    EXPECT_FALSE(TListView::SameCut(cut.get(), other.get()));
    EXPECT_FALSE(cut->Equals(other.get()));

    // A change makes a list of its own; the base list stays as it was.
    run->Add(Atom("z"));
    run->Delete(0);
    EXPECT_EQ(run->GetText(), "c z ");
    EXPECT_EQ(base->GetText(), "a b c d ");
    EXPECT_FALSE(TListView::SameCut(run.get(), TListView::Slice(base, 1, 2).get()));
    auto clone = cut->CloneVector();
    EXPECT_TRUE(clone->Equals(cut.get()));
    cut->AddAll(cut.get());
    EXPECT_EQ(cut->Count(), 6);
    EXPECT_EQ(base->Count(), 4);

    // A split's cut makes its run's list value when first read, and is cut alike to another
    // cut at the same places whether or not either run has been read.
    auto lazy = TListView::Cut(base, 1, 2);
    auto lazyAgain = TListView::Cut(base, 1, 2);
    EXPECT_TRUE(TListView::SameCut(lazy.get(), lazyAgain.get()));
    EXPECT_EQ(lazy->GetText(), "a b c  d ");
    EXPECT_EQ(lazy->GetItem(1).get(), lazy->GetItem(1).get()); // made once
    EXPECT_TRUE(TListView::SameCut(lazy.get(), lazyAgain.get()));
    EXPECT_FALSE(TListView::SameCut(lazy.get(), TListView::Cut(base, 1, 1).get()));
    EXPECT_TRUE(lazy->Equals(again.get()));
    lazy->GetItem(1)->AsList()->Add(Atom("y"));
    EXPECT_EQ(lazy->GetText(), "a b c y  d ");
    EXPECT_EQ(base->GetText(), "a b c d ");
}

TEST(TIEValueTest, ValueLetsGoOfItsTextWhenItsKindChanges) {
    const size_t before = TIEText::InternedCount();
    auto v = TIEValue::CreateText(dtAtom, "text-held-by-one-value");
    auto copy = TIEValue::Create();
    copy->Assign(*v);
    EXPECT_EQ(copy->TextBlock(), v->TextBlock());
    EXPECT_EQ(TIEText::InternedCount(), before + 1);
    v->SetAsInteger(7);
    copy->SetAsList(MakeRef<TValueVector>());
    EXPECT_EQ(TIEText::InternedCount(), before);
    copy->Assign(*v);
    EXPECT_EQ(copy->AsInteger(), 7);
    EXPECT_EQ(copy->TextBlock(), nullptr);
}

TEST(TSingletonsVectorTest, TextEqualityAndClone) {
    auto s = MakeRef<TSingletonsVector>();
    s->Add(Int(1), Flt(0.5));
    s->Add(Int(2), Flt(1.0));
    EXPECT_EQ(s->GetText(), "(1 0.5000) (2 1.0000) ");
    auto c = s->CloneSingletons();
    EXPECT_TRUE(c->Equals(s.get()));
    EXPECT_NE(c->GetValue(0).get(), s->GetValue(0).get());
    auto v1 = TIEValue::CreateSingletons(s);
    auto v2 = TIEValue::CreateSingletons(c);
    EXPECT_TRUE(v1->Equals(v2.get()));
    EXPECT_EQ(v1->GetHashCode(), 1 + 2 + 0 + 1);
}

} // namespace
} // namespace ie

namespace ie {
namespace {

TEST(TValueHashTableTest, AssignCopiesValuesNotReferences) {
    TValueHashTable source;
    source.Add("a", TIEValue::CreateInteger(dtInteger, 1));
    source.Add("b", TIEValue::CreateText(dtString, "x"));
    TValueHashTable copy;
    copy.Assign(source);
    ASSERT_EQ(copy.Count(), 2);
    copy.Get("a")->SetAsInteger(5);
    EXPECT_EQ(source.Get("a")->AsInteger(), 1);
    EXPECT_NE(copy.GetText().find("a = 5\r\n"), std::string::npos);
    EXPECT_NE(source.GetText().find("b = \"x\"\r\n"), std::string::npos);
    copy.Assign(copy);
    EXPECT_EQ(copy.Count(), 2);

    TRefPtr<IIEValue> old;
    copy.Put("a", TIEValue::CreateInteger(dtInteger, 9), old);
    EXPECT_EQ(old->AsInteger(), 5);
    TRefPtr<IIEValue> found;
    EXPECT_FALSE(copy.Find("zz", found));
    EXPECT_THROW(copy.Get("zz"), EException);
}

} // namespace
} // namespace ie
