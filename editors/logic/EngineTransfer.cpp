// Copying a host engine into an editor's private engine. The copy runs with the receiving
// engine's network switched off (and back on however it ends), since an editor edits tables and
// never fires rules; the private engine then checks types both statically and dynamically.
#include "editors/logic/EngineTransfer.h"

#include "engine/InferenceEngine.h"
#include "engine/match/ReteNetwork.h"

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

} // namespace ie
