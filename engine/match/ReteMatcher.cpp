// The Rete network as the engine's matcher: each call goes straight to the network.
#include "engine/match/ReteMatcher.h"

#include "engine/match/IERule.h"
#include "engine/match/IEToken.h"

namespace ie {

void TReteMatcher::AssertToken(TTokenAction action, const TRefPtr<IFact>& fact) {
    FNet.AssertToken(TReteToken::CreateFirst(action, fact));
}

void TReteMatcher::AddRule(TRule* rule) {
    FNet.AddRule(*rule);
}

void TReteMatcher::RemoveRule(TRule* rule) {
    FNet.RemoveRule(*rule);
}

void TReteMatcher::Clear() {
    FNet.Clear();
}

void TReteMatcher::SetMinActivationStrength(float value) {
    FNet.SetMinActivationStrength(value);
}

} // namespace ie
