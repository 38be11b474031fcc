// Helpers the units of the Rete network share: lending a token to a node's context while its
// tests run, reading a list element, the first-level token of a split's cut. Private to
// engine/match.
#pragma once

#include <string>

#include "engine/match/ReteNetwork.h"
#include "engine/model/IEValue.h"

namespace ie::rete {

inline std::string IntText(int64_t n) {
    return std::to_string(n);
}

// The element `sub` of a list value; the value itself for -1; null when there is none.
inline TRefPtr<IIEValue> Element(const TRefPtr<IIEValue>& value, int32_t sub) {
    if (sub < 0 || !value) return value;
    if (value->GetDType() != dtList) return nullptr;
    TRefPtr<IValueVector> list = value->AsList();
    if (!list || sub >= list->Count()) return nullptr;
    return list->GetItem(sub);
}

// Lends a token and its fact to a node's context while its tests run, and always restores the
// match the context had before (a test that reaches the network again leaves it as it found it),
// so that a failing call never leaves the context pointing at a token it does not hold. No
// references are taken: the caller holds the token and the fact throughout.
class TContextBinding {
public:
    TContextBinding(TIEContext& context, const TIEToken* token, const IFact* fact) noexcept
        : FContext(context), FToken(context.MatchToken()), FFact(context.MatchFact()) {
        context.SetMatch(token, fact);
    }
    ~TContextBinding() { FContext.SetMatch(FToken, FFact); }
    TContextBinding(const TContextBinding&) = delete;
    TContextBinding& operator=(const TContextBinding&) = delete;

private:
    TIEContext& FContext;
    const IReteToken* FToken;
    const IFact* FFact;
};

// A cut's first-level token, told apart from the other cuts of its fact by `cutKey` and carrying
// the strength of the token it was cut from.
inline TIETokenRef CutToken(TIETokenRef split, uint32_t cutKey, TTokenAction tag, float strength) {
    split->SetCut(cutKey);
    if (strength != 1.0f) return TIEToken::CreateCopy(*split, tag, strength);
    return split;
}

} // namespace ie::rete
