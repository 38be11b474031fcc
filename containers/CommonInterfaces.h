// The small interfaces every container and engine object shares: cloning, iteration, and the
// optional owners that a string list or a hash table tells of each change it makes.
//
// Owners are plain abstract classes held as non-owning pointers: an owner always outlives the
// table or list it watches, and it is never kept alive by it.
#pragma once

#include "platform/Component.h"
#include "platform/RefCounted.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace ie {

// Any reference-counted interface; the common base of everything held as TRefPtr.
using IInterface = TRefCounted;

class TStrings;
class TGCustomHashtable;

// Every engine object shared by interface can be copied into and from another of its kind.
class ICloneable : public virtual TRefCounted {
public:
    virtual void AssignFrom(const IInterface* source) = 0;
    virtual TRefPtr<ICloneable> Clone() const = 0;
    virtual bool Equals(const IInterface* other) const = 0;
    virtual intptr_t GetTag() const = 0;
    virtual void SetTag(intptr_t tag) = 0;
};

// A one-way walk over pointer-sized items (keys, values, objects or list items).
class IIterator : public virtual TRefCounted {
public:
    // The item that the last Next returned.
    virtual void* Current() const = 0;
    virtual int32_t Remaining() const = 0;
    virtual bool HasNext() = 0;
    virtual void* Next() = 0;
};

// A one-way walk over texts. The returned references stay valid until the walked container
// changes.
class IStringIterator : public virtual TRefCounted {
public:
    virtual const std::string& CurrentString() const = 0;
    virtual int32_t Remaining() const = 0;
    virtual bool HasNext() = 0;
    virtual const std::string& NextString() = 0;
    virtual void Reset() = 0;
};

// Told of every change of a string list (TGStringList, TIStringList): the "before" calls come
// first, then Changing, the change itself, then Changed.
class IStringsOwner {
public:
    virtual void StringsChanged(TStrings& list) { (void)list; }
    virtual void StringsChanging(TStrings& list) { (void)list; }
    virtual void BeforePutString(TStrings& list, int32_t index, std::string_view s) {
        (void)list, (void)index, (void)s;
    }
    virtual void BeforePutObject(TStrings& list, int32_t index, TObject* object) {
        (void)list, (void)index, (void)object;
    }
    virtual void BeforeDelete(TStrings& list, int32_t index) { (void)list, (void)index; }
    virtual void BeforeClear(TStrings& list) { (void)list; }

protected:
    ~IStringsOwner() = default;
};

// The key of a hash table as its owner sees it: integer tables fill Int, text tables Text
// (and Int with the text's hash).
struct TGHashKey {
    int32_t Int = 0;
    std::string_view Text;
};

// Told of every change of a hash table. `value` is the stored pointer (for interface tables the
// interface object).
class IHashTableOwner {
public:
    virtual void HashTableChanged(TGCustomHashtable& table) { (void)table; }
    virtual void BeforePut(TGCustomHashtable& table, const TGHashKey& key, const void* value) {
        (void)table, (void)key, (void)value;
    }
    virtual void BeforeRemove(TGCustomHashtable& table, const TGHashKey& key) {
        (void)table, (void)key;
    }
    virtual void BeforeClear(TGCustomHashtable& table) { (void)table; }

protected:
    ~IHashTableOwner() = default;
};

} // namespace ie
