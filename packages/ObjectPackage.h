// The object package: rules reach the host program's objects through it. They create components
// and plain objects of registered classes, find components by name under the engine's owner,
// read and write published properties by name, run actions, test classes and free objects.
//
// Object and class values refer to what they hold without owning it. Properties go through the
// platform's published-property tables (platform/PropertyInfo.h); the engine's own settings
// and events are published there when the unit starts.
#pragma once

#include <string_view>

#include "engine/IEPackages.h"
#include "packages/StandardPackage.h"

namespace ie {

#define IE_OBJECT_FUNCTION(ClassType)                                                              \
    class ClassType : public TBuiltInFunction {                                                    \
    public:                                                                                        \
        ClassType();                                                                               \
        std::string_view ClassName() const override { return #ClassType; }                         \
                                                                                                   \
    protected:                                                                                     \
        TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;                   \
    }

IE_OBJECT_FUNCTION(TCreateComponentFunction); // create-component
IE_OBJECT_FUNCTION(TCreateObjectFunction);    // create-object
IE_OBJECT_FUNCTION(TExecuteActionFunction);   // execute-action
IE_OBJECT_FUNCTION(TFreeObjectFunction);      // free-object
IE_OBJECT_FUNCTION(TGetComponentFunction);    // get-component
IE_OBJECT_FUNCTION(TGetComponentsFunction);   // get-components
IE_OBJECT_FUNCTION(TGetPropertyFunction);     // get-property
IE_OBJECT_FUNCTION(TGetPropertiesFunction);   // get-properties
IE_OBJECT_FUNCTION(TSetPropertyFunction);     // set-property
IE_OBJECT_FUNCTION(TGetClassFunction);        // get-class
IE_OBJECT_FUNCTION(TIsClassFunction);         // is-class

#undef IE_OBJECT_FUNCTION

// "Invalid property type: %s": a property of a kind that the functions do not read or write.
inline constexpr std::string_view InvalidPropertyTypeMessage = "Invalid property type: %s";
// Freeing the engine that runs the call, one of its owners or one of its own components would
// destroy the code that is running.
inline constexpr std::string_view CannotFreeEngineObjectMessage =
    "Cannot free %s: the engine running the call depends on it";

class TObjectPackage : public TUserPackage {
public:
    explicit TObjectPackage(TComponent* owner) : TUserPackage(owner) {}
    std::string_view ClassName() const override { return "TObjectPackage"; }

protected:
    void DoCreateFunctions() override;
};

// Registers the package's function classes with the class registry (once).
void RegisterObjectFunctionClasses();
// Publishes the engine's settings and events (TInferenceEngine, beside TComponent's Name and
// Owner) in the property tables (once).
void RegisterEngineProperties();
// Function classes, engine properties and the package factory for pObject. Runs when the unit
// starts.
void RegisterObjectPackage();

} // namespace ie
