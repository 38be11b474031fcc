// Copying a host engine into an editor's private engine. The copy runs with the receiving
// engine's network switched off (and back on however it ends), since an editor edits tables and
// never fires rules; the private engine then checks types both statically and dynamically.
#include "editors/logic/EngineTransfer.h"

#include "engine/InferenceEngine.h"
#include "engine/match/ActivationAgenda.h"
#include "engine/match/IERule.h"
#include "engine/match/ReteNetwork.h"

#include <memory>
#include <string>
#include <unordered_map>

namespace ie {
namespace {

// Switches the receiving engine's Rete network off for as long as it lives.
class TNetworkOff {
public:
    explicit TNetworkOff(TInferenceEngine& engine) : FRete(engine.ReteNetwork()) {
        if (FRete) {
            FWasEnabled = FRete->Enabled();
            FRete->SetEnabled(false);
        }
    }
    ~TNetworkOff() {
        if (FRete) FRete->SetEnabled(FWasEnabled);
    }
    TNetworkOff(const TNetworkOff&) = delete;
    TNetworkOff& operator=(const TNetworkOff&) = delete;

private:
    TReteNetwork* FRete;
    bool FWasEnabled = true;
};

} // namespace

void CopyEngineForEditing(TInferenceEngine& dest, TInferenceEngine& source) {
    {
        TNetworkOff off(dest);
        dest.Assign(&source);
    }
    dest.SetTypeChecks(TTypeChecks{tcStatic, tcDynamic});
}

namespace {

// What tells one activation from another across two engines: the rule's name and the texts of
// the facts it matched (the identifiers differ between the engines).
std::string ActivationKey(const TActivation& activation) {
    std::string key = activation.RuleName();
    if (const TRefPtr<IReteToken>& token = activation.Token()) {
        for (int32_t i = 0; i < token->FactCount(); ++i) {
            key += '\n';
            if (const TRefPtr<IFact> fact = token->GetFact(i)) key += fact->GetText();
        }
    }
    return key;
}

} // namespace

void KeepFiredAsFired(TInferenceEngine& copy, TInferenceEngine& source) {
    auto names = source.Rules().Keys();
    while (names->HasNext()) {
        const std::string name = names->NextString();
        const TRule* theirs = source.Rules().Find(name);
        TRule* mine = copy.Rules().Find(name);
        if (theirs && mine && theirs->Fired()) mine->MarkFired();
    }
    std::unordered_map<std::string, int32_t> waiting;
    for (int32_t i = 0; i < source.ActivationCount(); ++i)
        ++waiting[ActivationKey(*source.GetActivation(i))];
    for (int32_t i = copy.ActivationCount() - 1; i >= 0; --i) {
        auto found = waiting.find(ActivationKey(*copy.GetActivation(i)));
        if (found != waiting.end() && found->second > 0)
            --found->second;
        else
            copy.RemoveActivationAt(i);
    }
}

void WriteBackWhole(TInferenceEngine& host, TInferenceEngine& edited) {
    // The host as it is, to go back to: a copy that remembers what fired.
    std::unique_ptr<TInferenceEngine, TComponentDeleter> before(new TInferenceEngine(nullptr));
    before->Assign(&host);
    KeepFiredAsFired(*before, host);
    try {
        host.Assign(&edited);
        KeepFiredAsFired(host, edited);
    } catch (...) {
        host.Assign(before.get());
        KeepFiredAsFired(host, *before);
        throw;
    }
}

} // namespace ie
