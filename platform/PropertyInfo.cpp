// The registry of property tables, the typed getters and setters, the text forms of enumerations
// and sets, and the table of TComponent's own properties. Tables never move once registered; the
// cache from dynamic type to most derived registered table is cleared on each registration, since
// a new class may be the better match for types already seen.
#include "platform/PropertyInfo.h"

#include "platform/Format.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace ie {

namespace {

// Case-insensitive order, then the exact text so that the order is total.
bool NameBefore(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char x = LowerCaseAscii(a[i]), y = LowerCaseAscii(b[i]);
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

struct TTableEntry {
    std::unique_ptr<TPropertyTable> Table;
    std::function<bool(const TObject&)> IsInstance;
    int Depth = 0;
};

// Tables are never moved once registered; the cache maps a dynamic type to the table of its
// most derived registered class (null when it has none).
struct TPropertyRegistry {
    std::mutex Lock;
    std::vector<std::unique_ptr<TTableEntry>> Entries;
    std::unordered_map<std::type_index, TTableEntry*> ByType;
    std::unordered_map<std::type_index, const TPropertyTable*> Cache;
};

TPropertyRegistry& Registry() {
    static TPropertyRegistry registry;
    return registry;
}

[[noreturn]] void RaiseValueError() {
    throw EPropertyError("Invalid property value");
}

int64_t OrdinalOf(const TPropertyValue& value) {
    if (const auto* i = std::get_if<int64_t>(&value)) return *i;
    RaiseValueError();
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

void TPropertyTable::Add(TPropertyInfo info) {
    for (auto& p : FProperties)
        if (SameText(p->Name, info.Name)) {
            *p = std::move(info);
            return;
        }
    FProperties.push_back(std::make_unique<TPropertyInfo>(std::move(info)));
}

const TPropertyInfo* TPropertyTable::Find(std::string_view name) const {
    // Tables hold a handful of properties: a linear scan beats hashing a folded copy of the name.
    for (const TPropertyTable* t = this; t; t = t->FParent)
        for (const auto& p : t->FProperties)
            if (SameText(p->Name, name)) return p.get();
    return nullptr;
}

std::vector<const TPropertyInfo*> TPropertyTable::SortedProperties() const {
    std::vector<const TPropertyInfo*> list;
    for (const TPropertyTable* t = this; t; t = t->FParent)
        for (const auto& p : t->FProperties)
            if (Find(p->Name) == p.get()) list.push_back(p.get());
    std::sort(list.begin(), list.end(), [](const TPropertyInfo* a, const TPropertyInfo* b) {
        return NameBefore(a->Name, b->Name);
    });
    return list;
}

TPropertyTable& RegisterPropertyTable(std::string_view className, std::type_index type,
                                      const TPropertyTable* parent,
                                      std::function<bool(const TObject&)> isInstance) {
    TPropertyRegistry& r = Registry();
    std::lock_guard guard(r.Lock);
    if (auto it = r.ByType.find(type); it != r.ByType.end()) return *it->second->Table;
    auto entry = std::make_unique<TTableEntry>();
    entry->Table = std::make_unique<TPropertyTable>(std::string(className), parent);
    entry->IsInstance = std::move(isInstance);
    for (const TPropertyTable* t = parent; t; t = t->Parent())
        ++entry->Depth;
    TTableEntry* e = entry.get();
    r.Entries.push_back(std::move(entry));
    r.ByType.emplace(type, e);
    // A new class may be the most derived registered class of types seen before.
    r.Cache.clear();
    return *e->Table;
}

const TPropertyTable* FindPropertyTableByType(std::type_index type) {
    TPropertyRegistry& r = Registry();
    std::lock_guard guard(r.Lock);
    auto it = r.ByType.find(type);
    return it == r.ByType.end() ? nullptr : it->second->Table.get();
}

const TPropertyTable* GetPropertyTable(const TObject* object) {
    if (!object) return nullptr;
    TPropertyRegistry& r = Registry();
    std::lock_guard guard(r.Lock);
    const std::type_index type(typeid(*object));
    if (auto it = r.Cache.find(type); it != r.Cache.end()) return it->second;
    const TTableEntry* best = nullptr;
    for (const auto& e : r.Entries)
        if ((!best || e->Depth > best->Depth) && e->IsInstance(*object)) best = e.get();
    const TPropertyTable* table = best ? best->Table.get() : nullptr;
    r.Cache.emplace(type, table);
    return table;
}

int64_t GetOrdProp(const TObject& object, const TPropertyInfo& info) {
    return OrdinalOf(info.Get(object));
}

std::string GetStrProp(const TObject& object, const TPropertyInfo& info) {
    TPropertyValue v = info.Get(object);
    if (auto* s = std::get_if<std::string>(&v)) return std::move(*s);
    if (const auto* i = std::get_if<int64_t>(&v)) // a character kind
        return std::string(1, static_cast<char>(*i));
    RaiseValueError();
}

std::string GetEnumProp(const TObject& object, const TPropertyInfo& info) {
    const int64_t ordinal = GetOrdProp(object, info);
    if (ordinal < 0 || static_cast<size_t>(ordinal) >= info.EnumNames.size())
        return IntToStr(ordinal);
    return info.EnumNames[static_cast<size_t>(ordinal)];
}

double GetFloatProp(const TObject& object, const TPropertyInfo& info) {
    TPropertyValue v = info.Get(object);
    if (const auto* d = std::get_if<double>(&v)) return *d;
    RaiseValueError();
}

std::string GetSetProp(const TObject& object, const TPropertyInfo& info) {
    return SetToString(info, GetOrdProp(object, info));
}

TObject* GetObjectProp(const TObject& object, const TPropertyInfo& info) {
    TPropertyValue v = info.Get(object);
    if (auto* o = std::get_if<TObject*>(&v)) return *o;
    RaiseValueError();
}

void SetPropValue(TObject& object, const TPropertyInfo& info, const TPropertyValue& value) {
    if (!info.Set) throw EPropertyError(Format("Property %s is read-only", info.Name));
    info.Set(object, value);
}

int32_t GetEnumValue(const TPropertyInfo& info, std::string_view name) {
    name = Trimmed(name);
    for (size_t i = 0; i < info.EnumNames.size(); ++i)
        if (SameText(info.EnumNames[i], name)) return static_cast<int32_t>(i);
    return -1;
}

int64_t StringToSet(const TPropertyInfo& info, std::string_view text) {
    text = Trimmed(text);
    if (!text.empty() && text.front() == '[') text.remove_prefix(1);
    if (!text.empty() && text.back() == ']') text.remove_suffix(1);
    int64_t bits = 0;
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view name = Trimmed(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (name.empty()) continue;
        const int32_t member = GetEnumValue(info, name);
        // A set holds at most 64 members here; a name beyond them is no member either.
        if (member < 0 || member >= 64)
            throw EPropertyConvertError(Format("Invalid property element: %s", name));
        bits |= int64_t(1) << member;
    }
    return bits;
}

std::string SetToString(const TPropertyInfo& info, int64_t bits) {
    std::string text = "[";
    bool first = true;
    for (size_t i = 0; i < info.EnumNames.size() && i < 64; ++i)
        if ((bits >> i) & 1) {
            if (!first) text += ',';
            text += info.EnumNames[i];
            first = false;
        }
    return text + "]";
}

void SetPropText(TObject& object, const TPropertyInfo& info, std::string_view text) {
    switch (info.Kind) {
    case tkInteger:
        return SetPropValue(object, info, int64_t(StrToInt(Trimmed(text))));
    case tkInt64:
        return SetPropValue(object, info, StrToInt64(Trimmed(text)));
    case tkChar:
    case tkWChar:
        return SetPropValue(object, info,
                            int64_t(text.empty() ? 0 : static_cast<unsigned char>(text[0])));
    case tkEnumeration: {
        const int32_t ordinal = GetEnumValue(info, text);
        // The platform would store -1 for an unknown name and leave the property out of range.
        if (ordinal < 0) throw EPropertyConvertError(Format("Invalid property element: %s", text));
        return SetPropValue(object, info, int64_t(ordinal));
    }
    case tkSet:
        return SetPropValue(object, info, StringToSet(info, text));
    case tkFloat:
        return SetPropValue(object, info, StrToFloat(Trimmed(text)));
    case tkString:
    case tkLString:
    case tkWString:
        return SetPropValue(object, info, std::string(text));
    default:
        RaiseValueError();
    }
}

void RegisterPlatformProperties() {
    static const bool registered = [] {
        TPropertyTable& component = PropertyTableOf<TComponent>("TComponent");
        component.Add({"Name",
                       tkLString,
                       "string",
                       {},
                       [](const TObject& o) -> TPropertyValue {
                           return static_cast<const TComponent&>(o).Name();
                       },
                       [](TObject& o, const TPropertyValue& v) {
                           const auto* s = std::get_if<std::string>(&v);
                           if (!s) RaiseValueError();
                           static_cast<TComponent&>(o).SetName(*s);
                       }});
        component.Add({"Owner",
                       tkClass,
                       "TComponent",
                       {},
                       [](const TObject& o) -> TPropertyValue {
                           return static_cast<TObject*>(static_cast<const TComponent&>(o).Owner());
                       },
                       nullptr});
        return true;
    }();
    (void)registered;
}

namespace {
const bool PlatformPropertiesRegistered = (RegisterPlatformProperties(), true);
} // namespace

} // namespace ie
