// Shared routines: the text hash, the "format" directive writer, text and set conversions, and
// the exchange of event handlers between two objects.
//
// Invariant: the hash samples a long text at a fixed stride (about eight characters), so hashing
// stays cheap for every value, call and list; formatting never fails on a short argument list or
// a cut-off directive (such text is written as it stands); handlers move only between events of
// the same type.
#include "engine/model/IEHelperFunctions.h"

#include <array>
#include <cstring>

#include "platform/Format.h"
#include "platform/PropertyInfo.h"

namespace ie {

int32_t HashString(std::string_view text) noexcept {
    const size_t n = text.size();
    return HashStringStep(text, n < 16 ? 1 : static_cast<int32_t>(n / 8));
}

int32_t HashStringStep(std::string_view text, int32_t step) noexcept {
    const size_t stride = step < 1 ? 1 : static_cast<size_t>(step);
    uint32_t h = 0;
    for (size_t i = 0; i < text.size(); i += stride)
        h = h * 31u + static_cast<unsigned char>(text[i]);
    return static_cast<int32_t>(h);
}

namespace {

constexpr std::string_view LineEnd = "\r\n";

bool IsFlagChar(char c) noexcept {
    return c == '-' || c == '.' || (c >= '0' && c <= '9');
}

[[noreturn]] void RaiseEmptyArgument(const char* word) {
    RaiseIE(imNotAType, word, "", IETypeName(dtNone));
}

// Appends an argument for which the control text had no directive left.
void AppendBare(std::string& out, const IIEValue* arg) {
    out += ' ';
    if (!arg) return;
    switch (arg->GetDType()) {
    case dtString:
        out += arg->AsString();
        break;
    case dtFactId:
        out += IntToStr(arg->AsFactId());
        break;
    case dtExternalAddress:
        out += IntToStr(arg->AsExternalAddress());
        break;
    case dtList:
        out += '(';
        out += arg->GetText();
        out += ')';
        break;
    default:
        out += arg->GetText();
        break;
    }
}

// Refuses a directive whose width or precision (each run of digits in it) passes the limit.
void CheckFieldSizes(std::string_view spec) {
    int64_t number = 0;
    for (const char c : spec) {
        if (c < '0' || c > '9') {
            number = 0;
            continue;
        }
        number = number * 10 + (c - '0');
        if (number > MaxFormatField)
            throw EIEException(Format("The width or precision of the format directive %s is "
                                      "beyond %d",
                                      std::string(spec), MaxFormatField));
    }
}

// Formats one directive (`spec` runs from the "%" to the conversion letter) with its argument.
void AppendDirective(std::string& out, std::string_view spec, const IIEValue* arg) {
    const char letter = spec.back();
    // Only a directive that is carried out builds its field.
    if (std::string_view("duxefgmps").find(letter) != std::string_view::npos) CheckFieldSizes(spec);
    switch (letter) {
    case 'd':
        if (!arg) RaiseEmptyArgument("integer");
        out += Format(spec, arg->AsInteger());
        return;
    case 'u':
    case 'x':
        if (!arg) RaiseEmptyArgument("integer");
        out += Format(spec, static_cast<uint32_t>(arg->AsInteger()));
        return;
    case 'e':
    case 'f':
    case 'g':
        if (!arg) RaiseEmptyArgument("numeric");
        out += Format(spec, arg->AsFloat());
        return;
    case 'm': {
        // Money is written as a fixed-point number: the engine's texts never depend on a locale.
        if (!arg) RaiseEmptyArgument("numeric");
        std::string fixed(spec);
        fixed.back() = 'f';
        out += Format(fixed, arg->AsFloat());
        return;
    }
    case 'p':
        if (!arg) RaiseEmptyArgument("External Address");
        out += Format(spec, reinterpret_cast<const void*>(arg->AsExternalAddress()));
        return;
    case 's':
        out += Format(spec, arg ? arg->GetText() : std::string());
        return;
    default:
        // Any other letter takes the argument and leaves the directive as it stands.
        out += spec;
        return;
    }
}

// Copies control text that no argument is left for: "%n" becomes a line end, "%%" a percent
// sign, every other character stays.
void AppendTail(std::string& out, std::string_view tail) {
    size_t p = 0;
    while (p < tail.size()) {
        const size_t pct = tail.find('%', p);
        if (pct == std::string_view::npos || pct + 1 >= tail.size()) {
            out += tail.substr(p);
            return;
        }
        out += tail.substr(p, pct - p);
        const char next = tail[pct + 1];
        if (next == 'n') {
            out += LineEnd;
        } else if (next == '%') {
            out += '%';
        } else {
            out += tail.substr(pct, 2);
        }
        p = pct + 2;
    }
}

} // namespace

std::string IEFormat(std::string_view format, const IValueVector& arguments) {
    std::string out;
    out.reserve(format.size() + 16);
    size_t p = 0; // the first control character not yet written
    const int32_t count = arguments.Count();
    for (int32_t i = 0; i < count; ++i) {
        const IIEValue* arg = arguments.GetItem(i).get();
        for (;;) {
            const size_t pct = format.find('%', p);
            if (pct == std::string_view::npos) {
                out += format.substr(p);
                p = format.size();
                AppendBare(out, arg);
                break;
            }
            out += format.substr(p, pct - p);
            size_t q = pct + 1;
            if (q < format.size() && (format[q] == 'n' || format[q] == '%')) {
                out += format[q] == 'n' ? LineEnd : std::string_view("%");
                p = q + 1;
                continue; // neither takes the argument
            }
            while (q < format.size() && IsFlagChar(format[q]))
                ++q;
            if (q >= format.size()) {
                // A directive cut off by the end of the text is written as it stands.
                out += format.substr(pct);
                p = format.size();
                break;
            }
            p = q + 1;
            AppendDirective(out, format.substr(pct, q - pct + 1), arg);
            break;
        }
    }
    AppendTail(out, format.substr(p));
    return out;
}

int32_t FirstCharOf(std::string_view text, std::string_view chars) noexcept {
    const size_t i = text.find_first_of(chars);
    return i == std::string_view::npos ? 0 : static_cast<int32_t>(i + 1);
}

std::string FunctionSyntaxText(std::string_view argText, int32_t minCount, int32_t maxCount,
                               int32_t limit) {
    std::string r;
    if (minCount > maxCount || maxCount == 0) return r;
    int32_t open = 0;
    if (minCount == 0) {
        r += '[';
        ++open;
    }
    size_t from = 0;
    for (int32_t i = 0; i < maxCount && i < limit; ++i) {
        const size_t lt = from < argText.size() ? argText.find('<', from) : std::string_view::npos;
        const size_t gt = lt == std::string_view::npos ? lt : argText.find('>', lt);
        if (gt != std::string_view::npos) {
            r += ' ';
            r += argText.substr(lt, gt - lt + 1);
            from = gt + 1;
        } else {
            r += " <expression>";
            from = argText.size();
        }
        const int32_t done = i + 1;
        if (done >= minCount && done < maxCount && done < limit) {
            r += '[';
            ++open;
        }
    }
    r.append(static_cast<size_t>(open), ']');
    const size_t b = r.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return r.substr(b, r.find_last_not_of(' ') - b + 1);
}

std::string StripQuotes(std::string_view text) {
    if (text.size() > 1 && text.front() == '"' && text.back() == '"')
        return std::string(text.substr(1, text.size() - 2));
    return std::string(text);
}

namespace {

// A character that a word of the rule language goes on after.
bool IsWordChar(char ch) noexcept {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= ' ') return false;
    switch (c) {
    case '(':
    case ')':
    case '"':
    case '&':
    case '|':
    case '~':
    case '[':
    case ']':
    case ';':
        return false;
    default:
        return true;
    }
}

} // namespace

std::string IndentLines(std::string_view text, std::string_view prefix) {
    std::string r;
    r.reserve(text.size() + 16);
    bool inString = false, inComment = false, inWord = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool wordGoesOn = inWord;
        inWord = false;
        if (inString) {
            r += c;
            if (c == '\\' && i + 1 < text.size())
                r += text[++i];
            else if (c == '"')
                inString = false;
        } else if (text.substr(i).starts_with(IELineEnd)) {
            // A comment ends at its line break, which is indented like any other.
            r += IELineEnd;
            r += prefix;
            i += IELineEnd.size() - 1;
            inComment = false;
        } else {
            r += c;
            if (inComment) continue;
            if (c == '\\' && wordGoesOn && i + 1 < text.size()) {
                // Inside a word a backslash takes the next character (a quote, a semicolon, a
                // line break) into the word; at a word's start it is a character of its own.
                r += text[++i];
                inWord = true;
            } else if (IsWordChar(c)) {
                inWord = true;
            } else if (c == '"') {
                inString = true;
            } else if (c == ';') {
                inComment = true;
            }
        }
    }
    return r;
}

std::string EnumSetToText(uint64_t bits, std::span<const std::string_view> names,
                          std::string_view separator, size_t prefixLength, bool bracketed) {
    std::string r;
    if (bracketed) r += '[';
    bool first = true;
    for (size_t i = 0; i < names.size() && i < 64; ++i) {
        if ((bits & (uint64_t{1} << i)) == 0) continue;
        if (!first) r += separator;
        first = false;
        const std::string_view name = names[i];
        r += name.substr(std::min(prefixLength, name.size()));
    }
    if (bracketed) r += ']';
    return r;
}

std::span<const std::string_view> IETypeNames() noexcept {
    static const std::array<std::string_view, IETypeCount> names = [] {
        std::array<std::string_view, IETypeCount> a{};
        for (int i = 0; i < IETypeCount; ++i)
            a[static_cast<size_t>(i)] = IETypeName(static_cast<TIEType>(i));
        return a;
    }();
    return names;
}

std::string SetToText(TIETypes types, std::string_view separator, bool bracketed) {
    return EnumSetToText(types.Bits(), IETypeNames(), separator, 2, bracketed);
}

size_t NextToken(std::string_view delimiters, std::string_view text, std::string& token) {
    size_t end = text.find_first_of(delimiters);
    if (end == std::string_view::npos) {
        token.assign(text);
        return text.size();
    }
    token.assign(text.substr(0, end));
    end = text.find_first_not_of(delimiters, end);
    return end == std::string_view::npos ? text.size() : end;
}

uint64_t TextToSet(std::string_view text, std::span<const std::string_view> names) {
    constexpr std::string_view separators = "[], \t\r\n";
    uint64_t bits = 0;
    size_t p = 0;
    while (p < text.size()) {
        p = text.find_first_not_of(separators, p);
        if (p == std::string_view::npos) break;
        size_t e = text.find_first_of(separators, p);
        if (e == std::string_view::npos) e = text.size();
        const std::string_view item = text.substr(p, e - p);
        size_t i = 0;
        while (i < names.size() && names[i] != item)
            ++i;
        if (i == names.size() || i >= 64) throw EIEException(Format(InvalidSetItemMessage, item));
        bits |= uint64_t{1} << i;
        p = e;
    }
    return bits;
}

void SwapPublishedProperties(TObject& a, TObject& b) {
    const TPropertyTable* tableA = GetPropertyTable(&a);
    const TPropertyTable* tableB = GetPropertyTable(&b);
    if (!tableA || !tableB) return;
    for (const TPropertyInfo* eventA : tableA->SortedProperties()) {
        if (eventA->Kind != tkMethod) continue;
        const TPropertyInfo* eventB = tableB->Find(eventA->Name);
        // A handler fits only an event of its own type.
        if (!eventB || eventB->Kind != tkMethod || eventB->TypeName != eventA->TypeName) continue;
        TPropertyValue handlerA = eventA->Get(a);
        TPropertyValue handlerB = eventB->Get(b);
        SetPropValue(a, *eventA, handlerB);
        SetPropValue(b, *eventB, handlerA);
    }
}

std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return text;
}

} // namespace ie
