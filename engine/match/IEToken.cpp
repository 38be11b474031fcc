// Tokens and their child and holder links.
#include "engine/match/IEToken.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <typeinfo>
#include <unordered_map>
#include <unordered_set>

#include "platform/Assert.h"

namespace ie {

std::string_view TokenActionName(TTokenAction action) noexcept {
    switch (action) {
    case taClear:
        return "taClear";
    case taAdd:
        return "taAdd";
    case taRemove:
        return "taRemove";
    case taUpdate:
        return "taUpdate";
    }
    return "<UNKNOWN>";
}

namespace {

int32_t FactIdOf(const IFact* fact) noexcept {
    return fact ? fact->GetFactId() : -1;
}

// Wrapping 32-bit arithmetic: parent * 8 + id.
int32_t ChildHash(int32_t parentHash, int32_t id) noexcept {
    return static_cast<int32_t>(static_cast<uint32_t>(parentHash) * 8u + static_cast<uint32_t>(id));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TIEToken

TIEToken::TIEToken() noexcept = default;

TIEToken::TIEToken(int32_t size, TTokenAction tag, TEntrySlot slot, int32_t hashCode,
                   TRefPtr<IFact>&& fact, TRefPtr<TIEToken>&& parent) noexcept
    : FSize(size), FTag(tag), FSlot(slot), FJoinChild(1), FHashCode(hashCode),
      FFact(std::move(fact)), FParent(std::move(parent)) {}

namespace {

// What a few tokens carry beside their usual value (a negated count other than 0, a strength
// other than 1.0), kept by token in a table of its own, so that no token pays a field for it.
// Never freed, so that a token that dies during the program's exit still finds it.
template <class T> class TSideTable {
public:
    static TSideTable& Instance() {
        static auto* table = new TSideTable;
        return *table;
    }
    T Find(const TIEToken* token, T usual) {
        const std::lock_guard lock(FLock);
        const auto it = FValues.find(token);
        return it == FValues.end() ? usual : it->second;
    }
    // Keeps the value, or forgets the token's when it is the usual one.
    void Keep(const TIEToken* token, T value, T usual) {
        const std::lock_guard lock(FLock);
        if (value != usual)
            FValues[token] = value;
        else
            FValues.erase(token);
    }

private:
    std::mutex FLock;
    std::unordered_map<const TIEToken*, T> FValues;
};

float ValidStrength(float strength) noexcept {
    return strength < 0.0f || std::isnan(strength) ? 0.0f : strength;
}

} // namespace

TIEToken::~TIEToken() {
    if (FCounted) SetNegatedCount(0);
    if (FStrengthKept) KeepStrength(1.0f);
    // (The bit stays: the block's size is told by it.)
    if (FHasMatchCut) MatchCut()->Release();
}

// Out of line: the network releases tokens in many places.
void TIEToken::operator delete(TIEToken* p, std::destroying_delete_t) noexcept {
    const TWithEntrySlot slot{static_cast<TEntrySlot>(p->FSlot), p->FJoinChild && p->FHasMatchCut};
    p->~TIEToken();
    operator delete(static_cast<void*>(p), slot);
}

void TIEToken::SetMatchCut(TRefPtr<TMatchCut> cut) {
    IE_ASSERT(!FJoinChild);
    const TMatchCut* old = MatchCut();
    // The token holds the count the reference held.
    FOwnMatchCut = cut.detach();
    FHasMatchCut = FOwnMatchCut != nullptr;
    if (old) old->Release();
}

namespace {

// The size of a token's block with room for an entry of `slot` in front and a cut behind.
template <TIEToken::TEntrySlot Slot>
constexpr size_t CutRoomBytes = TIEToken::EntrySlotBytes(Slot) + sizeof(TIEToken) + sizeof(void*);

} // namespace

void* TIEToken::NewWithCutRoom(TEntrySlot slot) {
    switch (slot) {
    case esPlain:
        return static_cast<char*>(TBlockPool<CutRoomBytes<esPlain>>::Get()) + sizeof(TTokenEntry);
    case esChained:
        return static_cast<char*>(TBlockPool<CutRoomBytes<esChained>>::Get()) +
               sizeof(TChainedEntry);
    default:
        return TBlockPool<CutRoomBytes<esNone>>::Get();
    }
}

void TIEToken::DeleteWithCutRoom(void* p, TEntrySlot slot) noexcept {
    switch (slot) {
    case esPlain:
        return TBlockPool<CutRoomBytes<esPlain>>::Put(static_cast<char*>(p) - sizeof(TTokenEntry));
    case esChained:
        return TBlockPool<CutRoomBytes<esChained>>::Put(static_cast<char*>(p) -
                                                        sizeof(TChainedEntry));
    default:
        return TBlockPool<CutRoomBytes<esNone>>::Put(p);
    }
}

float TIEToken::KeptStrength() const noexcept {
    return TSideTable<float>::Instance().Find(this, 1.0f);
}

void TIEToken::KeepStrength(float strength) {
    if (strength == 1.0f && !FStrengthKept) return;
    TSideTable<float>::Instance().Keep(this, strength, 1.0f);
    FStrengthKept = strength != 1.0f;
}

void TIEToken::SetCut(uint32_t cut) noexcept {
    // A child's right links share the field.
    IE_ASSERT(!FLeftOwner && !FRightOwner);
    FCut = cut;
    FHasCut = 1;
}

int32_t TIEToken::StoredNegatedCount() const noexcept {
    return TSideTable<int32_t>::Instance().Find(this, 0);
}

void TIEToken::SetNegatedCount(int32_t count) {
    if (count <= 0 && !FCounted) return;
    TSideTable<int32_t>::Instance().Keep(this, count > 0 ? count : 0, 0);
    FCounted = count > 0;
}

void TIEToken::AddHolder(THolderLinks& holder) noexcept {
    holder.HolderNext = nullptr;
    if (!FHolders) {
        FHolders = &holder;
        holder.HolderPrev = &holder;
        return;
    }
    THolderLinks* last = FHolders->HolderPrev;
    last->HolderNext = &holder;
    holder.HolderPrev = last;
    FHolders->HolderPrev = &holder;
}

void TIEToken::RemoveHolder(THolderLinks& holder) noexcept {
    if (!holder.HolderPrev) return;
    THolderLinks* next = holder.HolderNext;
    if (&holder == FHolders) {
        if (next) next->HolderPrev = holder.HolderPrev; // the last
        FHolders = next;
    } else {
        holder.HolderPrev->HolderNext = next;
        (next ? next->HolderPrev : FHolders->HolderPrev) = holder.HolderPrev;
    }
    holder.HolderPrev = holder.HolderNext = nullptr;
}

TRefPtr<TIEToken> TIEToken::CreateFirst(TTokenAction tag, TRefPtr<IFact> fact) {
    TRefPtr<TIEToken> t = Create();
    t->FSize = 1;
    t->FFact = std::move(fact);
    t->FTag = tag;
    t->FHashCode = FactIdOf(t->FFact.get());
    return t;
}

TRefPtr<TIEToken> TIEToken::CreateCopy(const TIEToken& token) {
    TRefPtr<TIEToken> t = Create();
    t->Assign(token);
    t->SetNegatedCount(0);
    return t;
}

TRefPtr<TIEToken> TIEToken::CreateChild(const TRefPtr<TIEToken>& parent, TRefPtr<IFact> fact,
                                        TTokenAction tag, float strength, TEntrySlot entrySlot) {
    return MakeChild(parent, std::move(fact), tag, strength, entrySlot, nullptr);
}

[[gnu::always_inline]] inline TRefPtr<TIEToken>
TIEToken::MakeChild(const TRefPtr<TIEToken>& parent, TRefPtr<IFact> fact, TTokenAction tag,
                    float strength, TEntrySlot entrySlot, const TMatchCut* cut) {
    // The parent is counted before the new block is written, and the new token gets its first
    // count by a plain store: a locked add waits for every store before it, and the stores to a
    // block fresh from the pool may wait for its cache line.
    TRefPtr<TIEToken> counted = parent;
    const int32_t parentHash = parent ? parent->FHashCode : 0;
    const int32_t size = (parent ? parent->FSize : 0) + 1;
    const int32_t id = fact ? fact->GetFactId() : 0;
    const int32_t hash = ChildHash(parentHash, id);
    TIEToken* t;
    if (cut) [[unlikely]] {
        t = new (TWithEntrySlot{entrySlot, true})
            TIEToken(size, tag, entrySlot, hash, std::move(fact), std::move(counted));
        cut->AddRef();
        *const_cast<TMatchCut**>(t->TrailingCut()) = const_cast<TMatchCut*>(cut);
        t->FHasMatchCut = 1;
    } else {
        t = entrySlot != esNone
                ? new (TWithEntrySlot{entrySlot})
                      TIEToken(size, tag, entrySlot, hash, std::move(fact), std::move(counted))
                : new TIEToken(size, tag, esNone, hash, std::move(fact), std::move(counted));
    }
    t->SetFirstRef();
    if (strength != 1.0f) {
        // The new token is not yet the caller's: it goes should keeping its strength fail.
        TRefPtr<TIEToken> made = TRefPtr<TIEToken>::Adopt(t);
        t->KeepStrength(ValidStrength(strength));
        return made;
    }
    return TRefPtr<TIEToken>::Adopt(t);
}

TRefPtr<TIEToken> TIEToken::CreateChild(const TRefPtr<TIEToken>& parent, const TIEToken& right,
                                        TTokenAction tag, float strength, TEntrySlot entrySlot) {
    return MakeChild(parent, right.FFact, tag, strength, entrySlot, right.MatchCut());
}

TRefPtr<TIEToken> TIEToken::CreateCopy(const TIEToken& token, TTokenAction tag, float strength) {
    TRefPtr<TIEToken> t = CreateCopy(token);
    t->FTag = tag;
    t->KeepStrength(ValidStrength(strength));
    return t;
}

TRefPtr<TIEToken> TIEToken::CreateChild(const TRefPtr<TIEToken>& parent, TRefPtr<IFact> fact) {
    TRefPtr<TIEToken> t = Create();
    const int32_t parentHash = parent ? parent->FHashCode : 0;
    t->FSize = (parent ? parent->FSize : 0) + 1;
    t->FFact = std::move(fact);
    t->FParent = parent;
    if (parent) {
        t->FTag = parent->FTag;
        if (parent->FStrengthKept) t->KeepStrength(parent->KeptStrength());
    }
    const int32_t id = t->FFact ? t->FFact->GetFactId() : 0;
    t->FHashCode = ChildHash(parentHash, id);
    return t;
}

void TIEToken::Assign(const TIEToken& source) {
    if (&source == this) return;
    FSize = source.FSize;
    SetNegatedCount(source.NegatedCount());
    FFact = source.FFact;
    FParent = source.FParent;
    FHashCode = source.FHashCode;
    FTag = source.FTag;
    KeepStrength(source.Strength());
    if (source.FHasCut)
        SetCut(source.FCut);
    else if (FHasCut)
        FHasCut = 0, FCut = 0;
    SetMatchCut(source.MatchCutRef());
}

void TIEToken::SetStrength(float strength) {
    if (strength == Strength()) return;
    KeepStrength(ValidStrength(strength));
}

void TIEToken::SetTag(TTokenAction action) {
    if (action == FTag) return;
    // Only the network tags tokens, and it never tags a fact-less token with a fact change.
    IE_ASSERT(action == taClear || FFact);
    FTag = action;
}

bool TIEToken::Equals(const TIEToken& other) const {
    const TIEToken* a = this;
    const TIEToken* b = &other;
    for (;;) {
        if (a == b) return true;
        const IFact* fa = a->FFact.get();
        const IFact* fb = b->FFact.get();
        if (a->FHashCode != b->FHashCode || a->Cut() != b->Cut() || a->Strength() != b->Strength())
            return false;
        if (fa != fb && (FactIdOf(fa) != FactIdOf(fb) || !fa || !fb || !fa->Equals(fb)))
            return false;
        if (!TMatchCut::SameCuts(a->MatchCut(), b->MatchCut())) return false;
        if (!a->FParent || a->FParent == b->FParent) return true;
        if (!b->FParent) return false;
        a = a->FParent.get();
        b = b->FParent.get();
    }
}

bool TIEToken::Equals(const IReteToken* other) const {
    return other && typeid(*other) == typeid(TIEToken) && Equals(Of(*other));
}

std::string TIEToken::GetText() const {
    std::string s(TokenActionName(Tag()));
    s += " cnt=";
    s += std::to_string(FSize);
    s += " negcnt=";
    s += std::to_string(NegatedCount());
    for (const TIEToken* t = this; t; t = t->FParent.get())
        if (t->FFact) {
            s += IELineEnd;
            s += t->FFact->GetText();
        }
    return s;
}

std::string TIEToken::FactIdList() const {
    // The chain runs from the last level up; the list from the first.
    std::vector<const IFact*> facts(static_cast<size_t>(FSize), nullptr);
    const TIEToken* t = this;
    for (int32_t i = FSize - 1; i >= 0 && t; --i, t = t->FParent.get())
        facts[static_cast<size_t>(i)] = t->FFact.get();
    std::string s;
    for (int32_t i = 0; i < FSize; ++i) {
        if (i > 0) s += ", ";
        s += "f-";
        s += std::to_string(FactIdOf(facts[static_cast<size_t>(i)]));
    }
    return s;
}

} // namespace ie
