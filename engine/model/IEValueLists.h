// The list classes of values: the multifield TValueVector, the slice or splice TListView, the
// fuzzy singletons TSingletonsVector, and the side tags of objects made in great numbers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/model/BlockPool.h"
#include "engine/model/IEInterfaces.h"

namespace ie {

// Tags of the objects made in great numbers (facts, lists) kept beside them, so that the many
// objects that never get one carry only a flag: the tag of `owner` (0 when it has none), and a
// new tag for it (0 removes it). The owner clears its tag before it is freed.
intptr_t SideTag(const void* owner) noexcept;
void SetSideTag(const void* owner, intptr_t tag);

// Lists are made per call and per multifield slot (TBlockAllocated).
class TValueVector final : public IValueVector, public TBlockAllocated {
public:
    TValueVector() = default;
    ~TValueVector() override;

    static TRefPtr<TValueVector> Create() { return MakeRef<TValueVector>(); }

    // ICloneable
    void AssignFrom(const IInterface* source) override;
    TRefPtr<ICloneable> Clone() const override;
    bool Equals(const IInterface* other) const override;
    intptr_t GetTag() const override { return FHasTag ? SideTag(this) : 0; }
    void SetTag(intptr_t tag) override;

    // IValueVector
    int32_t Count() const noexcept override { return static_cast<int32_t>(FItems.size()); }
    const TRefPtr<IIEValue>& GetItem(int32_t index) const override;
    void SetItem(int32_t index, TRefPtr<IIEValue> value) override;
    bool Equals(const IValueVector* other) const override;
    void Assign(const IValueVector* other) override;
    // In line: the argument lists of calls are built by it.
    int32_t Add(TRefPtr<IIEValue> value) override {
        if (FConstant) [[unlikely]]
            CheckChangeable();
        FItems.push_back(std::move(value));
        return Count() - 1;
    }
    void Clear() override;
    const TRefPtr<IIEValue>& First() const override;
    int32_t IndexOf(const IIEValue* value) const noexcept override;
    void Insert(int32_t index, TRefPtr<IIEValue> value) override;
    const TRefPtr<IIEValue>& Last() const override;
    void Delete(int32_t index) override;
    void AddAll(const IValueVector* other) override;
    int32_t Remove(const IIEValue* value) override;
    std::string GetText() const override;
    int32_t GetHashCode() const override;
    TRefPtr<IValueVector> CloneVector() const override;

    void Reserve(int32_t count) { FItems.reserve(static_cast<size_t>(count)); }
    auto begin() const noexcept { return FItems.begin(); }
    auto end() const noexcept { return FItems.end(); }
    // The list of IEEmptyList refuses every change.
    void MakeConstant() noexcept { FConstant = true; }
    bool IsConstant() const noexcept { return FConstant; }

private:
    friend class TIEValue;
    void CheckChangeable() const;
    void CheckIndex(int32_t index, int32_t limit) const;

    // The elements; a short list's array is a block of its own size too (AllocateBlock).
    using TItems = std::vector<TRefPtr<IIEValue>, TBlockAllocator<TRefPtr<IIEValue>>>;
    TItems FItems;
    // The number of values that share this list as copies of its holder (SharingClone): while
    // it is above 0, a holder that asks for the list gets its own copy first.
    int32_t FShares = 0;
    bool FConstant = false;
    // The tag is kept beside the list (SideTag): a list is 56 bytes, a 64-byte heap block.
    bool FHasTag = false;
};

// A list read through another without copying it: either the run [start, start + count) of the
// base list (a slice), or the base list with that run replaced by one element (a splice). A
// multifield split makes one per way of cutting a slot, so that a cut costs the same whatever the
// slot's length; the elements are the base list's own. The first change makes the view a list of
// its own (the base list is never changed through it). The base list must not change while a
// view reads it: the views are made over the lists of asserted facts, which stay as they are.
// Views are made per cut of a multifield split (TBlockAllocated).
class TListView final : public IValueVector, public TBlockAllocated {
public:
    static TRefPtr<TListView> Slice(TRefPtr<IValueVector> base, int32_t start, int32_t count);
    static TRefPtr<TListView> Splice(TRefPtr<IValueVector> base, int32_t start, int32_t count,
                                     TRefPtr<IIEValue> element);
    // The splice whose element is the list value of the slice [start, start + count) of the
    // base list: one cut of a multifield split. The element is made when it is first read, so a
    // cut that nothing reads (one made again to find the matches of a retracted fact, or one a
    // test refuses by other slots) costs one view.
    static TRefPtr<TListView> Cut(TRefPtr<IValueVector> base, int32_t start, int32_t count);

    // ICloneable
    void AssignFrom(const IInterface* source) override;
    TRefPtr<ICloneable> Clone() const override;
    bool Equals(const IInterface* other) const override;
    intptr_t GetTag() const override { return FTag; }
    void SetTag(intptr_t tag) override { FTag = tag; }

    // IValueVector
    int32_t Count() const noexcept override;
    const TRefPtr<IIEValue>& GetItem(int32_t index) const override;
    void SetItem(int32_t index, TRefPtr<IIEValue> value) override;
    bool Equals(const IValueVector* other) const override;
    void Assign(const IValueVector* other) override;
    int32_t Add(TRefPtr<IIEValue> value) override;
    void Clear() override;
    const TRefPtr<IIEValue>& First() const override;
    int32_t IndexOf(const IIEValue* value) const noexcept override;
    void Insert(int32_t index, TRefPtr<IIEValue> value) override;
    const TRefPtr<IIEValue>& Last() const override;
    void Delete(int32_t index) override;
    void AddAll(const IValueVector* other) override;
    int32_t Remove(const IIEValue* value) override;
    std::string GetText() const override;
    int32_t GetHashCode() const override;
    TRefPtr<IValueVector> CloneVector() const override;

    // Whether two views cut the same lists at the same places (then their elements are equal
    // without reading them): how the tokens of one split, made again for a removal, are found.
    static bool SameCut(const IValueVector* a, const IValueVector* b) noexcept;

private:
    // The list of its own that a change makes of the view.
    TValueVector& Own();

    TRefPtr<IValueVector> FBase;
    mutable TRefPtr<IIEValue> FElement; // a splice's element; a cut's once read
    TRefPtr<TValueVector> FOwn;
    int32_t FStart = 0;
    int32_t FCount = 0;
    bool FSplice = false;
    // A cut (see Cut): the element is the slice of the base at the spliced run.
    bool FCut = false;
    intptr_t FTag = 0;
};

// Fuzzy singletons: a value list and a membership list of the same length.
class TSingletonsVector final : public ISingletonsVector {
public:
    explicit TSingletonsVector(ISingletonsParser* parser = nullptr) : FParser(parser) {}

    // ICloneable
    void AssignFrom(const IInterface* source) override;
    TRefPtr<ICloneable> Clone() const override;
    bool Equals(const IInterface* other) const override;
    intptr_t GetTag() const override { return FTag; }
    void SetTag(intptr_t tag) override { FTag = tag; }

    // ISingletonsVector
    int32_t Count() const noexcept override { return FValues.Count(); }
    void Add(TRefPtr<IIEValue> value, TRefPtr<IIEValue> membership) override;
    const TRefPtr<IIEValue>& GetValue(int32_t index) const override;
    const TRefPtr<IIEValue>& GetMembership(int32_t index) const override;
    void Clear() override;
    bool Equals(const ISingletonsVector* other) const override;
    std::string GetText() const override;
    int32_t GetHashCode() const override;
    ISingletonsParser* GetParser() const noexcept override { return FParser; }
    void SetParser(ISingletonsParser* parser) override { FParser = parser; }
    TRefPtr<ISingletonsVector> CloneSingletons() const override;

private:
    TValueVector FValues;
    TValueVector FMemberships;
    ISingletonsParser* FParser;
    intptr_t FTag = 0;
};

// Makes the fuzzy set of evaluated singletons: each (x, membership) pair, from the last to the
// first, evaluated in the context and added as a point. Without an installed routine the
// points make a free TIEFuzzySet (no variable yet), given the singletons' parser when it is a
// fuzzy parser.
using TSingletonsFuzzifier =
    std::function<TRefPtr<IFuzzySet>(const ISingletonsVector& singletons, TIEContext* context)>;
TSingletonsFuzzifier& SingletonsFuzzifier();

} // namespace ie
