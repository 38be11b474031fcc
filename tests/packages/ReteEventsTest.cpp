// The network's events and its tree copy, watched while real rule programs run.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/InferenceEngine.h"
#include "engine/match/ReteNetwork.h"

namespace ie {
namespace {

// Two items, one of them stopped: the stop withdraws the second item's activation, the first
// item is picked, and picking it activates the report.
constexpr const char* Picker = R"(
(deffacts start (item a) (item b) (stop b))
(defrule pick (item ?x) (not (stop ?x)) => (assert (picked ?x)))
(defrule report (picked ?x) => (printout t "picked " ?x crlf))
)";

class ReteEvents : public ::testing::Test {
protected:
    ReteEvents() {
        Engine.OnPrintOut = [&](TInferenceEngine*, const std::string&, const std::string& text) {
            Out += text;
        };
    }
    TReteNetwork& Rete() { return *Engine.ReteNetwork(); }
    // Records every activation event as "<sign><rule> <fact ids>".
    void Watch() {
        auto record = [&](const char* sign) {
            return [this, sign](TReteNetwork* sender, TActivation* a) {
                EXPECT_EQ(sender, &Rete());
                Events.push_back(sign + a->RuleName() + " " + a->Token()->FactIdList());
            };
        };
        Rete().OnActivation = record("+");
        Rete().OnDeactivation = record("-");
        Rete().OnRuleFired = record("!");
    }

    TInferenceEngine Engine;
    std::string Out;
    std::vector<std::string> Events;
};

TEST_F(ReteEvents, HandlersSeeActivationsWithdrawalsAndFiringsInOrder) {
    Engine.ExecuteCommand(Picker, true);
    Watch();
    Engine.ExecuteCommand("(reset)", true);
    // f--1 is the fact that stands for the absent (stop b).
    const std::vector<std::string> afterReset = {"+pick f-1, f--1", "+pick f-2, f--1",
                                                 "-pick f-2, f--1"};
    EXPECT_EQ(Events, afterReset);
    Events.clear();
    Out.clear();
    Engine.ExecuteCommand("(run)", true);
    // A firing is announced once the rule's actions are done: the report it activated first.
    const std::vector<std::string> afterRun = {"+report f-4", "!pick f-1, f--1", "!report f-4"};
    EXPECT_EQ(Events, afterRun);
    EXPECT_EQ(Out, "picked a\r\n2\r\n");
    Events.clear();
    // Retracting the stop brings the withdrawn activation back.
    Engine.ExecuteCommand("(reset) (retract 3)", true);
    const std::vector<std::string> afterRetract = {"+pick f-1, f--1", "+pick f-2, f--1",
                                                   "-pick f-2, f--1", "+pick f-2, f--1"};
    EXPECT_EQ(Events, afterRetract);
}

TEST_F(ReteEvents, AFailingHandlerLeavesTheAgendaWhole) {
    Engine.ExecuteCommand(Picker, true);
    Rete().OnDeactivation = [](TReteNetwork*, TActivation*) {
        throw std::runtime_error("handler failed");
    };
    EXPECT_ANY_THROW(Engine.ExecuteCommand("(reset)", true));
    Rete().OnDeactivation = nullptr;
    // The withdrawn activation left the agenda although its handler failed.
    EXPECT_EQ(Engine.Agenda().Count(), 1);
    Out.clear();
    Engine.ExecuteCommand("(run)", true);
    EXPECT_EQ(Out, "picked a\r\n2\r\n");
}

TEST_F(ReteEvents, NodeChangesFollowRuleUseCounts) {
    std::map<const TReteNode*, std::vector<int32_t>> counts;
    Rete().OnNodeChange = [&](TReteNetwork* sender, TReteNode* node) {
        EXPECT_EQ(sender, &Rete());
        counts[node].push_back(node->RuleUseCount);
    };
    Engine.ExecuteCommand("(defrule one (a ?x) (b ?x) =>)", true);
    // Per pattern a class test and a length test, then one join and one terminal node.
    ASSERT_EQ(counts.size(), 6u);
    for (const auto& [node, seen] : counts)
        EXPECT_EQ(seen, std::vector<int32_t>{1}) << node->GetText();
    const TReteNode* sharedRoot = Rete().Roots().at(0);
    ASSERT_EQ(sharedRoot->Outgoing().size(), 1u);
    const TReteNode* sharedLength = sharedRoot->Outgoing()[0].Node;
    counts.clear();
    // The a chain is shared; c gets its own chain, join and terminal node.
    Engine.ExecuteCommand("(defrule two (a ?y) (c) =>)", true);
    EXPECT_EQ(counts[sharedRoot], std::vector<int32_t>{2});
    EXPECT_EQ(counts[sharedLength], std::vector<int32_t>{2});
    EXPECT_EQ(counts.size(), 6u);
    counts.clear();
    Engine.ExecuteCommand("(undefrule one)", true);
    EXPECT_EQ(counts[sharedRoot], std::vector<int32_t>{1});
    EXPECT_EQ(counts[sharedLength], std::vector<int32_t>{1});
    EXPECT_EQ(counts.size(), 6u);
    for (const auto& [node, seen] : counts) {
        if (node != sharedRoot && node != sharedLength) {
            EXPECT_EQ(seen, std::vector<int32_t>{0});
        }
    }
    EXPECT_EQ(Rete().NodeCount(), 6u);
}

std::string Dump(const std::vector<TReteTreeItem>& items, const std::string& indent = "") {
    std::string text;
    for (const TReteTreeItem& item : items)
        text += indent + item.Caption + "\n" + Dump(item.Children, indent + "  ");
    return text;
}

TEST_F(ReteEvents, TheTreeCopyHoldsTheNodesFromTheRootsDown) {
    Engine.ExecuteCommand("(defrule r (a ?x) (b ?x) => ) (defrule s (a 1) => )", true);
    std::vector<TReteTreeItem> tree{{"stale", nullptr, {}}};
    Rete().AssignTo(tree);
    // The join of r appears under both its inputs, with r's terminal node below each time.
    const std::string expected =
        "TPatternMatchNode In/Out#: 0/1 RuleUse: 2 Test: pmtTestClassType Value: a Args: ()\n"
        "  ctSingle TPatternMatchNode In/Out#: 1/2 RuleUse: 2 Test: pmtTestMultiSlotLength "
        "Value:  Args: (__Data, 1, 0)\n"
        "    ctLeft TJoinNode In/Out#: 2/1 RuleUse: 1 NumTests: 1 (J)\n"
        "      ctActivate TPatternMatchTerminalNode In/Out#: 1/0 RuleUse: 1 Rule: r\n"
        "    ctSingle TPatternMatchNode In/Out#: 1/1 RuleUse: 1 Test: pmtTestMultiSlotEqual "
        "Value: 1 Args: (__Data, 0)\n"
        "      ctActivate TPatternMatchTerminalNode In/Out#: 1/0 RuleUse: 1 Rule: s\n"
        "TPatternMatchNode In/Out#: 0/1 RuleUse: 1 Test: pmtTestClassType Value: b Args: ()\n"
        "  ctSingle TPatternMatchNode In/Out#: 1/1 RuleUse: 1 Test: pmtTestMultiSlotLength "
        "Value:  Args: (__Data, 1, 0)\n"
        "    ctRight TJoinNode In/Out#: 2/1 RuleUse: 1 NumTests: 1 (J)\n"
        "      ctActivate TPatternMatchTerminalNode In/Out#: 1/0 RuleUse: 1 Rule: r\n";
    // The join's test and memory texts are its own business: shortened to (J).
    std::string shown = Dump(tree);
    for (size_t at = 0; (at = shown.find("NumTests: 1 (", at)) != std::string::npos;) {
        at += 12;
        shown.replace(at, shown.find('\n', at) - at, "(J)");
    }
    EXPECT_EQ(shown, expected);
    ASSERT_EQ(tree.size(), 2u);
    EXPECT_EQ(tree[0].Node, Rete().Roots()[0]);
    EXPECT_EQ(tree[0].Children[0].Children[0].Node, tree[1].Children[0].Children[0].Node);
    Engine.ExecuteCommand("(clear)", true);
    Rete().AssignTo(tree);
    EXPECT_TRUE(tree.empty());
}

} // namespace
} // namespace ie
