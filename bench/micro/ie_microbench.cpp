// Micro benchmarks of the engine's hot paths, written against its public interface. Each case
// builds what it needs outside the measured part (fact texts, rules), measures one operation
// end to end and prints one result line that bench/run reads:
//
//   RESULT case=<name> size=<n> fired=<rules fired> seconds=<measured wall time> [key=value...]
//
// Cases (ie_microbench <case> [size]):
//   assert N       AssertString of N distinct ordered facts, then Reset (target: 1,000,000 < 2 s)
//   duplicate N    the working memory's duplicate index: N ordered facts of two numbers built
//                  without the reader are asserted, N equal copies refused, then all retracted
//   activations N  one rule activated by N facts, then Run (target: 100,000 < 1 s)
//   join N         N facts of one template and N partners of another, joined on one slot by a
//                  two-pattern rule: assert all, then retract all in assertion order (linear)
//   read BYTES     a file of about BYTES bytes of deffacts read by the engine's reader
//                  (target: 10 MB < 1 s); the Reset that asserts them is reported apart
//   app N          N headless iterations of the telemetry application's data module with its
//                  demo rule file (target: >= 2,000 iterations/s); working memory must
//                  stay the same size over all of them
//
// Exit status: 0 on success, 1 on a wrong result, 2 on bad usage.
#include "engine/InferenceEngine.h"
#include "packages/StandardPackage.h"

#ifdef IE_BENCH_APP
#include "app/model/CorvaneDataModule.h"
#include "app/model/Simulation.h"
#include "engine/match/IERule.h"
#include "engine/match/ReteNetwork.h"
#include "engine/model/IEFacts.h"
#include "platform/DialogService.h"

#include <algorithm>
#include <unordered_set>
#endif

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <malloc.h>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using ie::IFact;
using ie::IFactTemplate;
using ie::TIEValue;
using ie::TInferenceEngine;
using ie::TRefPtr;
using ie::TValueVector;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Numbers in result lines are written in the C locale without printf formatting of user text;
// these are the program's own numbers.
std::string Fixed(double value) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.setf(std::ios::fixed);
    out.precision(6);
    out << value;
    return out.str();
}

void Result(std::string_view name, int64_t size, int64_t fired, double seconds,
            const std::string& extra = {}) {
    std::string line = "RESULT case=" + std::string(name) + " size=" + std::to_string(size) +
                       " fired=" + std::to_string(fired) + " seconds=" + Fixed(seconds);
    if (!extra.empty()) line += " " + extra;
    std::puts(line.c_str());
    std::fflush(stdout);
}

bool Fail(const std::string& message) {
    std::fprintf(stderr, "ie_microbench: %s\n", message.c_str());
    return false;
}

std::unique_ptr<TInferenceEngine> NewEngine() {
    ie::RegisterStandardPackage();
    return std::make_unique<TInferenceEngine>();
}

// AssertString, or, on an engine whose fact reader is not there yet, the (assert) command (an
// upper bound: it adds reading and evaluating the call). The result line names the way taken.
class TAsserter {
public:
    explicit TAsserter(TInferenceEngine& engine) : FEngine(engine) {}
    // The identifier of the new fact, -1 when it was refused.
    int32_t Assert(const std::string& text) {
        if (!FCommand) {
            try {
                return FEngine.AssertString(text);
            } catch (const ie::EException& e) {
                if (std::string_view(e.what()).find("Unable to parse") == std::string_view::npos)
                    throw;
                FCommand = true;
            }
        }
        const int32_t count = FEngine.Facts().Count();
        FEngine.ExecuteCommand("(assert " + text + ")");
        return FEngine.Facts().Count() > count ? FEngine.Facts().Items().back()->GetFactId() : -1;
    }
    std::string Way() const { return FCommand ? "via=assert-command" : "via=AssertString"; }

private:
    TInferenceEngine& FEngine;
    bool FCommand = false;
};

// Bytes the allocator has handed out and not got back (glibc).
size_t HeapBytesInUse() {
    return mallinfo2().uordblks;
}

// AssertString of N facts, then Reset.
bool BenchAssert(int64_t n) {
    auto engine = NewEngine();
    std::vector<std::string> texts;
    texts.reserve(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i)
        texts.push_back("(reading " + std::to_string(i) + " sensor" + std::to_string(i % 97) + " " +
                        std::to_string(i % 1000) + ".5)");
    const int32_t before = engine->Facts().Count();
    TAsserter asserter(*engine);
    const size_t heapBefore = HeapBytesInUse();
    const auto start = Clock::now();
    for (const auto& text : texts)
        if (asserter.Assert(text) < 0) return Fail("a fact was refused: " + text);
    const double asserted = SecondsSince(start);
    const int32_t count = engine->Facts().Count();
    // Everything working memory holds for a fact: the fact, its values, its share of the
    // tables and indexes (the texts were allocated before).
    const double bytesPerFact =
        static_cast<double>(HeapBytesInUse() - heapBefore) / static_cast<double>(n);
    const auto resetStart = Clock::now();
    engine->Reset();
    const double reset = SecondsSince(resetStart);
    const double total = SecondsSince(start);
    if (count - before != n)
        return Fail("working memory holds " + std::to_string(count) + " facts");
    if (engine->Facts().Count() != 1) return Fail("Reset left facts behind");
    Result("assert", n, 0, total,
           "assert_s=" + Fixed(asserted) + " reset_s=" + Fixed(reset) + " " + asserter.Way() +
               " bytes_per_fact=" + std::to_string(static_cast<int64_t>(bytesPerFact)));
    return true;
}

// N activations of one rule, then Run.
bool BenchActivations(int64_t n) {
    auto engine = NewEngine();
    engine->ExecuteCommand("(defrule count-item (item ?x) =>)");
    std::vector<std::string> texts;
    texts.reserve(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i)
        texts.push_back("(item " + std::to_string(i) + ")");
    TAsserter asserter(*engine);
    const auto start = Clock::now();
    for (const auto& text : texts)
        asserter.Assert(text);
    const double asserted = SecondsSince(start);
    const int32_t activations = engine->ActivationCount();
    const auto runStart = Clock::now();
    const int32_t fired = engine->Run();
    const double run = SecondsSince(runStart);
    const double total = SecondsSince(start);
    if (activations != n) return Fail("agenda holds " + std::to_string(activations));
    if (fired != n || engine->ActivationCount() != 0)
        return Fail("fired " + std::to_string(fired) + " rules");
    Result("activations", n, fired, total,
           "assert_s=" + Fixed(asserted) + " run_s=" + Fixed(run) + " " + asserter.Way());
    return true;
}

// Facts built through their template (no reading), so the index's share shows.
bool BenchDuplicate(int64_t n) {
    auto engine = NewEngine();
    TRefPtr<IFactTemplate> t = engine->ImpliedTemplate("pair");
    auto pair = [&](int64_t i) {
        TRefPtr<IFact> f = t->NewFact();
        auto list = ie::MakeRef<TValueVector>();
        list->Add(TIEValue::CreateInteger(ie::dtInteger, static_cast<int32_t>(i / 1000)));
        list->Add(TIEValue::CreateInteger(ie::dtInteger, static_cast<int32_t>(i % 1000)));
        f->SetSlotValue(ie::DataSlotName, TIEValue::CreateList(list));
        return f;
    };
    std::vector<TRefPtr<IFact>> facts, copies;
    for (int64_t i = 0; i < n; ++i) {
        facts.push_back(pair(i));
        copies.push_back(pair(i));
    }
    const int32_t before = engine->Facts().Count();
    const auto start = Clock::now();
    for (const auto& f : facts)
        if (engine->AssertFact(f) < 0) return Fail("a distinct fact was refused");
    const double asserted = SecondsSince(start);
    const auto refuseStart = Clock::now();
    for (const auto& f : copies)
        if (engine->AssertFact(f) >= 0) return Fail("a duplicate was asserted");
    const double refused = SecondsSince(refuseStart);
    const auto retractStart = Clock::now();
    for (const auto& f : facts)
        if (engine->RetractFact(f.get()) < 0) return Fail("a fact could not be retracted");
    const double retracted = SecondsSince(retractStart);
    if (engine->Facts().Count() != before) return Fail("facts were left behind");
    Result("duplicate", n, 0, SecondsSince(start),
           "assert_s=" + Fixed(asserted) + " refuse_s=" + Fixed(refused) +
               " retract_s=" + Fixed(retracted));
    return true;
}

// A two-pattern join with one partner per fact: assert both sides, then retract all.
bool BenchJoin(int64_t n) {
    auto engine = NewEngine();
    engine->ExecuteCommand("(deftemplate order (slot id) (slot customer))"
                           "(deftemplate invoice (slot order) (slot amount))"
                           "(defrule billed (order (id ?o)) (invoice (order ?o)) =>)");
    std::vector<std::string> texts;
    texts.reserve(static_cast<size_t>(2 * n));
    for (int64_t i = 0; i < n; ++i)
        texts.push_back("(order (id " + std::to_string(i) + ") (customer c" +
                        std::to_string(i % 100) + "))");
    for (int64_t i = 0; i < n; ++i)
        texts.push_back("(invoice (order " + std::to_string(n - 1 - i) + ") (amount " +
                        std::to_string(i % 1000) + "))");
    std::vector<TRefPtr<IFact>> facts;
    facts.reserve(texts.size());
    TAsserter asserter(*engine);
    const auto start = Clock::now();
    for (const auto& text : texts) {
        const int32_t id = asserter.Assert(text);
        if (id < 0) return Fail("a fact was refused: " + text);
        facts.push_back(engine->Facts().Items().back());
    }
    const double asserted = SecondsSince(start);
    const int32_t activations = engine->ActivationCount();
    const auto retractStart = Clock::now();
    for (const auto& fact : facts)
        if (engine->RetractFactByID(fact.get()) < 0) return Fail("a fact was not found");
    const double retracted = SecondsSince(retractStart);
    const double total = SecondsSince(start);
    if (activations != n)
        return Fail("the join made " + std::to_string(activations) + " activations");
    if (engine->ActivationCount() != 0) return Fail("activations left after the retractions");
    Result("join", n, 0, total,
           "assert_s=" + Fixed(asserted) + " retract_s=" + Fixed(retracted) + " " + asserter.Way());
    return true;
}

// About `bytes` bytes of deffacts, read by the engine's reader, then asserted by Reset.
bool BenchRead(int64_t bytes) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("ie-microbench-facts-" + std::to_string(bytes) + ".clp");
    int64_t facts = 0;
    {
        std::ofstream out(path, std::ios::binary);
        out << "(deftemplate reading (slot sensor) (slot value) (slot stamp) (slot note))\n";
        int64_t written = 0;
        while (written < bytes) {
            std::string block = "(deffacts readings-" + std::to_string(facts / 1000) + "\n";
            for (int i = 0; i < 1000; ++i, ++facts)
                block += "    (reading (sensor s" + std::to_string(facts % 997) + ") (value " +
                         std::to_string(facts % 100000) + ".25) (stamp " +
                         std::to_string(1700000000 + facts) + ") (note \"sample " +
                         std::to_string(facts) + "\"))\n";
            block += ")\n";
            out << block;
            written += static_cast<int64_t>(block.size());
        }
    }
    auto engine = NewEngine();
    const auto start = Clock::now();
    std::string text;
    {
        std::ifstream in(path, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    engine->ExecuteCommand(text);
    const double read = SecondsSince(start);
    const auto resetStart = Clock::now();
    engine->Reset();
    const double reset = SecondsSince(resetStart);
    std::filesystem::remove(path);
    if (engine->Facts().Count() != facts + 1)
        return Fail("Reset asserted " + std::to_string(engine->Facts().Count() - 1) + " of " +
                    std::to_string(facts) + " facts");
    Result("read", static_cast<int64_t>(text.size()), 0, read,
           "facts=" + std::to_string(facts) + " reset_s=" + Fixed(reset));
    return true;
}

#ifdef IE_BENCH_APP
// Dialogs answered without a person: a benchmark has no one to click.
struct TSilentDialogs : ie::IDialogService {
    void ShowMessage(std::string_view) override {}
    int MessageBox(std::string_view, std::string_view, unsigned) override { return ie::mrOk; }
    ie::TModalResult MessageDlg(std::string_view, ie::TMsgDlgType, ie::TMsgDlgButtons,
                                int) override {
        return ie::mrOk;
    }
    std::string InputBox(std::string_view, std::string_view, std::string_view d) override {
        return std::string(d);
    }
    bool InputQuery(std::string_view, std::string_view, std::string&) override { return false; }
};

// Resident memory of the process in KiB (Linux), 0 where it cannot be read.
int64_t ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    int64_t pages = 0, resident = 0;
    if (!(statm >> pages >> resident)) return 0;
    return resident * 4;
}

// The tokens held in the join memories of the engine's network, each shared node once.
int64_t TokensHeld(TInferenceEngine& engine) {
    ie::TReteNetwork* rete = engine.ReteNetwork();
    if (!rete) return 0;
    std::unordered_set<const ie::TJoinNode*> joins;
    for (const auto& entry : engine.Rules())
        for (ie::TReteNode* node : rete->RuleNodes(*static_cast<const ie::TRule*>(entry.Value())))
            if (const auto* join = dynamic_cast<const ie::TJoinNode*>(node)) joins.insert(join);
    int64_t tokens = 0;
    for (const ie::TJoinNode* join : joins)
        tokens += join->LeftMemory().Count() + join->RightMemory().Count();
    return tokens;
}

// Memory is flat when, after all iterations, no value fact and no activation is left, the
// network holds exactly the tokens that a fresh engine with the same rules holds for the same
// facts, and the resident size has not grown by more than the allocator's slack.
bool BenchApp(int64_t n, const std::filesystem::path& ruleDirectory) {
    ie::RegisterStandardPackage();
    TSilentDialogs dialogs;
    ie::IDialogService* previous = ie::SetDialogService(&dialogs);
    struct TRestoreDialogs {
        ie::IDialogService* P;
        ~TRestoreDialogs() { ie::SetDialogService(P); }
    } restoreDialogs{previous};
    ie::TSimulation simulation;
    simulation.SetClock([] { return 0u; });
    simulation.Initialize(45352.5);
    ie::TDataModule1 module(simulation);
    module.DataModuleCreate(nullptr, ruleDirectory);
    if (module.RuleFileName().empty()) return Fail("the demo rule file did not load");
    TInferenceEngine& engine = module.InferenceEngine1();
    // Warm up: the allocator's pools and the conclusions' facts are there when measuring.
    for (int i = 0; i < 1000; ++i)
        simulation.SimulationStep();
    const int64_t residentBefore = ResidentKiB();
    int64_t fired = 0;
    int32_t mostFacts = 0;
    const auto start = Clock::now();
    for (int64_t i = 0; i < n; ++i) {
        simulation.SimulationStep();
        fired += engine.RulesFired();
        mostFacts = std::max(mostFacts, engine.Facts().Count());
    }
    const double seconds = SecondsSince(start);
    const int64_t residentAfter = ResidentKiB();

    if (engine.ActivationCount() != 0)
        return Fail(std::to_string(engine.ActivationCount()) + " activations left behind");
    TInferenceEngine fresh;
    fresh.LoadFromFile(module.RuleFileName());
    for (const TRefPtr<IFact>& fact : engine.Facts().Items()) {
        if (fact->GetTemplate()->GetName() == ie::TDataModule1::MnemonicTemplate)
            return Fail("a value fact was left behind: " + fact->GetText());
        if (fact->GetTemplate()->GetName() != ie::TDataModule1::InitialFactTemplate)
            fresh.AssertString(fact->GetText());
    }
    const int64_t tokens = TokensHeld(engine);
    const int64_t freshTokens = TokensHeld(fresh);
    if (tokens != freshTokens)
        return Fail("the network holds " + std::to_string(tokens) + " tokens, a fresh one " +
                    std::to_string(freshTokens));
    const int64_t grown = residentAfter - residentBefore;
    if (residentBefore > 0 && grown > 1024)
        return Fail("resident memory grew by " + std::to_string(grown) + " KiB");
    Result("app", n, fired, seconds,
           "iterations_per_s=" + Fixed(seconds > 0 ? static_cast<double>(n) / seconds : 0.0) +
               " facts_max=" + std::to_string(mostFacts) + " tokens=" + std::to_string(tokens) +
               " rss_growth_kib=" + std::to_string(grown));
    return true;
}
#endif

int Usage() {
    std::fputs("usage: ie_microbench assert|duplicate|activations|join|read|app [size] [rule "
               "directory]\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string name = argv[1];
    const int64_t size = argc > 2 ? std::strtoll(argv[2], nullptr, 10) : 0;
    try {
        bool ok = false;
        if (name == "assert")
            ok = BenchAssert(size > 0 ? size : 1000000);
        else if (name == "duplicate")
            ok = BenchDuplicate(size > 0 ? size : 1000000);
        else if (name == "activations")
            ok = BenchActivations(size > 0 ? size : 100000);
        else if (name == "join")
            ok = BenchJoin(size > 0 ? size : 100000);
        else if (name == "read")
            ok = BenchRead(size > 0 ? size : 10 * 1024 * 1024);
        else if (name == "app") {
#ifdef IE_BENCH_APP
            ok = BenchApp(size > 0 ? size : 10000, argc > 3 ? argv[3] : IE_BENCH_APP_DEMO_DIR);
#else
            std::fputs("ie_microbench: built without the application's data module\n", stderr);
            return 3;
#endif
        } else
            return Usage();
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ie_microbench: %s: %s\n", name.c_str(), e.what());
        return 1;
    }
}
