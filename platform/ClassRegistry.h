// The process-wide class registry: classes registered under their names can be found and
// instantiated by name (stored package functions are re-created this way, and rules reach
// host classes through it).
//
// A TClassInfo describes one registered class: its name, its registered base (if any), an
// instance test, and the constructors it offers: a plain one and, for components, one taking
// the owner. Names are compared ignoring ASCII letter case. Registration normally happens once
// at start-up; lookups are O(1) and safe from any thread.
#pragma once

#include "platform/Component.h"

#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeindex>
#include <vector>

namespace ie {

// "Class %s not found".
class EClassNotFound : public EException {
public:
    using EException::EException;
};

// Removes a registration (a no-op for unknown names); classes registered as derived from it
// lose their registered base.
void UnRegisterClass(std::string_view name);

class TClassInfo {
public:
    using TPlainFactory = std::function<TObject*()>;
    using TComponentFactory = std::function<TComponent*(TComponent* owner)>;
    using TInstanceTest = std::function<bool(const TObject*)>;

    TClassInfo(std::string name, std::type_index type, const TClassInfo* parent,
               TInstanceTest isInstance, TPlainFactory create, TComponentFactory createComponent)
        : FName(std::move(name)), FType(type), FParent(parent), FIsInstance(std::move(isInstance)),
          FCreate(std::move(create)), FCreateComponent(std::move(createComponent)) {}

    const std::string& ClassName() const { return FName; }
    const TClassInfo* ClassParent() const { return FParent; }
    std::type_index Type() const { return FType; }

    // True when `object` is an instance of this class or of a descendant.
    bool IsInstance(const TObject* object) const { return object && FIsInstance(object); }
    // True when this class is `ancestor` or registered as derived from it.
    bool InheritsFrom(const TClassInfo* ancestor) const;

    bool CanCreate() const { return static_cast<bool>(FCreate); }
    bool IsComponentClass() const { return static_cast<bool>(FCreateComponent); }
    // A new instance made with the plain constructor; raises EException
    // "Class %s cannot be created" when the class has none.
    TObject* Create() const;
    // A new component owned by `owner`; raises when the class is no component class.
    TComponent* CreateComponent(TComponent* owner) const;

private:
    friend void UnRegisterClass(std::string_view name);
    std::string FName;
    std::type_index FType;
    const TClassInfo* FParent;
    TInstanceTest FIsInstance;
    TPlainFactory FCreate;
    TComponentFactory FCreateComponent;
};

// Registers a class description. Registering the same class under the same name again does
// nothing; another class under a registered name raises "A class named %s already exists".
const TClassInfo& RegisterClassInfo(std::string_view name, std::type_index type,
                                    const TClassInfo* parent, TClassInfo::TInstanceTest isInstance,
                                    TClassInfo::TPlainFactory create,
                                    TClassInfo::TComponentFactory createComponent);

// The registered class description of a C++ type, or null.
const TClassInfo* FindClassByType(std::type_index type);

// Registers T (a TObject descendant) under `name`, with `Parent` as its registered base when
// given. The constructors offered follow from T: T() and, for components, T(TComponent*).
template <class T, class Parent = void> const TClassInfo& RegisterClass(std::string_view name) {
    static_assert(std::is_base_of_v<TObject, T>, "registered classes derive from TObject");
    const TClassInfo* parent = nullptr;
    if constexpr (!std::is_void_v<Parent>) {
        static_assert(std::is_base_of_v<Parent, T>, "Parent must be a base of T");
        parent = FindClassByType(typeid(Parent));
    }
    TClassInfo::TPlainFactory create;
    if constexpr (std::is_default_constructible_v<T> && !std::is_abstract_v<T>)
        create = []() -> TObject* { return new T(); };
    TClassInfo::TComponentFactory createComponent;
    if constexpr (std::is_base_of_v<TComponent, T> && !std::is_abstract_v<T> &&
                  std::is_constructible_v<T, TComponent*>)
        createComponent = [](TComponent* owner) -> TComponent* { return new T(owner); };
    return RegisterClassInfo(
        name, typeid(T), parent,
        [](const TObject* o) { return dynamic_cast<const T*>(o) != nullptr; }, std::move(create),
        std::move(createComponent));
}

// The registered class of that name, or null.
const TClassInfo* GetClass(std::string_view name);
// The registered class of that name; raises EClassNotFound "Class %s not found".
const TClassInfo& FindClass(std::string_view name);
// The names of all registered classes, in registration order.
std::vector<std::string> RegisteredClassNames();

} // namespace ie
