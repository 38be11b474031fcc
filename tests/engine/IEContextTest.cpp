#include <gtest/gtest.h>

#include <map>

#include "engine/model/IEContext.h"
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
    int32_t FactCount() const noexcept override { return static_cast<int32_t>(Facts.size()); }
    TRefPtr<IFact> GetFact(int32_t index) const override {
        return Facts.at(static_cast<size_t>(index));
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
