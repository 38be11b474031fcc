// The string lists of the system: a list of strings whose every item also carries an object
// and a datum, with four comparison rules, optional sorting, ownership of objects and data, an
// owner told of every change, and a filtered backward walk.
//
// Invariants:
// - A sorted list is always in order under its current comparison rule; changing the rule of a
//   sorted list sorts it again.
// - String, object and datum of an item always move together (sort, exchange, assign).
// - Every mutation follows one protocol: the owner's "before" call (put, put object, delete,
//   clear), then Changing, the change, then Changed; inside BeginUpdate/EndUpdate only the outer
//   pair fires.
// - Objects (TObject, and data stored with PutDataObject) are freed by the list only when it
//   owns them, and never while the list could still reach them.
#pragma once

#include "containers/CommonInterfaces.h"
#include "platform/Exceptions.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ie {

// The minimal abstract list of strings with objects that the containers exchange.
class TStrings {
public:
    TStrings() = default;
    TStrings(const TStrings&) = delete;
    TStrings& operator=(const TStrings&) = delete;
    virtual ~TStrings() = default;

    virtual int32_t Count() const = 0;
    virtual const std::string& Get(int32_t index) const = 0;
    virtual void Put(int32_t index, std::string_view s) = 0;
    virtual TObject* GetObject(int32_t index) const = 0;
    virtual void PutObject(int32_t index, TObject* object) = 0;
    virtual int32_t Add(std::string_view s) { return AddObject(s, nullptr); }
    virtual int32_t AddObject(std::string_view s, TObject* object) = 0;
    virtual void Insert(int32_t index, std::string_view s) = 0;
    virtual void Delete(int32_t index) = 0;
    virtual void Clear() = 0;
    virtual void Exchange(int32_t index1, int32_t index2) = 0;
    virtual int32_t IndexOf(std::string_view s) const;
    // Replaces the content by the strings and objects of `source`.
    virtual void Assign(const TStrings& source);

    const std::string& operator[](int32_t index) const { return Get(index); }
    // The lines, each ended by CR LF.
    std::string Text() const;

    void BeginUpdate();
    void EndUpdate();

protected:
    int32_t UpdateCount() const { return FUpdateCount; }
    // Called when the first update begins (true) and when the last one ends (false).
    virtual void SetUpdateState(bool updating) { (void)updating; }

private:
    int32_t FUpdateCount = 0;
};

enum TDuplicates : uint8_t { dupIgnore, dupAccept, dupError };

// Comparison rules of a string list.
enum TGCompareMode : uint8_t {
    gcmOrdinal = 0,           // case-sensitive, by character code
    gcmOrdinalIgnoreCase = 1, // case-insensitive, by character code
    gcmLocale = 2,            // case-sensitive, in dictionary order
    gcmLocaleIgnoreCase = 3,  // case-insensitive, in dictionary order (the default)
};

// The comparison behind each rule: negative, 0 or positive.
int CompareOrdinal(std::string_view a, std::string_view b);
int CompareOrdinalIgnoreCase(std::string_view a, std::string_view b);
// Dictionary order: control characters, then punctuation, digits and letters; letters compare
// without regard to case first, and for the case-sensitive rule a lower-case letter then sorts
// before its capital.
int CompareLocale(std::string_view a, std::string_view b);
int CompareLocaleIgnoreCase(std::string_view a, std::string_view b);

struct TGStringItem {
    std::string FString;
    TObject* FObject = nullptr;
    intptr_t FData = 0;
    TRefPtr<IInterface> FIntf;
};

// The machinery that TGStringList (pointer-sized data) and TIStringList (interface data) share.
class TGCustomStringList : public TStrings {
public:
    using TChangeEvent = std::function<void(TGCustomStringList& sender)>;
    // Compares the items at two indexes.
    using TListSortCompare = std::function<int(TGCustomStringList& list, int32_t i1, int32_t i2)>;

    TGCustomStringList() = default;
    ~TGCustomStringList() override;

    int32_t Count() const override { return static_cast<int32_t>(FItems.size()); }
    bool IsEmpty() const { return FItems.empty(); }
    const std::string& Get(int32_t index) const override { return Item(index).FString; }
    void Put(int32_t index, std::string_view s) override;
    TObject* GetObject(int32_t index) const override { return Item(index).FObject; }
    void PutObject(int32_t index, TObject* object) override;
    int32_t AddObject(std::string_view s, TObject* object) override;
    void Insert(int32_t index, std::string_view s) override { InsertObject(index, s, nullptr); }
    void InsertObject(int32_t index, std::string_view s, TObject* object);
    void Delete(int32_t index) override;
    void Clear() override;
    void Exchange(int32_t index1, int32_t index2) override;
    int32_t IndexOf(std::string_view s) const override;
    void Assign(const TStrings& source) override;

    // Binary search under the current rule; `index` receives the position of the first equal
    // item (or of the only one when duplicates are not accepted), else the insert position.
    bool Find(std::string_view s, int32_t& index) const;
    // Sorts an unsorted list of two or more items under the current rule.
    void Sort();
    // Sorts an unsorted list of two or more items with `compare`.
    void CustomSort(const TListSortCompare& compare);

    bool Sorted() const { return FSorted; }
    void SetSorted(bool value);
    TDuplicates Duplicates() const { return FDuplicates; }
    void SetDuplicates(TDuplicates value) { FDuplicates = value; }
    TGCompareMode CompareMode() const { return FCompareMode; }
    void SetCompareMode(TGCompareMode value);
    int CompareStrings(std::string_view a, std::string_view b) const { return FCompare(a, b); }
    bool OwnsObjects() const { return FOwnsObjects; }
    void SetOwnsObjects(bool value) { FOwnsObjects = value; }

    int32_t Capacity() const { return FCapacity; }
    void SetCapacity(int32_t value);

    IStringsOwner* Owner() const { return FOwner; }
    void SetOwner(IStringsOwner* owner) { FOwner = owner; }
    TChangeEvent OnChange;
    TChangeEvent OnChanging;

    // Range-for over the items, in index order.
    std::vector<TGStringItem>::const_iterator begin() const { return FItems.begin(); }
    std::vector<TGStringItem>::const_iterator end() const { return FItems.end(); }

protected:
    const TGStringItem& Item(int32_t index) const {
        if (index < 0 || index >= Count()) RaiseIndex(index);
        return FItems[static_cast<size_t>(index)];
    }
    TGStringItem& Item(int32_t index) {
        if (index < 0 || index >= Count()) RaiseIndex(index);
        return FItems[static_cast<size_t>(index)];
    }
    [[noreturn]] static void RaiseIndex(int32_t index);
    void Changing();
    void Changed();
    void SetUpdateState(bool updating) override;
    // Inserts a whole item at `index` (0..Count) inside Changing/Changed.
    void InsertItem(int32_t index, TGStringItem&& item);
    // Where Add would put `s`: -1 when an equal string is ignored (and `existing` receives it).
    int32_t AddPosition(std::string_view s, int32_t& existing) const;
    // Copies the items of `source` whole (string, object, datum, interface).
    void AssignItems(const TGCustomStringList& source);
    // Frees what an item owns, after it left the list.
    void FreeItem(TGStringItem& item) const;

    std::vector<TGStringItem> FItems;
    bool FOwnsData = false;

private:
    void Grow();
    void QuickSort(int32_t l, int32_t r, const TListSortCompare& compare);

    IStringsOwner* FOwner = nullptr;
    int32_t FCapacity = 0;
    bool FSorted = false;
    TDuplicates FDuplicates = dupIgnore;
    TGCompareMode FCompareMode = gcmLocaleIgnoreCase;
    bool FOwnsObjects = false;
    int (*FCompare)(std::string_view, std::string_view) = CompareLocaleIgnoreCase;
};

// Strings with an object and a pointer-sized datum per item.
class TGStringList : public TGCustomStringList {
public:
    // The callbacks of ForEach: (list, index, string, datum, object).
    using TForEachAction = std::function<void(
        TGStringList& list, int32_t index, const std::string& s, intptr_t data, TObject* object)>;
    using TForEachFilter = std::function<bool(
        TGStringList& list, int32_t index, const std::string& s, intptr_t data, TObject* object)>;

    TGStringList() = default;

    virtual intptr_t GetData(int32_t index) const { return Item(index).FData; }
    virtual void PutData(int32_t index, intptr_t data);
    // Data that the list may own is stored and read as an object.
    TObject* GetDataObject(int32_t index) const {
        return reinterpret_cast<TObject*>(GetData(index));
    }
    void PutDataObject(int32_t index, TObject* data) {
        PutData(index, reinterpret_cast<intptr_t>(data));
    }
    // Adds a whole item; returns its index (the existing one when an equal string is ignored,
    // in which case object and data are not stored).
    int32_t AddItem(std::string_view s, TObject* object, intptr_t data);
    // The first index whose datum is `data`, -1 when none.
    int32_t IndexOfData(intptr_t data) const;

    bool OwnsData() const { return FOwnsData; }
    void SetOwnsData(bool value) { FOwnsData = value; }

    // Walks from the last item down to the first, so `action` may delete the current item.
    // Items that `filter` refuses are skipped.
    void ForEach(const TForEachAction& action, const TForEachFilter& filter = {});

    void Assign(const TStrings& source) override;
};

// An item of a TGCollection: named for display.
class TGCollectionItem : public TObject {
public:
    TGCollectionItem() = default;
    explicit TGCollectionItem(std::string displayName) : FDisplayName(std::move(displayName)) {}
    std::string_view ClassName() const override { return "TGCollectionItem"; }
    virtual std::string GetDisplayName() const { return FDisplayName; }
    void SetDisplayName(std::string name) { FDisplayName = std::move(name); }

private:
    std::string FDisplayName;
};

// A small owning collection of items.
class TGCollection {
public:
    TGCollection() = default;
    TGCollection(const TGCollection&) = delete;
    TGCollection& operator=(const TGCollection&) = delete;
    virtual ~TGCollection() = default;

    int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
    // Takes ownership of `item` and returns it.
    TGCollectionItem* Add(std::unique_ptr<TGCollectionItem> item);
    TGCollectionItem* Items(int32_t index) const;
    void Delete(int32_t index);
    void Clear() { FItems.clear(); }
    // Clears `target` and adds each item's display name with the item as object.
    void AssignTo(TStrings& target) const;

private:
    std::vector<std::unique_ptr<TGCollectionItem>> FItems;
};

} // namespace ie
