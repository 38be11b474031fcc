// Run-time type information of published properties: per class, a table of named properties,
// each with its kind, its type name and a getter and setter on plain values that know nothing of
// the rule engine. Rules read and write the properties of host objects by name through it.
//
// A class has type information when a table is registered for it or for one of its bases; an
// object's table is the one of its most derived registered class (found once per dynamic type,
// then cached). Property names are looked up ignoring ASCII letter case, and a table sees the
// properties of its registered bases, a derived class's property hiding a base's of the same
// name. Registration normally happens at start-up; lookups are safe from any thread.
//
// Values: integers, characters and enumerations as their ordinal, sets as a bit mask (bit i for
// member i), floats as double, texts as std::string, class-typed properties as the object
// pointer (not owned) and event handlers (method kind) as std::any holding the handler.
#pragma once

#include "platform/Component.h"
#include "platform/Exceptions.h"

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeindex>
#include <variant>
#include <vector>

namespace ie {

enum TTypeKind : uint8_t {
    tkUnknown,
    tkInteger,
    tkChar,
    tkEnumeration,
    tkFloat,
    tkString,
    tkSet,
    tkClass,
    tkMethod,
    tkWChar,
    tkLString,
    tkWString,
    tkVariant,
    tkArray,
    tkRecord,
    tkInterface,
    tkInt64,
    tkDynArray
};

// Property errors: a read-only property written ("Property %s is read-only"), a text that names
// no member of an enumeration or set ("Invalid property element: %s"), a value of the wrong kind
// for the property ("Invalid property value").
class EPropertyError : public EException {
public:
    using EException::EException;
};
class EPropertyConvertError : public EException {
public:
    using EException::EException;
};

using TPropertyValue =
    std::variant<std::monostate, int64_t, double, std::string, TObject*, std::any>;

struct TPropertyInfo {
    std::string Name;
    TTypeKind Kind = tkUnknown;
    // The name of the property's type ("Integer", "Boolean", "TSearchStrategy", "TNotifyEvent").
    std::string TypeName;
    // The value names of an enumeration, or the member names of a set, in ordinal order.
    std::vector<std::string> EnumNames;
    std::function<TPropertyValue(const TObject&)> Get;
    // Empty for a read-only property.
    std::function<void(TObject&, const TPropertyValue&)> Set;
};

class TPropertyTable {
public:
    TPropertyTable(std::string className, const TPropertyTable* parent)
        : FClassName(std::move(className)), FParent(parent) {}
    TPropertyTable(const TPropertyTable&) = delete;
    TPropertyTable& operator=(const TPropertyTable&) = delete;

    const std::string& ClassName() const noexcept { return FClassName; }
    const TPropertyTable* Parent() const noexcept { return FParent; }

    // Adds a property of this class (replacing one of the same name declared by this class).
    void Add(TPropertyInfo info);
    // The property of that name here or in a base, null when none.
    const TPropertyInfo* Find(std::string_view name) const;
    // Every visible property (a base's hidden by a derived one of the same name), sorted by
    // name ignoring letter case.
    std::vector<const TPropertyInfo*> SortedProperties() const;

private:
    std::string FClassName;
    const TPropertyTable* FParent;
    std::vector<std::unique_ptr<TPropertyInfo>> FProperties;
};

// Registers (or returns the already registered) table of the C++ class `type`, known as
// `className`, whose registered base is `parent` (null for a root). `isInstance` tells whether an
// object is of that class or a descendant.
TPropertyTable& RegisterPropertyTable(std::string_view className, std::type_index type,
                                      const TPropertyTable* parent,
                                      std::function<bool(const TObject&)> isInstance);

const TPropertyTable* FindPropertyTableByType(std::type_index type);
// The table of the object's most derived registered class; null for no object or a class
// without type information.
const TPropertyTable* GetPropertyTable(const TObject* object);

// The table of T, registered once; its base is Parent's table (registered first when needed).
template <class T, class Parent = void> TPropertyTable& PropertyTableOf(std::string_view name) {
    static_assert(std::is_base_of_v<TObject, T>, "published properties need a TObject class");
    const TPropertyTable* parent = nullptr;
    if constexpr (!std::is_void_v<Parent>) parent = FindPropertyTableByType(typeid(Parent));
    return RegisterPropertyTable(name, typeid(T), parent, [](const TObject& o) {
        return dynamic_cast<const T*>(&o) != nullptr;
    });
}

// --- Reading and writing (the object must be of the table's class) ---
// Integer and 64-bit integer kinds: the ordinal.
int64_t GetOrdProp(const TObject& object, const TPropertyInfo& info);
// Text kinds: the text; a character kind gives its one character.
std::string GetStrProp(const TObject& object, const TPropertyInfo& info);
// An enumeration: the name of the current value.
std::string GetEnumProp(const TObject& object, const TPropertyInfo& info);
double GetFloatProp(const TObject& object, const TPropertyInfo& info);
// A set: the member names joined by "," in "[" "]".
std::string GetSetProp(const TObject& object, const TPropertyInfo& info);
TObject* GetObjectProp(const TObject& object, const TPropertyInfo& info);

// Writes through the property's setter ("Property %s is read-only" without one).
void SetPropValue(TObject& object, const TPropertyInfo& info, const TPropertyValue& value);
// The general conversion from a text: an enumeration by value name, a set by its bracketed text
// (both ignoring letter case), a character by its first character, numbers by their text, texts
// as they stand. Names that are no member raise "Invalid property element: %s"; numbers the
// platform's conversion errors.
void SetPropText(TObject& object, const TPropertyInfo& info, std::string_view text);

// The ordinal of an enumeration value name (ignoring letter case), -1 when none.
int32_t GetEnumValue(const TPropertyInfo& info, std::string_view name);
// The bit mask of a set text ("[a,b]", the brackets optional, blanks ignored).
int64_t StringToSet(const TPropertyInfo& info, std::string_view text);
std::string SetToString(const TPropertyInfo& info, int64_t bits);

// Registers the published properties of the platform's own classes (TComponent: Name and the
// read-only Owner). Runs when the unit starts; later calls do nothing.
void RegisterPlatformProperties();

} // namespace ie
