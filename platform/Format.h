// A locale-independent printf-style formatter with the platform's Format semantics:
//   %s %d %u %x %f %e %g %n %c %p %%, optional "-" flag, width and ".precision"
//   ("*" takes width or precision from the argument list).
// "%f" with no precision writes two decimals; "%e" and "%g" default to 15 significant digits
// ("%e" writes at least three exponent digits, "1.5E+002"); the decimal point is always '.'.
// The control text is read once from left to right: an argument's text is never read as a
// directive. A directive whose argument is missing or of the wrong kind raises EConvertError.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ie {

class TFormatArg {
public:
    enum class Kind { Int, UInt, Float, Text, Char, Pointer };

    TFormatArg(int v) : FKind(Kind::Int), FInt(v) {}
    TFormatArg(long v) : FKind(Kind::Int), FInt(v) {}
    TFormatArg(long long v) : FKind(Kind::Int), FInt(v) {}
    TFormatArg(unsigned v) : FKind(Kind::UInt), FUInt(v) {}
    TFormatArg(unsigned long v) : FKind(Kind::UInt), FUInt(v) {}
    TFormatArg(unsigned long long v) : FKind(Kind::UInt), FUInt(v) {}
    TFormatArg(double v) : FKind(Kind::Float), FFloat(v) {}
    TFormatArg(float v) : FKind(Kind::Float), FFloat(v) {}
    TFormatArg(char c) : FKind(Kind::Char), FChar(c) {}
    TFormatArg(const char* s) : FKind(Kind::Text), FText(s ? s : "") {}
    TFormatArg(std::string_view s) : FKind(Kind::Text), FText(s) {}
    TFormatArg(const std::string& s) : FKind(Kind::Text), FText(s) {}
    TFormatArg(const void* p) : FKind(Kind::Pointer), FPointer(p) {}

    Kind GetKind() const { return FKind; }
    int64_t AsInt() const { return FInt; }
    uint64_t AsUInt() const { return FUInt; }
    double AsFloat() const { return FFloat; }
    char AsChar() const { return FChar; }
    std::string_view AsText() const { return FText; }
    const void* AsPointer() const { return FPointer; }

private:
    Kind FKind;
    union {
        int64_t FInt;
        uint64_t FUInt;
        double FFloat;
        char FChar;
        const void* FPointer;
    };
    std::string_view FText;
};

std::string FormatV(std::string_view fmt, std::span<const TFormatArg> args);

template <class... Args> std::string Format(std::string_view fmt, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return FormatV(fmt, {});
    } else {
        const TFormatArg list[] = {TFormatArg(args)...};
        return FormatV(fmt, list);
    }
}

// The platform's float text forms: ffGeneral (shortest of fixed and scientific with Precision
// significant digits, exponent with at least Digits digits and no plus sign), ffExponent
// ("-d.dddE+ddd", Precision significant digits, Digits exponent digits), ffFixed / ffNumber
// (Digits decimals, ffNumber with "," thousands separators) and ffCurrency ("$1,234.50",
// "($1,234.50)"). Not-a-number and infinities are written "NAN", "INF", "-INF".
enum class TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits);

// The platform's FloatToStr: shortest general form with 15 significant digits ("0.1", "1E20").
std::string FloatToStr(double value);
// The platform's IntToStr.
std::string IntToStr(int64_t value);
// Locale-independent text to number; raise EConvertError ("'%s' is not a valid integer value",
// "'%s' is not a valid floating point value") when the whole text is not a number.
int64_t StrToInt64(std::string_view text);
int32_t StrToInt(std::string_view text);
double StrToFloat(std::string_view text);
bool TryStrToInt64(std::string_view text, int64_t& value);
bool TryStrToInt(std::string_view text, int32_t& value);
bool TryStrToFloat(std::string_view text, double& value);

// An ASCII letter in lower case; every other byte as it is.
constexpr char LowerCaseAscii(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// The platform's SameText: the texts are equal ignoring the case of ASCII letters.
constexpr bool SameText(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerCaseAscii(a[i]) != LowerCaseAscii(b[i])) return false;
    return true;
}

} // namespace ie
