// The four comparison rules (ordinal and dictionary order, each with and without case) and the
// string lists built on them. A sorted list finds insertion points by binary search under its
// current rule, so it stays sorted; every change follows the owner-call, Changing, change, Changed
// protocol, and items are detached from the list before their owned objects are freed.
#include "containers/Structures.h"

#include "platform/Format.h"

#include <array>
#include <utility>

namespace ie {

// ---------------------------------------------------------------- comparison rules

namespace {

// Primary weight of each byte in dictionary order; a letter and its capital share one weight.
struct TRankTable {
    std::array<uint16_t, 256> Rank{};
    TRankTable() {
        uint16_t next = 1;
        for (int c = 0; c < 32; ++c)
            Rank[static_cast<size_t>(c)] = next++;
        for (unsigned char c : std::string_view("'- !\"#$%&()*,./:;?@[\\]^_`{|}~+<=>"))
            Rank[c] = next++;
        for (int c = '0'; c <= '9'; ++c)
            Rank[static_cast<size_t>(c)] = next++;
        for (int c = 'a'; c <= 'z'; ++c) {
            Rank[static_cast<size_t>(c)] = next;
            Rank[static_cast<size_t>(c - 'a' + 'A')] = next++;
        }
        Rank[127] = next++;
        for (int c = 128; c < 256; ++c)
            Rank[static_cast<size_t>(c)] = next++;
    }
};

const TRankTable& Ranks() {
    static const TRankTable table;
    return table;
}

int Sign(int v) {
    return (v > 0) - (v < 0);
}

unsigned char Upper(unsigned char c) {
    return c >= 'a' && c <= 'z' ? c - 32 : c;
}

int ComparePrimary(std::string_view a, std::string_view b) {
    const auto& rank = Ranks().Rank;
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        uint16_t ra = rank[static_cast<unsigned char>(a[i])];
        uint16_t rb = rank[static_cast<unsigned char>(b[i])];
        if (ra != rb) return ra < rb ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

} // namespace

int CompareOrdinal(std::string_view a, std::string_view b) {
    return Sign(a.compare(b));
}

int CompareOrdinalIgnoreCase(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = Upper(static_cast<unsigned char>(a[i]));
        unsigned char cb = Upper(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

int CompareLocaleIgnoreCase(std::string_view a, std::string_view b) {
    return ComparePrimary(a, b);
}

int CompareLocale(std::string_view a, std::string_view b) {
    if (int c = ComparePrimary(a, b)) return c;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return a[i] >= 'a' && a[i] <= 'z' ? -1 : 1;
    return 0;
}

// ---------------------------------------------------------------- TStrings

int32_t TStrings::IndexOf(std::string_view s) const {
    for (int32_t i = 0; i < Count(); ++i)
        if (CompareLocaleIgnoreCase(Get(i), s) == 0) return i;
    return -1;
}

void TStrings::Assign(const TStrings& source) {
    if (&source == this) return;
    WithinUpdate(*this, [&] {
        Clear();
        for (int32_t i = 0; i < source.Count(); ++i)
            AddObject(source.Get(i), source.GetObject(i));
    });
}

std::string TStrings::Text() const {
    std::string text;
    for (int32_t i = 0; i < Count(); ++i) {
        text += Get(i);
        text += "\r\n";
    }
    return text;
}

void TStrings::BeginUpdate() {
    if (FUpdateCount == 0) SetUpdateState(true);
    ++FUpdateCount;
}

void TStrings::EndUpdate() {
    if (FUpdateCount <= 0) return;
    --FUpdateCount;
    if (FUpdateCount == 0) SetUpdateState(false);
}

// ---------------------------------------------------------------- TGCustomStringList

TGCustomStringList::~TGCustomStringList() {
    OnChange = nullptr;
    OnChanging = nullptr;
    std::vector<TGStringItem> items = std::move(FItems);
    FItems.clear();
    for (TGStringItem& item : items)
        FreeItem(item);
}

void TGCustomStringList::RaiseIndex(int32_t index) {
    throw EStringListError(Format("List index out of bounds (%d)", index));
}

void TGCustomStringList::Changing() {
    if (UpdateCount() > 0) return;
    if (FOwner) FOwner->StringsChanging(*this);
    if (OnChanging) OnChanging(*this);
}

void TGCustomStringList::Changed() {
    if (UpdateCount() > 0) return;
    if (FOwner) FOwner->StringsChanged(*this);
    if (OnChange) OnChange(*this);
}

void TGCustomStringList::SetUpdateState(bool updating) {
    if (updating)
        Changing();
    else
        Changed();
}

void TGCustomStringList::FreeItem(TGStringItem& item) const {
    item.FIntf = nullptr;
    if (FOwnsData) {
        delete reinterpret_cast<TObject*>(std::exchange(item.FData, 0));
    }
    if (FOwnsObjects) delete std::exchange(item.FObject, nullptr);
}

void TGCustomStringList::Grow() {
    int32_t delta = FCapacity > 64 ? FCapacity / 4 : FCapacity > 8 ? 16 : 4;
    SetCapacity(FCapacity + delta);
}

void TGCustomStringList::SetCapacity(int32_t value) {
    if (value < Count()) value = Count();
    if (value == FCapacity) return;
    if (value > FCapacity) {
        FItems.reserve(static_cast<size_t>(value));
    } else {
        std::vector<TGStringItem> fresh;
        fresh.reserve(static_cast<size_t>(value));
        for (TGStringItem& item : FItems)
            fresh.push_back(std::move(item));
        FItems.swap(fresh);
    }
    FCapacity = value;
}

void TGCustomStringList::InsertItem(int32_t index, TGStringItem&& item) {
    Changing();
    if (Count() == FCapacity) Grow();
    FItems.insert(FItems.begin() + index, std::move(item));
    Changed();
}

void TGCustomStringList::Put(int32_t index, std::string_view s) {
    if (FSorted) throw EStringListError("Operation not allowed on sorted list");
    TGStringItem& item = Item(index);
    if (FOwner) FOwner->BeforePutString(*this, index, s);
    Changing();
    item.FString.assign(s);
    Changed();
}

void TGCustomStringList::PutObject(int32_t index, TObject* object) {
    TGStringItem& item = Item(index);
    if (FOwner) FOwner->BeforePutObject(*this, index, object);
    Changing();
    TObject* old = std::exchange(item.FObject, object);
    // Putting the object that is already there must not free it.
    if (FOwnsObjects && old != object) delete old;
    Changed();
}

int32_t TGCustomStringList::AddPosition(std::string_view s, int32_t& existing) const {
    if (!FSorted) return Count();
    int32_t index;
    if (Find(s, index)) {
        switch (FDuplicates) {
        case dupIgnore:
            existing = index;
            return -1;
        case dupError:
            throw EStringListError("String list does not allow duplicates");
        case dupAccept:
            break;
        }
    }
    return index;
}

int32_t TGCustomStringList::AddObject(std::string_view s, TObject* object) {
    int32_t existing = -1;
    int32_t index = AddPosition(s, existing);
    if (index < 0) return existing;
    InsertItem(index, TGStringItem{std::string(s), object, 0, nullptr});
    return index;
}

void TGCustomStringList::InsertObject(int32_t index, std::string_view s, TObject* object) {
    if (FSorted) throw EStringListError("Operation not allowed on sorted list");
    if (index < 0 || index > Count()) RaiseIndex(index);
    InsertItem(index, TGStringItem{std::string(s), object, 0, nullptr});
}

void TGCustomStringList::Delete(int32_t index) {
    if (index < 0 || index >= Count()) RaiseIndex(index);
    if (FOwner) FOwner->BeforeDelete(*this, index);
    Changing();
    TGStringItem item = std::move(FItems[static_cast<size_t>(index)]);
    FItems.erase(FItems.begin() + index);
    FreeItem(item);
    Changed();
}

void TGCustomStringList::Clear() {
    if (FItems.empty()) {
        SetCapacity(0);
        return;
    }
    if (FOwner) FOwner->BeforeClear(*this);
    Changing();
    // Detach first, so nothing freed below can reach an item of this list.
    std::vector<TGStringItem> items = std::move(FItems);
    FItems = {};
    FCapacity = 0;
    for (TGStringItem& item : items)
        FreeItem(item);
    Changed();
}

void TGCustomStringList::Exchange(int32_t index1, int32_t index2) {
    if (index1 < 0 || index1 >= Count()) RaiseIndex(index1);
    if (index2 < 0 || index2 >= Count()) RaiseIndex(index2);
    Changing();
    std::swap(FItems[static_cast<size_t>(index1)], FItems[static_cast<size_t>(index2)]);
    Changed();
}

bool TGCustomStringList::Find(std::string_view s, int32_t& index) const {
    bool found = false;
    int32_t lo = 0;
    int32_t hi = Count() - 1;
    while (lo <= hi) {
        int32_t mid = (lo + hi) >> 1;
        int c = FCompare(FItems[static_cast<size_t>(mid)].FString, s);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) {
                found = true;
                if (FDuplicates != dupAccept) lo = mid;
            }
        }
    }
    index = lo;
    return found;
}

int32_t TGCustomStringList::IndexOf(std::string_view s) const {
    if (FSorted) {
        int32_t index;
        return Find(s, index) ? index : -1;
    }
    for (int32_t i = 0; i < Count(); ++i)
        if (FCompare(FItems[static_cast<size_t>(i)].FString, s) == 0) return i;
    return -1;
}

void TGCustomStringList::QuickSort(int32_t l, int32_t r, const TListSortCompare& compare) {
    // Hoare partition around the middle item; whole items are exchanged, and the pivot's index
    // follows it when it moves.
    do {
        int32_t i = l;
        int32_t j = r;
        int32_t p = (l + r) >> 1;
        do {
            while (compare(*this, i, p) < 0)
                ++i;
            while (compare(*this, j, p) > 0)
                --j;
            if (i <= j) {
                if (i != j)
                    std::swap(FItems[static_cast<size_t>(i)], FItems[static_cast<size_t>(j)]);
                if (p == i)
                    p = j;
                else if (p == j)
                    p = i;
                ++i;
                --j;
            }
        } while (i <= j);
        if (l < j) QuickSort(l, j, compare);
        l = i;
    } while (l < r);
}

void TGCustomStringList::CustomSort(const TListSortCompare& compare) {
    if (FSorted || Count() < 2) return;
    Changing();
    QuickSort(0, Count() - 1, compare);
    Changed();
}

void TGCustomStringList::Sort() {
    CustomSort([](TGCustomStringList& list, int32_t i1, int32_t i2) {
        return list.FCompare(list.FItems[static_cast<size_t>(i1)].FString,
                             list.FItems[static_cast<size_t>(i2)].FString);
    });
}

void TGCustomStringList::SetSorted(bool value) {
    if (value == FSorted) return;
    if (value) Sort();
    FSorted = value;
}

void TGCustomStringList::SetCompareMode(TGCompareMode value) {
    switch (value) {
    case gcmOrdinal:
        FCompare = CompareOrdinal;
        break;
    case gcmOrdinalIgnoreCase:
        FCompare = CompareOrdinalIgnoreCase;
        break;
    case gcmLocale:
        FCompare = CompareLocale;
        break;
    default:
        value = gcmLocaleIgnoreCase;
        FCompare = CompareLocaleIgnoreCase;
        break;
    }
    if (value == FCompareMode) return;
    FCompareMode = value;
    // A sorted list must stay in order under its new rule: sort it as an unsorted list.
    if (FSorted && Count() > 1) {
        FSorted = false;
        Sort();
        FSorted = true;
    }
}

void TGCustomStringList::AssignItems(const TGCustomStringList& source) {
    WithinUpdate(*this, [&] {
        Clear();
        // The rule first, so a sorted target orders the copies as the source compares them.
        FCompareMode = source.FCompareMode;
        FCompare = source.FCompare;
        // Whole items: a sorted target places each string with its own object and datum.
        for (const TGStringItem& item : source.FItems) {
            int32_t existing = -1;
            int32_t index = AddPosition(item.FString, existing);
            if (index < 0) continue;
            InsertItem(index, TGStringItem(item));
        }
    });
}

void TGCustomStringList::Assign(const TStrings& source) {
    if (&source == this) return;
    TStrings::Assign(source);
}

// ---------------------------------------------------------------- TGStringList

void TGStringList::PutData(int32_t index, intptr_t data) {
    TGStringItem& item = Item(index);
    Changing();
    intptr_t old = std::exchange(item.FData, data);
    if (FOwnsData && old != data) delete reinterpret_cast<TObject*>(old);
    Changed();
}

int32_t TGStringList::AddItem(std::string_view s, TObject* object, intptr_t data) {
    int32_t existing = -1;
    int32_t index = AddPosition(s, existing);
    if (index < 0) return existing;
    InsertItem(index, TGStringItem{std::string(s), object, data, nullptr});
    return index;
}

int32_t TGStringList::IndexOfData(intptr_t data) const {
    for (int32_t i = 0; i < Count(); ++i)
        if (FItems[static_cast<size_t>(i)].FData == data) return i;
    return -1;
}

void TGStringList::ForEach(const TForEachAction& action, const TForEachFilter& filter) {
    for (int32_t i = Count() - 1; i >= 0; --i) {
        // The action may have deleted more than the current item.
        if (i >= Count()) continue;
        const TGStringItem& item = FItems[static_cast<size_t>(i)];
        if (filter && !filter(*this, i, item.FString, item.FData, item.FObject)) continue;
        if (action) action(*this, i, item.FString, item.FData, item.FObject);
    }
}

void TGStringList::Assign(const TStrings& source) {
    if (&source == this) return;
    // Only another list of pointer-sized data brings data along; interface lists bring their
    // strings and objects.
    if (auto* same = dynamic_cast<const TGStringList*>(&source)) {
        AssignItems(*same);
        return;
    }
    TStrings::Assign(source);
}

// ---------------------------------------------------------------- TGCollection

TGCollectionItem* TGCollection::Add(std::unique_ptr<TGCollectionItem> item) {
    FItems.push_back(std::move(item));
    return FItems.back().get();
}

TGCollectionItem* TGCollection::Items(int32_t index) const {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    return FItems[static_cast<size_t>(index)].get();
}

void TGCollection::Delete(int32_t index) {
    Items(index);
    FItems.erase(FItems.begin() + index);
}

void TGCollection::AssignTo(TStrings& target) const {
    WithinUpdate(target, [&] {
        target.Clear();
        for (const auto& item : FItems)
            target.AddObject(item->GetDisplayName(), item.get());
    });
}

} // namespace ie
