// The engine's view of its matcher (IEngineNetwork), and the Rete network as that matcher
// (TReteMatcher): what the working memory and the rule table send to the network, whichever
// network a host or a test installs.
#pragma once

#include "engine/match/ReteNetwork.h"
#include "engine/model/IEConsts.h"
#include "engine/model/IEInterfaces.h"

namespace ie {

class TRule;

// The engine's view of its matcher: the Rete network by default (wrapped), or what a host or a
// test installs instead.
class IEngineNetwork {
public:
    // Sends a token through the network (taAdd, taRemove with the fact; taClear without one).
    virtual void AssertToken(TTokenAction action, const TRefPtr<IFact>& fact) = 0;
    virtual void AddRule(TRule* rule) = 0;
    virtual void RemoveRule(TRule* rule) = 0;
    virtual void Clear() = 0;
    virtual void SetMinActivationStrength(float value) = 0;
    virtual ~IEngineNetwork() = default;
};

// The Rete network as the engine's matcher.
class TReteMatcher final : public IEngineNetwork {
public:
    TReteMatcher(IRuleEngine* engine, IActivationSink* sink) : FNet(engine, sink) {}
    void AssertToken(TTokenAction action, const TRefPtr<IFact>& fact) override;
    void AddRule(TRule* rule) override;
    void RemoveRule(TRule* rule) override;
    void Clear() override;
    void SetMinActivationStrength(float value) override;
    TReteNetwork& Net() noexcept { return FNet; }

private:
    TReteNetwork FNet;
};

} // namespace ie
