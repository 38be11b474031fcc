// The function framework: what every built-in function of every package shares. The base
// classes (TBuiltInFunction, TVariantFunction, TNumericFunction, TTestFunction), the class
// declaration macros (IE_BUILT_IN_FUNCTION and its kin), argument evaluation (EvalArg and the
// numeric argument readers EvalNumber and EvalInteger), the filling of a package's function list
// and the registration of a package with the engine (RegisterPackage).
//
// A built-in function is a class of its own, named after its rule-language name. It holds no
// state (printout and format keep the text of their last call), so one object serves every call
// of its name; it reaches the engine only through the context's engine. Its body receives the
// arguments unevaluated and evaluates each when it needs it, left to right.
//
// The framework depends on the engine's model layer only: a function reaches its engine as the
// context's IReasoner. The few packages that work on the concrete engine include
// packages/EngineAccess.h besides.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "engine/model/IEConsts.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"
#include "platform/ClassRegistry.h"
#include "platform/PropertyInfo.h"

namespace ie {

// The format from which every built-in function builds its Comment: the help text is its first
// argument and the function name its second. Initially "%s", so a comment is its help text; a
// host that wants another form sets it before the packages are created.
std::string& HelpFormat();

// The largest argument count: a function that sets no maximum accepts any number.
inline constexpr int32_t AnyArgumentCount = 2147483647;

// Base of the built-in functions: the construction sets, in this order, the name, the comment
// (from HelpFormat), the argument syntax and, where the function limits them, the maximum and
// then the minimum argument count.
class TBuiltInFunction : public TIEUserFunction {
protected:
    TBuiltInFunction(std::string_view name, std::string_view help, std::string_view arguments,
                     int32_t minCount = 0, int32_t maxCount = AnyArgumentCount);
};

// A class that serves several names. Setting the name to one of its variants' names selects that
// variant with its comment, argument text and counts (another name changes only the name);
// selecting a variant sets its name as well. A new object is the first variant.
class TVariantFunction : public TBuiltInFunction {
public:
    // What one rule-language name sets on the function object.
    struct TSpec {
        std::string_view Name;
        std::string_view Help;
        std::string_view Arguments;
        int32_t Min;
        int32_t Max;
    };

    void SetFunctionName(std::string_view name) override;
    std::span<const TSpec> VariantSpecs() const noexcept { return FVariants; }

    // The selected variant, an index into VariantSpecs; selecting one sets its name, comment,
    // argument text and counts.
    int Variant() const noexcept { return FVariant; }
    void SelectVariant(int index);

protected:
    explicit TVariantFunction(std::span<const TSpec> variants);

private:
    void ApplyVariant(int index);
    std::span<const TSpec> FVariants;
    int FVariant = 0;
};

// Base of the functions that compute a number (+, -, *, /). The body is ExecuteNumber; Execute
// makes the value, a float when a float took part, else the integer. Where such a call is the
// numeric argument of another (EvalNumber), its number is passed on and no value is made.
class TNumericFunction : public TBuiltInFunction {
public:
    bool CallNumber(IFunCall* call, TIEContext* context, TIENumber& result) final;

protected:
    TNumericFunction(std::string_view name, std::string_view help, std::string_view arguments,
                     int32_t minCount = 0, int32_t maxCount = AnyArgumentCount)
        : TBuiltInFunction(name, help, arguments, minCount, maxCount) {
        SetComputesNumber();
    }
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) final;
    // The number of the call's value: a finite float, or an integer within 32 bits.
    TIENumber ExecuteNumber(IFunCall* call, TIEContext* context) override = 0;
};

// Base of the functions whose value is TRUE or FALSE (the comparisons, and, not). The body is
// ExecuteTest; Execute makes the value. Where such a call is a condition (EvalCondition) the
// answer is passed on and no value changes hands.
class TTestFunction : public TBuiltInFunction {
public:
    bool CallTest(IFunCall* call, TIEContext* context, bool& holds) final;

protected:
    using TBuiltInFunction::TBuiltInFunction;
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) final;
    virtual bool ExecuteTest(IFunCall* call, TIEContext* context) = 0;
};

// The declaration of a function class derived from Base that serves one name; its constructor
// sets the name and its body is the member declared by the remaining arguments.
#define IE_FUNCTION_CLASS_WITH_BODY(ClassType, Base, ...)                                          \
    class ClassType : public Base {                                                                \
    public:                                                                                        \
        static constexpr std::string_view StaticClassName = #ClassType;                            \
        ClassType();                                                                               \
        std::string_view ClassName() const override { return StaticClassName; }                    \
                                                                                                   \
    protected:                                                                                     \
        __VA_ARGS__ override;                                                                      \
    }

// The same with Execute as the body.
#define IE_FUNCTION_CLASS(ClassType, Base)                                                         \
    IE_FUNCTION_CLASS_WITH_BODY(ClassType, Base,                                                   \
                                TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context))

#define IE_BUILT_IN_FUNCTION(ClassType) IE_FUNCTION_CLASS(ClassType, TBuiltInFunction)

// A function class whose value is TRUE or FALSE: its body is ExecuteTest.
#define IE_TEST_FUNCTION(ClassType)                                                                \
    IE_FUNCTION_CLASS_WITH_BODY(ClassType, TTestFunction,                                          \
                                bool ExecuteTest(IFunCall* call, TIEContext* context))

// A numeric function class: its body is ExecuteNumber.
#define IE_NUMERIC_FUNCTION(ClassType)                                                             \
    IE_FUNCTION_CLASS_WITH_BODY(ClassType, TNumericFunction,                                       \
                                TIENumber ExecuteNumber(IFunCall* call, TIEContext* context))

// The declaration of a variant class whose selector property `Selector` has the enumeration type
// `Enum`, one value per variant in the order of its names.
#define IE_VARIANT_FUNCTION(ClassType, Enum, Selector)                                             \
    class ClassType : public TVariantFunction {                                                    \
    public:                                                                                        \
        static constexpr std::string_view StaticClassName = #ClassType;                            \
        static constexpr std::string_view SelectorName = #Selector;                                \
        static constexpr std::string_view SelectorTypeName = #Enum;                                \
        /* The names of the selector's values in ordinal order (IE_VARIANT_SELECTOR_NAMES). */     \
        static std::span<const std::string_view> SelectorValueNames();                             \
        ClassType();                                                                               \
        std::string_view ClassName() const override { return StaticClassName; }                    \
        Enum Selector() const noexcept { return static_cast<Enum>(Variant()); }                    \
        void Set##Selector(Enum value) { SelectVariant(value); }                                   \
                                                                                                   \
    protected:                                                                                     \
        TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;                   \
    }

// Defines the selector value names of a variant class, in the order of its enumeration.
#define IE_VARIANT_SELECTOR_NAMES(ClassType, ...)                                                  \
    std::span<const std::string_view> ClassType::SelectorValueNames() {                            \
        static constexpr std::string_view names[] = {__VA_ARGS__};                                 \
        return names;                                                                              \
    }

// Publishes the selector of a variant class as an enumeration property of its run-time type
// information, so that rules read and set it by name with get-property and set-property.
void PublishVariantSelector(TPropertyTable& table, std::string_view selector,
                            std::string_view typeName, std::span<const std::string_view> names);

// The value of an expression in the context; a missing element or a call that gives no value
// reads as the empty atom, so no function body ever dereferences nothing.
inline TRefPtr<IIEValue> Evaluated(const TRefPtr<IIEValue>& expression, TIEContext* context) {
    if (!expression) return IEEmptyAtom();
    TRefPtr<IIEValue> value = EvaluateExpression(expression, context);
    if (!value) return IEEmptyAtom();
    return value; // moved, not copied: no second count
}

// Argument i of the call evaluated in the context (a missing one reads as the empty atom).
inline TRefPtr<IIEValue> EvalArg(IFunCall* call, int32_t i, TIEContext* context) {
    return Evaluated(ArgumentOf(call, i), context);
}

// The number of a numeric argument, read as GetAsNumeric reads its value, with whether it is a
// float. Number literals are read in place and calls of numeric functions give their number, so
// no value is made for either; anything else is evaluated as EvalArg does.
TIENumber EvalNumber(const TRefPtr<IIEValue>& expression, TIEContext* context);

// The integer of an integer argument, read as AsInteger reads its value; integer literals,
// variables and calls of numeric functions make no value for it.
int32_t EvalInteger(const TRefPtr<IIEValue>& expression, TIEContext* context);

// The value that holds a number: a float, or the integer.
TRefPtr<IIEValue> NumberValue(const TIENumber& number);

// Adds a new object of the function class T to a package's function list; for a variant class,
// one object for each variant, created under the variant's name, in the order of the variants.
template <class T> void AddFunction(TUserFunctionList& functions) {
    if constexpr (std::is_base_of_v<TVariantFunction, T>) {
        const TRefPtr<T> first = MakeRef<T>();
        const std::span<const TVariantFunction::TSpec> variants = first->VariantSpecs();
        for (size_t i = 0; i < variants.size(); ++i) {
            const TRefPtr<T> function = i == 0 ? first : MakeRef<T>();
            function->SetFunctionName(variants[i].Name);
            functions.Add(TRefPtr<IUserFunction>(function));
        }
    } else {
        functions.Add(TRefPtr<IUserFunction>(MakeRef<T>()));
    }
}

// AddFunction for each class, in the given order.
template <class... T> void AddFunctions(TUserFunctionList& functions) {
    (AddFunction<T>(functions), ...);
}

// A package's function classes (each with its StaticClassName), in the order of its functions.
template <class... T> struct TFunctionClasses {
    // The objects of the classes (of every variant), added to the function list in this order.
    static void AddTo(TUserFunctionList& functions) { AddFunctions<T...>(functions); }
    // Registers the classes with the class registry under their class names, in this order, so
    // stored package functions can be re-created by class name. Done once; later calls do nothing.
    // A variant class also publishes its selector.
    static void Register() {
        static const bool registered =
            ((RegisterClass<T>(T::StaticClassName), ...), (PublishSelectorOf<T>(), ...), true);
        (void)registered;
    }

private:
    // Every function class has type information; a variant class also publishes its selector.
    template <class C> static void PublishSelectorOf() {
        if constexpr (requires { C::SelectorName; })
            PublishVariantSelector(PropertyTableOf<C>(C::StaticClassName), C::SelectorName,
                                   C::SelectorTypeName, C::SelectorValueNames());
        else
            PropertyTableOf<C>(C::StaticClassName);
    }
};

// Registers a package's function classes with the class registry and its factory with the
// engine, so that every engine whose Packages name it creates it.
template <class TPackage, class TClasses> void RegisterPackage(TFunctionPackage package) {
    TClasses::Register();
    RegisterPackageFactory(
        package, [](TComponent* engine) -> TComponent* { return NewPackage<TPackage>(engine); });
}

} // namespace ie
