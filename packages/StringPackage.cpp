// The string package's functions: case conversion, concatenation, comparison, search, length,
// substrings and formatting.
//
// Invariant: positions count from 1 over single-byte characters; a case conversion makes a new
// value of the argument's own kind. Needs of the engine nothing but the function framework.
#include "packages/StringPackage.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEValue.h"
#include "platform/FloatMath.h"

namespace ie {

namespace {

constexpr std::string_view TwoLexemes = " <lexeme-expression> <lexeme-expression>";

// The texts of all arguments joined without separator.
std::string Concatenated(IFunCall* call, TIEContext* context) {
    std::string text;
    for (int32_t i = 0, n = call->ArgumentCount(); i < n; ++i)
        text += EvalArg(call, i, context)->AsString();
    return text;
}

// A new value of the argument's own kind over its text with the letters of one case mapped to
// the other; a kind that holds no text refuses the text ("Value and type mismatch").
template <char From, char To> TRefPtr<IIEValue> CaseConverted(IFunCall* call, TIEContext* context) {
    TRefPtr<IIEValue> v = EvalArg(call, 0, context);
    std::string text = v->AsString();
    for (char& c : text)
        if (c >= From && c <= From + 25) c = static_cast<char>(c - From + To);
    return TIEValue::CreateText(v->GetDType(), text);
}

} // namespace

TLowerCaseFunction::TLowerCaseFunction()
    : TBuiltInFunction("lowcase",
                       "Returns its argument with the letters A to Z in lower case, as a value "
                       "of the argument's type",
                       " <string-or-symbol-expression>", 1, 1) {}

TRefPtr<IIEValue> TLowerCaseFunction::Execute(IFunCall* call, TIEContext* context) {
    return CaseConverted<'A', 'a'>(call, context);
}

TUpperCaseFunction::TUpperCaseFunction()
    : TBuiltInFunction("upcase",
                       "Returns its argument with the letters a to z in upper case, as a value "
                       "of the argument's type",
                       " <lexeme-expression>", 1, 1) {}

TRefPtr<IIEValue> TUpperCaseFunction::Execute(IFunCall* call, TIEContext* context) {
    return CaseConverted<'a', 'A'>(call, context);
}

TStrCatFunction::TStrCatFunction()
    : TBuiltInFunction("str-cat", "Returns the texts of its arguments joined, as a string",
                       " <lexeme-expression>*") {}

TRefPtr<IIEValue> TStrCatFunction::Execute(IFunCall* call, TIEContext* context) {
    return TIEValue::CreateText(dtString, Concatenated(call, context));
}

TSymCatFunction::TSymCatFunction()
    : TBuiltInFunction("sym-cat", "Returns the texts of its arguments joined, as a symbol",
                       " <expression>*") {}

TRefPtr<IIEValue> TSymCatFunction::Execute(IFunCall* call, TIEContext* context) {
    return TIEValue::CreateText(dtAtom, Concatenated(call, context));
}

TStrCompFunction::TStrCompFunction()
    : TBuiltInFunction("str-compare",
                       "Compares two texts case-sensitively: 0 when equal, otherwise the "
                       "difference of the first differing character codes (or of the lengths)",
                       TwoLexemes, 2, 2) {}

TRefPtr<IIEValue> TStrCompFunction::Execute(IFunCall* call, TIEContext* context) {
    const std::string a = EvalArg(call, 0, context)->AsString();
    const std::string b = EvalArg(call, 1, context)->AsString();
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i)
        if (a[i] != b[i])
            return TIEValue::CreateInteger(dtInteger, static_cast<unsigned char>(a[i]) -
                                                          static_cast<unsigned char>(b[i]));
    // Texts are far shorter than 2^31 characters in any rule file; the difference is clamped
    // rather than wrapped all the same.
    const int64_t d = static_cast<int64_t>(a.size()) - static_cast<int64_t>(b.size());
    return TIEValue::CreateInteger(
        dtInteger, static_cast<int32_t>(std::clamp<int64_t>(d, INT32_MIN, INT32_MAX)));
}

TStrIndexFunction::TStrIndexFunction()
    : TBuiltInFunction("str-index",
                       "Returns the position (from 1) of the first text inside the second, or "
                       "FALSE when it does not occur",
                       TwoLexemes, 2, 2) {}

TRefPtr<IIEValue> TStrIndexFunction::Execute(IFunCall* call, TIEContext* context) {
    const std::string part = EvalArg(call, 0, context)->AsString();
    const std::string text = EvalArg(call, 1, context)->AsString();
    if (part.empty()) return IEFalseValue();
    const size_t at = text.find(part);
    if (at == std::string::npos) return IEFalseValue();
    return TextCountValue(at + 1);
}

TRefPtr<IIEValue> TextCountValue(size_t count) {
    if (count > static_cast<size_t>(std::numeric_limits<int32_t>::max())) throw EIntOverflow();
    return TIEValue::CreateInteger(dtInteger, static_cast<int32_t>(count));
}

TStrLengthFunction::TStrLengthFunction()
    : TBuiltInFunction("str-length", "Returns the number of characters of its argument's text",
                       " <lexeme-expression>", 1, 1) {}

TRefPtr<IIEValue> TStrLengthFunction::Execute(IFunCall* call, TIEContext* context) {
    return TextCountValue(EvalArg(call, 0, context)->AsString().size());
}

TSubStringFunction::TSubStringFunction()
    : TBuiltInFunction("sub-string",
                       "Returns the part of the text from the start to the end position "
                       "(counted from 1), as a string",
                       " <start-integer-expression> <end-integer-expression> "
                       "<lexeme-expression>",
                       3, 3) {}

TRefPtr<IIEValue> TSubStringFunction::Execute(IFunCall* call, TIEContext* context) {
    const int32_t start = EvalArg(call, 0, context)->AsInteger();
    const int32_t end = EvalArg(call, 1, context)->AsInteger();
    const std::string text = EvalArg(call, 2, context)->AsString();
    // 64-bit arithmetic: end - start + 1 of extreme positions must not wrap into a valid count.
    const int64_t count = static_cast<int64_t>(end) - start + 1;
    if (start < 1 || static_cast<size_t>(start) > text.size() || count < 0)
        RaiseIE(imInvalidSubstring, start, end);
    return TIEValue::CreateText(
        dtString,
        std::string_view(text).substr(static_cast<size_t>(start) - 1, static_cast<size_t>(count)));
}

TStrFormatFunction::TStrFormatFunction()
    : TBuiltInFunction("str-format",
                       "Returns the text that the control string makes of the following "
                       "arguments, as a string",
                       "<string-expression> <expression>+", 2) {}

TRefPtr<IIEValue> TStrFormatFunction::Execute(IFunCall* call, TIEContext* context) {
    const std::string control = EvalArg(call, 0, context)->AsString();
    TRefPtr<TValueVector> arguments = TValueVector::Create();
    const int32_t n = call->ArgumentCount();
    arguments->Reserve(n - 1);
    for (int32_t i = 1; i < n; ++i)
        arguments->Add(EvalArg(call, i, context));
    return TIEValue::CreateText(dtString, IEFormat(control, *arguments));
}

// ---------------------------------------------------------------------------------------------
// The package

namespace {

// The function classes of the package, in the order of its functions.
using TStringFunctionClasses =
    TFunctionClasses<TLowerCaseFunction, TStrCatFunction, TStrCompFunction, TStrIndexFunction,
                     TStrLengthFunction, TSubStringFunction, TSymCatFunction, TUpperCaseFunction,
                     TStrFormatFunction>;

} // namespace

void TStringPackage::DoCreateFunctions() {
    TUserPackage::DoCreateFunctions();
    TStringFunctionClasses::AddTo(Functions());
}

void RegisterStringFunctionClasses() {
    TStringFunctionClasses::Register();
}

void RegisterStringPackage() {
    RegisterPackage<TStringPackage, TStringFunctionClasses>(pString);
}

namespace {
// Engines create the package and stored functions find their classes from start-up on.
const bool StringPackageRegistered = (RegisterStringPackage(), true);
} // namespace

} // namespace ie
