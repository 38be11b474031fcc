// Rete tokens and token memories.
//
// A token (TIEToken) is a chain of matched facts, one per level, with the action that caused it,
// a fuzzy strength and a hash code. Every token keeps a small array of its facts, so reaching the
// fact of any level is one index, never a walk up the parent chain; the facts of the earlier
// levels stay alive through the parent chain that the token holds.
//
// A token memory (TIETokenTree) holds the tokens of one join input. Invariants:
//   - every stored token is in the identity index (keyed by token equality, TIEToken::Equals),
//     in the arrival list (oldest first) and in the chain of its join key (oldest first);
//   - no two stored tokens are equal;
//   - adding, finding and removing a token are O(1) on average, whatever the memory holds.
// The historical bucket count only groups the tokens in the memory's text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/IEConsts.h"
#include "engine/IEInterfaces.h"

namespace ie {

// "taClear", "taAdd", "taRemove", "taUpdate".
std::string_view TokenActionName(TTokenAction action) noexcept;

class TIEToken final : public IReteToken {
public:
    // An empty token (no fact, size 0, strength 1.0); becomes a clear token with SetTag.
    TIEToken() noexcept;
    ~TIEToken() override;
    TIEToken(const TIEToken&) = delete;
    TIEToken& operator=(const TIEToken&) = delete;

    static TRefPtr<TIEToken> Create() { return TRefPtr<TIEToken>(new TIEToken()); }
    // A first-level token: size 1, the fact, the action, hash code = the fact's identifier.
    static TRefPtr<TIEToken> CreateFirst(TTokenAction tag, TRefPtr<IFact> fact);
    // Every field of the token, but a negated count of 0.
    static TRefPtr<TIEToken> CreateCopy(const TIEToken& token);
    // One level more: the parent's action and strength, hash code parent * 8 + fact identifier
    // (parent * 8 without a fact).
    static TRefPtr<TIEToken> CreateChild(const TRefPtr<TIEToken>& parent, TRefPtr<IFact> fact);

    // Copies size, negated count, fact, parent, hash code, action and strength.
    void Assign(const TIEToken& source);

    // Fast access for the network.
    int32_t Size() const noexcept { return FSize; }
    // The fact of this level (null for a clear token).
    IFact* Fact() const noexcept { return FFact.get(); }
    const TRefPtr<IFact>& FactRef() const noexcept { return FFact; }
    // The fact at index (0 = first); an index past the end gives the last fact, a negative
    // index or a token without facts gives null.
    IFact* FactPtr(int32_t index) const noexcept {
        if (index < 0 || FSize == 0) return nullptr;
        return FFacts[index < FSize ? index : FSize - 1];
    }
    const TRefPtr<TIEToken>& Parent() const noexcept { return FParent; }
    int32_t HashCode() const noexcept { return FHashCode; }
    TTokenAction Tag() const noexcept { return FTag; }
    float Strength() const noexcept { return FStrength; }
    int32_t NegatedCount() const noexcept { return FNegatedCount; }

    // A negative count is stored as 0.
    void SetNegatedCount(int32_t count) noexcept { FNegatedCount = count < 0 ? 0 : count; }
    // A changed strength below 0 (or not a number) is stored as 0.
    void SetStrength(float strength) noexcept;
    // Raises "Invalid Token Action" for an action other than taClear on a token without fact.
    void SetTag(TTokenAction action);

    // Same token; or equal hash codes, fact identifiers and strengths, and then: no parent here
    // or the same parent object (true), no parent there (false), else the parents decide.
    bool Equals(const TIEToken& other) const noexcept;
    // A hash that equal tokens share (the memories' identity index).
    size_t IdentityHash() const noexcept;

    // IReteToken
    int32_t FactCount() const noexcept override { return FSize; }
    TRefPtr<IFact> GetFact(int32_t index) const override { return TRefPtr<IFact>(FactPtr(index)); }
    TRefPtr<IFact> FactAt(int32_t index) const override { return TRefPtr<IFact>(FactPtr(index)); }
    TRefPtr<IReteToken> GetParent() const override { return FParent; }
    int32_t GetHashCode() const override { return FHashCode; }
    TTokenAction GetTag() const noexcept override { return FTag; }
    float GetStrength() const noexcept override { return FStrength; }
    int32_t GetNegatedCount() const noexcept override { return FNegatedCount; }
    bool Equals(const IReteToken* other) const override;
    // The action's name, " cnt=" size, " negcnt=" negated count, then CR LF and the text of
    // each level's fact from this level up to the first.
    std::string GetText() const override;
    std::string FactIdList() const override;

private:
    void SetFacts(const TIEToken* parent);

    int32_t FSize = 0;
    int32_t FNegatedCount = 0;
    TRefPtr<IFact> FFact;
    TRefPtr<TIEToken> FParent;
    float FStrength = 1.0f;
    int32_t FHashCode = 0;
    TTokenAction FTag = taAdd;
    // The facts of every level; inline for short chains.
    static constexpr int32_t InlineFacts = 4;
    IFact** FFacts = FInline;
    IFact* FInline[InlineFacts] = {};
};

using TIETokenRef = TRefPtr<TIEToken>;

// The memory of one join input.
class TIETokenTree {
public:
    // One stored token with its links in the arrival list and in its key chain.
    struct TEntry {
        TIETokenRef Token;
        int32_t Key = 0;
        TEntry* Prev = nullptr;
        TEntry* Next = nullptr;
        TEntry* KeyPrev = nullptr;
        TEntry* KeyNext = nullptr;
    };

    // The key of a token: its hash code (useTokenHash); else the fact at tokenIndex: its
    // identifier (empty slotName), the hash code of its slot value (subIndex -1) or of one
    // element of that value read as a list.
    TIETokenTree(int32_t bucketCount, bool useTokenHash, std::string_view slotName,
                 int32_t subIndex, int32_t tokenIndex);
    ~TIETokenTree();
    TIETokenTree(const TIETokenTree&) = delete;
    TIETokenTree& operator=(const TIETokenTree&) = delete;

    // Stores the token unless an equal one is stored (then false).
    bool Add(const TIETokenRef& token);
    // Removes the stored token equal to `token`; false when there is none.
    bool Remove(const TIEToken& token);
    // Removes and returns the stored token equal to `token` (null when none).
    TIETokenRef Extract(const TIEToken& token);
    // The stored token equal to `token`, null when none.
    TIEToken* Find(const TIEToken& token) const;
    // Drops every token; does nothing when already cleared and not added to since.
    void Clear();

    int32_t KeyOf(const TIEToken& token) const;
    // The key of a value as a memory computes it (the value's hash code, 0 without value).
    static int32_t ValueKey(const IIEValue* value) noexcept;
    // The key of the fact's slot value (whole, or element subIndex of a list; 0 when the
    // element is missing). Raises what reading the slot raises.
    static int32_t SlotKey(const IFact& fact, std::string_view slotName, int32_t subIndex);
    // The bucket a key falls in: |key| mod BucketCount, never negative.
    int32_t BucketOf(int32_t key) const noexcept;

    // Walking: every token oldest first, or the tokens of one key oldest first.
    const TEntry* First() const noexcept { return FFirst; }
    const TEntry* FirstWithKey(int32_t key) const noexcept {
        auto it = FChains.find(key);
        return it == FChains.end() ? nullptr : it->second.First;
    }
    template <class F> void ForEach(F&& f) const {
        for (const TEntry* e = FFirst; e;) {
            const TEntry* next = e->Next;
            f(*e->Token);
            e = next;
        }
    }
    template <class F> void ForEachWithKey(int32_t key, F&& f) const {
        for (const TEntry* e = FirstWithKey(key); e;) {
            const TEntry* next = e->KeyNext;
            f(*e->Token);
            e = next;
        }
    }

    int32_t Count() const noexcept { return static_cast<int32_t>(FIdentity.size()); }
    // True after Clear until the next Add.
    bool Empty() const noexcept { return FEmpty; }
    bool UseTokenHash() const noexcept { return FUseTokenHash; }
    const std::string& SlotName() const noexcept { return FSlotName; }
    int32_t SubIndex() const noexcept { return FSubIndex; }
    int32_t BucketCount() const noexcept { return FBucketCount; }
    int32_t TokenIndex() const noexcept { return FTokenIndex; }
    bool AllowNilBucket() const noexcept { return FAllowNilBucket; }
    void SetAllowNilBucket(bool value) noexcept { FAllowNilBucket = value; }

    // For every bucket that was ever used, in bucket order: the text of each of its tokens,
    // then CR LF.
    std::string GetText() const;
    // The fact-identifier list of each token; CR LF after every non-empty bucket.
    std::string GetFactIdText() const;

private:
    struct TChain {
        TEntry* First = nullptr;
        TEntry* Last = nullptr;
    };
    struct TIdentityHash {
        using is_transparent = void;
        size_t operator()(const TEntry* e) const noexcept { return e->Token->IdentityHash(); }
        size_t operator()(const TIEToken* t) const noexcept { return t->IdentityHash(); }
    };
    struct TIdentityEqual {
        using is_transparent = void;
        // (new, stored): a stored token decides whether it equals the one looked for.
        bool operator()(const TEntry* a, const TEntry* b) const noexcept {
            return b->Token->Equals(*a->Token);
        }
        bool operator()(const TIEToken* a, const TEntry* b) const noexcept {
            return b->Token->Equals(*a);
        }
        bool operator()(const TEntry* a, const TIEToken* b) const noexcept {
            return a->Token->Equals(*b);
        }
    };

    void MarkBucket(int32_t key);
    void Unlink(TEntry* e) noexcept;
    // The stored tokens grouped by bucket (bucket order, then arrival order).
    std::vector<std::vector<const TIEToken*>> Buckets() const;

    bool FUseTokenHash;
    std::string FSlotName;
    int32_t FSubIndex;
    int32_t FBucketCount;
    int32_t FTokenIndex;
    bool FAllowNilBucket = true;
    bool FEmpty = true;
    TEntry* FFirst = nullptr;
    TEntry* FLast = nullptr;
    std::unordered_set<TEntry*, TIdentityHash, TIdentityEqual> FIdentity;
    std::unordered_map<int32_t, TChain> FChains;
    // Buckets used since the memory was made (their lines stay in the text after Clear).
    std::vector<bool> FBucketUsed;
};

} // namespace ie
