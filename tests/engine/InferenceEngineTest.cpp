// The engine through its C++ interface: working memory, the agenda and the run loop (driven by a
// small matcher of its own, so that agenda and run are tested apart from the Rete network),
// reset and clear, input/output routing, settings and tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/InferenceEngine.h"
#include "engine/match/FuzzyExpression.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"
#include "platform/Assert.h"
#include "platform/Restore.h"
#include "platform/Streams.h"

namespace ie {
namespace {

TRefPtr<IIEValue> Atom(std::string_view text) {
    return TIEValue::CreateText(dtAtom, text);
}

// An ordered fact: the implied template of `name` with the given atoms.
TRefPtr<IFact> Ordered(TInferenceEngine& e, std::string_view name,
                       std::initializer_list<std::string_view> atoms = {}) {
    TRefPtr<IFact> f = e.ImpliedTemplate(name)->NewFact();
    auto list = MakeRef<TValueVector>();
    for (auto a : atoms)
        list->Add(Atom(a));
    f->SetSlotValue(DataSlotName, TIEValue::CreateList(list));
    return f;
}

template <class F> std::string RaisedMessage(F&& f) {
    try {
        f();
    } catch (const EException& e) {
        return e.what();
    }
    return "<nothing raised>";
}

// A one-fact token.
class TFakeToken final : public IReteToken {
public:
    explicit TFakeToken(TRefPtr<IFact> fact) : FFact(std::move(fact)) {}
    int32_t FactCount() const noexcept override { return 1; }
    TRefPtr<IFact> GetFact(int32_t) const override { return FFact; }

private:
    TRefPtr<IFact> FFact;
};

class TFakeMatcher;

// A "rule": activated by every asserted fact whose template has its trigger name.
class TFakeRule final : public IActivationNode {
public:
    TFakeRule(TInferenceEngine& e, std::string name, std::string trigger, int32_t salience)
        : Engine(e), Name(std::move(name)), Trigger(std::move(trigger)), Salience(salience) {}

    const std::string& ActivationRuleName() const override { return Name; }
    int32_t ActivationSalience() override { return Salience; }
    void FireActivation(TActivation& activation) override {
        Fired.push_back(activation.Token()->GetFact(0)->GetFactId());
        std::erase(Listed, &activation);
        if (Action) Action(activation);
        Engine.RuleFired(&activation);
    }
    void ActivationDestroyed(TActivation& activation) noexcept override {
        std::erase(Listed, &activation);
        ++Destroyed;
    }

    TInferenceEngine& Engine;
    std::string Name, Trigger;
    int32_t Salience;
    std::function<void(TActivation&)> Action;
    std::vector<TActivation*> Listed;
    std::vector<int32_t> Fired;
    int Destroyed = 0;
};

class TFakeMatcher final : public IEngineNetwork {
public:
    explicit TFakeMatcher(TInferenceEngine& e) : FEngine(e) {}
    void AssertToken(TTokenAction action, const TRefPtr<IFact>& fact) override {
        ++Tokens;
        for (auto& rule : Rules) {
            if (action == taClear) {
                while (!rule->Listed.empty())
                    FEngine.RemoveActivation(rule->Listed.back());
                continue;
            }
            if (fact->GetTemplate()->GetName() != rule->Trigger) continue;
            if (action == taAdd) {
                if (DuringPropagation) DuringPropagation(fact);
                auto* a = new TActivation(nullptr, Strength, rule.get(), MakeRef<TFakeToken>(fact));
                rule->Listed.push_back(a);
                FEngine.AddActivation(a);
            } else if (action == taRemove) {
                for (TActivation* a : std::vector<TActivation*>(rule->Listed))
                    if (a->Token()->GetFact(0).get() == fact.get()) {
                        std::erase(rule->Listed, a);
                        FEngine.RemoveActivation(a);
                    }
            }
        }
    }
    void AddRule(TRule*) override {}
    void RemoveRule(TRule*) override {}
    void Clear() override {}
    void SetMinActivationStrength(float) override {}

    TFakeRule* Add(std::string name, std::string trigger, int32_t salience = 0) {
        Rules.push_back(std::make_unique<TFakeRule>(FEngine, name, trigger, salience));
        return Rules.back().get();
    }

    std::vector<std::unique_ptr<TFakeRule>> Rules;
    std::function<void(const TRefPtr<IFact>&)> DuringPropagation;
    int Tokens = 0;
    // The strength of the activations made.
    float Strength = 1.0f;

private:
    TInferenceEngine& FEngine;
};

// An engine with the fake matcher and an output log.
struct TEngineFixture : ::testing::Test {
    TEngineFixture() {
        auto m = std::make_unique<TFakeMatcher>(E);
        M = m.get();
        E.SetNetwork(std::move(m));
        E.OnPrintOut = [this](TInferenceEngine*, const std::string& id, const std::string& text) {
            Out += id.empty() || id == "t" ? text : "[" + id + "]" + text;
        };
    }
    TInferenceEngine E;
    TFakeMatcher* M = nullptr;
    std::string Out;
};

// ---------------------------------------------------------------------------------------------
// Working memory

TEST(EngineConstruction, InitialFactIsFactZeroAndImpliedTemplatesExist) {
    TInferenceEngine e;
    ASSERT_EQ(e.Facts().Count(), 1);
    EXPECT_EQ(e.Facts().Item(0)->GetFactId(), 0);
    EXPECT_EQ(e.Facts().Item(0)->GetTemplate()->GetName(), "Initial-Fact");
    EXPECT_EQ(e.NextFactId(), 1);
    EXPECT_TRUE(e.FactTemplates().Find("Initial-Fact"));
    EXPECT_EQ(e.FactTemplates().Find("Initial-Fact")->GetComment(), "(Implied)");
    EXPECT_TRUE(e.FactTemplates().Find("__NOT-OR-TEST-CE*"));
    EXPECT_TRUE(e.NotOrTestFact());
    EXPECT_EQ(e.NotOrTestFact()->GetFactId(), -1);
}

TEST_F(TEngineFixture, AssertTracesAndRefusesDuplicates) {
    E.SetWatch({cwFact});
    int assertions = 0;
    E.OnAssertion = [&](TInferenceEngine*, IFact*) { ++assertions; };
    EXPECT_EQ(E.AssertFact(Ordered(E, "b")), 1);
    EXPECT_EQ(Out, " ==> f-1 (b)\r\n");
    EXPECT_EQ(E.AssertFact(Ordered(E, "b")), -1);
    EXPECT_EQ(assertions, 1);
    EXPECT_EQ(E.NextFactId(), 2) << "a refused duplicate uses no identifier";
    E.SetFactDuplication(true);
    EXPECT_EQ(E.AssertFact(Ordered(E, "b")), 2);
    Out.clear();
    E.RetractAt(1);
    EXPECT_EQ(Out, " <== f-1 (b)\r\n");
}

TEST_F(TEngineFixture, FactsWhoseSlotTextsConcatenateAlikeAreBothAsserted) {
    // (foo (x ab) (y c)) and (foo (x a) (y bc)) have the same hash code text "abc".
    auto t = TFactTemplate::CreateNamed(&E, "foo");
    t->AddSlot("x", Atom("nil"));
    t->AddSlot("y", Atom("nil"));
    E.FactTemplates().PutTemplate("foo", t);
    auto f1 = t->NewFact();
    f1->SetSlotValue("x", Atom("ab"));
    f1->SetSlotValue("y", Atom("c"));
    auto f2 = t->NewFact();
    f2->SetSlotValue("x", Atom("a"));
    f2->SetSlotValue("y", Atom("bc"));
    EXPECT_EQ(E.AssertFact(f1), 1);
    EXPECT_EQ(E.AssertFact(f2), 2);
    // Retracting an equal copy of the second removes the second, never the first.
    auto copy = t->NewFact();
    copy->SetSlotValue("x", Atom("a"));
    copy->SetSlotValue("y", Atom("bc"));
    EXPECT_EQ(E.RetractFact(copy.get()), 2);
    ASSERT_EQ(E.Facts().Count(), 2);
    EXPECT_EQ(E.Facts().Item(1).get(), f1.get());
}

TEST_F(TEngineFixture, RetractionEventSeesTheFactStillPresent) {
    auto f = Ordered(E, "a");
    E.AssertFact(f);
    bool present = false;
    E.OnRetraction = [&](TInferenceEngine* s, IFact* fact) {
        present = s->Facts().IndexOf(fact) >= 0;
    };
    EXPECT_EQ(E.RetractFact(f.get()), 1);
    EXPECT_TRUE(present);
    EXPECT_EQ(E.RetractFact(f.get()), -1);
    EXPECT_EQ(f->GetFactId(), 1) << "a retracted fact keeps its identifier";
}

TEST_F(TEngineFixture, ModifyActsOnThatVeryFactEvenWithDuplicatesAllowed) {
    E.SetFactDuplication(true);
    auto first = Ordered(E, "a", {"1"});
    auto second = Ordered(E, "a", {"1"});
    E.AssertFact(first);
    E.AssertFact(second);
    EXPECT_EQ(E.BeginModify(second.get()), 2);
    ASSERT_EQ(E.Facts().Count(), 2);
    EXPECT_EQ(E.Facts().Item(1).get(), first.get());
}

TEST_F(TEngineFixture, AssertionsDuringPropagationAreQueuedInOrder) {
    M->Add("r", "trigger");
    std::vector<std::string> order;
    E.OnAssertion = [&](TInferenceEngine*, IFact* f) {
        order.push_back(f->GetTemplate()->GetName());
    };
    M->DuringPropagation = [&](const TRefPtr<IFact>&) {
        EXPECT_EQ(E.AssertFact(Ordered(E, "x")), -1) << "queued, not asserted yet";
        E.AssertFact(Ordered(E, "y"));
        EXPECT_EQ(E.Facts().Count(), 2) << "nothing asserted inside the propagation";
    };
    EXPECT_EQ(E.AssertFact(Ordered(E, "trigger")), 1);
    ASSERT_EQ(E.Facts().Count(), 4);
    EXPECT_EQ(E.Facts().Item(2)->GetTemplate()->GetName(), "x");
    EXPECT_EQ(E.Facts().Item(3)->GetTemplate()->GetName(), "y");
    // Each assertion drains the queues before it reports, so the later queued fact reports
    // first; all of them before the outer assertion.
    EXPECT_EQ((std::vector<std::string>{"y", "x", "trigger"}), order);
}

TEST(EngineFacts, IndexOfIdLinearAndBisectionAgree) {
    TInferenceEngine e;
    e.SetFactDuplication(true);
    for (int i = 0; i < 3; ++i)
        e.AssertFact(Ordered(e, "a"));
    ASSERT_EQ(e.Facts().Count(), 4);
    EXPECT_EQ(e.Facts().IndexOfID(3), 3);
    EXPECT_EQ(e.Facts().IndexOfID(9), -1);
    e.AssertFact(Ordered(e, "a"));
    e.RetractAt(2);
    EXPECT_EQ(e.Facts().IndexOfID(4), 3);
    EXPECT_EQ(e.Facts().IndexOfID(2), -1);
    EXPECT_EQ(e.Facts().IndexOfID(0), 0);
}

// ---------------------------------------------------------------------------------------------
// Agenda and run

TEST_F(TEngineFixture, EqualSaliencesFireNewestFirstDepthFirstOldestFirstBreadthFirst) {
    auto* r = M->Add("r", "a");
    for (auto name : {"1", "2", "3"})
        E.AssertFact(Ordered(E, "a", {name}));
    EXPECT_EQ(E.Run(), 3);
    EXPECT_EQ(r->Fired, (std::vector<int32_t>{3, 2, 1}));

    E.SetStrategy(ssBreadthFirst);
    r->Fired.clear();
    for (auto name : {"4", "5", "6"})
        E.AssertFact(Ordered(E, "a", {name}));
    EXPECT_EQ(E.Run(), 3);
    EXPECT_EQ(r->Fired, (std::vector<int32_t>{4, 5, 6}));
}

TEST_F(TEngineFixture, InsertIndexFollowsSalienceAndStrategy) {
    M->Add("r10", "s10", 10);
    M->Add("r5", "s5", 5);
    M->Add("r0", "s0", 0);
    E.AssertFact(Ordered(E, "s10"));
    E.AssertFact(Ordered(E, "s5", {"a"}));
    E.AssertFact(Ordered(E, "s5", {"b"}));
    E.AssertFact(Ordered(E, "s0"));
    EXPECT_EQ(E.GetActivationInsertIndex(5), 1);
    EXPECT_EQ(E.GetActivationInsertIndex(20), 0);
    EXPECT_EQ(E.GetActivationInsertIndex(-1), -1);
    E.SetStrategy(ssBreadthFirst);
    EXPECT_EQ(E.GetActivationInsertIndex(5), 3);
    EXPECT_EQ(E.GetActivationInsertIndex(0), -1);
    EXPECT_EQ(E.GetActivationInsertIndex(11), 0);
    std::vector<int32_t> indexes;
    E.OnAddActivation = [&](TInferenceEngine*, int32_t i, TActivation*) { indexes.push_back(i); };
    E.AssertFact(Ordered(E, "s5", {"c"}));
    EXPECT_EQ(indexes, (std::vector<int32_t>{3}));
    EXPECT_EQ(E.GetActivation(0)->GetText(), "10 r10 : f-1 (1.0000)");
}

TEST_F(TEngineFixture, TracesOfActivationAndFiring) {
    M->Add("r1", "b");
    E.SetWatch({cwActivation, cwRule, cwFact});
    E.AssertFact(Ordered(E, "b"));
    E.Run();
    EXPECT_EQ(Out, " ==> f-1 (b)\r\n"
                   "==> Activation: r1 : f-1\r\n"
                   "FIRE 0 r1 f-1\r\n"
                   "<== Activation: r1 : f-1\r\n");
}

TEST_F(TEngineFixture, NoTraceTextWithoutHandler) {
    auto* r = M->Add("r1", "b");
    E.OnPrintOut = nullptr;
    E.SetWatch({cwActivation, cwRule, cwFact, cwStatistics});
    E.SetDribbleStream(std::make_unique<TStringStream>());
    E.AssertFact(Ordered(E, "b"));
    E.Run();
    EXPECT_EQ(r->Fired.size(), 1u);
    // Traces are only made for a handler: the dribble file (which would take "t") saw nothing.
    // (Text printed explicitly to "t" still reaches the dribble file.)
    E.PrintOut("t", "x");
    E.DribbleOff();
}

TEST_F(TEngineFixture, ChangingStrategyKeepsStrengthsAndReportsEachActivationAgain) {
    M->Add("r", "a");
    E.AssertFact(Ordered(E, "a", {"1"}));
    E.AssertFact(Ordered(E, "a", {"2"}));
    E.GetActivation(0)->SetStrength(0.25f);
    int added = 0;
    E.OnAddActivation = [&](TInferenceEngine*, int32_t, TActivation*) { ++added; };
    E.SetStrategy(ssBreadthFirst);
    EXPECT_EQ(added, 2);
    ASSERT_EQ(E.ActivationCount(), 2);
    EXPECT_FLOAT_EQ(E.GetActivation(0)->Strength(), 0.25f);
    E.SetStrategy(ssDepthFirst);
    EXPECT_FLOAT_EQ(E.GetActivation(1)->Strength(), 0.25f) << "breadth to depth reverses";
}

TEST_F(TEngineFixture, RunLimitHaltAndEvents) {
    auto* r = M->Add("r", "a");
    for (auto name : {"1", "2", "3"})
        E.AssertFact(Ordered(E, "a", {name}));
    EXPECT_EQ(E.RunLimited(0), 0);
    std::vector<std::string> events;
    E.OnStartInference = [&](TInferenceEngine*) { events.push_back("start"); };
    E.OnEndInference = [&](TInferenceEngine*, int32_t n) {
        events.push_back("end " + std::to_string(n));
    };
    r->Action = [&](TActivation&) { E.Halt(); };
    EXPECT_EQ(E.Run(), 1) << "halt stops after its own firing";
    EXPECT_EQ(E.Run(), 1);
    EXPECT_EQ(events, (std::vector<std::string>{"start", "end 1", "start", "end 1"}));
    EXPECT_EQ(E.ActivationCount(), 1);
}

TEST_F(TEngineFixture, EmptyRunPrintsNoStatistics) {
    E.SetWatch({cwStatistics});
    int ended = -1;
    E.OnEndInference = [&](TInferenceEngine*, int32_t n) { ended = n; };
    EXPECT_EQ(E.Run(), 0);
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(Out, "");
}

TEST_F(TEngineFixture, StatisticsLines) {
    M->Add("r", "a");
    E.AssertFact(Ordered(E, "a", {"1"}));
    E.AssertFact(Ordered(E, "a", {"2"}));
    E.SetWatch({cwStatistics});
    E.Run();
    // 3 facts after each firing; 1 then 0 activations.
    EXPECT_NE(Out.find("2 rules fired.     Run time is "), std::string::npos) << Out;
    EXPECT_NE(Out.find(" rules per second\r\n"), std::string::npos);
    EXPECT_NE(Out.find("3.0000 mean number of facts (3 maximum)\r\n"), std::string::npos);
    EXPECT_NE(Out.find("0.5000 mean number of activations (2 maximum)\r\n"), std::string::npos);
}

TEST_F(TEngineFixture, NestedRunNeverFiresTheFiringActivation) {
    auto* r = M->Add("r", "a");
    auto* other = M->Add("o", "b");
    int depth = 0;
    r->Action = [&](TActivation&) {
        ++depth;
        EXPECT_EQ(E.Run(), 1) << "only the other activation fires";
        --depth;
    };
    E.AssertFact(Ordered(E, "b"));
    E.AssertFact(Ordered(E, "a"));
    EXPECT_EQ(E.Run(), 1);
    EXPECT_EQ(r->Fired.size(), 1u);
    EXPECT_EQ(other->Fired.size(), 1u);
    EXPECT_EQ(E.ActivationCount(), 0);
}

TEST_F(TEngineFixture, FailingActionLeavesTheAgendaConsistent) {
    auto* r = M->Add("r", "a");
    int removed = 0;
    E.OnRemoveActivation = [&](TInferenceEngine*, int32_t, TActivation*) { ++removed; };
    r->Action = [&](TActivation&) { throw EIEException("boom"); };
    E.AssertFact(Ordered(E, "a", {"1"}));
    E.AssertFact(Ordered(E, "a", {"2"}));
    EXPECT_EQ(RaisedMessage([&] { E.Run(); }), "boom (in rule r)") << "names the rule";
    EXPECT_EQ(E.ActivationCount(), 1);
    EXPECT_EQ(r->Destroyed, 1) << "the failed activation is freed exactly once";
    EXPECT_EQ(r->Listed.size(), 1u);
    EXPECT_EQ(E.FiringActivation(), nullptr);
    r->Action = nullptr;
    EXPECT_EQ(E.Run(), 1);
    EXPECT_EQ(r->Destroyed, 2);
    (void)removed;
}

TEST_F(TEngineFixture, RetractingTheFiringFactInsideTheActionIsSafe) {
    auto* r = M->Add("r", "a");
    auto f = Ordered(E, "a");
    E.AssertFact(f);
    r->Action = [&](TActivation&) { E.RetractFact(f.get()); };
    EXPECT_EQ(E.Run(), 1);
    EXPECT_EQ(r->Destroyed, 1);
    EXPECT_EQ(E.ActivationCount(), 0);
}

TEST_F(TEngineFixture, ResetInsideAnActionIsDoneAtOnceAndClearIsRefused) {
    auto* r = M->Add("r", "a");
    E.AssertFact(Ordered(E, "a"));
    int resets = 0;
    E.OnReset = [&](TInferenceEngine*) { ++resets; };
    r->Action = [&](TActivation& a) {
        E.Reset();
        EXPECT_EQ(resets, 1);
        EXPECT_EQ(a.Token()->GetFact(0)->GetTemplate()->GetName(), "a") << "still alive";
        EXPECT_EQ(E.Facts().Count(), 1);
        // What the action does after the reset stays.
        E.AssertFact(Ordered(E, "b"));
    };
    EXPECT_EQ(E.Run(), 1);
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(E.Facts().Count(), 2);
    EXPECT_EQ(r->Destroyed, 1);

    int clears = 0;
    E.OnClear = [&](TInferenceEngine*) { ++clears; };
    E.AssertFact(Ordered(E, "a"));
    r->Action = [&](TActivation&) { E.Clear(); };
    EXPECT_EQ(RaisedMessage([&] { E.Run(); }), "Clear is not allowed while rules fire (in rule r)");
    EXPECT_EQ(clears, 0);
    EXPECT_EQ(E.Facts().Count(), 3);
}

// ---------------------------------------------------------------------------------------------
// Reset and clear

TEST_F(TEngineFixture, ResetOrderAndNumbering) {
    std::vector<std::string> events;
    E.OnClearFacts = [&](TInferenceEngine*) { events.push_back("clearfacts"); };
    E.OnAssertion = [&](TInferenceEngine*, IFact* f) {
        events.push_back("assert " + std::to_string(f->GetFactId()));
    };
    E.OnReset = [&](TInferenceEngine*) { events.push_back("reset"); };
    E.AssertFact(Ordered(E, "x"));
    events.clear();
    E.Reset();
    EXPECT_EQ(events, (std::vector<std::string>{"clearfacts", "assert 0", "reset"}));
    EXPECT_EQ(E.Facts().Count(), 1);
    E.AssertFact(Ordered(E, "x"));
    E.Reset();
    EXPECT_EQ(E.AssertFact(Ordered(E, "x")), 1);
}

TEST_F(TEngineFixture, ResetGlobalsRestoresDefinedValues) {
    E.GlobalVariables().PutGlobal("g", TIEValue::CreateInteger(dtInteger, 0));
    E.RootContext()->SetGlobalBinding("g", TIEValue::CreateInteger(dtInteger, 5));
    E.SetResetGlobals(false);
    E.Reset();
    EXPECT_EQ(E.RootContext()->FindGlobalBinding("g")->Value->AsInteger(), 5);
    E.SetResetGlobals(true);
    E.Reset();
    EXPECT_EQ(E.RootContext()->FindGlobalBinding("g")->Value->AsInteger(), 0);
}

TEST_F(TEngineFixture, ClearLeavesImpliedTemplatesAndNoFacts) {
    E.AssertFact(Ordered(E, "x"));
    M->Add("r", "x");
    E.AssertFact(Ordered(E, "x", {"1"}));
    int clears = 0;
    E.OnClear = [&](TInferenceEngine*) { ++clears; };
    E.Clear();
    EXPECT_EQ(clears, 1);
    EXPECT_EQ(E.Facts().Count(), 0);
    EXPECT_EQ(E.ActivationCount(), 0);
    EXPECT_FALSE(E.FactTemplates().Find("x"));
    EXPECT_TRUE(E.FactTemplates().Find("Initial-Fact"));
    EXPECT_TRUE(E.NotOrTestFact());
    E.Reset();
    EXPECT_EQ(E.Facts().Count(), 1);
    EXPECT_EQ(E.Facts().Item(0)->GetFactId(), 0);
}

TEST(EngineDestruction, RaisesNoEvents) {
    int events = 0;
    {
        TInferenceEngine e;
        e.OnClear = [&](TInferenceEngine*) { ++events; };
        e.OnClearFacts = [&](TInferenceEngine*) { ++events; };
        e.OnRetraction = [&](TInferenceEngine*, IFact*) { ++events; };
    }
    EXPECT_EQ(events, 0);
}

// ---------------------------------------------------------------------------------------------
// Input and output

TEST_F(TEngineFixture, PrintOutRouting) {
    E.PrintOut("t", "a");
    E.PrintOut("", "b");
    EXPECT_EQ(Out, "ab");
    // Text for a name that is not open would be lost: an error names it, handler or not, and
    // so does reading it.
    EXPECT_EQ(RaisedMessage([&] { E.PrintOut("nowhere", "c"); }), "Invalid stream name: nowhere");
    EXPECT_EQ(Out, "ab");
    std::string line;
    EXPECT_EQ(RaisedMessage([&] { E.ReadLine("nowhere", line); }), "Invalid stream name: nowhere");
    TStreamTokenRef token;
    EXPECT_EQ(RaisedMessage([&] { E.ReadToken("nowhere", token); }),
              "Invalid stream name: nowhere");
    auto* sink = new TStringStream();
    E.SetDribbleStream(std::unique_ptr<TStream>(sink));
    E.PrintOut("t", "d");
    EXPECT_EQ(sink->DataString(), "d");
    EXPECT_EQ(Out, "ab");
    E.DribbleOff();
    E.OnPrintOut = nullptr;
    EXPECT_EQ(RaisedMessage([&] { E.PrintOut("nowhere", "c"); }), "Invalid stream name: nowhere");
}

TEST_F(TEngineFixture, NamedStreamsAreClosedByClearNotReset) {
    auto* data = new TStringStream("line one\r\n");
    auto stream = std::make_unique<TGTextStream>(data);
    stream->SetOwnsStream(true);
    E.IOStreams().PutStream("in", std::move(stream));
    std::string line;
    E.ReadLine("in", line);
    EXPECT_EQ(line, "line one");
    E.ReadLine("in", line);
    EXPECT_EQ(line, "") << "at its end a named stream reads empty";
    E.Reset();
    EXPECT_TRUE(E.IOStreams().Find("in"));
    E.Clear();
    EXPECT_FALSE(E.IOStreams().Find("in"));
    EXPECT_EQ(RaisedMessage([&] { E.IOStreams().CloseStream("in"); }), "Invalid stream name: in");
}

TEST_F(TEngineFixture, ReadingTerminalWithoutHandlerExplainsTheBlockingNeed) {
    std::string line;
    EXPECT_EQ(RaisedMessage([&] { E.ReadLine("t", line); }),
              "The readline event has not been implemented or unassigned.\r\n"
              "Warning: Implementation of this function requires a blocking mechanism, \r\n"
              "such as ShowModal, or the use of threads");
    E.OnReadLine = [](TInferenceEngine*, const std::string&, std::string& text) { text = "hi"; };
    E.ReadLine("t", line);
    EXPECT_EQ(line, "hi");
}

TEST_F(TEngineFixture, FailingBatchRestoresInputAndEchoesValues) {
    TStringStream good("abc\r\n12\r\n");
    EXPECT_TRUE(E.BatchFromStream(good));
    EXPECT_NE(Out.find("abc"), std::string::npos);
    TStringStream bad("1\r\n(no-such-function-here)\r\n2\r\n");
    EXPECT_THROW(E.BatchFromStream(bad), EException);
    EXPECT_FALSE(E.InBatch()) << "the failed batch is no longer the input";
    std::string line;
    EXPECT_THROW(E.ReadLine("t", line), EIEException);
}

// ---------------------------------------------------------------------------------------------
// Settings and tables

TEST(EngineSettings, ClampsAndCounters) {
    TInferenceEngine e;
    e.SetMinActivationStrength(-0.5f);
    EXPECT_EQ(e.MinActivationStrength(), 0.0f);
    e.SetMinActivationStrength(3.0f);
    EXPECT_EQ(e.MinActivationStrength(), 1.0f);
    EXPECT_EQ(e.GenSym("gen"), "gen1");
    e.SetSymbolIndex(1);
    EXPECT_EQ(e.SymbolIndex(), 3) << "a value not above the current one counts up by one";
    e.SetSymbolIndex(10);
    EXPECT_EQ(e.SymbolIndex(), 10);
    EXPECT_EQ(e.Packages(), AllFunctionPackages);
    EXPECT_EQ(e.Packages().Bits(), 511u);
}

class TCountingPackage : public TUserPackage {
public:
    explicit TCountingPackage(TComponent* owner) : TUserPackage(owner) { ++Created; }
    ~TCountingPackage() override { ++Freed; }
    static inline int Created = 0, Freed = 0;

protected:
    void DoCreateFunctions() override {
        TUserPackage::DoCreateFunctions();
        Functions().Add(MakeRef<TIEUserFunction>("counted-fn"));
    }
};

TEST(EnginePackages, FactoriesAreCreatedAndReplacedWithThePackagesSet) {
    RegisterPackageFactory(
        pBusiness, [](TComponent* e) -> TComponent* { return NewPackage<TCountingPackage>(e); });
    TCountingPackage::Created = TCountingPackage::Freed = 0;
    {
        TInferenceEngine e;
        EXPECT_EQ(TCountingPackage::Created, 1);
        EXPECT_TRUE(e.FindUserFunction("counted-fn"));
        int added = 0;
        e.OnAddDefaultPackages = [&](TInferenceEngine*) { ++added; };
        e.SetPackages(AllFunctionPackages);
        EXPECT_EQ(added, 0);
        e.SetPackages({pStandard});
        EXPECT_EQ(added, 1);
        EXPECT_EQ(TCountingPackage::Freed, 1);
        EXPECT_FALSE(e.FindUserFunction("counted-fn"));
        e.Clear();
        e.SetPackages(AllFunctionPackages);
        EXPECT_TRUE(e.FindUserFunction("counted-fn")) << "package functions survive Clear";
    }
    RegisterPackageFactory(pBusiness, nullptr);
}

TEST(EngineTables, UserFunctionNamesAndPolicy) {
    TInferenceEngine e;
    EXPECT_EQ(
        RaisedMessage([&] { e.UserFunctions().PutFunction("a", MakeRef<TIEUserFunction>("b")); }),
        "Function names do not match: a and b");
    auto f1 = MakeRef<TIEUserFunction>("f");
    auto f2 = MakeRef<TIEUserFunction>("f");
    e.PutUserFunction("f", f1);
    e.SetDuplicateConstructs(dcIgnore);
    e.PutUserFunction("f", f2);
    EXPECT_EQ(e.FindUserFunction("f").get(), f1.get());
    e.SetDuplicateConstructs(dcError);
    EXPECT_EQ(RaisedMessage([&] { e.PutUserFunction("f", f2); }),
              "Function Name already exists: \"f\"");
    e.SetDuplicateConstructs(dcOverwrite);
    e.PutUserFunction("f", f2);
    EXPECT_EQ(e.FindUserFunction("f").get(), f2.get());
    EXPECT_EQ(f1->ReasonerCount(), 0);
}

// The engine with its own Rete network and a rule built through the C++ interface.
TEST(EngineWithRete, RuleOnAnOrderedFactFiresWithTraces) {
    TInferenceEngine e;
    std::string out;
    e.OnPrintOut = [&](TInferenceEngine*, const std::string&, const std::string& text) {
        out += text;
    };
    auto* rule = new TRule(&e, &e);
    rule->SetRuleName("r1");
    rule->AddPattern(rule->NewPattern("b", e.ImpliedTemplate("b")));
    int fired = 0;
    rule->OnFire = [&](TRule*, TIEContext*) { ++fired; };
    ASSERT_TRUE(e.Rules().PutRule("r1", rule));
    ASSERT_EQ(e.Rules().Find("r1"), rule);
    e.SetWatch({cwActivation, cwRule, cwFact});
    EXPECT_EQ(e.AssertFact(Ordered(e, "b")), 1);
    EXPECT_EQ(e.ActivationCount(), 1);
    EXPECT_EQ(e.Run(), 1);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(out, " ==> f-1 (b)\r\n"
                   "==> Activation: r1 : f-1\r\n"
                   "FIRE 0 r1 f-1\r\n"
                   "<== Activation: r1 : f-1\r\n");
    // Retracting the fact of a pending activation takes the activation away.
    e.Reset();
    e.AssertFact(Ordered(e, "b"));
    ASSERT_EQ(e.ActivationCount(), 1);
    e.RetractAt(1);
    EXPECT_EQ(e.ActivationCount(), 0);
    e.Clear();
    EXPECT_FALSE(e.Rules().Find("r1"));
}

class TThreeFunction : public TIEUserFunction {
public:
    TThreeFunction() : TIEUserFunction("three") {}

protected:
    TRefPtr<IIEValue> Execute(IFunCall*, TIEContext*) override {
        return TIEValue::CreateInteger(dtInteger, 3);
    }
};

TEST(EngineFacts, AssertStringReadsEvaluatesAndRetractStringFindsTheFact) {
    TInferenceEngine e;
    e.PutUserFunction("three", MakeRef<TThreeFunction>());
    e.SetFactDuplication(false);
    EXPECT_EQ(e.AssertString("(b x 1)"), 1);
    EXPECT_EQ(e.AssertString("(b x 1)"), -1);
    EXPECT_EQ(e.Facts().Item(1)->GetText(), "(b x 1 )");
    EXPECT_EQ(e.AssertString("(c (three))"), 2);
    EXPECT_EQ(e.Facts().Item(2)->GetText(), "(c 3 )");
    EXPECT_EQ(e.RetractString("(b x 1)"), 1);
    EXPECT_EQ(e.RetractString("(b x 1)"), -1);
    EXPECT_EQ(e.Facts().Count(), 2);
    // A template redefined or removed between two readings is the one the next reading finds.
    e.ExecuteCommand("(deftemplate b (slot s))", true);
    const int32_t id = e.AssertString("(b (s 4))");
    EXPECT_EQ(e.Facts().Item(e.Facts().IndexOfID(id))->GetText(), "(b (s 4))");
    EXPECT_THROW(e.AssertString("(b x 1)"), EException);
    e.FactTemplates().RemoveTemplate("b");
    const int32_t again = e.AssertString("(b x 1)");
    EXPECT_EQ(e.Facts().Item(e.Facts().IndexOfID(again))->GetText(), "(b x 1 )");
}

// Asserts another fact while the fact that calls it is being read.
class TNestedAssertFunction : public TIEUserFunction {
public:
    explicit TNestedAssertFunction(TInferenceEngine* engine)
        : TIEUserFunction("nested"), FEngine(engine) {}

protected:
    TRefPtr<IIEValue> Execute(IFunCall*, TIEContext*) override {
        FEngine->AssertString("(inner\n 7)");
        return TIEValue::CreateInteger(dtInteger, 5);
    }

private:
    TInferenceEngine* FEngine;
};

TEST(EngineFacts, ReadingsFollowingOneAnotherOrNestedStayApart) {
    TInferenceEngine e;
    e.PutUserFunction("nested", MakeRef<TNestedAssertFunction>(&e));
    EXPECT_EQ(e.AssertString("(outer (nested))"), 2);
    EXPECT_EQ(e.Facts().Item(1)->GetText(), "(inner 7 )");
    EXPECT_EQ(e.Facts().Item(2)->GetText(), "(outer 5 )");
    // Text left unread by one reading never leaks into the next.
    try {
        e.AssertString("(a 1) (b 2)");
    } catch (const EException&) {
    }
    const int32_t id = e.AssertString("(c 3)");
    ASSERT_GE(id, 0);
    EXPECT_EQ(e.Facts().Item(e.Facts().IndexOfID(id))->GetText(), "(c 3 )");
    EXPECT_EQ(e.Facts().IndexOfFact(e.ParseFact("(b 2)").get()), -1);
}

TEST(EngineDribble, AFileThatCannotBeCreatedIsRefused) {
    TInferenceEngine e;
    EXPECT_FALSE(e.DribbleOn("/nonexistent-directory/dribble.txt"));
    EXPECT_FALSE(e.Dribbling());
}

// ---------------------------------------------------------------------------------------------
// Destruction with registered fact sets

TEST(EngineDestruction, AnEngineHoldingDeffactsGoesCleanly) {
    // The engine owns one fact set and another holder owns a second one registered with it.
    auto holder = std::make_unique<TComponent>(nullptr);
    {
        TInferenceEngine e;
        auto* owned = new TFactSet(&e);
        owned->SetFactSetName("mine");
        auto* foreign = new TFactSet(holder.get());
        foreign->SetFactSetName("theirs");
        foreign->SetEngine(&e);
        EXPECT_EQ(e.FactSets().Count(), 2);
    }
    // The foreign fact set forgot the engine when it went.
    ASSERT_EQ(holder->ComponentCount(), 1);
    EXPECT_EQ(static_cast<TFactSet*>(holder->Components(0))->Engine(), nullptr);
}

// A fact set the engine made (from a deffacts) has no other owner and is freed; one that another
// component owns only leaves the engine.
TEST(EngineDestruction, ClearFreesTheFactSetsItOwnsAndDetachesTheOthers) {
    TComponent host(nullptr);
    TInferenceEngine e;
    auto* foreign = new TFactSet(&host, "foreign");
    foreign->SetEngine(&e);
    const int32_t components = e.ComponentCount();
    new TFactSet(&e, "made");
    EXPECT_EQ(e.FactSets().Count(), 2);
    EXPECT_EQ(e.ComponentCount(), components + 1);
    e.Clear();
    EXPECT_EQ(e.FactSets().Count(), 0);
    EXPECT_EQ(e.ComponentCount(), components);
    EXPECT_EQ(foreign->Engine(), nullptr);
    EXPECT_EQ(host.ComponentCount(), 1);
}

// ---------------------------------------------------------------------------------------------
// Working memory positions under many removals

TEST_F(TEngineFixture, PositionsStayRightWhileFactsAreRemovedInAnyOrder) {
    std::vector<int32_t> ids{0};
    for (int i = 0; i < 600; ++i)
        ids.push_back(E.AssertFact(Ordered(E, "n", {std::to_string(i)})));
    auto check = [&] {
        ASSERT_EQ(E.Facts().Count(), static_cast<int32_t>(ids.size()));
        for (size_t i = 0; i < ids.size(); ++i) {
            if (i % 7 == 0) {
                EXPECT_EQ(E.Facts().Item(static_cast<int32_t>(i))->GetFactId(), ids[i]);
            }
            EXPECT_EQ(E.Facts().IndexOfID(ids[i]), static_cast<int32_t>(i));
            // The identifier after it, which is a retracted one or another's.
            const auto next = std::find(ids.begin(), ids.end(), ids[i] + 1);
            EXPECT_EQ(E.Facts().IndexOfID(ids[i] + 1),
                      next == ids.end() ? -1 : static_cast<int32_t>(next - ids.begin()));
        }
    };
    // Every third fact by identity, then positions from the front and the back, with new
    // facts arriving in between. A fact just found and retracted is not found again.
    for (size_t i = ids.size() - 1; i > 0; i -= std::min<size_t>(3, i)) {
        const int32_t at = E.Facts().IndexOfID(ids[i]);
        E.RetractFactByID(E.Facts().Item(at).get());
        EXPECT_EQ(E.Facts().FindID(ids[i]), nullptr);
        ids.erase(ids.begin() + static_cast<ptrdiff_t>(i));
    }
    check();
    // The newest fact found and retracted, and a new one stored where it was: the old
    // identifier finds nothing.
    const int32_t newest = ids.back();
    E.RetractFactByID(E.Facts().FindID(newest));
    ids.back() = E.AssertFact(Ordered(E, "p"));
    EXPECT_EQ(E.Facts().FindID(newest), nullptr);
    for (int k = 0; k < 50; ++k) {
        E.RetractAt(1);
        ids.erase(ids.begin() + 1);
        E.RetractAt(E.Facts().Count() - 2);
        ids.erase(ids.end() - 2);
        ids.push_back(E.AssertFact(Ordered(E, "m", {std::to_string(k)})));
    }
    check();
    EXPECT_EQ(E.Facts().IndexOfID(ids[1] - 1), -1) << "a retracted identifier is gone";
    std::string expected;
    for (size_t i = 0; i < ids.size(); ++i)
        expected += (i ? "\r\n" : "") + E.Facts().Item(static_cast<int32_t>(i))->GetText();
    EXPECT_EQ(E.Facts().GetText(), expected);
    EXPECT_EQ(E.Facts().Items().size(), ids.size());
    // A fact that keeps an identifier below the highest: the identifiers are filed in a table
    // from then on, through the removals and the compaction that follow.
    TRefPtr<IFact> low = Ordered(E, "low");
    low->SetFactId(ids[1] - 1);
    E.Facts().KeepIdentifiers = true;
    ASSERT_EQ(E.Facts().Add(low), ids[1] - 1);
    ids.push_back(ids[1] - 1);
    while (ids.size() > 100) {
        E.RetractAt(1);
        ids.erase(ids.begin() + 1);
    }
    check();
    EXPECT_EQ(E.Facts().Items().size(), ids.size());
    check();
    E.Facts().CheckInvariants();
}

TEST_F(TEngineFixture, AddKeepsAFreeIdentifierWhenAsked) {
    E.AssertFact(Ordered(E, "a"));
    TRefPtr<IFact> f = Ordered(E, "b");
    f->SetFactId(40);
    E.Facts().KeepIdentifiers = true;
    EXPECT_EQ(E.Facts().Add(f), 40);
    EXPECT_EQ(E.NextFactId(), 41);
    TRefPtr<IFact> g = Ordered(E, "c");
    g->SetFactId(40);
    EXPECT_EQ(E.Facts().Add(g), 41) << "a taken identifier is not kept";
    TRefPtr<IFact> h = Ordered(E, "d");
    h->SetFactId(5);
    EXPECT_EQ(E.Facts().Add(h), 5) << "a free identifier below the highest is kept too";
    EXPECT_EQ(E.NextFactId(), 42);
    EXPECT_EQ(E.Facts().IndexOfID(5), E.Facts().Count() - 1) << "stored last, in assertion order";
    EXPECT_EQ(E.Facts().IndexOfID(40), E.Facts().IndexOf(f.get()));
    const int32_t at = E.Facts().Count() - 3;
    EXPECT_EQ(E.RetractFactByID(f.get()), at);
    EXPECT_EQ(E.Facts().FindID(40), nullptr);
    EXPECT_EQ(E.Facts().FindID(41), g.get());
    EXPECT_EQ(E.Facts().FindID(5), h.get());
    E.Facts().CheckInvariants();
}

TEST(EngineTables, FactListAssignKeepsTheSourceIdentifiersWhenAsked) {
    TInferenceEngine source, dest;
    source.AssertString("(a)");
    source.AssertString("(b)");
    source.AssertString("(c)");
    source.RetractAt(source.Facts().IndexOfID(2));
    auto ids = [](const TInferenceEngine& e) {
        std::vector<int32_t> all;
        for (const auto& f : e.Facts().Items())
            all.push_back(f->GetFactId());
        return all;
    };
    ASSERT_EQ(ids(source), (std::vector<int32_t>{0, 1, 3}));
    dest.Facts().KeepIdentifiers = true;
    dest.Facts().Assign(source.Facts());
    EXPECT_EQ(ids(dest), (std::vector<int32_t>{0, 1, 3}));
    EXPECT_EQ(dest.Facts().GetText(), source.Facts().GetText());
    EXPECT_EQ(dest.NextFactId(), 4) << "numbering goes on after the highest kept identifier";
    dest.Facts().KeepIdentifiers = false;
    dest.Facts().Assign(source.Facts());
    EXPECT_EQ(ids(dest), (std::vector<int32_t>{4, 5, 6})) << "without the flag, new numbers";
}

TEST(EngineTables, FactListAddFromKeepsTheFactsThereWithoutAClear) {
    TInferenceEngine source, dest;
    source.AssertString("(a 1)");
    dest.AssertString("(z)");
    int clears = 0;
    dest.OnClearFacts = [&](TInferenceEngine*) { ++clears; };
    dest.Facts().AddFrom(source.Facts());
    EXPECT_EQ(clears, 0);
    EXPECT_EQ(dest.Facts().GetText(), "(Initial-Fact)\r\n(z)\r\n(a 1 )")
        << "an equal initial fact is refused as a duplicate, an ordered template made here";
}

TEST(EngineTables, AssigningDefinedTypesKeepsWhatStandsOnThem) {
    TInferenceEngine host, edited;
    host.ExecuteCommand("(deftype small extends (type INTEGER) (range 0 10))"
                        "(deftype other extends (type INTEGER) (range 0 5))"
                        "(deftemplate box (slot size (type small)))"
                        "(deftemplate tin (slot n (type other)))"
                        "(defrule r (box (size ?s)) =>)"
                        "(defrule q (z) =>)");
    host.AssertString("(box (size 3))");
    edited.DefinedTypes().Assign(host.DefinedTypes());
    edited.ExecuteCommand("(deftype big extends (type INTEGER))");
    int templateClears = 0, ruleClears = 0;
    host.OnClearFactTemplates = [&](TInferenceEngine*) { ++templateClears; };
    host.OnClearRules = [&](TInferenceEngine*) { ++ruleClears; };
    TRefPtr<IIEDefinedType> small = host.DefinedTypes().Find("small");
    TRule* r = host.Rules().Find("r");

    // Unchanged types stay the very objects; a new one is added.
    host.DefinedTypes().Assign(edited.DefinedTypes());
    EXPECT_TRUE(host.DefinedTypes().Find("big"));
    EXPECT_EQ(host.DefinedTypes().Find("small"), small);
    EXPECT_EQ(host.Rules().Find("r"), r);
    EXPECT_TRUE(host.FactTemplates().Find("tin"));
    EXPECT_NE(host.Facts().GetText().find("(box (size 3))"), std::string::npos);
    EXPECT_EQ(templateClears + ruleClears, 0);

    // A changed type is replaced; its template is rebuilt with its facts and rules.
    edited.DefinedTypes().Find("small")->SetMaxRange(20);
    host.DefinedTypes().Assign(edited.DefinedTypes());
    TRefPtr<IIEDefinedType> now = host.DefinedTypes().Find("small");
    ASSERT_TRUE(now);
    EXPECT_NE(now, small);
    EXPECT_DOUBLE_EQ(now->GetMaxRange(), 20);
    EXPECT_EQ(host.FactTemplates().Find("box")->SlotByName("size")->GetExtendedTypeInfo(), now);
    EXPECT_TRUE(host.Rules().Find("r"));
    EXPECT_TRUE(host.Rules().Find("q"));
    EXPECT_NE(host.Facts().GetText().find("(box (size 3))"), std::string::npos);

    // A type the source lacks goes, with the templates that use it.
    edited.DefinedTypes().RemoveType("other");
    host.DefinedTypes().Assign(edited.DefinedTypes());
    EXPECT_FALSE(host.DefinedTypes().Find("other"));
    EXPECT_FALSE(host.FactTemplates().Find("tin"));
    EXPECT_TRUE(host.FactTemplates().Find("box"));
    EXPECT_TRUE(host.Rules().Find("r"));
    EXPECT_EQ(templateClears + ruleClears, 0);
}

// ---------------------------------------------------------------------------------------------
// Fuzzy facts

struct TFuzzyFixture : TEngineFixture {
    TFuzzyFixture() {
        E.ExecuteCommand("(deftype temp extends (type FUZZY) (range 0 100) (values (term hot "
                         "((50 0) (100 1))) (term cold ((0 1) (50 0)))))"
                         "(deftemplate room (slot name) (slot t (type temp)))");
        Var = E.DefinedTypes().Find("temp")->GetFuzzyVariable();
    }
    TRefPtr<IFuzzySet> Term(std::string_view name) {
        TRefPtr<IFuzzySet> set;
        Var->Find(name, set);
        return set;
    }
    TRefPtr<IFact> Room(std::string_view name, const TRefPtr<IFuzzySet>& set) {
        TRefPtr<IFact> f = E.FactTemplates().Find("room")->NewFact();
        f->SetSlotValue("name", Atom(name));
        f->SetSlotValue("t", TIEValue::CreateFuzzy(set));
        return f;
    }
    static std::string Points(const IFuzzySet& set) { return set.ValuesAsString(); }
    // The set of the fact's slot t once the rule on "go" has asserted it at that strength.
    TRefPtr<IFuzzySet> ConcludedAt(float strength, const std::string& term) {
        M->Strength = strength;
        auto* r = M->Add("r", "go");
        r->Action = [&, term](TActivation&) { Concluded = E.AssertFact(Room("x", Term(term))); };
        E.AssertFact(Ordered(E, "go"));
        E.Run();
        return E.Facts().Item(E.Facts().IndexOfID(Concluded))->GetSlotValue("t")->AsFuzzy();
    }
    TRefPtr<IFuzzyVariable> Var;
    int32_t Concluded = -1;
};

TEST_F(TFuzzyFixture, AFactConcludedAtFullStrengthIsNotScaled) {
    const std::string before = Points(*Term("hot"));
    EXPECT_EQ(Points(*ConcludedAt(1.0f, "hot")), before);
}

TEST_F(TFuzzyFixture, MinimumCorrelationCutsTheSetAndLeavesTheTermAlone) {
    const std::string before = Points(*Term("hot"));
    TRefPtr<IFuzzySet> set = ConcludedAt(0.5f, "hot");
    EXPECT_DOUBLE_EQ(set->MaxY(), 0.5);
    EXPECT_DOUBLE_EQ(set->GetMembership(100), 0.5) << "cut flat";
    EXPECT_DOUBLE_EQ(set->GetMembership(50), 0.0) << "below the cut unchanged";
    EXPECT_EQ(Points(*Term("hot")), before) << "the term itself is never scaled";
}

TEST_F(TFuzzyFixture, ProductCorrelationScalesEveryGrade) {
    E.SetFuzzyCorrelationMethod(fcmProduct);
    TRefPtr<IFuzzySet> set = ConcludedAt(0.5f, "hot");
    EXPECT_DOUBLE_EQ(set->GetMembership(100), 0.5);
    EXPECT_DOUBLE_EQ(set->GetMembership(75), 0.25);
}

TEST_F(TFuzzyFixture, AHandledCorrelationLeavesTheFactAsAsserted) {
    float seen = 0;
    E.OnFuzzyCorrelation = [&](TInferenceEngine*, IFact*, bool& handled, float& strength) {
        seen = strength;
        handled = true;
    };
    EXPECT_EQ(Points(*ConcludedAt(0.25f, "hot")), Points(*Term("hot")));
    EXPECT_FLOAT_EQ(seen, 0.25f);
}

TEST_F(TFuzzyFixture, AnEqualFuzzyFactIsMergedUnderANewIdentifier) {
    const int32_t first = E.AssertFact(Room("a", Term("hot")));
    const int32_t second = E.AssertFact(Room("a", Term("cold")));
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(E.Facts().IndexOfID(first), -1) << "the old fact is retracted";
    TRefPtr<IFuzzySet> merged =
        E.Facts().Item(E.Facts().IndexOfID(second))->GetSlotValue("t")->AsFuzzy();
    // min-max unites by the maximum of the grades.
    EXPECT_DOUBLE_EQ(merged->GetMembership(0), 1.0);
    EXPECT_DOUBLE_EQ(merged->GetMembership(100), 1.0);
    EXPECT_DOUBLE_EQ(merged->GetMembership(50), 0.0);
    EXPECT_EQ(E.Facts().Count(), 2);
}

TEST_F(TFuzzyFixture, CombiningChecksTemplatesAndFuzziness) {
    TRefPtr<IFact> room = Room("a", Term("hot"));
    EXPECT_EQ(RaisedMessage([&] { E.CombineFuzzyFacts(*room, *Ordered(E, "q"), true); }),
              "Cannot union two facts with different fact templates: room and q");
    TRefPtr<IFact> q = Ordered(E, "q");
    EXPECT_EQ(RaisedMessage([&] { E.CombineFuzzyFacts(*q, *Ordered(E, "q"), true); }),
              "Fact is not a fuzzy fact");
    bool asked = false;
    E.OnFuzzyInference = [&](TInferenceEngine*, IFact*, bool& handled, IFact*) {
        asked = handled = true;
    };
    TRefPtr<IFact> other = Room("a", Term("cold"));
    const std::string before = Points(*room->GetSlotValue("t")->AsFuzzy());
    E.FuzzyInference(*room, *other);
    EXPECT_TRUE(asked);
    EXPECT_EQ(Points(*room->GetSlotValue("t")->AsFuzzy()), before);
    E.OnFuzzyInference = nullptr;
    E.FuzzyInference(*room, *other);
    EXPECT_DOUBLE_EQ(room->GetSlotValue("t")->AsFuzzy()->GetMembership(0), 1.0);
}

TEST_F(TFuzzyFixture, ThresholdsClampAndReachTheVariables) {
    E.SetFuzzyEqualsThreshold(2.0f);
    EXPECT_FLOAT_EQ(E.FuzzyEqualsThreshold(), 1.0f);
    EXPECT_DOUBLE_EQ(Var->GetThreshold(), 1.0);
    E.SetFuzzyEqualsThreshold(-1.0f);
    EXPECT_FLOAT_EQ(E.FuzzyEqualsThreshold(), 0.0f);
    EXPECT_DOUBLE_EQ(Var->GetThreshold(), 0.0);
}

TEST_F(TFuzzyFixture, ExpressionsFromText) {
    auto text = [&](std::string_view expression) {
        TRefPtr<IIEValue> v = E.EvaluateFuzzyText(Var.get(), expression, nullptr);
        return v->GetDType() == dtFuzzy ? v->AsFuzzy()->GetName() : "list " + v->GetText();
    };
    const std::string hot = Points(*Term("hot"));
    EXPECT_EQ(text("very hot"), "very hot");
    EXPECT_EQ(Points(*Term("hot")), hot) << "a hedge works on a copy of a term";
    EXPECT_EQ(text("very hot and cold"), "[very hot] and cold");
    EXPECT_EQ(text("hot and very cold"), "hot and [very cold]");
    EXPECT_EQ(text("hot and cold or hot"), "[hot and cold] or hot");
    EXPECT_EQ(text("[hot and cold]"), "hot and cold");
    EXPECT_EQ(text("hot very cold"), "very cold");
    EXPECT_EQ(text("5"), "5");
    EXPECT_EQ(text("2.5"), "2.5000");
    EXPECT_EQ(text("hot cold"), "list hot cold ");
    // Without a context a variable stays an operand of its own group, kept as written.
    EXPECT_EQ(text("very ?t"), "list very ?t ");
    EXPECT_EQ(E.EvaluateFuzzyText(Var.get(), "", nullptr)->AsFuzzy()->GetName(), "__Empty");
    EXPECT_EQ(text("__Empty"), "__Empty");
    auto error = [&](std::string_view expression, IFuzzyVariable* v = nullptr) {
        return RaisedMessage([&] { E.EvaluateFuzzyText(v ? v : Var.get(), expression, nullptr); });
    };
    auto alone = TValueVector::Create();
    alone->Add(Atom("very"));
    EXPECT_EQ(RaisedMessage([&] { E.BuildFuzzyExpression(Var.get(), *alone, nullptr); }),
              "Missing fuzzy operand to be modified by hedge: very");
    EXPECT_EQ(error("very"), "Invalid item in fuzzy expression: very");
    EXPECT_EQ(error("hot and"), "Missing fuzzy operand to be modified by hedge: and");
    EXPECT_EQ(error("[ hot cold ]"), "Missing Fuzzy Close Bracket in expression");
    EXPECT_EQ(error("[ hot and cold"), "Missing Fuzzy Close Bracket in expression");
    EXPECT_EQ(error("warm"), "Invalid item in fuzzy expression: warm");
    EXPECT_EQ(error("hot and-sum cold"), "Invalid fuzzy operation: \"foSum:");
    EXPECT_EQ(RaisedMessage([&] { E.EvaluateFuzzyText(nullptr, "hot", nullptr); }),
              "fuzzy variable is not defined");
    // A fact-id alone, without a context, is no fuzzy value; inside an expression it is an error.
    TRefPtr<IIEValue> id = TIEValue::CreateInteger(dtFactId, 3);
    EXPECT_EQ(E.EvaluateFuzzyExpression(Var.get(), id, nullptr).get(), IEEmptyAtom().get());
    auto items = TValueVector::Create();
    items->Add(Atom("very"));
    items->Add(id);
    EXPECT_EQ(RaisedMessage([&] { E.BuildFuzzyExpression(Var.get(), *items, nullptr); }),
              "Invalid item in fuzzy expression: " + id->GetText());
    EXPECT_EQ(E.BuildFuzzyExpression(Var.get(), *TValueVector::Create(), nullptr).get(),
              IEEmptyList().get());
}

// The evaluator needs no engine: a host of its own gets the same sets, only without the
// engine's renderer.
TEST_F(TFuzzyFixture, ExpressionsEvaluateWithoutAnEngine) {
    TFuzzyExpressions standalone(nullptr);
    auto items = TValueVector::Create();
    items->Add(Atom("very"));
    items->Add(Atom("hot"));
    TRefPtr<IIEValue> alone = standalone.Build(Var.get(), *items, nullptr);
    TRefPtr<IIEValue> inEngine = E.BuildFuzzyExpression(Var.get(), *items, nullptr);
    ASSERT_EQ(alone->GetDType(), dtFuzzy);
    EXPECT_EQ(alone->AsFuzzy()->GetName(), "very hot");
    EXPECT_EQ(Points(*alone->AsFuzzy()), Points(*inEngine->AsFuzzy()));
    TRefPtr<IIEValue> five = TIEValue::CreateInteger(dtInteger, 5);
    TRefPtr<IFuzzySet> own = standalone.Evaluate(Var.get(), five, nullptr)->AsFuzzy();
    TRefPtr<IFuzzySet> engines = E.EvaluateFuzzyExpression(Var.get(), five, nullptr)->AsFuzzy();
    EXPECT_EQ(Points(*own), Points(*engines));
    EXPECT_EQ(own->GetParser(), nullptr);
    EXPECT_EQ(engines->GetParser(), static_cast<IFuzzyParser*>(&E));
    EXPECT_EQ(own->GetFuzzyVariable(), Var.get());
}

TEST_F(TFuzzyFixture, AVariableInAContextIsCopiedBeforeAHedge) {
    TRefPtr<IFuzzySet> own = Var->CreateSet("mine");
    own->Add(0, 0);
    own->Add(100, 1);
    const std::string before = Points(*own);
    std::unique_ptr<TIEContext> context = E.RootContext()->CreateChild();
    context->AddBinding("t", TIEValue::CreateFuzzy(own));
    TRefPtr<IIEValue> v = E.EvaluateFuzzyText(Var.get(), "very ?t", context.get());
    ASSERT_EQ(v->GetDType(), dtFuzzy);
    EXPECT_EQ(v->AsFuzzy()->GetName(), "very mine");
    EXPECT_NE(Points(*v->AsFuzzy()), before);
    EXPECT_EQ(Points(*own), before) << "the variable keeps its set";
}

// Returns the variable's term "hot".
class THotFunction : public TIEUserFunction {
public:
    explicit THotFunction(TRefPtr<IFuzzySet> hot) : TIEUserFunction("hot-set"), Hot(hot) {}

protected:
    TRefPtr<IIEValue> Execute(IFunCall*, TIEContext*) override {
        return TIEValue::CreateFuzzy(Hot);
    }
    TRefPtr<IFuzzySet> Hot;
};

TEST_F(TFuzzyFixture, TheFuzzyLibrarysTextsEvaluateCalls) {
    E.PutUserFunction("hot-set", MakeRef<THotFunction>(Term("hot")));
    IFuzzyParser* parser = Var->GetParser();
    ASSERT_NE(parser, nullptr);
    TRefPtr<IFuzzySet> set = parser->ParseFuzzyText(Var.get(), "(hot-set)");
    ASSERT_TRUE(set);
    EXPECT_EQ(Points(*set), Points(*Term("hot")));
    TRefPtr<IFuzzySet> defuzzified;
    EXPECT_NEAR(parser->DefuzzifyFuzzyText(Var.get(), "(hot-set)", defuzzified),
                Term("hot")->Defuzzify(), 1e-9);
}

TEST_F(TFuzzyFixture, ParseValueOfType) {
    EXPECT_EQ(E.ParseValueOfType("\"\"abc\"\"", dtString)->AsString(), "abc");
    EXPECT_EQ(E.ParseValueOfType("42", dtInteger)->AsInteger(), 42);
    EXPECT_EQ(E.ParseValueOfType("7", dtFactId)->GetDType(), dtFactId);
    EXPECT_DOUBLE_EQ(E.ParseValueOfType("2.5", dtFloat)->AsFloat(), 2.5);
    EXPECT_EQ(E.ParseValueOfType("x", dtNone)->GetDType(), dtNone);
    EXPECT_EQ(E.ParseValueOfType("a b", dtList)->GetDType(), dtList);
    EXPECT_EQ(RaisedMessage([&] { E.ParseValueOfType("hot", dtFuzzy); }),
              "Unable to parse strings of dtFuzzy at this time");
    EXPECT_EQ(RaisedMessage([&] { E.ParseValueOfType("1", static_cast<TIEType>(200)); }),
              "Unknown Type (200)");
    EXPECT_THROW(E.ParseValueOfType("abc", dtInteger), EException);
}

// With structure checks on, the change after a corruption of the network aborts, naming it.
TEST(EngineChecks, TheChangeAfterACorruptionAborts) {
    if (!ChecksCompiled) GTEST_SKIP() << "the structure checks are compiled out";
    TInferenceEngine e;
    const bool checked = SetStructureChecks(true);
    const TOnExit restore([checked] { SetStructureChecks(checked); });
    e.ExecuteCommand("(defrule r (a ?x) (b ?x) =>)");
    e.AssertString("(a 1)");
    e.AssertString("(b 1)");
    e.CheckStructures(true);
    TRule* r = e.Rules().Find("r");
    ASSERT_NE(r, nullptr);
    ++e.ReteNetwork()->RuleNodes(*r).back()->RuleUseCount;
    EXPECT_DEATH(e.AssertString("(a 2)"), "invariant broken: network N21: .*rule use count");
    --e.ReteNetwork()->RuleNodes(*r).back()->RuleUseCount;
}

// Rule-language scripts with their exact expected output: every tests/data/engine/<name>.clp
// that has a <name>.out beside it is run as ierun runs a file, and the printed text compared.
TEST(EngineScripts, ScriptsPrintTheirExpectedOutput) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(IE_TEST_DATA_DIR) / "engine";
    const bool checked = SetStructureChecks(true);
    const TOnExit restore([checked] { SetStructureChecks(checked); });
    int ran = 0;
    if (fs::is_directory(dir))
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.path().extension() != ".clp") continue;
            fs::path expected = entry.path();
            expected.replace_extension(".out");
            if (!fs::exists(expected)) continue;
            auto slurp = [](const fs::path& p) {
                std::ifstream in(p, std::ios::binary);
                std::stringstream s;
                s << in.rdbuf();
                return s.str();
            };
            TInferenceEngine e;
            std::string out;
            e.OnPrintOut = [&](TInferenceEngine*, const std::string&, const std::string& text) {
                out += text;
            };
            try {
                e.ExecuteCommand(slurp(entry.path()), true);
            } catch (const EException& ex) {
                out += std::string(ex.what()) + "\n";
            }
            // The .out files keep plain line feeds; every one stands for the engine's CR LF.
            std::string wanted;
            for (char c : slurp(expected)) {
                if (c == '\n') wanted += '\r';
                wanted += c;
            }
            EXPECT_EQ(out, wanted) << entry.path();
            ++ran;
        }
    EXPECT_GT(ran, 0) << "no scripts under " << dir;
}

} // namespace
} // namespace ie
