#include "engine/ActivationAgenda.h"

#include <algorithm>
#include <limits>

#include "platform/Format.h"

namespace ie {

// ---------------------------------------------------------------------------------------------
// TActivation

TActivation::TActivation(TRule* rule, float strength, IActivationNode* node,
                         TRefPtr<IReteToken> token)
    : FRule(rule), FToken(std::move(token)), FNode(node) {
    SetStrength(strength);
}

TActivation::~TActivation() {
    if (FNode) FNode->ActivationDestroyed(*this);
}

void TActivation::SetStrength(float value) noexcept {
    FStrength = std::clamp(value, 0.0f, 1.0f);
}

const std::string& TActivation::RuleName() const {
    static const std::string none;
    return FNode ? FNode->ActivationRuleName() : none;
}

std::string TActivation::GetText() const {
    return Format("%d %s : %s (%.4f)", FSalience, RuleName(),
                  FToken ? FToken->FactIdList() : std::string(), static_cast<double>(FStrength));
}

void TActivation::Fire() {
    if (FNode) FNode->FireActivation(*this);
}

// ---------------------------------------------------------------------------------------------
// TActivationAgenda

TActivationAgenda::~TActivationAgenda() {
    Clear();
}

TActivation* TActivationAgenda::Item(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= FTree.size())
        throw EListError(Format("List index out of bounds (%d)", index));
    return FTree.find_by_order(static_cast<size_t>(index))->second;
}

TActivation* TActivationAgenda::FirstIdle() const noexcept {
    // Only the activations of the enclosing firings can be skipped: a handful at most.
    for (const auto& entry : FTree)
        if (!entry.second->Firing()) return entry.second;
    return nullptr;
}

int32_t TActivationAgenda::IndexOf(const TActivation* activation) const {
    if (!activation || !activation->FInAgenda) return -1;
    auto it = FTree.find(activation->FKey);
    if (it == FTree.end() || it->second != activation) return -1;
    return static_cast<int32_t>(FTree.order_of_key(activation->FKey));
}

int32_t TActivationAgenda::AddActivation(TActivation* activation, int32_t salience) {
    ++FSequence;
    activation->FSalience = salience;
    activation->FKey.Salience = -static_cast<int64_t>(salience);
    activation->FKey.Sequence = FStrategy == ssDepthFirst ? -FSequence : FSequence;
    FTree.insert({activation->FKey, activation});
    activation->FInAgenda = true;
    return static_cast<int32_t>(FTree.order_of_key(activation->FKey));
}

TActivation* TActivationAgenda::Extract(TActivation* activation) {
    if (!activation || !activation->FInAgenda) return nullptr;
    auto it = FTree.find(activation->FKey);
    if (it == FTree.end() || it->second != activation) return nullptr;
    FTree.erase(it);
    activation->FInAgenda = false;
    return activation;
}

std::vector<TActivation*> TActivationAgenda::ExtractAll() {
    std::vector<TActivation*> all;
    all.reserve(FTree.size());
    for (auto& entry : FTree) {
        entry.second->FInAgenda = false;
        all.push_back(entry.second);
    }
    FTree.clear();
    return all;
}

void TActivationAgenda::Clear() {
    for (TActivation* a : ExtractAll())
        delete a;
}

std::string TActivationAgenda::GetText() const {
    std::string text;
    for (const auto& entry : FTree) {
        text += entry.second->GetText();
        text += IELineEnd;
    }
    return text;
}

int32_t TActivationAgenda::GetInsertIndex(int32_t salience) const {
    if (FTree.empty()) return -1;
    const int64_t key = -static_cast<int64_t>(salience);
    // Depth-first: before every equal salience; breadth-first: after them.
    const int64_t sequence = FStrategy == ssDepthFirst ? std::numeric_limits<int64_t>::min()
                                                       : std::numeric_limits<int64_t>::max();
    const size_t index = FTree.order_of_key({key, sequence});
    return index >= FTree.size() ? -1 : static_cast<int32_t>(index);
}

} // namespace ie
