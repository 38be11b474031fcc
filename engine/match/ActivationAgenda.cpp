// The agenda's activations and their block list: insertion, extraction and lookup by index.
//
// Invariant: each activation's key (negated salience, then a sequence number negated under
// depth-first) is fixed when it is inserted, so every search is a binary search over plain keys,
// and a block that outgrows BlockSize splits in halves so that an insertion moves few slots
// however long the agenda is. The last position found is remembered because firing, removing and
// listing usually ask about the activation just touched.
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

size_t TActivationAgenda::BlockFor(const TActivationKey& key) const noexcept {
    size_t low = 0, high = FBlocks.size() - 1;
    while (low < high) {
        const size_t mid = (low + high) / 2;
        if (key < FBlocks[mid].back().Key)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

size_t TActivationAgenda::FirstLess(const TBlock& block, const TActivationKey& key) noexcept {
    const auto at = std::partition_point(block.begin(), block.end(),
                                         [&key](const TSlot& slot) { return !(slot.Key < key); });
    return static_cast<size_t>(at - block.begin());
}

int32_t TActivationAgenda::Before(size_t b, size_t less) const noexcept {
    // Sum the shorter side: the blocks after b, or those before it taken from the count.
    int32_t rank = 0;
    if (b < FSizes.size() / 2) {
        for (size_t i = 0; i < b; ++i)
            rank += FSizes[i];
        return FCount - rank - static_cast<int32_t>(less);
    }
    for (size_t i = b + 1; i < FSizes.size(); ++i)
        rank += FSizes[i];
    return rank + FSizes[b] - static_cast<int32_t>(less);
}

size_t TActivationAgenda::Rank(const TActivationKey& key) const noexcept {
    if (FBlocks.empty()) return 0;
    const size_t b = BlockFor(key);
    return static_cast<size_t>(Before(b, FirstLess(FBlocks[b], key)));
}

TActivation* TActivationAgenda::Item(int32_t index) const {
    if (index < 0 || index >= FCount)
        throw EListError(Format("List index out of bounds (%d)", index));
    if (FKnownActivation && FKnownIndex == index) return FKnownActivation;
    int32_t rest = index;
    for (size_t b = FSizes.size(); b-- > 0;) {
        if (rest < FSizes[b]) {
            const auto slot = static_cast<size_t>(FSizes[b] - 1 - rest);
            TActivation* activation = FBlocks[b][slot].Activation;
            Remember(index, activation, b, slot);
            return activation;
        }
        rest -= FSizes[b];
    }
    IE_ASSERT(!"the blocks hold FCount activations");
    return nullptr;
}

TActivation* TActivationAgenda::FirstIdle() const noexcept {
    // Only the activations of the enclosing firings can be skipped: a handful at most.
    for (auto block = FBlocks.rbegin(); block != FBlocks.rend(); ++block)
        for (auto slot = block->rbegin(); slot != block->rend(); ++slot)
            if (!slot->Activation->Firing()) return slot->Activation;
    return nullptr;
}

bool TActivationAgenda::Holds(const TActivation* activation) const noexcept {
    return activation && activation->FInAgenda && activation->FAgenda == this;
}

int32_t TActivationAgenda::IndexOf(const TActivation* activation) const {
    if (!Holds(activation)) return -1;
    if (activation == FKnownActivation) return FKnownIndex;
    const size_t b = BlockFor(activation->FKey);
    const size_t less = FirstLess(FBlocks[b], activation->FKey);
    if (less == 0 || FBlocks[b][less - 1].Activation != activation) return -1;
    const int32_t index = Before(b, less);
    Remember(index, const_cast<TActivation*>(activation), b, less - 1);
    return index;
}

std::pair<size_t, size_t> TActivationAgenda::Insert(TActivation* activation, int32_t salience) {
    ++FSequence;
    activation->FSalience = salience;
    activation->FKey.Salience = -static_cast<int64_t>(salience);
    activation->FKey.Sequence = FStrategy == ssDepthFirst ? -FSequence : FSequence;
    const TActivationKey key = activation->FKey;
    if (FBlocks.empty()) {
        FBlocks.emplace_back().reserve(BlockSize + 1);
        FSizes.push_back(0);
    }
    size_t b = BlockFor(key);
    TBlock& block = FBlocks[b];
    size_t slot = FirstLess(block, key);
    block.insert(block.begin() + static_cast<std::ptrdiff_t>(slot), TSlot{key, activation});
    ++FSizes[b];
    if (block.size() > BlockSize) {
        // Split in halves; the half of the smaller keys becomes the next block.
        constexpr size_t half = BlockSize / 2;
        TBlock lower;
        lower.reserve(BlockSize + 1);
        lower.assign(block.begin() + half, block.end());
        block.resize(half);
        FSizes[b] = static_cast<int32_t>(half);
        const auto next = static_cast<std::ptrdiff_t>(b) + 1;
        FSizes.insert(FSizes.begin() + next, static_cast<int32_t>(lower.size()));
        FBlocks.insert(FBlocks.begin() + next, std::move(lower));
        if (slot >= half) {
            ++b;
            slot -= half;
        }
    }
    ++FCount;
    activation->FInAgenda = true;
    activation->FAgenda = this;
    Forget();
    return {b, slot};
}

int32_t TActivationAgenda::AddActivation(TActivation* activation, int32_t salience) {
    const auto [b, slot] = Insert(activation, salience);
    const int32_t index = Before(b, slot + 1);
    Remember(index, activation, b, slot);
    return index;
}

void TActivationAgenda::File(TActivation* activation, int32_t salience) {
    Insert(activation, salience);
}

TActivation* TActivationAgenda::Extract(TActivation* activation) {
    if (!activation || !activation->FInAgenda || activation->FAgenda != this) return nullptr;
    size_t b, slot;
    if (activation == FKnownActivation) {
        b = FKnownBlock;
        slot = FKnownSlot;
    } else {
        b = BlockFor(activation->FKey);
        slot = FirstLess(FBlocks[b], activation->FKey);
        if (slot-- == 0) return nullptr;
    }
    Forget();
    TBlock& block = FBlocks[b];
    // A filed activation is where its key says.
    IE_ASSERT(block[slot].Activation == activation);
    if (block[slot].Activation != activation) return nullptr;
    block.erase(block.begin() + static_cast<std::ptrdiff_t>(slot));
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
    for (auto block = FBlocks.rbegin(); block != FBlocks.rend(); ++block)
        for (auto slot = block->rbegin(); slot != block->rend(); ++slot) {
            slot->Activation->FInAgenda = false;
            slot->Activation->FAgenda = nullptr;
            all.push_back(slot->Activation);
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
    for (auto block = FBlocks.rbegin(); block != FBlocks.rend(); ++block)
        for (auto slot = block->rbegin(); slot != block->rend(); ++slot) {
            text += slot->Activation->GetText();
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
