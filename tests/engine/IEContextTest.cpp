#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "engine/model/IEContext.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEValue.h"
#include "tests/support/IETestValues.h"

namespace ie {
namespace {

using namespace ie::test;

// Just enough of a fact for resolving positions.
class TFakeFact final : public IFact {
public:
    TFakeFact(int32_t id, std::map<std::string, TRefPtr<IIEValue>, std::less<>> slots)
        : FId(id), FSlots(std::move(slots)) {}
    void AssignFrom(const IInterface*) override {}
    TRefPtr<ICloneable> Clone() const override { return nullptr; }
    bool Equals(const IInterface* other) const override { return other == this; }
    intptr_t GetTag() const override { return 0; }
    void SetTag(intptr_t) override {}
    int32_t GetFactId() const noexcept override { return FId; }
    TRefPtr<IFactTemplate> GetTemplate() const override { return nullptr; }
    TRefPtr<IIEValue> GetSlotValue(std::string_view slot) const override {
        auto it = FSlots.find(slot);
        if (it == FSlots.end()) RaiseIE(imNoSuchSlot, slot);
        return it->second;
    }
    bool Equals(const IFact* other) const override { return other == this; }
    std::string GetText() const override { return Format("f-%d", FId); }
    int32_t GetHashCode() const override { return FId; }

private:
    int32_t FId;
    std::map<std::string, TRefPtr<IIEValue>, std::less<>> FSlots;
};

class TFakeToken final : public IReteToken {
public:
    std::vector<TRefPtr<IFact>> Facts;
    // Whether the token lends its facts, as the network's tokens do.
    bool Lends = false;
    int32_t FactCount() const noexcept override { return static_cast<int32_t>(Facts.size()); }
    TRefPtr<IFact> GetFact(int32_t index) const override {
        return Facts.at(static_cast<size_t>(index));
    }
    const IFact* BorrowFact(int32_t index) const noexcept override {
        return Lends ? Facts[static_cast<size_t>(index)].get() : nullptr;
    }
};

TEST(IEContextBindings, SetBindingReachesTheEnclosingContextAndAddBindingShadows) {
    TIEContext rule(nullptr, nullptr);
    rule.AddBinding("x", Int(1));
    auto child = rule.CreateChild();
    child->SetBinding("x", Int(2));
    EXPECT_EQ(rule.FindBinding("x")->Value->AsInteger(), 2);
    EXPECT_EQ(child->BindingCount(), 0);

    child->AddBinding("x", Int(3));
    EXPECT_EQ(child->FindBinding("x")->Value->AsInteger(), 3);
    EXPECT_EQ(rule.FindBinding("x")->Value->AsInteger(), 2);

    child->SetLocalBinding("y", Int(4)); // not bound anywhere: added where it is set
    EXPECT_EQ(child->FindBinding("y")->Value->AsInteger(), 4);
    EXPECT_EQ(rule.FindBinding("y"), nullptr);

    child->SetGlobalBinding("*g*", Int(5));
    EXPECT_EQ(rule.FindBinding("*g*")->Value->AsInteger(), 5);
    EXPECT_EQ(child->FindGlobalBinding("*g*")->Value->AsInteger(), 5);
    EXPECT_EQ(child->FindGlobalBinding("x"), rule.FindBinding("x"));
}

TEST(IEContextBindings, ManyBindingsStayFindableAfterRebindingAndRemoval) {
    TIEContext root(nullptr, nullptr);
    for (int i = 0; i < 40; ++i)
        root.AddBinding(Format("v%d", i), Int(i));
    root.AddBinding("v7", Int(700));
    EXPECT_EQ(root.BindingCount(), 40);
    EXPECT_EQ(root.FindBinding("v7")->Value->AsInteger(), 700);
    EXPECT_TRUE(root.Bindings().Remove("v3"));
    EXPECT_EQ(root.FindBinding("v3"), nullptr);
    EXPECT_EQ(root.FindBinding("v39")->Value->AsInteger(), 39);
}

TEST(IEContextBindings, ClearingBindingsClearsTheReturnState) {
    TIEContext c(nullptr, nullptr);
    c.AddBinding("x", Int(1));
    c.SetReturnValue(Int(9));
    EXPECT_TRUE(c.ReturnFlag());
    c.Bindings().Clear();
    EXPECT_FALSE(c.ReturnFlag());
    EXPECT_FALSE(c.ReturnValue());
    EXPECT_EQ(c.BindingCount(), 0);
}

TEST(IEContextReturn, PropagateReturnCopiesToTheParent) {
    TIEContext root(nullptr, nullptr);
    auto child = root.CreateChild();
    child->SetReturnValue(Int(3));
    EXPECT_EQ(child->PropagateReturn(), &root);
    EXPECT_TRUE(root.ReturnFlag());
    EXPECT_EQ(root.ReturnValue().get(), child->ReturnValue().get());
    EXPECT_EQ(root.PropagateReturn(), &root);

    TIEContext other(nullptr, nullptr);
    other.Assign(root);
    EXPECT_TRUE(other.ReturnFlag());
    EXPECT_NE(other.ReturnValue().get(), root.ReturnValue().get());
    other.Assign(other);
    EXPECT_TRUE(other.ReturnFlag());
}

TEST(IEContextEvaluate, ArgumentsAreSplicedFlatAtEveryDepth) {
    TIEContext c(nullptr, nullptr);
    c.AddBinding("x", Int(3));
    auto args = MakeRef<TValueVector>();
    args->Add(Int(1));
    args->Add(List({Int(2), List({Var("x"), Int(4)})}));
    args->Add(Int(5));
    auto values = c.EvaluateArguments(*args);
    EXPECT_EQ(values->GetText(), "1 2 3 4 5 ");
}

TEST(IEContextEvaluate, VariablesResolveThroughTheChain) {
    TIEContext root(nullptr, nullptr);
    auto bound = Int(8);
    root.AddBinding("x", bound);
    auto child = root.CreateChild();
    EXPECT_EQ(Var("x")->Evaluate(child.get()).get(), bound.get()); // the bound value itself
    EXPECT_EQ(RaisedMessage([&] { Var("nope")->Evaluate(child.get()); }),
              "Corrupted Binding, variable not found: nope");
    EXPECT_EQ(RaisedMessage([&] { Var("x")->Evaluate(nullptr); }),
              "No context found when trying to resolve a dtVariable value");
    EXPECT_EQ(RaisedMessage([&] { TIEValue::CreateText(dtMultiVariable, "x")->Evaluate(nullptr); }),
              "No context found when trying to resolve a dtMultiVariable value");
    root.AddBinding("empty", nullptr);
    EXPECT_EQ(RaisedMessage([&] { Var("empty")->Evaluate(child.get()); }),
              "Corrupted Binding, variable not found: empty");
}

TEST(IEContextEvaluate, PatternVariablesResolveAgainstTokenAndCurrentFact) {
    auto f0 =
        MakeRef<TFakeFact>(10, std::map<std::string, TRefPtr<IIEValue>, std::less<>>{
                                   {"speed", Int(88)}, {"data", List({Int(1), Int(2), Int(3)})}});
    auto f1 = MakeRef<TFakeFact>(
        11, std::map<std::string, TRefPtr<IIEValue>, std::less<>>{{"speed", Int(99)}});
    auto token = MakeRef<TFakeToken>();
    token->Facts.push_back(f0);

    TIEContext rule(nullptr, nullptr);
    rule.SetToken(token);
    rule.SetFact(f1);
    rule.AddPatternBinding("s", 0, "speed", -1);
    rule.AddPatternBinding("e", 0, "data", 2);
    rule.AddPatternBinding("f", 0, "", -1);
    rule.AddPatternBinding("now", 1, "speed", -1); // one past the token: the current fact
    auto child = rule.CreateChild();

    EXPECT_EQ(Var("s")->Evaluate(child.get())->AsInteger(), 88);
    EXPECT_EQ(Var("e")->Evaluate(child.get())->AsInteger(), 3);
    auto id = Var("f")->Evaluate(child.get());
    EXPECT_EQ(id->GetDType(), dtFactId);
    EXPECT_EQ(id->AsFactId(), 10);
    EXPECT_EQ(Var("now")->Evaluate(child.get())->AsInteger(), 99);
}

TEST(IEContextEvaluate, PositionsOutOfRangeRaiseCorruptedBinding) {
    auto f0 = MakeRef<TFakeFact>(1, std::map<std::string, TRefPtr<IIEValue>, std::less<>>{
                                        {"data", List({Int(1)})}, {"one", Int(1)}});
    auto token = MakeRef<TFakeToken>();
    token->Facts.push_back(f0);
    TIEContext rule(nullptr, nullptr);
    rule.SetToken(token);
    rule.AddPatternBinding("far", 5, "data", -1);
    rule.AddPatternBinding("neg", -1, "data", -1);
    rule.AddPatternBinding("sub", 0, "data", 4);
    rule.AddPatternBinding("notlist", 0, "one", 0);
    for (const char* name : {"far", "neg", "sub", "notlist"})
        EXPECT_EQ(RaisedMessage([&] { Var(name)->Evaluate(&rule); }),
                  std::string("Corrupted Binding, variable not found: ") + name);

    TIEContext bare(nullptr, nullptr);
    bare.AddPatternBinding("x", 0, "data", -1);
    EXPECT_EQ(RaisedMessage([&] { Var("x")->Evaluate(&bare); }),
              "Corrupted Binding, variable not found: x");
}

TEST(IEContextEvaluate, LentMatchesResolveAndFollowTheTemplatesSlotLayout) {
    auto shape = TFactTemplate::CreateNamed(nullptr, "shape");
    shape->AddSlot("x", Int(0));
    shape->AddMultiSlot("pts", List({}));
    auto other = TFactTemplate::CreateNamed(nullptr, "other");
    other->AddSlot("pad", Int(0));
    other->AddSlot("x", Int(0)); // the same slot name at another position
    auto s = shape->NewFact();
    s->SetSlotValue("x", Int(7));
    s->SetSlotValue("pts", List({Int(4), Int(5)}));
    auto o = other->NewFact();
    o->SetSlotValue("x", Int(8));
    auto token = MakeRef<TFakeToken>();
    token->Lends = true;
    token->Facts = {s, o};

    TIEContext node(nullptr, nullptr);
    auto x0 = TIEValue::Create();
    x0->SetAsOwnedObject(new TBinding("a", 0, "x", -1));
    auto x1 = TIEValue::Create();
    x1->SetAsOwnedObject(new TBinding("b", 1, "x", -1));
    auto element = TIEValue::Create();
    element->SetAsOwnedObject(new TBinding("c", 0, "pts", 1));
    auto incoming = TIEValue::Create();
    incoming->SetAsOwnedObject(new TBinding("d", 2, "x", -1));

    node.SetMatch(token.get(), o.get());
    EXPECT_EQ(node.MatchToken(), token.get());
    EXPECT_EQ(x0->Evaluate(&node)->AsInteger(), 7);
    EXPECT_EQ(x1->Evaluate(&node)->AsInteger(), 8);
    EXPECT_EQ(element->Evaluate(&node)->AsInteger(), 5);
    EXPECT_EQ(incoming->Evaluate(&node)->AsInteger(), 8); // one past the token: the fact
    // One position record read against facts of two layouts, then against a changed layout.
    token->Facts = {o, s};
    EXPECT_EQ(x0->Evaluate(&node)->AsInteger(), 8);
    EXPECT_EQ(x1->Evaluate(&node)->AsInteger(), 7);
    other->AddSlot("first", Int(0));
    other->DeleteSlot("pad");
    EXPECT_EQ(x0->Evaluate(&node)->AsInteger(), 8);
    // A fact whose template lacks the slot raises the template's own error.
    EXPECT_EQ(RaisedMessage([&] { element->Evaluate(&node); }), "No such slot name: \"pts\"");
    node.SetMatch(nullptr, nullptr);
    EXPECT_EQ(RaisedMessage([&] { x0->Evaluate(&node); }),
              "Corrupted Binding, variable not found: a");
}

TEST(IEContextEvaluate, BorrowedReadsHoldOnlyWhatTheMatchDoesNotKeep) {
    auto shape = TFactTemplate::CreateNamed(nullptr, "shape");
    shape->AddSlot("x", Int(0));
    shape->AddMultiSlot("pts", List({}));
    auto s = shape->NewFact();
    s->SetSlotValue("x", Int(7));
    s->SetSlotValue("pts", List({Int(4), Int(5)}));
    auto lending = MakeRef<TFakeToken>();
    lending->Lends = true;
    lending->Facts = {s};
    TIEContext node(nullptr, nullptr);
    node.SetMatch(lending.get(), nullptr);
    TRefPtr<IIEValue> hold;
    // Values the matched fact keeps are lent as they are.
    const IIEValue* x = BorrowBindingInfo(TBindingInfo(0, "x", -1), node, "x", hold);
    EXPECT_EQ(x, s->GetSlotValue("x").get());
    EXPECT_EQ(hold, nullptr);
    const IIEValue* e = BorrowBindingInfo(TBindingInfo(0, "pts", 0), node, "e", hold);
    EXPECT_EQ(e->AsInteger(), 4);
    EXPECT_EQ(hold, nullptr);
    // A fact identifier is made for the read and held.
    const IIEValue* id = BorrowBindingInfo(TBindingInfo(0, "", -1), node, "f", hold);
    EXPECT_EQ(id, hold.get());
    EXPECT_EQ(id->AsFactId(), s->GetFactId());

    // A token that cannot lend its facts, with a fact read by name: the value is held.
    auto fake = MakeRef<TFakeFact>(
        3, std::map<std::string, TRefPtr<IIEValue>, std::less<>>{{"speed", Int(88)}});
    auto plain = MakeRef<TFakeToken>();
    plain->Facts.push_back(fake);
    node.SetMatch(plain.get(), nullptr);
    hold = nullptr;
    const IIEValue* speed = BorrowBindingInfo(TBindingInfo(0, "speed", -1), node, "s", hold);
    EXPECT_EQ(speed, hold.get());
    EXPECT_EQ(speed->AsInteger(), 88);
    // A variable in a numeric call reads the same way.
    auto position = TIEValue::Create();
    position->SetAsOwnedObject(new TBinding("s", 0, "speed", -1));
    TRefPtr<IIEValue> held;
    EXPECT_EQ(position->BorrowVariable(&node, held)->AsInteger(), 88);
}

TEST(IEContextBindings, RecycledContextsStartEmptyAndReuseTheirBindings) {
    TIEContext root(nullptr, nullptr);
    root.AddBinding("shared", Int(1));
    auto child = root.CreateChild();
    auto token = MakeRef<TFakeToken>();
    child->SetToken(token);
    child->SetReturnValue(Int(9));
    // Built by appending: gcc 12 warns falsely on "v" + std::to_string(i) in optimised builds.
    auto name = [](char prefix, int32_t i) {
        std::string text(1, prefix);
        text += std::to_string(i);
        return text;
    };
    std::vector<const TBinding*> first;
    for (int32_t i = 0; i < 20; ++i) // past the size at which the table indexes its names
        first.push_back(child->Bindings().Append(name('v', i), Int(i)));
    EXPECT_EQ(child->FindBinding("v17")->Value->AsInteger(), 17);

    child->Recycle();
    EXPECT_EQ(child->BindingCount(), 0);
    EXPECT_EQ(child->FindBinding("v3"), nullptr);
    EXPECT_FALSE(child->ReturnFlag());
    EXPECT_EQ(child->Token(), nullptr);
    EXPECT_EQ(child->MatchToken(), nullptr);
    EXPECT_EQ(child->FindBinding("shared")->Value->AsInteger(), 1);

    // The objects come back under their new names, with no position left over.
    const TBinding* again = child->Bindings().Append("w", Int(5));
    EXPECT_NE(std::find(first.begin(), first.end(), again), first.end());
    EXPECT_EQ(again->FactIndex, -1);
    EXPECT_TRUE(again->SlotName.empty());
    EXPECT_EQ(child->FindBinding("w")->Value->AsInteger(), 5);
    for (int32_t i = 0; i < 20; ++i)
        child->Bindings().Append(name('u', i), Int(i));
    EXPECT_EQ(child->FindBinding("u19")->Value->AsInteger(), 19);
    EXPECT_EQ(child->FindBinding("w")->Value->AsInteger(), 5);
    EXPECT_EQ(child->FindBinding("v1"), nullptr);

    // A rule's firing context keeps the names it loaded, in place and without values; the
    // rest go back to the spares.
    child->Recycle();
    child->Bindings().Append("w", Int(1));
    child->Bindings().Append("u0", Int(2));
    child->Bindings().Append("u5", Int(3));
    child->Recycle(2);
    ASSERT_EQ(child->BindingCount(), 2);
    EXPECT_EQ(child->Bindings().Item(0)->Name, "w");
    EXPECT_EQ(child->Bindings().Item(1)->Name, "u0");
    EXPECT_EQ(child->Bindings().Item(1)->Value, nullptr);
    EXPECT_EQ(child->FindBinding("u5"), nullptr);
    child->Bindings().Truncate(1);
    EXPECT_EQ(child->FindBinding("u0"), nullptr);
    EXPECT_NE(child->FindBinding("w"), nullptr);
}

TEST(IEContextBindings, FrameSlotsAreBoundOnlyWhileTheyHaveValues) {
    TIEContext root(nullptr, nullptr);
    root.AddBinding("g", Int(1));
    TFrameLayout layout;
    layout.Id = 0x7fff0001;
    layout.Names = {"p", "x", "g", "late"};
    layout.ParameterCount = 1;
    auto frame = TIEContext::TakeFrame(&root, layout);
    ASSERT_EQ(frame->BindingCount(), 4);
    frame->Bindings().Item(0)->Value = Int(7);
    // A slot of the body's own variables is not bound before its first bind in the call.
    EXPECT_EQ(frame->FindBinding("x"), nullptr);
    uint16_t hint = 1;
    frame->SetBinding("x", Int(2), hint);
    EXPECT_EQ(frame->FindBinding("x")->Value->AsInteger(), 2);
    // A name the root holds too is the call's own once the body binds it: the root keeps its
    // value, and reads the slot without a value passes by go to the root.
    EXPECT_EQ(frame->FindBinding("g")->Value->AsInteger(), 1);
    uint16_t global = 2;
    frame->SetBinding("g", Int(3), global);
    EXPECT_EQ(root.FindBinding("g")->Value->AsInteger(), 1);
    EXPECT_EQ(frame->FindBinding("g")->Value->AsInteger(), 3);
    // Also when the root gains the name after the slot was bound, and through the setter that
    // takes no hint.
    uint16_t late = 3;
    frame->SetBinding("late", Int(4), late);
    frame->Bindings().Item(3)->Value = nullptr;
    root.AddBinding("late", Int(6));
    frame->SetBinding("late", Int(8), late);
    EXPECT_EQ(root.FindBinding("late")->Value->AsInteger(), 6);
    EXPECT_EQ(frame->Bindings().Item(3)->Value->AsInteger(), 8);
    frame->Bindings().Item(3)->Value = nullptr;
    frame->SetBinding("late", Int(9));
    EXPECT_EQ(root.FindBinding("late")->Value->AsInteger(), 6);
    EXPECT_EQ(frame->Bindings().Item(3)->Value->AsInteger(), 9);

    // Given back, it comes again for its layout, in place and without values.
    TIEContext::GiveBackFrame(std::move(frame));
    auto again = TIEContext::TakeFrame(&root, layout);
    EXPECT_EQ(again->BindingCount(), 4);
    EXPECT_EQ(again->Bindings().Item(0)->Name, "p");
    EXPECT_EQ(again->FindBinding("x"), nullptr);
    EXPECT_EQ(again->Parent(), &root);
    TIEContext::GiveBackFrame(std::move(again));
}

TEST(IEContextBindingText, RecordsPrintAndCompare) {
    TBinding b("x", Int(4));
    EXPECT_EQ(b.GetText(), "name=x value=4 FactIdx=-1 SlotIdx=");
    TBinding p("y", 1, "slot", 2);
    EXPECT_EQ(p.GetText(), "name=y FactIdx=1 SlotIdx=slot SubIdx=2");
    TBinding q;
    q.Assign(&p);
    EXPECT_TRUE(q.Equals(&p));
    q.Assign(&q);
    EXPECT_TRUE(q.Equals(&p));
    TBindingInfo i(1, "slot", 2);
    EXPECT_TRUE(i.Equals(&p)); // positions compare as positions
    EXPECT_FALSE(p.Equals(&i));
}

} // namespace
} // namespace ie
