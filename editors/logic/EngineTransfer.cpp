#include "editors/logic/EngineTransfer.h"

#include <string>
#include <vector>

#include "engine/IEDefinedType.h"
#include "engine/IEFacts.h"
#include "engine/IERule.h"
#include "engine/InferenceEngine.h"
#include "engine/ReteNetwork.h"

namespace ie {
namespace {

template <class T> TRefPtr<T> CloneAs(const ICloneable& item) {
    TRefPtr<ICloneable> copy = item.Clone();
    return TRefPtr<T>(dynamic_cast<T*>(copy.get()));
}

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

template <class T> std::vector<std::string> Keys(const T& table) {
    std::vector<std::string> keys;
    keys.reserve(static_cast<size_t>(table.Count()));
    auto it = table.Keys();
    while (it->HasNext())
        keys.push_back(it->NextString());
    return keys;
}

} // namespace

void CopyEngineForEditing(TInferenceEngine& dest, TInferenceEngine& source) {
    {
        TNetworkOff off(dest);
        dest.Assign(&source);
    }
    dest.SetTypeChecks(TTypeChecks{tcStatic, tcDynamic});
}

void AssignDefinedTypes(TInferenceEngine& dest, TInferenceEngine& source) {
    if (&dest == &source) return;
    TIEDefinedTypes& to = dest.DefinedTypes();
    TIEDefinedTypes& from = source.DefinedTypes();
    for (const std::string& name : Keys(to))
        if (!from.Find(name)) to.RemoveType(name);
    // Ancestors first, so that each copy finds its ancestor already here.
    for (IIEDefinedType* type : from.AncestorsFirstOrder()) {
        TRefPtr<IIEDefinedType> copy = dest.ParseDefinedType(source.DefinedTypeText(*type));
        if (!copy) continue;
        if (TRefPtr<IIEDefinedType> old = to.Find(copy->GetName()))
            to.ReplaceType(old, copy);
        else
            to.PutType(copy->GetName(), copy);
    }
}

void AddFacts(TInferenceEngine& dest, TInferenceEngine& source) {
    if (&dest == &source) return;
    // The source list may change under a handler of the receiving engine: walk a snapshot.
    const std::vector<TRefPtr<IFact>> facts = source.Facts().Items();
    for (const auto& fact : facts) {
        TRefPtr<IFact> copy = CloneAs<IFact>(*fact);
        if (!copy) continue;
        copy->SetFactId(-1);
        if (TRefPtr<IFactTemplate> theirs = fact->GetTemplate()) {
            TRefPtr<IFactTemplate> mine = dest.FactTemplates().Find(theirs->GetName());
            if (!mine && theirs->GetImplied()) mine = dest.ImpliedTemplate(theirs->GetName());
            if (mine != theirs) copy->SetTemplate(mine);
        }
        dest.Facts().Add(copy);
    }
}

} // namespace ie
