// The class registry: one owning list of TClassInfo and two indexes (by lower-cased name, by
// type), all under one lock. An entry never moves once registered, so a reference handed out
// stays valid until its class is unregistered, and unregistering a class detaches the classes
// registered as derived from it instead of leaving them a dangling base.
#include "platform/ClassRegistry.h"

#include "platform/Format.h"

#include <memory>
#include <mutex>
#include <unordered_map>

namespace ie {

namespace {

std::string LowerAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = LowerCaseAscii(c);
    return r;
}

// Entries are never moved once registered, so the references handed out stay valid until the
// class is unregistered.
struct TRegistry {
    std::mutex Lock;
    std::vector<std::unique_ptr<TClassInfo>> Classes;
    std::unordered_map<std::string, TClassInfo*> ByName;
    std::unordered_map<std::type_index, TClassInfo*> ByType;
};

TRegistry& Registry() {
    static TRegistry registry;
    return registry;
}

} // namespace

bool TClassInfo::InheritsFrom(const TClassInfo* ancestor) const {
    for (const TClassInfo* c = this; c; c = c->FParent)
        if (c == ancestor) return true;
    return false;
}

TObject* TClassInfo::Create() const {
    if (!FCreate) throw EException(Format("Class %s cannot be created", FName));
    return FCreate();
}

TComponent* TClassInfo::CreateComponent(TComponent* owner) const {
    if (!FCreateComponent) throw EException(Format("Class %s is not a component class", FName));
    return FCreateComponent(owner);
}

const TClassInfo& RegisterClassInfo(std::string_view name, std::type_index type,
                                    const TClassInfo* parent, TClassInfo::TInstanceTest isInstance,
                                    TClassInfo::TPlainFactory create,
                                    TClassInfo::TComponentFactory createComponent) {
    TRegistry& r = Registry();
    std::lock_guard guard(r.Lock);
    std::string key = LowerAscii(name);
    if (auto it = r.ByName.find(key); it != r.ByName.end()) {
        if (it->second->Type() == type) return *it->second;
        throw EException(Format("A class named %s already exists", name));
    }
    auto info = std::make_unique<TClassInfo>(std::string(name), type, parent, std::move(isInstance),
                                             std::move(create), std::move(createComponent));
    TClassInfo* p = info.get();
    r.Classes.push_back(std::move(info));
    r.ByName.emplace(std::move(key), p);
    r.ByType.emplace(type, p);
    return *p;
}

void UnRegisterClass(std::string_view name) {
    TRegistry& r = Registry();
    std::lock_guard guard(r.Lock);
    auto it = r.ByName.find(LowerAscii(name));
    if (it == r.ByName.end()) return;
    TClassInfo* p = it->second;
    r.ByName.erase(it);
    if (auto t = r.ByType.find(p->Type()); t != r.ByType.end() && t->second == p) r.ByType.erase(t);
    // Classes registered as derived from it lose their base rather than keep a dangling one.
    for (auto& c : r.Classes)
        if (c->FParent == p) c->FParent = nullptr;
    for (auto c = r.Classes.begin(); c != r.Classes.end(); ++c)
        if (c->get() == p) {
            r.Classes.erase(c);
            break;
        }
}

const TClassInfo* GetClass(std::string_view name) {
    TRegistry& r = Registry();
    std::lock_guard guard(r.Lock);
    auto it = r.ByName.find(LowerAscii(name));
    return it == r.ByName.end() ? nullptr : it->second;
}

const TClassInfo& FindClass(std::string_view name) {
    const TClassInfo* c = GetClass(name);
    if (c == nullptr) throw EClassNotFound(Format("Class %s not found", name));
    return *c;
}

const TClassInfo* FindClassByType(std::type_index type) {
    TRegistry& r = Registry();
    std::lock_guard guard(r.Lock);
    auto it = r.ByType.find(type);
    return it == r.ByType.end() ? nullptr : it->second;
}

std::vector<std::string> RegisteredClassNames() {
    TRegistry& r = Registry();
    std::lock_guard guard(r.Lock);
    std::vector<std::string> names;
    names.reserve(r.Classes.size());
    for (const auto& c : r.Classes)
        names.push_back(c->ClassName());
    return names;
}

} // namespace ie
