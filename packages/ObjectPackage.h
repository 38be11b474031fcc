// The object package: rules reach the host program's objects through it. They create components
// and plain objects of registered classes, find components by name under the engine's owner,
// read and write published properties by name, run actions, test classes and free objects.
//
// Object and class values refer to what they hold without owning it. Properties go through the
// platform's published-property tables (platform/PropertyInfo.h); the engine's own settings
// and events are published there when the unit starts.
#pragma once

#include <string_view>

#include "engine/model/IEPackages.h"
#include "packages/FunctionFramework.h"

namespace ie {

IE_BUILT_IN_FUNCTION(TCreateComponentFunction); // create-component
IE_BUILT_IN_FUNCTION(TCreateObjectFunction);    // create-object
IE_BUILT_IN_FUNCTION(TExecuteActionFunction);   // execute-action
IE_BUILT_IN_FUNCTION(TFreeObjectFunction);      // free-object
IE_BUILT_IN_FUNCTION(TGetComponentFunction);    // get-component
IE_BUILT_IN_FUNCTION(TGetComponentsFunction);   // get-components
IE_BUILT_IN_FUNCTION(TGetPropertyFunction);     // get-property
IE_BUILT_IN_FUNCTION(TGetPropertiesFunction);   // get-properties
IE_BUILT_IN_FUNCTION(TSetPropertyFunction);     // set-property
IE_BUILT_IN_FUNCTION(TGetClassFunction);        // get-class
IE_BUILT_IN_FUNCTION(TIsClassFunction);         // is-class

// "Invalid property type: %s": a property of a kind that the functions do not read or write.
inline constexpr std::string_view InvalidPropertyTypeMessage = "Invalid property type: %s";
// Freeing the engine that runs the call, one of its owners or one of its own components would
// destroy the code that is running.
inline constexpr std::string_view CannotFreeEngineObjectMessage =
    "Cannot free %s: the engine running the call depends on it";

// A value whose object has been freed stays an object value (printed "<Object: freed>"); the
// functions that would use the object refuse it, free-object included.
inline constexpr std::string_view FreedObjectMessage =
    "The object this value refers to has been freed";

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
