// Reference-counted collections of interfaces: the interface list on which multifields, function
// lists, rule actions and fact lists stand, its queue and stack, the string list with an
// interface per item, and the iterators over lists of strings and of pointers.
//
// Every stored interface is retained while it is stored and released when it leaves the list.
// The lists are typed by the interface they hold (default: any interface), so reading an item
// needs no cast. Iterators refer to their container without holding it.
#pragma once

#include "containers/CommonInterfaces.h"
#include "containers/GHashTable.h"
#include "containers/GLists.h"
#include "containers/Structures.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ie {

// The notifications of TGInterfaceList::Notify.
enum TListNotification : uint8_t { lnAdded = 0, lnExtracted = 1, lnDeleted = 2 };

// Failures shared by the interface lists (kept out of line).
struct TInterfaceListErrors {
    [[noreturn]] static void Index(int32_t index);
    [[noreturn]] static void CountOutOfBounds(int32_t count);
    [[noreturn]] static void CapacityOutOfBounds(int32_t capacity);
    [[noreturn]] static void Empty();
    [[noreturn]] static void CannotAssign(std::string_view source, std::string_view target);
    // Growth step when Count reaches the capacity.
    static int32_t GrowDelta(int32_t capacity) {
        return capacity > 64 ? capacity / 4 : capacity > 8 ? 16 : 4;
    }
    static constexpr int32_t MaxListSize = 134217728;
};

template <class T = IInterface> class TGInterfaceList : public virtual TRefCounted {
public:
    using TItem = TRefPtr<T>;

    TGInterfaceList() = default;
    TGInterfaceList(const TGInterfaceList&) = delete;
    TGInterfaceList& operator=(const TGInterfaceList&) = delete;
    ~TGInterfaceList() override = default;

    int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
    bool IsEmpty() const { return FItems.empty(); }
    int32_t Capacity() const { return FCapacity; }

    const TItem& Get(int32_t index) const {
        if (index < 0 || index >= Count()) TInterfaceListErrors::Index(index);
        return FItems[static_cast<size_t>(index)];
    }
    const TItem& operator[](int32_t index) const { return Get(index); }
    const TItem& First() const { return Get(0); }
    const TItem& Last() const { return Get(Count() - 1); }

    // Appends `item` and returns its index.
    int32_t Add(TItem item) {
        int32_t index = Count();
        Insert(index, std::move(item));
        return index;
    }
    void Insert(int32_t index, TItem item) {
        if (index < 0 || index > Count()) TInterfaceListErrors::Index(index);
        if (Count() == FCapacity) Grow();
        auto it = FItems.insert(FItems.begin() + index, std::move(item));
        if (*it) Notify(*it, lnAdded);
    }
    void Delete(int32_t index) {
        if (index < 0 || index >= Count()) TInterfaceListErrors::Index(index);
        TItem item = std::move(FItems[static_cast<size_t>(index)]);
        FItems.erase(FItems.begin() + index);
        if (item) Notify(item, lnDeleted);
    }
    void Put(int32_t index, TItem item) {
        if (index < 0 || index >= Count()) TInterfaceListErrors::Index(index);
        TItem old = std::exchange(FItems[static_cast<size_t>(index)], std::move(item));
        if (old) Notify(old, lnDeleted);
        if (const TItem& now = FItems[static_cast<size_t>(index)]) Notify(now, lnAdded);
    }
    // By identity; -1 when absent.
    int32_t IndexOf(const T* item) const {
        for (size_t i = 0; i < FItems.size(); ++i)
            if (FItems[i].get() == item) return static_cast<int32_t>(i);
        return -1;
    }
    // Deletes `item` and returns the index it had; -1 (and no change) when absent.
    int32_t Remove(const T* item) {
        int32_t index = IndexOf(item);
        if (index >= 0) Delete(index);
        return index;
    }
    virtual void Clear() {
        SetCount(0);
        SetCapacity(0);
    }
    // Shrinking deletes items from the end; growing appends empty items.
    void SetCount(int32_t value) {
        if (value < 0 || value >= TInterfaceListErrors::MaxListSize)
            TInterfaceListErrors::CountOutOfBounds(value);
        if (value > FCapacity) SetCapacity(value);
        while (Count() > value)
            Delete(Count() - 1);
        if (value > Count()) FItems.resize(static_cast<size_t>(value));
    }
    void SetCapacity(int32_t value) {
        if (value < Count() || value >= TInterfaceListErrors::MaxListSize)
            TInterfaceListErrors::CapacityOutOfBounds(value);
        if (value > FCapacity)
            FItems.reserve(static_cast<size_t>(value));
        else if (value < FCapacity)
            FItems.shrink_to_fit();
        FCapacity = value;
    }

    typename std::vector<TItem>::const_iterator begin() const { return FItems.begin(); }
    typename std::vector<TItem>::const_iterator end() const { return FItems.end(); }

protected:
    virtual void Grow() { SetCapacity(FCapacity + TInterfaceListErrors::GrowDelta(FCapacity)); }
    // Told of every item that enters (lnAdded) or leaves (lnDeleted) the list.
    virtual void Notify(const TItem& item, TListNotification action) { (void)item, (void)action; }

    std::vector<TItem> FItems;

private:
    int32_t FCapacity = 0;
};

template <class T = IInterface> class TIList : public TGInterfaceList<T> {
public:
    using TItem = typename TGInterfaceList<T>::TItem;

    // Clears, then adds every item of `source` in order (the items are shared, not cloned).
    virtual void Assign(const TIList& source) {
        if (&source == this) return;
        std::vector<TItem> items(source.begin(), source.end());
        this->Clear();
        for (TItem& item : items)
            this->Add(std::move(item));
    }
    // "Cannot assign a nil to a <class>" for a missing source.
    void Assign(const TIList* source) {
        if (!source) TInterfaceListErrors::CannotAssign("nil", ClassName());
        Assign(*source);
    }
    // A list cannot be copied into anything else.
    virtual void AssignTo(const TIList& target) const {
        TInterfaceListErrors::CannotAssign(ClassName(), target.ClassName());
    }
    // A new list of the same class holding the same items.
    TRefPtr<TIList> Clone() const {
        TRefPtr<TIList> copy = CreateEmpty();
        copy->Assign(*this);
        return copy;
    }
    virtual std::string_view ClassName() const { return "TIList"; }

protected:
    // A new empty list of this class: every derived list overrides it so Clone keeps the class.
    virtual TRefPtr<TIList> CreateEmpty() const { return TRefPtr<TIList>(new TIList()); }
};

// First in, first out: Push appends, Pop and Peek take the first ("list is empty").
template <class T = IInterface> class TIQueue : public TIList<T> {
public:
    using TItem = typename TIList<T>::TItem;

    void Push(TItem item) { this->Add(std::move(item)); }
    virtual TItem Pop() {
        TItem item = Peek();
        this->Delete(0);
        return item;
    }
    virtual TItem Peek() const {
        if (this->IsEmpty()) TInterfaceListErrors::Empty();
        return this->FItems.front();
    }
    std::string_view ClassName() const override { return "TIQueue"; }

protected:
    TRefPtr<TIList<T>> CreateEmpty() const override { return TRefPtr<TIList<T>>(new TIQueue()); }
};

// Last in, first out: Push appends, Pop and Peek take the last.
template <class T = IInterface> class TIStack : public TIQueue<T> {
public:
    using TItem = typename TIQueue<T>::TItem;

    TItem Pop() override {
        TItem item = Peek();
        this->Delete(this->Count() - 1);
        return item;
    }
    TItem Peek() const override {
        if (this->IsEmpty()) TInterfaceListErrors::Empty();
        return this->FItems.back();
    }
    std::string_view ClassName() const override { return "TIStack"; }

protected:
    TRefPtr<TIList<T>> CreateEmpty() const override { return TRefPtr<TIList<T>>(new TIStack()); }
};

// Strings with an object and an interface per item; the interface is released when its item
// leaves the list.
class TIStringList : public TGCustomStringList {
public:
    // The callbacks of ForEach: (list, index, string, interface, object).
    using TForEachAction =
        std::function<void(TIStringList& list, int32_t index, const std::string& s,
                           const TRefPtr<IInterface>& intf, TObject* object)>;
    using TForEachFilter =
        std::function<bool(TIStringList& list, int32_t index, const std::string& s,
                           const TRefPtr<IInterface>& intf, TObject* object)>;

    TIStringList() = default;

    const TRefPtr<IInterface>& GetInterface(int32_t index) const { return Item(index).FIntf; }
    virtual void PutInterface(int32_t index, TRefPtr<IInterface> intf);
    template <class T> TRefPtr<T> GetInterfaceAs(int32_t index) const {
        return TRefPtr<T>(dynamic_cast<T*>(GetInterface(index).get()));
    }
    // Adds a whole item; returns its index (the existing one when an equal string is ignored,
    // in which case nothing is stored).
    int32_t AddInterface(std::string_view s, TRefPtr<IInterface> intf, TObject* object = nullptr);
    // The first index holding `intf`, -1 when none.
    int32_t IndexOfInterface(const IInterface* intf) const;

    // Walks from the last item down to the first, so `action` may delete the current item.
    void ForEach(const TForEachAction& action, const TForEachFilter& filter = {});

    void Assign(const TStrings& source) override;
};

// Walks a list of strings: Next gives the next object, NextString the next string.
class TStringsIterator : public virtual IIterator, public virtual IStringIterator {
public:
    explicit TStringsIterator(const TStrings& list) : FList(list) {}

    void* Current() const override { return FList.GetObject(FCursor); }
    const std::string& CurrentString() const override { return FList.Get(FCursor); }
    int32_t Remaining() const override { return FList.Count() - 1 - FCursor; }
    bool HasNext() override { return FList.Count() - 1 > FCursor; }
    void* Next() override { return FList.GetObject(++FCursor); }
    const std::string& NextString() override { return FList.Get(++FCursor); }
    void Reset() override { FCursor = -1; }

private:
    const TStrings& FList;
    int32_t FCursor = -1;
};

// Walks a list of pointers (a vector or a pointer queue) from the first.
class TListIterator : public virtual IIterator {
public:
    explicit TListIterator(const std::vector<void*>& list)
        : FCount([&list] { return static_cast<int32_t>(list.size()); }),
          FItem([&list](int32_t i) { return list[static_cast<size_t>(i)]; }) {}
    explicit TListIterator(const TQQueue& list)
        : FCount([&list] { return list.Count(); }),
          FItem([&list](int32_t i) { return list.Items(i); }) {}

    void* Current() const override;
    int32_t Remaining() const override { return FCount() - 1 - FCursor; }
    bool HasNext() override { return FCount() - 1 > FCursor; }
    void* Next() override;
    void Reset() { FCursor = -1; }

private:
    std::function<int32_t()> FCount;
    std::function<void*(int32_t)> FItem;
    int32_t FCursor = -1;
};

} // namespace ie
