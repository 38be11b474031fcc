#include "engine/match/ActivationAgenda.h"

#include <algorithm>
#include <limits>

#include "platform/Assert.h"
#include "platform/Format.h"

namespace ie {

// ---------------------------------------------------------------------------------------------
// TActivation

TActivation::TActivation(TRule* rule, float strength, IActivationNode* node,
                         TRefPtr<IReteToken> token)
    : TTokenHolder(hkActivation), FRule(rule), FToken(std::move(token)), FNode(node) {
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

namespace {

template <class TSlot> bool KeyBefore(const TSlot& slot, const TActivationKey& key) noexcept {
    return slot.Key < key;
}

} // namespace

size_t TActivationAgenda::BlockFor(const TActivationKey& key) const noexcept {
    size_t low = 0, high = FBlocks.size() - 1;
    while (low < high) {
        const size_t mid = (low + high) / 2;
        if (FBlocks[mid].back().Key < key)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

size_t TActivationAgenda::Rank(const TActivationKey& key) const noexcept {
    if (FBlocks.empty()) return 0;
    const size_t b = BlockFor(key);
    int32_t rank = 0;
    for (size_t i = 0; i < b; ++i)
        rank += FSizes[i];
    const TBlock& block = FBlocks[b];
    const auto at = std::lower_bound(block.begin(), block.end(), key, KeyBefore<TSlot>);
    return static_cast<size_t>(rank) + static_cast<size_t>(at - block.begin());
}

TActivation* TActivationAgenda::Item(int32_t index) const {
    if (index < 0 || index >= FCount)
        throw EListError(Format("List index out of bounds (%d)", index));
    if (FKnownActivation && FKnownIndex == index) return FKnownActivation;
    int32_t rest = index;
    for (size_t b = 0; b < FSizes.size(); ++b) {
        if (rest < FSizes[b]) return FBlocks[b][static_cast<size_t>(rest)].Activation;
        rest -= FSizes[b];
    }
    IE_ASSERT(!"the blocks hold FCount activations");
    return nullptr;
}

TActivation* TActivationAgenda::FirstIdle() const noexcept {
    // Only the activations of the enclosing firings can be skipped: a handful at most.
    for (const TBlock& block : FBlocks)
        for (const TSlot& slot : block)
            if (!slot.Activation->Firing()) return slot.Activation;
    return nullptr;
}

int32_t TActivationAgenda::IndexOf(const TActivation* activation) const {
    if (!activation || !activation->FInAgenda || activation->FAgenda != this) return -1;
    if (activation == FKnownActivation) return FKnownIndex;
    const auto index = static_cast<int32_t>(Rank(activation->FKey));
    Remember(index, const_cast<TActivation*>(activation));
    return index;
}

int32_t TActivationAgenda::AddActivation(TActivation* activation, int32_t salience) {
    ++FSequence;
    activation->FSalience = salience;
    activation->FKey.Salience = -static_cast<int64_t>(salience);
    activation->FKey.Sequence = FStrategy == ssDepthFirst ? -FSequence : FSequence;
    const TActivationKey key = activation->FKey;
    if (FBlocks.empty()) {
        FBlocks.emplace_back().reserve(BlockSize + 1);
        FSizes.push_back(0);
    }
    const size_t b = BlockFor(key);
    int32_t rank = 0;
    for (size_t i = 0; i < b; ++i)
        rank += FSizes[i];
    TBlock& block = FBlocks[b];
    const auto at = std::lower_bound(block.begin(), block.end(), key, KeyBefore<TSlot>);
    const auto index = rank + static_cast<int32_t>(at - block.begin());
    block.insert(at, TSlot{key, activation});
    ++FSizes[b];
    if (block.size() > BlockSize) {
        // Split in halves; the upper half becomes the next block.
        TBlock upper;
        upper.reserve(BlockSize + 1);
        upper.assign(block.begin() + BlockSize / 2, block.end());
        block.resize(BlockSize / 2);
        FSizes[b] = static_cast<int32_t>(block.size());
        const auto next = static_cast<std::ptrdiff_t>(b) + 1;
        FSizes.insert(FSizes.begin() + next, static_cast<int32_t>(upper.size()));
        FBlocks.insert(FBlocks.begin() + next, std::move(upper));
    }
    ++FCount;
    activation->FInAgenda = true;
    activation->FAgenda = this;
    Remember(index, activation);
    return index;
}

TActivation* TActivationAgenda::Extract(TActivation* activation) {
    if (!activation || !activation->FInAgenda || activation->FAgenda != this) return nullptr;
    Forget();
    const size_t b = BlockFor(activation->FKey);
    TBlock& block = FBlocks[b];
    auto it = std::lower_bound(block.begin(), block.end(), activation->FKey, KeyBefore<TSlot>);
    // A filed activation is where its key says.
    IE_ASSERT(it != block.end() && it->Activation == activation);
    if (it == block.end() || it->Activation != activation) return nullptr;
    block.erase(it);
    if (--FSizes[b] == 0) {
        FBlocks.erase(FBlocks.begin() + static_cast<std::ptrdiff_t>(b));
        FSizes.erase(FSizes.begin() + static_cast<std::ptrdiff_t>(b));
    }
    --FCount;
    activation->FInAgenda = false;
    activation->FAgenda = nullptr;
    return activation;
}

std::vector<TActivation*> TActivationAgenda::ExtractAll() {
    std::vector<TActivation*> all;
    all.reserve(static_cast<size_t>(FCount));
    for (const TBlock& block : FBlocks)
        for (const TSlot& slot : block) {
            slot.Activation->FInAgenda = false;
            slot.Activation->FAgenda = nullptr;
            all.push_back(slot.Activation);
        }
    Forget();
    FBlocks.clear();
    FSizes.clear();
    FCount = 0;
    return all;
}

void TActivationAgenda::Clear() {
    for (TActivation* a : ExtractAll())
        delete a;
}

std::string TActivationAgenda::GetText() const {
    std::string text;
    for (const TBlock& block : FBlocks)
        for (const TSlot& slot : block) {
            text += slot.Activation->GetText();
            text += IELineEnd;
        }
    return text;
}

int32_t TActivationAgenda::GetInsertIndex(int32_t salience) const {
    if (FCount == 0) return -1;
    const int64_t key = -static_cast<int64_t>(salience);
    // Depth-first: before every equal salience; breadth-first: after them.
    const int64_t sequence = FStrategy == ssDepthFirst ? std::numeric_limits<int64_t>::min()
                                                       : std::numeric_limits<int64_t>::max();
    const size_t index = Rank({key, sequence});
    return index >= static_cast<size_t>(FCount) ? -1 : static_cast<int32_t>(index);
}

} // namespace ie
