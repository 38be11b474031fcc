// Chained hash tables: every named table of the engine (bindings, slots, rules, templates,
// functions, streams, fuzzy sets) stands on these.
//
// Layout and invariants:
// - `Capacity` buckets, each a singly linked chain; a new key is pushed at the head of its
//   chain. The bucket array is allocated on the first insertion, so an empty table costs nothing.
// - Every entry stores the bucket it was filed under and its integer key (for text keys, the
//   text's 32-bit hash), so growing re-files entries without rehashing texts.
// - A new key arriving when Count has reached Round(Capacity * LoadFactor) first grows the table
//   to 2 * Capacity + 1 buckets (101 -> 203 at the 77th key with load factor 0.75).
// - Enumeration (iterators, range-for, Keys/Elements, Assign) runs from the last bucket down to
//   bucket 0, each chain from its head (newest) to its tail. This order shows in saved engine
//   text, so it must not change.
// - Indexed access (EntryAt) numbers entries from bucket 0 upward, each chain head to tail; a
//   cursor caches the last index so a forward or backward walk is O(1) per step. Any change that
//   could shift indexes at or before the cursor drops it.
#pragma once

#include "containers/CommonInterfaces.h"
#include "platform/Exceptions.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace ie {

class TStrings;
class TGCustomLinkedList;

class EGHashtableError : public EException {
public:
    using EException::EException;
};

enum TGHashType : uint8_t { htTruncation, htDivision, htMidSquare, htFolding };

// One entry of a chain. Integer tables use it as is; text tables add the text.
class TGHashtableEntry {
public:
    TGHashtableEntry(int32_t key, void* value) : FKey(key), FValue(value) {}
    TGHashtableEntry(const TGHashtableEntry&) = delete;
    TGHashtableEntry& operator=(const TGHashtableEntry&) = delete;
    virtual ~TGHashtableEntry() = default;

    int32_t IntKey() const { return FKey; }
    void* Value() const { return FValue; }
    uint32_t Bucket() const { return FBucket; }
    TGHashtableEntry* Next() const { return FNext; }

private:
    friend class TGCustomHashtable;
    friend class TGCustomStringHashtable;
    friend class TGHashtable;
    friend class TGStringHashtable;
    friend class TIStringHashTable;
    uint32_t FBucket = 0;
    int32_t FKey;
    void* FValue;
    TGHashtableEntry* FNext = nullptr;
};

class TGStringHashtableEntry : public TGHashtableEntry {
public:
    TGStringHashtableEntry(int32_t hash, std::string_view key, void* value)
        : TGHashtableEntry(hash, value), FText(key) {}
    const std::string& Key() const { return FText; }
    TGStringHashtableEntry* Next() const {
        return static_cast<TGStringHashtableEntry*>(TGHashtableEntry::Next());
    }

private:
    std::string FText;
};

// The interface is retained while stored; Value() gives the same object as a raw pointer.
class TIStringHashtableEntry : public TGStringHashtableEntry {
public:
    TIStringHashtableEntry(int32_t hash, std::string_view key, TRefPtr<IInterface> value)
        : TGStringHashtableEntry(hash, key, value.get()), FIntf(std::move(value)) {}
    const TRefPtr<IInterface>& Intf() const { return FIntf; }
    TIStringHashtableEntry* Next() const {
        return static_cast<TIStringHashtableEntry*>(TGHashtableEntry::Next());
    }

private:
    friend class TIStringHashTable;
    TRefPtr<IInterface> FIntf;
};

// Walks entries in enumeration order: buckets from the last down, chains head to tail.
template <class E> class TGHashIterator {
public:
    TGHashIterator() = default;
    TGHashIterator(TGHashtableEntry* const* buckets, uint32_t capacity)
        : FBuckets(buckets), FBucket(capacity) {
        if (FBuckets) SeekBucket();
    }
    E& operator*() const { return *static_cast<E*>(FEntry); }
    E* operator->() const { return static_cast<E*>(FEntry); }
    TGHashIterator& operator++() {
        FEntry = FEntry->Next();
        if (!FEntry) SeekBucket();
        return *this;
    }
    bool operator==(const TGHashIterator& other) const { return FEntry == other.FEntry; }

private:
    void SeekBucket() {
        while (FBucket > 0) {
            FEntry = FBuckets[--FBucket];
            if (FEntry) return;
        }
        FEntry = nullptr;
    }
    TGHashtableEntry* const* FBuckets = nullptr;
    uint32_t FBucket = 0;
    TGHashtableEntry* FEntry = nullptr;
};

template <class E> class TGHashRange {
public:
    TGHashRange(TGHashtableEntry* const* buckets, uint32_t capacity)
        : FBuckets(buckets), FCapacity(capacity) {}
    TGHashIterator<E> begin() const { return TGHashIterator<E>(FBuckets, FCapacity); }
    TGHashIterator<E> end() const { return TGHashIterator<E>(); }

private:
    TGHashtableEntry* const* FBuckets;
    uint32_t FCapacity;
};

// The chaining core shared by every table: buckets, growth, change reporting, the indexed
// cursor. Key-typed operations live in the derived tables.
class TGCustomHashtable {
public:
    using TChangeEvent = std::function<void(TGCustomHashtable& sender)>;

    explicit TGCustomHashtable(uint32_t capacity = 101, float loadFactor = 0.75f);
    TGCustomHashtable(const TGCustomHashtable&) = delete;
    TGCustomHashtable& operator=(const TGCustomHashtable&) = delete;
    // Frees every entry without telling the owner, which is letting go of this table. Derived
    // tables that free their values do so in their own destructor.
    virtual ~TGCustomHashtable();

    int32_t Count() const { return FCount; }
    bool IsEmpty() const { return FCount == 0; }
    uint32_t Capacity() const { return FCapacity; }
    // Re-files every entry into `value` buckets; 0 frees every entry.
    void SetCapacity(uint32_t value);
    TGHashType HashType() const { return FHashType; }
    // "Cannot perform this operation with non-empty table" when changing the method of a table
    // that holds entries.
    void SetHashType(TGHashType value);
    float LoadFactor() const { return FLoadFactor; }
    // Any value is stored; a load factor that is not positive stops growth instead of growing
    // without end.
    void SetLoadFactor(float value) { FLoadFactor = value; }
    // Entries that were pushed onto a non-empty bucket.
    uint32_t Collisions() const { return FCollisions; }

    IHashTableOwner* Owner() const { return FOwner; }
    void SetOwner(IHashTableOwner* owner) { FOwner = owner; }
    TChangeEvent OnChange;

    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    virtual void Clear();

    bool ContainsValue(const void* value) const;

    // The bucket of an integer key: "Argument is null" for 0, else the current hash method.
    uint32_t Hash(int32_t key, uint32_t capacity) const;
    static uint32_t Division(int32_t key, uint32_t capacity);
    static uint32_t Truncation(int32_t key, uint32_t capacity);
    static uint32_t MidSquare(int32_t key, uint32_t capacity);
    static uint32_t Folding(int32_t key, uint32_t capacity);

    // The entry at `index` in bucket order ("List index out of bounds (%d)").
    TGHashtableEntry& EntryAt(int32_t index) const;
    void* ValueAt(int32_t index) const { return EntryAt(index).Value(); }

    // Read access for enumerators: nullptr while nothing was ever inserted.
    TGHashtableEntry* const* Buckets() const { return FBuckets.get(); }

protected:
    [[noreturn]] static void RaiseNull();
    [[noreturn]] static void RaiseEmpty();
    [[noreturn]] static void RaiseNoSuchElement();

    uint32_t BucketOf(int32_t key, uint32_t capacity) const;
    // Grows the table until a new key fits and returns the bucket for `key`.
    uint32_t PrepareInsert(int32_t key);
    // Pushes a new entry at the head of `bucket` and reports the change.
    void LinkNew(TGHashtableEntry* entry, uint32_t bucket);
    // Unlinks `entry` (whose chain predecessor is `prev`); the caller frees it and reports.
    void Unlink(TGHashtableEntry* entry, TGHashtableEntry* prev);
    void ReportChange();
    // Clears and takes load factor, capacity and hash method of `source`.
    void AssignShape(const TGCustomHashtable& source);
    void NotifyBeforePut(const TGHashKey& key, const void* value) {
        if (FOwner) FOwner->BeforePut(*this, key, value);
    }
    void NotifyBeforeRemove(const TGHashKey& key) {
        if (FOwner) FOwner->BeforeRemove(*this, key);
    }
    template <class E> TGHashRange<E> Range() const {
        return TGHashRange<E>(FBuckets.get(), FBuckets ? FCapacity : 0);
    }

private:
    void FreeAll();
    void DropCursor() const { FCursorIndex = -1; }
    bool CanGrow() const;
    int64_t Threshold() const;

    std::unique_ptr<TGHashtableEntry*[]> FBuckets;
    uint32_t FCapacity;
    int32_t FCount = 0;
    uint32_t FCollisions = 0;
    float FLoadFactor;
    TGHashType FHashType = htDivision;
    int32_t FUpdateCount = 0;
    IHashTableOwner* FOwner = nullptr;
    mutable int32_t FCursorIndex = -1;
    mutable uint32_t FCursorBucket = 0;
    mutable TGHashtableEntry* FCursorEntry = nullptr;
};

// Walks a table's keys or values in enumeration order. It refers to the table without holding
// it: use it while the table lives and does not change.
class TGHashtableEnumerator : public virtual IIterator {
public:
    enum TMode : uint8_t { emKeys, emValues, emEntries };
    TGHashtableEnumerator(const TGCustomHashtable& table, TMode mode);

    void* Current() const override;
    int32_t Remaining() const override { return FRemaining; }
    bool HasNext() override;
    void* Next() override;
    void Reset();

protected:
    TGHashtableEntry* CurrentEntry() const;
    TGHashtableEntry* Advance();
    TMode Mode() const { return FMode; }

private:
    const TGCustomHashtable& FTable;
    TMode FMode;
    uint32_t FBucket = 0;
    int32_t FRemaining = 0;
    TGHashtableEntry* FPending = nullptr;
    TGHashtableEntry* FCurrent = nullptr;
};

// Integer-keyed table; the key 0 is the null key and is refused.
class TGHashtable : public TGCustomHashtable {
public:
    using TGCustomHashtable::TGCustomHashtable;

    // "Table is empty" / "No such element" when the key is missing.
    void* Get(int32_t key) const;
    bool FindValue(int32_t key, void*& value) const;
    TGHashtableEntry* FindEntry(int32_t key) const;
    bool ContainsKey(int32_t key) const { return key != 0 && FindEntry(key) != nullptr; }
    // Stores `value` under `key`; returns the replaced value or nullptr for a new key.
    virtual void* Put(int32_t key, void* value);
    virtual void* Remove(int32_t key);

    void* GetValue(int32_t key) const { return Get(key); }
    void SetValue(int32_t key, void* value) { Put(key, value); }
    void Delete(int32_t key) { Remove(key); }

    int32_t KeyAt(int32_t index) const { return EntryAt(index).IntKey(); }
    TRefPtr<IIterator> Keys() const;
    TRefPtr<IIterator> Elements() const;
    void Assign(const TGHashtable& source);

    TGHashIterator<TGHashtableEntry> begin() const { return Range<TGHashtableEntry>().begin(); }
    TGHashIterator<TGHashtableEntry> end() const { return {}; }
};

// The same table whose values are plain integers.
class TGHashIntTable : public TGHashtable {
public:
    using TGHashtable::TGHashtable;
    intptr_t GetInt(int32_t key) const { return reinterpret_cast<intptr_t>(Get(key)); }
    void PutInt(int32_t key, intptr_t value) { Put(key, reinterpret_cast<void*>(value)); }
};

// The text-keyed core shared by the pointer-valued and the interface-valued tables. The empty
// text is the null key. Lookups take string_view and allocate nothing.
class TGCustomStringHashtable : public TGCustomHashtable {
public:
    using TGCustomHashtable::TGCustomHashtable;

    // The text's 32-bit hash: h * 37 + code over every byte of a text shorter than 16, else
    // h * 39 + code over the bytes at 0, n/8, 2*(n/8), ...
    static uint32_t HashText(std::string_view key);

    // False for the empty text.
    bool ContainsKey(std::string_view key) const {
        return !key.empty() && FindEntry(key) != nullptr;
    }
    const std::string& KeyAt(int32_t index) const {
        return static_cast<TGStringHashtableEntry&>(EntryAt(index)).Key();
    }
    // A new iterator over the keys, in enumeration order.
    TRefPtr<IStringIterator> Keys() const;

    // nullptr when absent; "Argument is null" for the empty text in a non-empty table.
    TGStringHashtableEntry* FindEntry(std::string_view key) const;

    // Adds each key, in enumeration order, to `target`, with the stored value as the object.
    void AssignTo(TStrings& target) const;
    // Appends a node per key, in enumeration order; the node items point at the stored keys and
    // stay valid while the table keeps the key.
    void AssignTo(TGCustomLinkedList& target) const;

protected:
    // Finds `key`, remembering its chain predecessor; raises "Table is empty", "Argument is
    // null"; returns nullptr when missing.
    TGStringHashtableEntry* FindForRemove(std::string_view key, TGHashtableEntry*& prev);
};

// Text to pointer-sized value.
class TGStringHashtable : public TGCustomStringHashtable {
public:
    using TGCustomStringHashtable::TGCustomStringHashtable;

    // "Table is empty" / "No such element" when the key is missing.
    void* Get(std::string_view key) const;
    bool Find(std::string_view key, void*& value) const;
    // The value under `key`, nullptr when absent (or for the empty text).
    void* FindValue(std::string_view key) const {
        TGStringHashtableEntry* e = key.empty() ? nullptr : FindEntry(key);
        return e ? e->Value() : nullptr;
    }
    template <class T> T* FindAs(std::string_view key) const {
        return static_cast<T*>(FindValue(key));
    }
    // Stores `value` under `key`; returns the replaced value or nullptr for a new key.
    virtual void* Put(std::string_view key, void* value);
    // "Table is empty", "Argument is null", "No such element"; returns the removed value.
    virtual void* Remove(std::string_view key);

    void* GetValue(std::string_view key) const { return Get(key); }
    void SetValue(std::string_view key, void* value) { Put(key, value); }
    void Delete(std::string_view key) { Remove(key); }

    TRefPtr<IIterator> Elements() const;
    void Assign(const TGStringHashtable& source);
    // Clears, then puts each string of `source` with its object as the value.
    void Assign(const TStrings& source);
    using TGCustomStringHashtable::AssignTo;

    TGHashIterator<TGStringHashtableEntry> begin() const {
        return Range<TGStringHashtableEntry>().begin();
    }
    TGHashIterator<TGStringHashtableEntry> end() const { return {}; }
};

class TIStringHashtableEnumerator;

// Text to reference-counted interface.
class TIStringHashTable : public TGCustomStringHashtable {
public:
    using TGCustomStringHashtable::TGCustomStringHashtable;
    ~TIStringHashTable() override;

    // "Table is empty" / "No such element: <key>" when the key is missing.
    TRefPtr<IInterface> Get(std::string_view key) const;
    bool Find(std::string_view key, TRefPtr<IInterface>& value) const;
    // The stored interface without touching its count; nullptr when absent.
    IInterface* FindPtr(std::string_view key) const {
        TGStringHashtableEntry* e = key.empty() ? nullptr : FindEntry(key);
        return e ? static_cast<TIStringHashtableEntry*>(e)->FIntf.get() : nullptr;
    }
    template <class T> TRefPtr<T> FindAs(std::string_view key) const {
        return TRefPtr<T>(dynamic_cast<T*>(FindPtr(key)));
    }

    // Stores `value` under `key`; `old` receives the replaced interface, nullptr for a new key.
    void Put(std::string_view key, TRefPtr<IInterface> value, TRefPtr<IInterface>& old) {
        old = PutEntry(key, std::move(value));
    }
    virtual TRefPtr<IInterface> PutEntry(std::string_view key, TRefPtr<IInterface> value);
    void Add(std::string_view key, TRefPtr<IInterface> value) { PutEntry(key, std::move(value)); }
    // "Table is empty", "Argument is null", "No such element: <key>"; returns the removed one.
    virtual TRefPtr<IInterface> Remove(std::string_view key);

    const TRefPtr<IInterface>& InterfaceAt(int32_t index) const {
        return static_cast<TIStringHashtableEntry&>(EntryAt(index)).Intf();
    }
    // A new enumerator of keys (NextString) and interface values (Next / NextInterface).
    TRefPtr<TIStringHashtableEnumerator> Keys() const;
    void Assign(const TIStringHashTable& source);

    TGHashIterator<TIStringHashtableEntry> begin() const {
        return Range<TIStringHashtableEntry>().begin();
    }
    TGHashIterator<TIStringHashtableEntry> end() const { return {}; }
};

// Keys of a text table as IStringIterator, and keys or values as IIterator. Asking a values
// enumerator for a text raises "Illegal NextElement Call, must be iterating over the keys".
class TGStringHashTableEnumerator : public TGHashtableEnumerator, public virtual IStringIterator {
public:
    TGStringHashTableEnumerator(const TGCustomStringHashtable& table, TMode mode)
        : TGHashtableEnumerator(table, mode) {}

    const std::string& CurrentString() const override;
    int32_t Remaining() const override { return TGHashtableEnumerator::Remaining(); }
    bool HasNext() override { return TGHashtableEnumerator::HasNext(); }
    const std::string& NextString() override;
    void Reset() override { TGHashtableEnumerator::Reset(); }
};

// Walks a TIStringHashTable: NextString gives the next key, Next the next interface (as a raw
// pointer), NextInterface the next interface retained.
class TIStringHashtableEnumerator : public TGStringHashTableEnumerator {
public:
    explicit TIStringHashtableEnumerator(const TIStringHashTable& table)
        : TGStringHashTableEnumerator(table, emEntries) {}
    TRefPtr<IInterface> CurrentInterface() const;
    TRefPtr<IInterface> NextInterface();
};

} // namespace ie
