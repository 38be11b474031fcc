// Working-memory and run-loop throughput of the engine, tracing off:
//   1,000,000 ordered facts asserted, then Reset (target: under 2 s in a Release build);
//   100,000 activations of one rule, then Run (target: under 1 s).
// Facts are read from text (AssertString), and built through their template.
#include <chrono>
#include <cstdio>
#include <string>

#include "engine/InferenceEngine.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEValue.h"

using namespace ie;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

TRefPtr<IFact> Numbered(const TRefPtr<IFactTemplate>& t, int32_t n) {
    TRefPtr<IFact> f = t->NewFact();
    auto list = MakeRef<TValueVector>();
    list->Add(TIEValue::CreateInteger(dtInteger, n));
    f->SetSlotValue(DataSlotName, TIEValue::CreateList(list));
    return f;
}

} // namespace

int main() {
    {
        TInferenceEngine e;
        const auto start = std::chrono::steady_clock::now();
        std::string text;
        for (int32_t i = 0; i < 1000000; ++i) {
            text = "(item ";
            text += std::to_string(i);
            text += ")";
            e.AssertString(text);
        }
        const double asserted = Seconds(start);
        e.Reset();
        std::printf("1000000 facts through AssertString in %.3f s, with Reset %.3f s\n", asserted,
                    Seconds(start));
    }
    {
        TInferenceEngine e;
        TRefPtr<IFactTemplate> t = e.ImpliedTemplate("item");
        const auto start = std::chrono::steady_clock::now();
        for (int32_t i = 0; i < 1000000; ++i)
            e.AssertFact(Numbered(t, i));
        const double asserted = Seconds(start);
        e.Reset();
        std::printf("1000000 facts asserted in %.3f s, with Reset %.3f s (%d facts after)\n",
                    asserted, Seconds(start), e.Facts().Count());
    }
    {
        TInferenceEngine e;
        TRefPtr<IFactTemplate> t = e.ImpliedTemplate("item");
        auto* rule = new TRule(&e, &e);
        rule->SetRuleName("count");
        rule->AddPattern(rule->NewPattern("item", t));
        int64_t fired = 0;
        rule->OnFire = [&](TRule*, TIEContext*) { ++fired; };
        e.Rules().PutRule("count", rule);
        const auto start = std::chrono::steady_clock::now();
        for (int32_t i = 0; i < 100000; ++i)
            e.AssertFact(Numbered(t, i));
        const double activated = Seconds(start);
        const auto runStart = std::chrono::steady_clock::now();
        const int32_t n = e.Run();
        std::printf("100000 activations in %.3f s, Run of %d firings (%lld seen) in %.3f s\n",
                    activated, n, static_cast<long long>(fired), Seconds(runStart));
    }
    return 0;
}
