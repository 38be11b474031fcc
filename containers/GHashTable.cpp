// The chained hash tables: the four hash methods, growth, unlinking, the indexed cursor and the
// enumerators, for integer, text and interface keys. Freeing detaches the buckets before deleting
// any entry, since an entry's value may be released into code that looks at this table again;
// every change that could shift the indexes at or before the cursor drops it.
#include "containers/GHashTable.h"

#include "containers/GLists.h"
#include "containers/Structures.h"
#include "platform/Format.h"

#include <cmath>
#include <limits>

namespace ie {

namespace {

// Decimal digits of a non-negative number, most significant first.
int Digits(uint64_t v, char* out) {
    char tmp[24];
    int n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    for (int i = 0; i < n; ++i)
        out[i] = tmp[n - 1 - i];
    return n;
}

uint64_t ReadDigits(const char* s, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v * 10 + static_cast<uint64_t>(s[i] - '0');
    return v;
}

int DigitCount(uint32_t v) {
    char buf[24];
    return Digits(v, buf);
}

// Growth stops before the bucket count could overflow.
constexpr uint32_t MaxGrowableCapacity = 0x3FFFFFFF;

} // namespace

// ---------------------------------------------------------------- hash methods

uint32_t TGCustomHashtable::Division(int32_t key, uint32_t capacity) {
    return (static_cast<uint32_t>(key) & 0x7FFFFFFFu) % capacity;
}

uint32_t TGCustomHashtable::Truncation(int32_t key, uint32_t capacity) {
    char s[24];
    int n = Digits(static_cast<uint32_t>(key) & 0x7FFFFFFFu, s);
    int d = DigitCount(capacity);
    uint64_t v = d < n ? ReadDigits(s + (n - d), d) : ReadDigits(s, n);
    return static_cast<uint32_t>(v % capacity);
}

uint32_t TGCustomHashtable::MidSquare(int32_t key, uint32_t capacity) {
    uint32_t sq = static_cast<uint32_t>(key) * static_cast<uint32_t>(key);
    char s[24];
    int n = Digits(sq & 0x7FFFFFFFu, s);
    int d = DigitCount(capacity);
    uint64_t v = d < n / 2 ? ReadDigits(s + (n - n / 2), d) : ReadDigits(s, n);
    return static_cast<uint32_t>(v % capacity);
}

uint32_t TGCustomHashtable::Folding(int32_t key, uint32_t capacity) {
    char s[24];
    int n = Digits(static_cast<uint32_t>(key) & 0x7FFFFFFFu, s);
    uint64_t v = static_cast<uint64_t>(s[0] - '0');
    for (int p = 0; p < n; ++p)
        if (p % 2 == 0 || p % 3 == 0) v = v * 10 + static_cast<uint64_t>(s[p] - '0');
    return static_cast<uint32_t>(v % capacity);
}

uint32_t TGCustomHashtable::BucketOf(int32_t key, uint32_t capacity) const {
    switch (FHashType) {
    case htTruncation:
        return Truncation(key, capacity);
    case htMidSquare:
        return MidSquare(key, capacity);
    case htFolding:
        return Folding(key, capacity);
    case htDivision:
        break;
    }
    return Division(key, capacity);
}

uint32_t TGCustomHashtable::Hash(int32_t key, uint32_t capacity) const {
    if (key == 0) RaiseNull();
    if (capacity == 0) throw EGHashtableError("Subscript out of range");
    return BucketOf(key, capacity);
}

// ---------------------------------------------------------------- core

void TGCustomHashtable::RaiseNull() {
    throw EGHashtableError("Argument is null");
}
void TGCustomHashtable::RaiseEmpty() {
    throw EGHashtableError("Table is empty");
}
void TGCustomHashtable::RaiseNoSuchElement() {
    throw EGHashtableError("No such element");
}

TGCustomHashtable::TGCustomHashtable(uint32_t capacity, float loadFactor)
    : FCapacity(capacity), FLoadFactor(loadFactor) {}

TGCustomHashtable::~TGCustomHashtable() {
    OnChange = nullptr;
    FreeAll();
}

void TGCustomHashtable::FreeAll() {
    DropCursor();
    if (!FBuckets) return;
    // Detach first: freeing an entry may release an object that looks at this table again.
    std::unique_ptr<TGHashtableEntry*[]> buckets = std::move(FBuckets);
    uint32_t capacity = FCapacity;
    FCount = 0;
    FCollisions = 0;
    FBuckets = nullptr;
    for (uint32_t b = capacity; b-- > 0;) {
        TGHashtableEntry* e = buckets[b];
        while (e) {
            TGHashtableEntry* next = e->FNext;
            delete e;
            e = next;
        }
    }
}

void TGCustomHashtable::Clear() {
    if (FCount == 0) return;
    if (FOwner) FOwner->BeforeClear(*this);
    FreeAll();
    ReportChange();
}

void TGCustomHashtable::EndUpdate() {
    if (FUpdateCount > 0) --FUpdateCount;
    if (FUpdateCount == 0) ReportChange();
}

void TGCustomHashtable::ReportChange() {
    if (FUpdateCount >= 1) return;
    if (FOwner) FOwner->HashTableChanged(*this);
    if (OnChange) OnChange(*this);
}

void TGCustomHashtable::SetHashType(TGHashType value) {
    if (value == FHashType) return;
    if (FCount > 0) throw EGHashtableError("Cannot perform this operation with non-empty table");
    FHashType = value;
}

void TGCustomHashtable::SetCapacity(uint32_t value) {
    DropCursor();
    if (value == FCapacity) return;
    if (value == 0 || FCount == 0) {
        // Nothing to re-file (or everything to free): buckets are allocated on demand.
        FreeAll();
        FCapacity = value;
        return;
    }
    std::unique_ptr<TGHashtableEntry*[]> fresh(new TGHashtableEntry*[value]());
    uint32_t collisions = 0;
    for (uint32_t b = FCapacity; b-- > 0;) {
        TGHashtableEntry* e = FBuckets[b];
        while (e) {
            TGHashtableEntry* next = e->FNext;
            uint32_t nb = BucketOf(e->FKey, value);
            if (fresh[nb]) ++collisions;
            e->FBucket = nb;
            e->FNext = fresh[nb];
            fresh[nb] = e;
            e = next;
        }
    }
    FBuckets = std::move(fresh);
    FCapacity = value;
    FCollisions = collisions;
}

int64_t TGCustomHashtable::Threshold() const {
    // Round half to even, as the table has always rounded.
    return static_cast<int64_t>(
        std::nearbyint(static_cast<double>(FCapacity) * static_cast<double>(FLoadFactor)));
}

bool TGCustomHashtable::CanGrow() const {
    return FLoadFactor > 0.0f && FCapacity <= MaxGrowableCapacity;
}

uint32_t TGCustomHashtable::PrepareInsert(int32_t key) {
    // A table without buckets grows to one at least, so no key is ever divided by zero.
    while (FCapacity == 0 || (Threshold() <= FCount && CanGrow()))
        SetCapacity(2 * FCapacity + 1);
    if (!FBuckets) FBuckets.reset(new TGHashtableEntry*[FCapacity]());
    return BucketOf(key, FCapacity);
}

void TGCustomHashtable::LinkNew(TGHashtableEntry* entry, uint32_t bucket) {
    TGHashtableEntry*& head = FBuckets[bucket];
    if (head) ++FCollisions;
    entry->FBucket = bucket;
    entry->FNext = head;
    head = entry;
    ++FCount;
    // The new head shifts the index of every entry of its own bucket and the later ones.
    if (FCursorIndex >= 0 && FCursorBucket >= bucket) DropCursor();
    ReportChange();
}

void TGCustomHashtable::Unlink(TGHashtableEntry* entry, TGHashtableEntry* prev) {
    const uint32_t b = entry->FBucket;
    bool keepCursor = FCursorIndex >= 1 && FCount >= 2 && entry == FCursorEntry;
    if (keepCursor) {
        // Step the cursor back to the entry just before the removed one in index order.
        if (prev) {
            FCursorEntry = prev;
        } else {
            uint32_t pb = b;
            TGHashtableEntry* last = nullptr;
            while (pb > 0 && !last)
                last = FBuckets[--pb];
            if (!last) {
                keepCursor = false;
            } else {
                while (last->FNext)
                    last = last->FNext;
                FCursorEntry = last;
                FCursorBucket = pb;
            }
        }
        if (keepCursor) --FCursorIndex;
    }
    if (!keepCursor) DropCursor();
    if (prev)
        prev->FNext = entry->FNext;
    else
        FBuckets[b] = entry->FNext;
    if (FBuckets[b] && FCollisions > 0) --FCollisions;
    entry->FNext = nullptr;
    --FCount;
}

bool TGCustomHashtable::ContainsValue(const void* value) const {
    if (FCount == 0) return false;
    for (uint32_t b = FCapacity; b-- > 0;)
        for (TGHashtableEntry* e = FBuckets[b]; e; e = e->FNext)
            if (e->FValue == value) return true;
    return false;
}

TGHashtableEntry& TGCustomHashtable::EntryAt(int32_t index) const {
    if (index < 0 || index >= FCount)
        throw EListError(Format("List index out of bounds (%d)", index));
    auto firstFrom = [this](uint32_t b, uint32_t& outBucket) -> TGHashtableEntry* {
        for (; b < FCapacity; ++b)
            if (FBuckets[b]) {
                outBucket = b;
                return FBuckets[b];
            }
        return nullptr;
    };
    if (FCursorIndex >= 0) {
        if (index == FCursorIndex) return *FCursorEntry;
        if (index == FCursorIndex - 1) {
            TGHashtableEntry* head = FBuckets[FCursorBucket];
            if (head != FCursorEntry) {
                TGHashtableEntry* p = head;
                while (p->FNext != FCursorEntry)
                    p = p->FNext;
                FCursorEntry = p;
            } else {
                uint32_t b = FCursorBucket;
                TGHashtableEntry* last = nullptr;
                while (!last)
                    last = FBuckets[--b];
                while (last->FNext)
                    last = last->FNext;
                FCursorEntry = last;
                FCursorBucket = b;
            }
            FCursorIndex = index;
            return *FCursorEntry;
        }
    }
    if (FCursorIndex < 0 || index < FCursorIndex) {
        FCursorEntry = firstFrom(0, FCursorBucket);
        FCursorIndex = 0;
    }
    while (FCursorIndex < index) {
        if (FCursorEntry->FNext)
            FCursorEntry = FCursorEntry->FNext;
        else
            FCursorEntry = firstFrom(FCursorBucket + 1, FCursorBucket);
        ++FCursorIndex;
    }
    return *FCursorEntry;
}

void TGCustomHashtable::AssignShape(const TGCustomHashtable& source) {
    Clear();
    FLoadFactor = source.FLoadFactor;
    SetCapacity(source.FCapacity);
    SetHashType(source.FHashType);
}

// ---------------------------------------------------------------- enumerators

TGHashtableEnumerator::TGHashtableEnumerator(const TGCustomHashtable& table, TMode mode)
    : FTable(table), FMode(mode) {
    Reset();
}

void TGHashtableEnumerator::Reset() {
    FBucket = FTable.Buckets() ? FTable.Capacity() : 0;
    FPending = nullptr;
    FCurrent = nullptr;
    FRemaining = FTable.Count();
}

bool TGHashtableEnumerator::HasNext() {
    if (FPending) return true;
    TGHashtableEntry* const* buckets = FTable.Buckets();
    while (FBucket > 0) {
        FPending = buckets[--FBucket];
        if (FPending) return true;
    }
    return false;
}

TGHashtableEntry* TGHashtableEnumerator::Advance() {
    if (!HasNext()) throw EGHashtableError("No such element");
    FCurrent = FPending;
    FPending = FPending->Next();
    --FRemaining;
    return FCurrent;
}

TGHashtableEntry* TGHashtableEnumerator::CurrentEntry() const {
    if (!FCurrent) throw EGHashtableError("No such element");
    return FCurrent;
}

void* TGHashtableEnumerator::Current() const {
    TGHashtableEntry* e = CurrentEntry();
    if (FMode != emKeys) return e->Value();
    if (auto* s = dynamic_cast<TGStringHashtableEntry*>(e))
        return const_cast<std::string*>(&s->Key());
    return reinterpret_cast<void*>(static_cast<intptr_t>(e->IntKey()));
}

void* TGHashtableEnumerator::Next() {
    Advance();
    return Current();
}

const std::string& TGStringHashTableEnumerator::CurrentString() const {
    if (Mode() == emValues)
        throw EGHashtableError("Illegal NextElement Call, must be iterating over the keys");
    return static_cast<TGStringHashtableEntry*>(CurrentEntry())->Key();
}

const std::string& TGStringHashTableEnumerator::NextString() {
    if (Mode() == emValues)
        throw EGHashtableError("Illegal NextElement Call, must be iterating over the keys");
    return static_cast<TGStringHashtableEntry*>(Advance())->Key();
}

TRefPtr<IInterface> TIStringHashtableEnumerator::CurrentInterface() const {
    return static_cast<TIStringHashtableEntry*>(CurrentEntry())->Intf();
}

TRefPtr<IInterface> TIStringHashtableEnumerator::NextInterface() {
    return static_cast<TIStringHashtableEntry*>(Advance())->Intf();
}

// ---------------------------------------------------------------- integer keys

TGHashtableEntry* TGHashtable::FindEntry(int32_t key) const {
    if (Count() == 0) return nullptr;
    uint32_t b = Hash(key, Capacity());
    for (TGHashtableEntry* e = Buckets()[b]; e; e = e->FNext)
        if (e->FBucket == b && e->FKey == key) return e;
    return nullptr;
}

void* TGHashtable::Get(int32_t key) const {
    if (Count() == 0) RaiseEmpty();
    TGHashtableEntry* e = FindEntry(key);
    if (!e) RaiseNoSuchElement();
    return e->FValue;
}

bool TGHashtable::FindValue(int32_t key, void*& value) const {
    TGHashtableEntry* e = FindEntry(key);
    if (!e) return false;
    value = e->FValue;
    return true;
}

void* TGHashtable::Put(int32_t key, void* value) {
    if (key == 0) RaiseNull();
    NotifyBeforePut(TGHashKey{key, {}}, value);
    if (TGHashtableEntry* e = FindEntry(key)) {
        void* old = e->FValue;
        e->FValue = value;
        ReportChange();
        return old;
    }
    uint32_t b = PrepareInsert(key);
    LinkNew(new TGHashtableEntry(key, value), b);
    return nullptr;
}

void* TGHashtable::Remove(int32_t key) {
    if (Count() == 0) RaiseEmpty();
    if (key == 0) RaiseNull();
    NotifyBeforeRemove(TGHashKey{key, {}});
    uint32_t b = Hash(key, Capacity());
    TGHashtableEntry* prev = nullptr;
    TGHashtableEntry* e = Buckets()[b];
    while (e && !(e->FBucket == b && e->FKey == key)) {
        prev = e;
        e = e->FNext;
    }
    if (!e) RaiseNoSuchElement();
    void* value = e->FValue;
    Unlink(e, prev);
    delete e;
    ReportChange();
    return value;
}

TRefPtr<IIterator> TGHashtable::Keys() const {
    return TRefPtr<IIterator>(new TGHashtableEnumerator(*this, TGHashtableEnumerator::emKeys));
}

TRefPtr<IIterator> TGHashtable::Elements() const {
    return TRefPtr<IIterator>(new TGHashtableEnumerator(*this, TGHashtableEnumerator::emValues));
}

void TGHashtable::Assign(const TGHashtable& source) {
    if (&source == this) return;
    AssignShape(source);
    WithinUpdate(*this, [&] {
        for (const TGHashtableEntry& e : source)
            Put(e.IntKey(), e.Value());
    });
}

// ---------------------------------------------------------------- text keys

uint32_t TGCustomStringHashtable::HashText(std::string_view key) {
    uint32_t h = 0;
    const size_t n = key.size();
    if (n < 16) {
        for (unsigned char c : key)
            h = h * 37u + c;
    } else {
        const size_t step = n / 8;
        for (size_t i = 0; i < n; i += step)
            h = h * 39u + static_cast<unsigned char>(key[i]);
    }
    return h;
}

TGStringHashtableEntry* TGCustomStringHashtable::FindEntry(std::string_view key) const {
    if (Count() == 0) return nullptr;
    if (key.empty()) RaiseNull();
    const int32_t h = static_cast<int32_t>(HashText(key));
    const uint32_t b = BucketOf(h, Capacity());
    for (TGHashtableEntry* e = Buckets()[b]; e; e = e->Next()) {
        auto* s = static_cast<TGStringHashtableEntry*>(e);
        if (s->IntKey() == h && s->Key() == key) return s;
    }
    return nullptr;
}

TGStringHashtableEntry* TGCustomStringHashtable::FindForRemove(std::string_view key,
                                                               TGHashtableEntry*& prev) {
    if (Count() == 0) RaiseEmpty();
    if (key.empty()) RaiseNull();
    const int32_t h = static_cast<int32_t>(HashText(key));
    const uint32_t b = BucketOf(h, Capacity());
    prev = nullptr;
    for (TGHashtableEntry* e = Buckets()[b]; e; prev = e, e = e->Next()) {
        auto* s = static_cast<TGStringHashtableEntry*>(e);
        if (s->IntKey() == h && s->Key() == key) return s;
    }
    return nullptr;
}

TRefPtr<IStringIterator> TGCustomStringHashtable::Keys() const {
    return TRefPtr<IStringIterator>(
        new TGStringHashTableEnumerator(*this, TGHashtableEnumerator::emKeys));
}

void TGCustomStringHashtable::AssignTo(TStrings& target) const {
    WithinUpdate(target, [&] {
        target.Clear();
        for (const auto& e : Range<TGStringHashtableEntry>())
            target.AddObject(e.Key(), static_cast<TObject*>(e.Value()));
    });
}

void TGCustomStringHashtable::AssignTo(TGCustomLinkedList& target) const {
    WithinUpdate(target, [&] {
        for (const auto& e : Range<TGStringHashtableEntry>())
            target.AddItem(const_cast<std::string*>(&e.Key()));
    });
}

void* TGStringHashtable::Get(std::string_view key) const {
    if (Count() == 0) RaiseEmpty();
    TGStringHashtableEntry* e = FindEntry(key);
    if (!e) RaiseNoSuchElement();
    return e->Value();
}

bool TGStringHashtable::Find(std::string_view key, void*& value) const {
    TGStringHashtableEntry* e = FindEntry(key);
    if (!e) return false;
    value = e->Value();
    return true;
}

void* TGStringHashtable::Put(std::string_view key, void* value) {
    if (key.empty()) RaiseNull();
    const int32_t h = static_cast<int32_t>(HashText(key));
    NotifyBeforePut(TGHashKey{h, key}, value);
    if (TGStringHashtableEntry* e = FindEntry(key)) {
        void* old = e->FValue;
        e->FValue = value;
        ReportChange();
        return old;
    }
    uint32_t b = PrepareInsert(h);
    LinkNew(new TGStringHashtableEntry(h, key, value), b);
    return nullptr;
}

void* TGStringHashtable::Remove(std::string_view key) {
    TGHashtableEntry* prev = nullptr;
    if (Count() == 0) RaiseEmpty();
    if (key.empty()) RaiseNull();
    NotifyBeforeRemove(TGHashKey{static_cast<int32_t>(HashText(key)), key});
    TGStringHashtableEntry* e = FindForRemove(key, prev);
    if (!e) RaiseNoSuchElement();
    void* value = e->Value();
    Unlink(e, prev);
    delete e;
    ReportChange();
    return value;
}

TRefPtr<IIterator> TGStringHashtable::Elements() const {
    return TRefPtr<IIterator>(
        new TGStringHashTableEnumerator(*this, TGHashtableEnumerator::emValues));
}

void TGStringHashtable::Assign(const TGStringHashtable& source) {
    if (&source == this) return;
    AssignShape(source);
    WithinUpdate(*this, [&] {
        for (const TGStringHashtableEntry& e : source)
            Put(e.Key(), e.Value());
    });
}

void TGStringHashtable::Assign(const TStrings& source) {
    WithinUpdate(*this, [&] {
        Clear();
        for (int32_t i = 0; i < source.Count(); ++i)
            Put(source.Get(i), source.GetObject(i));
    });
}

// ---------------------------------------------------------------- text to interface

TIStringHashTable::~TIStringHashTable() = default;

TRefPtr<IInterface> TIStringHashTable::Get(std::string_view key) const {
    if (Count() == 0) RaiseEmpty();
    TGStringHashtableEntry* e = FindEntry(key);
    if (!e) throw EGHashtableError(Format("No such element: %s", key));
    return static_cast<TIStringHashtableEntry*>(e)->FIntf;
}

bool TIStringHashTable::Find(std::string_view key, TRefPtr<IInterface>& value) const {
    TGStringHashtableEntry* e = FindEntry(key);
    if (!e) return false;
    value = static_cast<TIStringHashtableEntry*>(e)->FIntf;
    return true;
}

TRefPtr<IInterface> TIStringHashTable::PutEntry(std::string_view key, TRefPtr<IInterface> value) {
    if (key.empty()) RaiseNull();
    const int32_t h = static_cast<int32_t>(HashText(key));
    NotifyBeforePut(TGHashKey{h, key}, value.get());
    if (TGStringHashtableEntry* s = FindEntry(key)) {
        auto* e = static_cast<TIStringHashtableEntry*>(s);
        e->FValue = value.get();
        TRefPtr<IInterface> old = std::exchange(e->FIntf, std::move(value));
        ReportChange();
        return old;
    }
    uint32_t b = PrepareInsert(h);
    LinkNew(new TIStringHashtableEntry(h, key, std::move(value)), b);
    return nullptr;
}

TRefPtr<IInterface> TIStringHashTable::Remove(std::string_view key) {
    if (Count() == 0) RaiseEmpty();
    if (key.empty()) RaiseNull();
    NotifyBeforeRemove(TGHashKey{static_cast<int32_t>(HashText(key)), key});
    TGHashtableEntry* prev = nullptr;
    TGStringHashtableEntry* s = FindForRemove(key, prev);
    if (!s) throw EGHashtableError(Format("No such element: %s", key));
    auto* e = static_cast<TIStringHashtableEntry*>(s);
    TRefPtr<IInterface> value = std::move(e->FIntf);
    Unlink(e, prev);
    delete e;
    ReportChange();
    return value;
}

TRefPtr<TIStringHashtableEnumerator> TIStringHashTable::Keys() const {
    return TRefPtr<TIStringHashtableEnumerator>(new TIStringHashtableEnumerator(*this));
}

void TIStringHashTable::Assign(const TIStringHashTable& source) {
    if (&source == this) return;
    // Clear first: the hash method can only change on an empty table.
    AssignShape(source);
    WithinUpdate(*this, [&] {
        for (const TIStringHashtableEntry& e : source)
            PutEntry(e.Key(), e.Intf());
    });
}

} // namespace ie
