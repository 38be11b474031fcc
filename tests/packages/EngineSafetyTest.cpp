// Rule programs that change the engine under their own feet or nest without end: a rule that
// removes or redefines itself or what it uses while it fires, files that load or batch
// themselves, runs nested in rule actions, the symbol counter at its end, a batch of the file
// being dribbled, and clearing and loading a rule file many times over.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Sanitizers.h"

#if defined(IE_ADDRESS_SANITIZER)
// The address sanitizer's own count of live heap bytes (its runtime exports it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

#include "engine/EngineTables.h"
#include "engine/InferenceEngine.h"
#include "engine/match/IERule.h"
#include "tests/support/AllPackages.h"
#include "tests/support/TestSupport.h"

namespace ie {
namespace {

namespace fs = std::filesystem;

struct TEngineSafety : ::testing::Test {
    TEngineSafety() {
        test::RegisterAllPackages();
        E.OnPrintOut = [this](TInferenceEngine*, const std::string&, const std::string& text) {
            Out += text;
        };
    }
    ~TEngineSafety() override {
        std::error_code ec;
        for (const auto& f : Files)
            fs::remove(f, ec);
    }
    // Runs the text as a loaded file runs; a failure's message is printed as ierun prints it.
    std::string Run(const std::string& text) {
        Out.clear();
        try {
            E.ExecuteCommand(text, true);
        } catch (const std::exception& e) {
            Out += std::string("ERROR: ") + e.what() + "\r\n";
        }
        return Out;
    }
    std::string File(const std::string& name, const std::string& text) {
        const fs::path p = test::UniqueTempPath("ie-safety-" + name);
        Files.push_back(p);
        std::ofstream(p, std::ios::binary) << text;
        return p.generic_string();
    }
    TInferenceEngine E;
    std::string Out;
    std::vector<fs::path> Files;
};

// --- Constructs removed or redefined while they are in use --------------------------------

TEST_F(TEngineSafety, ARuleThatRemovesItselfFinishesItsActions) {
    // (Top-level calls echo their values: TRUE of reset, the number of rules fired.)
    EXPECT_EQ(Run("(defrule r => (undefrule r) (printout t after crlf) (assert (done)))"
                  "(reset) (run)"),
              "TRUE\r\nafter\r\n1\r\n");
    EXPECT_EQ(E.Rules().Find("r"), nullptr);
    EXPECT_EQ(Run("(run)"), "0\r\n");
    // The name is free again and a new rule of it fires.
    EXPECT_EQ(Run("(defrule r (done) => (printout t again crlf)) (run)"), "again\r\n1\r\n");
}

TEST_F(TEngineSafety, ARuleThatRemovesItsTemplateFinishesOnAConsistentEngine) {
    EXPECT_EQ(Run("(deftemplate t (slot s))"
                  "(defrule r (t (s ?v)) => (undeftemplate t) (printout t got \" \" ?v crlf)"
                  "  (assert (after ?v)))"
                  "(defrule other (declare (salience -1)) (t (s ?)) => (printout t never crlf))"
                  "(reset) (assert (t (s 1))) (run)"),
              "TRUE\r\n<Fact-1>\r\ngot 1\r\n1\r\n");
    EXPECT_EQ(E.Rules().Count(), 0);
    EXPECT_EQ(E.FactTemplates().Find("t"), nullptr);
    EXPECT_EQ(E.Facts().Count(), 2); // the initial fact and (after 1)
    EXPECT_EQ(E.Facts().Items().back()->GetText().rfind("(after 1", 0), 0u);
    EXPECT_EQ(Run("(deftemplate t (slot s)) (assert (t (s 3))) (run)"), "<Fact-3>\r\n0\r\n");
}

// A test that raises while a removed blocker's left tokens look for other blockers stops the
// removal: the tokens not reached stay blocked as they were, filed in their memory as before.
TEST_F(TEngineSafety, ABlockersRemovalStoppedByARaisingTestLeavesItsTokensFiled) {
    EXPECT_EQ(Run("(deftemplate a (slot k) (slot n)) (deftemplate b (slot k) (slot d))"
                  "(defrule r (a (k ?k) (n ?n)) (not (b (k ?k) (d ?d&:(> (div ?n ?d) 1))))"
                  "  => (printout t free \" \" ?n crlf))"
                  "(reset) (assert (b (k 1) (d 1)) (a (k 1) (n 5)) (a (k 1) (n 6))"
                  "  (b (k 1) (d 0))) (run)"),
              "TRUE\r\n<Fact-4>\r\n0\r\n");
    EXPECT_EQ(Run("(retract 1)"), "ERROR: Division by zero\r\n");
    EXPECT_EQ(Run("(retract 4) (run)"), "TRUE\r\n0\r\n");
    // The memory takes a new token of the key (a debug build checks it whole).
    EXPECT_EQ(Run("(assert (a (k 1) (n 7)) (b (k 1) (d 7))) (run)"), "<Fact-6>\r\n0\r\n");
}

TEST_F(TEngineSafety, ARuleThatRemovesTheTypeItUsesFinishesItsActions) {
    EXPECT_EQ(Run("(deftype small extends (type INTEGER) (range 0 10))"
                  "(deftemplate box (slot size (type small)))"
                  "(defrule r (box (size ?s)) => (undeftype small) (printout t size \" \" ?s crlf)"
                  "  (assert (seen ?s)))"
                  "(reset) (assert (box (size 4))) (run)"),
              "TRUE\r\n<Fact-1>\r\nsize 4\r\n1\r\n");
    EXPECT_EQ(E.DefinedTypes().Find("small"), nullptr);
    EXPECT_EQ(E.FactTemplates().Find("box"), nullptr);
    EXPECT_EQ(E.Rules().Count(), 0);
    EXPECT_EQ(E.Facts().Items().back()->GetText().rfind("(seen 4", 0), 0u);
}

TEST_F(TEngineSafety, ARuleThatRedefinesItselfRunsItsOldActionsToTheEnd) {
    EXPECT_EQ(Run("(defrule r (go ?n) =>"
                  "  (parse \"(defrule r (go ?n) => (printout t new \\\" \\\" ?n crlf))\")"
                  "  (printout t old \" \" ?n crlf) (assert (go (+ ?n 1))))"
                  "(reset) (assert (go 1)) (run)"),
              // The new rule matches the facts there are, (go 1) included.
              "TRUE\r\n<Fact-1>\r\nold 1\r\nnew 2\r\nnew 1\r\n3\r\n");
    EXPECT_EQ(E.Rules().Count(), 1);
}

// While the rule fires, a new definition of the template it uses is refused (the actions that
// run hold the template); outside a firing the rule is made again from its text against the
// new template, and the facts of the template are asserted again, which would start it again
// but for (done).
TEST_F(TEngineSafety, ARuleThatRedefinesItsTemplateIsRefusedAndRebuiltOutsideAFiring) {
    EXPECT_EQ(Run("(deftemplate t (slot s))"
                  "(defrule r (t (s ?v)) (not (done)) => (assert (done))"
                  "  (printout t (parse \"(deftemplate t (slot s) (slot extra (default 9)))\")"
                  "    crlf)"
                  "  (printout t v \" \" ?v crlf))"
                  "(reset) (assert (t (s 1))) (run)"),
              "TRUE\r\n<Fact-1>\r\nFALSE\r\nv 1\r\n1\r\n");
    ASSERT_NE(E.FactTemplates().Find("t"), nullptr);
    EXPECT_EQ(E.FactTemplates().Find("t")->SlotCount(), 1);
    EXPECT_EQ(Run("(deftemplate t (slot s) (slot extra (default 9)))"), "");
    EXPECT_EQ(E.FactTemplates().Find("t")->SlotCount(), 2);
    EXPECT_EQ(E.Rules().Count(), 1);
    EXPECT_EQ(Run("(retract 2) (assert (t (s 2))) (run)").find("v 2\r\n") != std::string::npos,
              true);
}

TEST_F(TEngineSafety, ARuleRemovedByANestedRunFinishesItsOuterFiring) {
    EXPECT_EQ(Run("(defrule outer (go) => (assert (inner)) (run) (printout t outer-done crlf))"
                  "(defrule inner (inner) => (undefrule outer) (printout t inner crlf))"
                  "(reset) (assert (go)) (run)"),
              "TRUE\r\n<Fact-1>\r\ninner\r\nouter-done\r\n1\r\n");
    EXPECT_EQ(E.Rules().Find("outer"), nullptr);
    EXPECT_NE(E.Rules().Find("inner"), nullptr);
}

// A rule action loads a file that defines, word for word, the template its next assert uses:
// nothing changes, the rule fires once and the fact is asserted once. A different definition
// of a template that rules or facts use is refused while rules fire, naming the template.
TEST_F(TEngineSafety, ATemplateRedefinedByTheRuleThatUsesItIsKeptOrRefused) {
    const std::string same = File("same.clp", "(deftemplate extra (slot k))");
    const std::string other = File("other.clp", "(deftemplate extra (slot k) (slot w))");
    EXPECT_EQ(Run("(deftemplate extra (slot k)) (deftemplate go (slot n))"
                  "(defrule r (go (n ?n)) => (load \"" +
                  same +
                  "\") (assert (extra (k 1))))"
                  "(defrule seen (extra (k ?k)) => (printout t seen \" \" ?k crlf))"
                  "(assert (go (n 1))) (run 20) (facts)"),
              "<Fact-1>\r\nseen 1\r\n2\r\n(extra (k 1))\r\n(go (n 1))\r\n(Initial-Fact)\r\n"
              "For a total of 3 facts.TRUE\r\n");
    ASSERT_NE(E.Rules().Find("r"), nullptr);
    EXPECT_EQ(Run("(defrule s (go (n ?n)) => (load \"" + other +
                  "\") (assert (extra (k 2))))"
                  "(run)"),
              "ERROR: Redefining the fact template extra is not allowed while rules fire: rules "
              "or facts use it (in rule s)\r\n");
    ASSERT_NE(E.FactTemplates().Find("extra"), nullptr);
    EXPECT_EQ(E.FactTemplates().Find("extra")->SlotCount(), 1);
    // Outside a firing the same file replaces it; a deffunction that asserts its facts is read
    // again against the new template, and its old body, still running, can no longer assert.
    // Outside a firing a different definition replaces it: the rules that use it are made
    // again (and meet (go (n 1)) again), and so is a deffunction that asserts its facts.
    EXPECT_EQ(Run("(deffunction mk () (assert (extra (k 3))))"
                  "(deffunction mk-loading () (load \"" +
                  same +
                  "\") (assert (extra (k 4))))"
                  "(undefrule s) (undefrule r) (load \"" +
                  other + "\") (mk) (run) (facts)"),
              "TRUE\r\nTRUE\r\nTRUE\r\n<Fact-4>\r\nseen 3\r\nseen 1\r\n2\r\n"
              "(extra (k 1))\r\n(extra (k 3))\r\n(go (n 1))\r\n"
              "(Initial-Fact)\r\nFor a total of 4 facts.TRUE\r\n");
    EXPECT_EQ(E.FactTemplates().Find("extra")->SlotCount(), 2);
    // A running body whose template is replaced under it cannot assert against the old one.
    EXPECT_EQ(Run("(mk-loading)"), "ERROR: Fact template extra is no longer defined: its facts "
                                   "cannot be asserted\r\n");
    ASSERT_NE(E.FactTemplates().Find("extra"), nullptr);
    EXPECT_EQ(E.FactTemplates().Find("extra")->SlotCount(), 1);
    // Read again with the first definition, word for word the file's: the next load keeps it.
    EXPECT_EQ(Run("(mk) (mk-loading)"), "FALSE\r\n<Fact-7>\r\n");
    // A type redefined while rules fire would replace the templates on it: refused the same.
    EXPECT_EQ(Run("(undefrule seen) (deftype small extends (type INTEGER) (range 0 10))"
                  "(deftemplate box (slot size (type small)))"
                  "(defrule grow (box (size ?s)) => (printout t"
                  "  (parse \"(deftype small extends (type INTEGER) (range 0 20))\") crlf))"
                  "(assert (box (size 4))) (run)"),
              "TRUE\r\n<Fact-8>\r\nFALSE\r\n1\r\n");
    EXPECT_EQ(Run("(assert (box (size 15)))").find("ERROR"), 0u);
}

// undeftemplate takes the rules that assert its facts along with those that match them, so
// nothing goes on asserting facts of a template that is gone and whatever save writes loads
// back; a deffunction (or a global) that holds its facts refuses the removal, naming them.
TEST_F(TEngineSafety, UndeftemplateTakesEveryRuleThatUsesItAndWhatSaveWritesLoads) {
    EXPECT_EQ(Run("(deftemplate victim (slot k) (slot w)) (deftemplate trig (slot n))"
                  "(defrule maker (trig (n ?n)) => (assert (victim (k 1) (w 5))))"
                  "(defrule watcher (victim (k ?k)) => (printout t saw \" \" ?k crlf))"
                  "(defrule keep (trig (n ?n)) => (printout t trig \" \" ?n crlf))"
                  "(deffunction make-victim () (assert (victim (k 2))))"
                  "(undeftemplate victim)"),
              "ERROR: Cannot remove the fact template victim: deffunction make-victim use it\r\n");
    EXPECT_NE(E.FactTemplates().Find("victim"), nullptr);
    EXPECT_EQ(E.Rules().Count(), 3);
    EXPECT_EQ(Run("(undeffunction make-victim) (undeftemplate victim)"
                  "(rules) (assert (trig (n 1))) (run)"),
              "TRUE\r\nTRUE\r\n(defrule keep\r\n    (trig (n ?n) )\r\n    =>\r\n"
              "    (printout t trig \" \" ?n crlf))For a total of 1 rules.TRUE\r\n"
              "<Fact-1>\r\ntrig 1\r\n1\r\n");
    const std::string saved = File("saved.clp", "");
    EXPECT_EQ(Run("(save \"" + saved + "\") (clear) (load \"" + saved + "\") (facts)"),
              "TRUE\r\nTRUE\r\nTRUE\r\n<Fact-1>\r\nTRUE\r\n(Initial-Fact)\r\n(trig (n 1))\r\n"
              "For a total of 2 facts.TRUE\r\n");
}

// A caller of a deffunction that is redefined uses the current definition; one of a removed
// deffunction gets the error of an unknown function; never an empty value.
TEST_F(TEngineSafety, DeffunctionsRedefinedOrRemovedWhileCallersHoldThem) {
    EXPECT_EQ(Run("(deffunction g (?x) (+ ?x 5)) (deftemplate n (slot v))"
                  "(defrule caller (n (v ?v)) => (printout t g= (g ?v) crlf))"
                  "(assert (n (v 1))) (run)"
                  "(deffunction g (?x) (+ ?x 7)) (assert (n (v 100))) (run)"),
              "<Fact-1>\r\ng=6\r\n1\r\n<Fact-2>\r\ng=107\r\n1\r\n");
    // The test is bound to the first body when the rule is compiled against the facts there
    // are; 50 passes neither body.
    EXPECT_EQ(Run("(deffunction small (?x) (< ?x 10))"
                  "(defrule t (n (v ?x)) (test (small ?x)) => (printout t small \" \" ?x crlf))"
                  "(deffunction small (?x) (< ?x 20)) (assert (n (v 50)) (n (v 15))) (run)"),
              "<Fact-4>\r\nsmall 15\r\ng=22\r\ng=57\r\nsmall 1\r\n4\r\n");
    EXPECT_EQ(Run("(undeffunction g) (assert (n (v 7))) (run)"),
              "TRUE\r\n<Fact-5>\r\nsmall 7\r\n"
              "ERROR: Function is unimplemented or unassigned: g (in rule caller)\r\n");
    // A recursive deffunction that removes itself at depth 3: the next call down fails.
    EXPECT_EQ(Run("(deffunction rec (?n) (if (= ?n 3) then (undeffunction rec))"
                  "  (if (<= ?n 1) then 1 else (+ 1 (rec (- ?n 1)))))"
                  "(rec 6)"),
              "ERROR: Function is unimplemented or unassigned: rec\r\n");
    EXPECT_EQ(Run("(deffunction rec (?n) (if (<= ?n 1) then 1 else (+ 1 (rec (- ?n 1)))))"
                  "(rec 6)"),
              "6\r\n");
}

// A global whose value fails is refused and leaves nothing behind: reset works and what save
// writes loads back.
TEST_F(TEngineSafety, AGlobalWhoseValueFailsLeavesNothingBehind) {
    EXPECT_EQ(Run("(defglobal ?*bad* = (/ 1 0))").find("division by zero") != std::string::npos,
              true);
    EXPECT_NE(Run("(defglobal ?*worse* = (no-such-function 3))").find("no-such-function"),
              std::string::npos);
    EXPECT_EQ(Run("(defglobal ?*kept* = 1) (defglobal ?*kept* = (/ 1 0))").find("ERROR"), 0u);
    EXPECT_EQ(E.GlobalVariables().Count(), 1);
    const std::string saved = File("globals.clp", "");
    EXPECT_EQ(Run("(reset) (save \"" + saved + "\") (clear) (load \"" + saved + "\") ?*kept*"),
              "TRUE\r\nTRUE\r\nTRUE\r\nTRUE\r\n<Fact-0>\r\nTRUE\r\n1\r\n");
    EXPECT_EQ(Run("?*bad*").find("ERROR"), 0u);
    EXPECT_EQ(Run("(reset) ?*kept*"), "TRUE\r\n1\r\n");
}

// --- Nesting limits ----------------------------------------------------------------------

TEST_F(TEngineSafety, AFileThatLoadsItselfStopsAtTheNestingLimit) {
    const fs::path p = test::UniqueTempPath("ie-safety-self.clp");
    Files.push_back(p);
    std::ofstream(p, std::ios::binary) << "(defglobal ?*n* = 0)\n(bind ?*n* (+ ?*n* 1))\n(load \""
                                       << p.generic_string() << "\")\n";
    const std::string out = Run("(load \"" + p.generic_string() + "\")");
    EXPECT_NE(out.find("Load and batch nested more than 32 deep"), std::string::npos) << out;
    // The engine goes on: the nesting depth is back to zero and a load works.
    EXPECT_EQ(Run("(load \"" + File("plain.clp", "(defrule fine =>)") + "\")"), "TRUE\r\n");
    EXPECT_NE(E.Rules().Find("fine"), nullptr);
}

TEST_F(TEngineSafety, ABatchFileThatBatchesItselfStopsAtTheNestingLimit) {
    const fs::path p = test::UniqueTempPath("ie-safety-self.bat");
    Files.push_back(p);
    std::ofstream(p, std::ios::binary) << "(batch \"" << p.generic_string() << "\")\n";
    const std::string out = Run("(batch \"" + p.generic_string() + "\")");
    EXPECT_NE(out.find("Load and batch nested more than 32 deep"), std::string::npos);
    EXPECT_FALSE(E.InBatch());
    // Load and batch share the limit: a batch that loads a file that batches the first.
    const std::string bat = File("a.bat", "");
    const std::string clp = File("b.clp", "(batch \"" + bat + "\")\n");
    std::ofstream(bat, std::ios::binary) << "(load \"" << clp << "\")\n";
    EXPECT_NE(Run("(batch \"" + bat + "\")").find("Load and batch nested more than 32 deep"),
              std::string::npos);
    // Well-nested files still work.
    const std::string inner = File("inner.clp", "(defrule deep =>)");
    EXPECT_EQ(Run("(batch \"" + File("outer.bat", "(load \"" + inner + "\")\n") + "\")"),
              "TRUE\r\nTRUE\r\n");
    EXPECT_NE(E.Rules().Find("deep"), nullptr);
}

TEST_F(TEngineSafety, RunCalledFromActionsWithoutEndStopsAtTheNestingLimit) {
    const std::string out = Run("(defrule r (a ?n) => (assert (a (+ ?n 1))) (run))"
                                "(reset) (assert (a 0)) (run)");
    EXPECT_NE(out.find("Run called from rule actions nested more than 64 deep"), std::string::npos)
        << out;
    // Every firing frame ended: nothing fires, and the agenda still works.
    EXPECT_EQ(E.FiringActivation(), nullptr);
    EXPECT_EQ(Run("(undefrule r) (defrule s (a 3) => (printout t three crlf)) (run)"),
              "TRUE\r\nthree\r\n1\r\n");
}

TEST_F(TEngineSafety, NestedRunsWithinTheLimitStillFire) {
    EXPECT_EQ(Run("(defrule r (a ?n&:(< ?n 10)) => (assert (a (+ ?n 1))) (run)"
                  "  (printout t ?n \" \"))"
                  "(reset) (assert (a 0)) (run)"),
              "TRUE\r\n<Fact-1>\r\n9 8 7 6 5 4 3 2 1 0 1\r\n");
}

// --- The symbol counter at its end -----------------------------------------------------

TEST_F(TEngineSafety, GensymRefusesOnceTheLargestNumberIsHandedOut) {
    EXPECT_EQ(Run("(setgen 2147483646) (printout t (gensym*) \" \" (gensym*) crlf)"),
              "gen2147483646 gen2147483647\r\n");
    const std::string refused = "ERROR: No new symbol is left: the symbol counter has reached "
                                "2147483647\r\n";
    EXPECT_EQ(Run("(gensym*)"), refused);
    // Setting it lower cannot bring back names already handed out.
    EXPECT_EQ(Run("(setgen 1) (gensym*)"), refused);
    EXPECT_EQ(E.SymbolIndex(), 2147483647);
}

TEST_F(TEngineSafety, SetgenAtTheLargestNumberDoesNotOverflow) {
    EXPECT_EQ(Run("(setgen 2147483647) (setgen 3) (gensym*)"),
              "ERROR: No new symbol is left: the symbol counter has reached 2147483647\r\n");
}

// --- Dribble and batch ----------------------------------------------------------------------

TEST_F(TEngineSafety, BatchingTheDribbleFileIsRefused) {
    const std::string file = File("dribbled.bat", "(printout t x crlf)\n");
    const std::string out = Run("(dribble-on \"" + file + "\") (batch \"" + file + "\")");
    EXPECT_NE(out.find("Unable to batch " + file + ": it is the dribble file"), std::string::npos)
        << out;
    Run("(dribble-off)");
    EXPECT_LT(fs::file_size(file), 1000u);
}

TEST_F(TEngineSafety, DribblingToTheFileBeingBatchedIsRefused) {
    const std::string file = File("self-dribble.bat", "");
    std::ofstream(file, std::ios::binary)
        << "(dribble-on \"" << file << "\")\n(printout t y crlf)\n";
    const std::string out = Run("(batch \"" + file + "\")");
    EXPECT_NE(out.find("Unable to dribble to " + file + ": it is being run as a batch file"),
              std::string::npos)
        << out;
    EXPECT_FALSE(E.Dribbling());
    EXPECT_LT(fs::file_size(file), 1000u);
}

// --- Clearing and loading many times --------------------------------------------------------

size_t AllocatedBytes() {
#if defined(IE_ADDRESS_SANITIZER)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

TEST_F(TEngineSafety, ClearAndLoadManyTimesKeepsMemoryAndTimeFlat) {
    const std::string file =
        File("soak.clp", "(deftemplate item (slot id) (slot state))\n"
                         "(deffacts start (item (id 1) (state new)) (item (id 2) (state new)))\n"
                         "(deffacts more (item (id 3) (state new)))\n"
                         "(defrule advance ?i <- (item (id ?n) (state new)) =>"
                         " (modify ?i (state done)) (assert (log ?n)))\n"
                         "(defrule count (log ?n) => (bind ?x (* ?n 2)))\n");
    const auto cycle = [&] {
        E.Clear();
        E.LoadFromFile(file);
        E.Reset();
        EXPECT_EQ(E.Run(), 6);
    };
    for (int i = 0; i < 200; ++i)
        cycle();
    const int32_t components = E.ComponentCount();
    const size_t bytes = AllocatedBytes();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i)
        cycle();
    const auto firstHalf = std::chrono::steady_clock::now() - start;
    for (int i = 0; i < 1000; ++i)
        cycle();
    const auto secondHalf = std::chrono::steady_clock::now() - start - firstHalf;
    EXPECT_EQ(E.ComponentCount(), components);
    EXPECT_EQ(E.FactSets().Count(), 2);
    // A leaked fact set of three facts per cycle would be well over a megabyte here.
    EXPECT_LT(AllocatedBytes(), bytes + 256 * 1024);
    // Generous against a loaded machine; a cost that grows with the cycles doubles it easily.
    EXPECT_LT(secondHalf.count(), firstHalf.count() * 3);
}

TEST_F(TEngineSafety, RedefiningADeffactsFreesTheOldOne) {
    const int32_t components = E.ComponentCount();
    for (int i = 0; i < 50; ++i)
        Run("(deffacts d (a " + std::to_string(i) + "))");
    EXPECT_EQ(E.ComponentCount(), components + 1);
    EXPECT_EQ(E.FactSets().Count(), 1);
    const std::string facts = Run("(reset) (facts)");
    EXPECT_NE(facts.find("(a 49"), std::string::npos) << facts;
    EXPECT_EQ(facts.find("(a 48"), std::string::npos) << facts;
}

// --- Engine changes from what the engine evaluates while it walks its own structures -------

// Pattern and join tests run while a token propagates, or while a new rule is matched against
// the facts there are; a change of the network there would free what is being walked.
TEST_F(TEngineSafety, ChangesFromPatternAndJoinTestsAreRefused) {
    EXPECT_EQ(Run("(defrule r (p ?x&:(clear)) => ) (assert (p 1))"),
              "ERROR: Clear is not allowed while the engine matches facts\r\n");
    EXPECT_EQ(Run("(defrule s (q ?x) (test (undefrule s)) => ) (assert (q 1))"),
              "ERROR: Removing a rule is not allowed while the engine matches facts\r\n");
    EXPECT_EQ(Run("(deftemplate t (slot v)) (defrule u (t (v ?x)) (z ?y&:(eq ?x (undeftemplate t)))"
                  " => ) (assert (t (v 1))) (assert (z 1))"),
              "<Fact-3>\r\n"
              "ERROR: Removing a fact template is not allowed while the engine matches facts\r\n");
    const std::string file = File("r.clp", "(defrule r (p ?x) => (printout t new crlf))");
    EXPECT_EQ(Run("(defrule w (m ?x&:(load \"" + file + "\")) => ) (assert (m 2))"),
              "ERROR: Defining a rule is not allowed while the engine matches facts\r\n");
    // A new rule meets the facts there are while it is compiled.
    EXPECT_EQ(Run("(defrule late (p ?x&:(reset)) => )"),
              "ERROR: Reset is not allowed while the engine matches facts\r\n");
    // A modify in a test changes in place the fact whose token is in flight.
    EXPECT_EQ(Run("(deftemplate item (slot v))"
                  "(defrule need2 (item (v 2)) => (printout t need2 crlf))"
                  "(defrule mod ?f <- (item (v ?v)) (test (and (modify ?f (v 3)) TRUE)) => )"
                  "(assert (item (v 2)))"),
              "ERROR: Modifying a fact is not allowed while the engine matches facts\r\n");
    EXPECT_EQ(Run("(undefrule mod) (run)"), "TRUE\r\nneed2\r\n1\r\n");
    EXPECT_EQ(Run("(undefrule need2) (undeftemplate item)"), "TRUE\r\nTRUE\r\n");
    EXPECT_EQ(E.Rules().Find("late"), nullptr);
    // The engine goes on with everything that was refused still in place.
    EXPECT_EQ(Run("(facts)"), "(Initial-Fact)\r\n(m 2 )\r\n(p 1 )\r\n(q 1 )\r\n(t (v 1))\r\n"
                              "(z 1 )\r\nFor a total of 6 facts.TRUE\r\n");
    EXPECT_NE(E.Rules().Find("r"), nullptr);
    EXPECT_NE(E.Rules().Find("s"), nullptr);
    EXPECT_NE(E.FactTemplates().Find("t"), nullptr);
    EXPECT_EQ(Run("(defrule fine (q ?x) => (printout t q \" \" ?x crlf)) (run)"), "q 1\r\n1\r\n");
}

TEST_F(TEngineSafety, ChangesFromASalienceAreRefused) {
    EXPECT_EQ(Run("(defglobal ?*go* = FALSE)"
                  "(defrule r (declare (salience (if ?*go* then (clear) else 0))) (p) => )"
                  "(bind ?*go* TRUE) (assert (p))"),
              "TRUE\r\nERROR: Clear is not allowed while the engine evaluates a salience\r\n");
    EXPECT_EQ(Run("(defrule s (declare (salience (undefrule r))) (p) => )"),
              "ERROR: Removing a rule is not allowed while the engine evaluates a salience\r\n");
}

// Deffacts, defaults and global values are evaluated while reset walks the tables; a reset
// that would start itself again is refused instead of recursing without end.
TEST_F(TEngineSafety, ChangesAndNestedResetsFromWhatResetEvaluatesAreRefused) {
    EXPECT_EQ(Run("(deffacts d (p (clear)) (p 2)) (reset)"),
              "ERROR: Clear is not allowed while the engine resets\r\n");
    EXPECT_EQ(Run("(undeffacts d) (deffacts e (p (undeffacts e))) (reset)"),
              "TRUE\r\nERROR: Removing a fact set is not allowed while the engine resets\r\n");
    EXPECT_EQ(Run("(undeffacts e) (deffacts f (p (reset))) (reset)"),
              "TRUE\r\nERROR: Reset is not allowed while the engine resets\r\n");
    EXPECT_EQ(Run("(undeffacts f) (deftemplate q (slot s (default-dynamic (reset))))"
                  "(deffacts g (q)) (reset)"),
              "TRUE\r\nERROR: Reset is not allowed while the engine resets\r\n");
    EXPECT_EQ(Run("(undeffacts g) (defglobal ?*h* = (run)) (defrule r => (reset)) (reset)"),
              "TRUE\r\nERROR: Run is not allowed while the engine resets\r\n");
    // (The value is worked out once when the global is defined, at the top level.)
    EXPECT_NE(Run("(clear) (defglobal ?*g* = 1) (defglobal ?*k* = (reset)) (reset)")
                  .find("Reset is not allowed while the engine resets"),
              std::string::npos);
    // With the offending constructs gone, reset works again.
    EXPECT_EQ(Run("(clear) (deffacts d (p 1)) (reset) (facts)"),
              "TRUE\r\nTRUE\r\n(Initial-Fact)\r\n(p 1 )\r\nFor a total of 2 facts.TRUE\r\n");
}

// Reset in a rule action takes effect at once, so what the action does after it stays; clear
// would free the running rule and is refused, so nothing reports success and is then undone.
TEST_F(TEngineSafety, ResetInAnActionKeepsWhatFollowsAndClearIsRefused) {
    EXPECT_EQ(Run("(defrule go (go) => (reset) (assert (phase 2)) (printout t after crlf))"
                  "(assert (go)) (run) (facts)"),
              "<Fact-1>\r\nafter\r\n1\r\n(Initial-Fact)\r\n(phase 2 )\r\n"
              "For a total of 2 facts.TRUE\r\n");
    const std::string stage2 = File("stage2.clp", "(defrule two => (printout t two crlf))");
    EXPECT_EQ(Run("(defrule stage (phase 2) => (clear) (load \"" + stage2 +
                  "\"))"
                  "(run)"),
              "ERROR: Clear is not allowed while rules fire (in rule stage)\r\n");
    EXPECT_NE(E.Rules().Find("stage"), nullptr);
    EXPECT_EQ(E.Rules().Find("two"), nullptr);
    EXPECT_EQ(E.Facts().Count(), 2);
}

} // namespace
} // namespace ie
