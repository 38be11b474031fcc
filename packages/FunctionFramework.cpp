// The function framework's shared code: the construction of a built-in function from its name,
// help and counts, the selection of a variant, the numeric and test bases, the numeric argument
// readers.
//
// Invariant: the numeric argument readers give the number that evaluating the argument and reading
// the value (GetAsNumeric, AsInteger) would give; they only skip making the value where they can.
// Nothing here names the concrete engine: packages register their factories in the model layer.
#include "packages/FunctionFramework.h"

#include <typeinfo>
#include <utility>
#include <variant>

#include "platform/Format.h"

namespace ie {

std::string& HelpFormat() {
    static std::string format = "%s";
    return format;
}

TBuiltInFunction::TBuiltInFunction(std::string_view name, std::string_view help,
                                   std::string_view arguments, int32_t minCount, int32_t maxCount) {
    SetFunctionName(name);
    SetComment(Format(HelpFormat(), help, name));
    SetArgumentString(arguments);
    // The maximum first: its setter lowers the minimum, the minimum's setter raises the maximum.
    if (maxCount != AnyArgumentCount) SetMaxArgumentCount(maxCount);
    if (minCount != 0) SetMinArgumentCount(minCount);
}

TVariantFunction::TVariantFunction(std::span<const TSpec> variants)
    : TBuiltInFunction(variants[0].Name, variants[0].Help, variants[0].Arguments, variants[0].Min,
                       variants[0].Max),
      FVariants(variants) {}

void TVariantFunction::SetFunctionName(std::string_view name) {
    TBuiltInFunction::SetFunctionName(name);
    for (size_t i = 0; i < FVariants.size(); ++i)
        if (FVariants[i].Name == name) return ApplyVariant(static_cast<int>(i));
}

void TVariantFunction::SelectVariant(int index) {
    TBuiltInFunction::SetFunctionName(FVariants[static_cast<size_t>(index)].Name);
    ApplyVariant(index);
}

// Comment, argument text and counts of the variant; the maximum first, since the maximum setter
// lowers the minimum and the minimum setter raises the maximum.
void TVariantFunction::ApplyVariant(int index) {
    const TSpec& spec = FVariants[static_cast<size_t>(index)];
    FVariant = index;
    SetComment(Format(HelpFormat(), spec.Help, spec.Name));
    SetArgumentString(spec.Arguments);
    SetMaxArgumentCount(spec.Max);
    SetMinArgumentCount(spec.Min);
}

bool TNumericFunction::CallNumber(IFunCall* call, TIEContext* context, TIENumber& result) {
    CheckCall(call, context);
    result = ExecuteNumber(call, context);
    return true;
}

TRefPtr<IIEValue> TNumericFunction::Execute(IFunCall* call, TIEContext* context) {
    return NumberValue(ExecuteNumber(call, context));
}

bool TTestFunction::CallTest(IFunCall* call, TIEContext* context, bool& holds) {
    CheckCall(call, context);
    holds = ExecuteTest(call, context);
    return true;
}

TRefPtr<IIEValue> TTestFunction::Execute(IFunCall* call, TIEContext* context) {
    return IEBoolValue(ExecuteTest(call, context));
}

TRefPtr<IIEValue> NumberValue(const TIENumber& number) {
    if (number.IsFloat) return TIEValue::CreateFloat(number.Value);
    const auto integer = static_cast<int32_t>(number.Value);
    if (TRefPtr<IIEValue> shared = TIEValue::SharedInteger(integer)) return shared;
    return TIEValue::CreateInteger(dtInteger, integer);
}

namespace {

// `value` as a number of the engine's own class (told by the address of its type information),
// null for anything else: such a number is read as a literal would be.
[[gnu::always_inline]] inline const TIEValue* OwnNumber(const IIEValue* value) {
    if (!value || &typeid(*value) != &typeid(TIEValue)) return nullptr;
    const auto* number = static_cast<const TIEValue*>(value);
    return number->DType() == dtInteger || number->DType() == dtFloat ? number : nullptr;
}

// ReadArgument for a variable or a position (`value`, the TIEValue of `expression`), apart from
// the in-place read so that the common path holds nothing: the value where it is bound (a
// pattern variable in the matched fact), else the evaluated expression.
template <class Read>
[[gnu::noinline]] auto ReadVariable(const TIEValue& value, const TRefPtr<IIEValue>& expression,
                                    TIEContext* context, Read read) {
    TRefPtr<IIEValue> hold;
    const IIEValue* bound = nullptr;
    // A pattern variable of a test: its position in the match is read at once.
    const TObject* position = value.OwnedObjectPayload();
    if (position && context && typeid(*position) == typeid(TBinding)) {
        const auto& info = static_cast<const TBinding&>(*position);
        bound = BorrowBindingInfo(info, *context, info.Name, hold);
    } else {
        bound = value.BorrowVariable(context, hold);
    }
    if (bound) {
        if (const TIEValue* number = OwnNumber(bound)) return read.Literal(*number);
        return read.Value(*bound);
    }
    return read.Value(*Evaluated(expression, context));
}

// TIEContext::NearestBindingAt without its look into the root for a hint that remembers the root:
// a global whose read fails here is read by ReadVariable, which looks there. The smaller code in
// line keeps the common reads of numbers (a global in a test among them) cheaper: even a call
// out of line for the root costs crypt 10's tests 0.7 % more instructions.
inline const TBinding* NearestSlotBinding(const TIEContext& context, uint16_t hint,
                                          std::string_view name) {
    const TIEContext* c = &context;
    while (c->BindingCount() == 0 && c->Parent())
        c = c->Parent();
    return c->BindingAt(hint, name);
}

// Reads an argument through `read` without making a value where it can: a number literal in
// place, a call of a numeric function by its number, a variable where it is bound (a pattern
// variable in the matched fact); anything else is evaluated first. The classes are told by the
// addresses of their type information, one load fewer than comparing names on every argument of
// every arithmetic call (a class the address does not tell is evaluated).
template <class Read>
auto ReadArgument(const TRefPtr<IIEValue>& expression, TIEContext* context, Read read) {
    if (const IIEValue* e = expression.get(); e && &typeid(*e) == &typeid(TIEValue)) {
        const auto* value = static_cast<const TIEValue*>(e);
        switch (value->DType()) {
        case dtInteger:
        case dtFloat:
            return read.Literal(*value);
        case dtFunCall:
            if (TFunctionCall* call = AsFunctionCall(*value)) {
                TIENumber number;
                if (call->EvaluateNumber(context, number)) return read.Number(number);
            }
            break;
        case dtObject:
            // A pattern variable of a test whose value the match holds as it stands: a number
            // is read in place, with nothing to hold (the other cases read it as below).
            if (const TObject* position = value->OwnedObjectPayload();
                position && context && &typeid(*position) == &typeid(TBinding))
                if (const TIEValue* number = OwnNumber(
                        ReadMatchedSlot(static_cast<const TBinding&>(*position), *context)))
                    return read.Literal(*number);
            return ReadVariable(*value, expression, context, read);
        case dtVariable:
        case dtMultiVariable:
            // The same for a variable whose binding stands where it last found it.
            if (context)
                if (const TBinding* b = NearestSlotBinding(*context, value->BindingHint(),
                                                           value->TextBlock()->Text()))
                    if (const TIEValue* number = OwnNumber(b->Value.get()))
                        return read.Literal(*number);
            return ReadVariable(*value, expression, context, read);
        default:
            break;
        }
    }
    return read.Value(*Evaluated(expression, context));
}

struct TReadNumber {
    TIENumber Literal(const TIEValue& v) const { return {v.NumberPayload(), v.DType() == dtFloat}; }
    TIENumber Number(const TIENumber& n) const { return n; }
    TIENumber Value(const IIEValue& v) const { return {v.GetAsNumeric(), v.GetDType() == dtFloat}; }
};

struct TReadInteger {
    int32_t Literal(const TIEValue& v) const { return v.AsInteger(); }
    // A float is read as the value the call would have given reads: truncated where it fits 32
    // bits (the bounds of AsInteger), else through that value, which raises.
    int32_t Number(const TIENumber& n) const {
        if (!n.IsFloat) return static_cast<int32_t>(n.Value);
        if (n.Value > -2147483649.0 && n.Value < 2147483648.0) return static_cast<int32_t>(n.Value);
        return NumberValue(n)->AsInteger();
    }
    int32_t Value(const IIEValue& v) const { return v.AsInteger(); }
};

} // namespace

TIENumber EvalNumber(const TRefPtr<IIEValue>& expression, TIEContext* context) {
    return ReadArgument(expression, context, TReadNumber());
}

int32_t EvalInteger(const TRefPtr<IIEValue>& expression, TIEContext* context) {
    return ReadArgument(expression, context, TReadInteger());
}

void PublishVariantSelector(TPropertyTable& table, std::string_view selector,
                            std::string_view typeName, std::span<const std::string_view> names) {
    TPropertyInfo info;
    info.Name = selector;
    info.Kind = tkEnumeration;
    info.TypeName = typeName;
    info.EnumNames.assign(names.begin(), names.end());
    info.Get = [](const TObject& o) -> TPropertyValue {
        return int64_t{dynamic_cast<const TVariantFunction&>(o).Variant()};
    };
    info.Set = [](TObject& o, const TPropertyValue& v) {
        auto& function = dynamic_cast<TVariantFunction&>(o);
        const auto* ordinal = std::get_if<int64_t>(&v);
        if (!ordinal || *ordinal < 0 ||
            *ordinal >= static_cast<int64_t>(function.VariantSpecs().size()))
            throw EPropertyError("Invalid property value");
        function.SelectVariant(static_cast<int>(*ordinal));
    };
    table.Add(std::move(info));
}

} // namespace ie
