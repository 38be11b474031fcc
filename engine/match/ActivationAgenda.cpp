// The agenda's activations, their list and salience groups, and the order-statistics index that
// answers positions.
//
// Invariant: the list holds every filed activation in key order (negated salience, then a
// sequence number negated under depth-first, fixed at filing), each group names the first and
// last activation of its salience, and while the index is built it holds the same activations
// in the same order. A block of the index that outgrows BlockSize splits in halves so that an
// insertion moves few slots however long the agenda is. The last position found is remembered
// because firing, removing and listing usually ask about the activation just touched or the
// next one.
#include "engine/match/ActivationAgenda.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

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

// ---------------------------------------------------------------------------------------------
// The list and its groups

size_t TActivationAgenda::GroupFor(int32_t salience) const noexcept {
    // Most agendas have one to a few saliences, and most filings go to the highest or lowest.
    const size_t n = FGroups.size();
    if (n == 0 || FGroups[0].Salience <= salience) return 0;
    if (FGroups[n - 1].Salience > salience) return n;
    size_t low = 1, high = n - 1;
    while (low < high) {
        const size_t mid = (low + high) / 2;
        if (FGroups[mid].Salience > salience)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

void TActivationAgenda::LinkBefore(TActivation* activation, TActivation* next) noexcept {
    TActivation* prev = next ? next->FAgendaPrev : FTail;
    activation->FAgendaPrev = prev;
    activation->FAgendaNext = next;
    (prev ? prev->FAgendaNext : FHead) = activation;
    (next ? next->FAgendaPrev : FTail) = activation;
}

void TActivationAgenda::Link(TActivation* activation) {
    const int32_t salience = activation->FSalience;
    const size_t g = GroupFor(salience);
    if (g < FGroups.size() && FGroups[g].Salience == salience) {
        TGroup& group = FGroups[g];
        if (FStrategy == ssDepthFirst) {
            LinkBefore(activation, group.First);
            group.First = activation;
        } else {
            LinkBefore(activation, group.Last->FAgendaNext);
            group.Last = activation;
        }
        return;
    }
    FGroups.insert(FGroups.begin() + static_cast<std::ptrdiff_t>(g),
                   TGroup{salience, activation, activation});
    LinkBefore(activation, g + 1 < FGroups.size() ? FGroups[g + 1].First : nullptr);
}

void TActivationAgenda::Unlink(TActivation* activation) {
    TActivation* prev = activation->FAgendaPrev;
    TActivation* next = activation->FAgendaNext;
    const int32_t salience = activation->FSalience;
    // Only an activation at its group's edge changes the group.
    const bool first = !prev || prev->FSalience != salience;
    const bool last = !next || next->FSalience != salience;
    if (first || last) {
        const size_t g = GroupFor(salience);
        IE_ASSERT(g < FGroups.size() && FGroups[g].Salience == salience);
        TGroup& group = FGroups[g];
        if (first && last)
            FGroups.erase(FGroups.begin() + static_cast<std::ptrdiff_t>(g));
        else if (first)
            group.First = next;
        else
            group.Last = prev;
    }
    (prev ? prev->FAgendaNext : FHead) = next;
    (next ? next->FAgendaPrev : FTail) = prev;
    activation->FAgendaPrev = activation->FAgendaNext = nullptr;
}

// ---------------------------------------------------------------------------------------------
// The order-statistics index

void TActivationAgenda::NeedIndex() const {
    FUnasked = 0;
    if (FIndexed) return;
    // Three quarters full, so that the filings that follow split few blocks.
    constexpr size_t fill = BlockSize * 3 / 4;
    FBlocks.clear();
    FSizes.clear();
    FBlocks.reserve(static_cast<size_t>(FCount) / fill + 1);
    FSizes.reserve(FBlocks.capacity());
    for (TActivation* a = FTail; a; a = a->FAgendaPrev) {
        if (FBlocks.empty() || FBlocks.back().size() == fill) {
            FBlocks.emplace_back().reserve(BlockSize + 1);
            FSizes.push_back(0);
        }
        FBlocks.back().push_back(TSlot{a->Key(), a});
        ++FSizes.back();
    }
    FIndexed = true;
}

void TActivationAgenda::DropIndex() const noexcept {
    FIndexed = false;
    FBlocks.clear();
    FBlocks.shrink_to_fit();
    FSizes.clear();
    FSizes.shrink_to_fit();
    FKnownBlock = NoPlace;
}

void TActivationAgenda::IndexChanged() const noexcept {
    // Rebuilding costs one pass over the agenda; following this many changes without a
    // question has cost more than that, so a later question can pay for the rebuild.
    if (++FUnasked > 2 * std::max<int64_t>(FCount, 256)) DropIndex();
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

std::pair<size_t, size_t> TActivationAgenda::IndexInsert(TActivation* activation) {
    const TActivationKey key = activation->Key();
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
    return {b, slot};
}

void TActivationAgenda::IndexErase(TActivation* activation) {
    size_t b, slot;
    if (activation == FKnownActivation && FKnownBlock != NoPlace) {
        b = FKnownBlock;
        slot = FKnownSlot;
    } else {
        b = BlockFor(activation->Key());
        slot = FirstLess(FBlocks[b], activation->Key()) - 1;
    }
    TBlock& block = FBlocks[b];
    // A filed activation is where its key says.
    IE_ASSERT(slot < block.size() && block[slot].Activation == activation);
    block.erase(block.begin() + static_cast<std::ptrdiff_t>(slot));
    if (--FSizes[b] == 0) {
        FBlocks.erase(FBlocks.begin() + static_cast<std::ptrdiff_t>(b));
        FSizes.erase(FSizes.begin() + static_cast<std::ptrdiff_t>(b));
    }
}

void TActivationAgenda::RememberEnd(bool first) const noexcept {
    if (first)
        Remember(0, FHead, FIndexed ? FBlocks.size() - 1 : NoPlace,
                 FIndexed ? FBlocks.back().size() - 1 : 0);
    else
        Remember(FCount - 1, FTail, FIndexed ? 0 : NoPlace, 0);
}

// ---------------------------------------------------------------------------------------------
// Positions

TActivation* TActivationAgenda::Item(int32_t index) const {
    if (index < 0 || index >= FCount)
        throw EListError(Format("List index out of bounds (%d)", index));
    if (FKnownActivation) {
        if (FKnownIndex == index) return FKnownActivation;
        if (FKnownIndex + 1 == index) {
            // The next one of a listing: the list's next, and the place before in the index.
            TActivation* next = FKnownActivation->FAgendaNext;
            size_t b = FKnownBlock, slot = 0;
            if (b != NoPlace) {
                if (FKnownSlot > 0)
                    slot = FKnownSlot - 1;
                else
                    slot = FBlocks[--b].size() - 1; // a next one is there: b > 0
            }
            Remember(index, next, b, slot);
            return next;
        }
    }
    if (index == 0 || index == FCount - 1) {
        RememberEnd(index == 0);
        return FKnownActivation;
    }
    NeedIndex();
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
    for (TActivation* a = FHead; a; a = a->FAgendaNext)
        if (!a->Firing()) return a;
    return nullptr;
}

int32_t TActivationAgenda::IndexOf(const TActivation* activation) const {
    if (!Holds(activation)) return -1;
    if (activation == FKnownActivation) return FKnownIndex;
    if (activation == FHead || activation == FTail) {
        RememberEnd(activation == FHead);
        return FKnownIndex;
    }
    NeedIndex();
    const size_t b = BlockFor(activation->Key());
    const size_t less = FirstLess(FBlocks[b], activation->Key());
    if (less == 0 || FBlocks[b][less - 1].Activation != activation) return -1;
    const int32_t index = Before(b, less);
    Remember(index, const_cast<TActivation*>(activation), b, less - 1);
    return index;
}

int32_t TActivationAgenda::GetInsertIndex(int32_t salience) const {
    if (FCount == 0) return -1;
    // Depth-first: before every equal salience; breadth-first: after them.
    const bool depthFirst = FStrategy == ssDepthFirst;
    if (depthFirst ? salience >= FHead->FSalience : salience > FHead->FSalience) return 0;
    if (depthFirst ? salience < FTail->FSalience : salience <= FTail->FSalience) return -1;
    NeedIndex();
    const int64_t key = -static_cast<int64_t>(salience);
    const int64_t sequence =
        depthFirst ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    return static_cast<int32_t>(Rank({key, sequence}));
}

// ---------------------------------------------------------------------------------------------
// Changes

std::pair<size_t, size_t> TActivationAgenda::Insert(TActivation* activation, int32_t salience) {
    // Filed twice, the activation's links would make the list a cycle.
    if (Holds(activation))
        throw std::logic_error("TActivationAgenda: the activation is filed already");
    ++FSequence;
    activation->FSalience = salience;
    activation->FSequence = FStrategy == ssDepthFirst ? -FSequence : FSequence;
    Forget();
    Link(activation);
    ++FCount;
    activation->FInAgenda = true;
    activation->FAgenda = this;
    if (!FIndexed) return {NoPlace, 0};
    const auto place = IndexInsert(activation);
    IndexChanged();
    return FIndexed ? place : std::pair<size_t, size_t>{NoPlace, 0};
}

int32_t TActivationAgenda::AddActivation(TActivation* activation, int32_t salience) {
    auto [b, slot] = Insert(activation, salience);
    if (activation == FHead || activation == FTail) {
        RememberEnd(activation == FHead);
        return FKnownIndex;
    }
    if (b == NoPlace) {
        NeedIndex();
        b = BlockFor(activation->Key());
        slot = FirstLess(FBlocks[b], activation->Key()) - 1;
    }
    FUnasked = 0;
    const int32_t index = Before(b, slot + 1);
    Remember(index, activation, b, slot);
    return index;
}

void TActivationAgenda::File(TActivation* activation, int32_t salience) {
    Insert(activation, salience);
}

TActivation* TActivationAgenda::Extract(TActivation* activation) {
    if (!Holds(activation)) return nullptr;
    if (FIndexed) {
        IndexErase(activation);
        IndexChanged();
    }
    Forget();
    Unlink(activation);
    --FCount;
    activation->FInAgenda = false;
    activation->FAgenda = nullptr;
    return activation;
}

std::vector<TActivation*> TActivationAgenda::ExtractAll() {
    std::vector<TActivation*> all;
    all.reserve(static_cast<size_t>(FCount));
    for (TActivation* a = FHead; a;) {
        TActivation* next = a->FAgendaNext;
        a->FInAgenda = false;
        a->FAgenda = nullptr;
        a->FAgendaPrev = a->FAgendaNext = nullptr;
        all.push_back(a);
        a = next;
    }
    Forget();
    DropIndex();
    FHead = FTail = nullptr;
    FGroups.clear();
    FCount = 0;
    return all;
}

void TActivationAgenda::Clear() {
    for (TActivation* a : ExtractAll())
        delete a;
}

std::string TActivationAgenda::GetText() const {
    std::string text;
    for (const TActivation* a = FHead; a; a = a->FAgendaNext) {
        text += a->GetText();
        text += IELineEnd;
    }
    return text;
}

} // namespace ie
