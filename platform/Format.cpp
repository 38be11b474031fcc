// The formatter and the number <-> text conversions. Every float is first turned into at most
// 18 significant decimal digits (the precision of the platform's extended floats), correctly
// rounded from the binary value by std::to_chars; shorter forms are then rounded on those digits,
// half away from zero, as the platform does. Nothing here depends on the C locale.
#include "platform/Format.h"

#include "platform/Exceptions.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace ie {

namespace {

constexpr int MaxFloatDigits = 18;

// A float as decimal digits: value = 0.D[0]D[1]... * 10^Exponent (sign apart). No digits = zero.
struct TFloatDigits {
    char D[MaxFloatDigits + 2];
    int Count = 0;
    int Exponent = 0;
    bool Negative = false;
};

TFloatDigits ToDigits(double value) {
    TFloatDigits r;
    r.Negative = std::signbit(value);
    if (value == 0.0) return r;
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific,
                             MaxFloatDigits - 1);
    // buf: d.ddddddddddddddddde[+-]xx
    const char* p = buf;
    const char* end = res.ptr;
    while (p < end && *p != 'e') {
        if (*p != '.') r.D[r.Count++] = *p;
        ++p;
    }
    int e = 0;
    std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, e);
    r.Exponent = e + 1;
    while (r.Count > 0 && r.D[r.Count - 1] == '0')
        --r.Count;
    return r;
}

// Keeps the first Keep digits (Keep may be <= 0), rounding half away from zero.
void RoundDigits(TFloatDigits& r, int keep) {
    if (r.Count <= keep) return;
    if (keep < 0) {
        r.Count = 0;
        r.Exponent = 0;
        return;
    }
    bool up = r.D[keep] >= '5';
    r.Count = keep;
    if (up) {
        int i = keep - 1;
        while (i >= 0 && r.D[i] == '9')
            --i;
        if (i < 0) {
            r.D[0] = '1';
            r.Count = 1;
            ++r.Exponent;
        } else {
            ++r.D[i];
            r.Count = i + 1;
        }
    }
    while (r.Count > 0 && r.D[r.Count - 1] == '0')
        --r.Count;
    if (r.Count == 0) r.Exponent = 0;
}

bool SpecialFloat(double value, std::string& out) {
    if (std::isnan(value)) {
        out += "NAN";
        return true;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-INF" : "INF";
        return true;
    }
    return false;
}

void AppendExponent(std::string& out, int exp, bool alwaysSign, int minDigits) {
    out += 'E';
    if (exp < 0) {
        out += '-';
        exp = -exp;
    } else if (alwaysSign) {
        out += '+';
    }
    char buf[16];
    auto res = std::to_chars(buf, buf + sizeof buf, exp);
    int len = static_cast<int>(res.ptr - buf);
    for (int i = len; i < minDigits; ++i)
        out += '0';
    out.append(buf, res.ptr);
}

int ClampPrecision(int precision, int fallback) {
    if (precision < 0) return fallback;
    if (precision == 0) return 1;
    return precision > MaxFloatDigits ? MaxFloatDigits : precision;
}

void AppendGeneral(std::string& out, double value, int precision, int expDigits) {
    if (SpecialFloat(value, out)) return;
    precision = ClampPrecision(precision, 15);
    TFloatDigits r = ToDigits(value);
    RoundDigits(r, precision);
    if (r.Count == 0) {
        out += '0';
        return;
    }
    if (r.Negative) out += '-';
    if (r.Exponent > precision || r.Exponent < -3) {
        out += r.D[0];
        if (r.Count > 1) {
            out += '.';
            out.append(r.D + 1, r.Count - 1);
        }
        AppendExponent(out, r.Exponent - 1, false, expDigits);
        return;
    }
    if (r.Exponent <= 0) {
        out += "0.";
        out.append(static_cast<size_t>(-r.Exponent), '0');
        out.append(r.D, r.Count);
        return;
    }
    if (r.Count <= r.Exponent) {
        out.append(r.D, r.Count);
        out.append(static_cast<size_t>(r.Exponent - r.Count), '0');
    } else {
        out.append(r.D, r.Exponent);
        out += '.';
        out.append(r.D + r.Exponent, r.Count - r.Exponent);
    }
}

void AppendExponentForm(std::string& out, double value, int precision, int expDigits) {
    if (SpecialFloat(value, out)) return;
    precision = ClampPrecision(precision, 15);
    TFloatDigits r = ToDigits(value);
    RoundDigits(r, precision);
    if (r.Negative && r.Count > 0) out += '-';
    out += r.Count > 0 ? r.D[0] : '0';
    if (precision > 1) {
        out += '.';
        for (int i = 1; i < precision; ++i)
            out += i < r.Count ? r.D[i] : '0';
    }
    AppendExponent(out, r.Count > 0 ? r.Exponent - 1 : 0, true, expDigits);
}

// Fixed notation with Decimals decimals; Thousands inserts "," between groups of three.
void AppendFixed(std::string& out, double value, int decimals, bool thousands) {
    if (SpecialFloat(value, out)) return;
    if (decimals < 0) decimals = 2;
    if (decimals > MaxFloatDigits) decimals = MaxFloatDigits;
    TFloatDigits r = ToDigits(value);
    if (r.Exponent > MaxFloatDigits) {
        // Too many integer digits for the fixed form: the platform falls back to the general one.
        AppendGeneral(out, value, 15, 0);
        return;
    }
    RoundDigits(r, r.Exponent + decimals);
    if (r.Negative && r.Count > 0) out += '-';
    if (r.Exponent <= 0) {
        out += '0';
    } else {
        for (int i = 0; i < r.Exponent; ++i) {
            if (thousands && i > 0 && (r.Exponent - i) % 3 == 0) out += ',';
            out += i < r.Count ? r.D[i] : '0';
        }
    }
    if (decimals > 0) {
        out += '.';
        for (int i = 0; i < decimals; ++i) {
            int k = r.Exponent + i;
            out += (k >= 0 && k < r.Count) ? r.D[k] : '0';
        }
    }
}

// The United States currency forms: "$1,234.50" and "($1,234.50)".
void AppendCurrency(std::string& out, double value, int decimals) {
    if (SpecialFloat(value, out)) return;
    std::string body;
    AppendFixed(body, value, decimals, true);
    if (body[0] == '-') {
        out += "($";
        out.append(body, 1);
        out += ')';
    } else {
        out += '$';
        out += body;
    }
}

void AppendUnsigned(std::string& out, uint64_t value, int minDigits, int base) {
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, value, base);
    int len = static_cast<int>(res.ptr - buf);
    for (int i = len; i < minDigits; ++i)
        out += '0';
    for (char* p = buf; p < res.ptr; ++p)
        out += (*p >= 'a' && *p <= 'f') ? static_cast<char>(*p - 'a' + 'A') : *p;
}

[[noreturn]] void RaiseFormatError(std::string_view fmt) {
    std::string msg = "Format '";
    msg.append(fmt);
    msg += "' invalid or incompatible with argument";
    throw EConvertError(msg);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits) {
    std::string out;
    switch (format) {
    case TFloatFormat::ffGeneral:
        AppendGeneral(out, value, precision, digits);
        break;
    case TFloatFormat::ffExponent:
        AppendExponentForm(out, value, precision, digits);
        break;
    case TFloatFormat::ffFixed:
        AppendFixed(out, value, digits, false);
        break;
    case TFloatFormat::ffNumber:
        AppendFixed(out, value, digits, true);
        break;
    case TFloatFormat::ffCurrency:
        AppendCurrency(out, value, digits);
        break;
    }
    return out;
}

std::string FormatV(std::string_view fmt, std::span<const TFormatArg> args) {
    std::string out;
    out.reserve(fmt.size() + 16 * args.size());
    size_t argIndex = 0;
    const size_t n = fmt.size();
    size_t i = 0;
    std::string piece;

    auto nextArg = [&]() -> const TFormatArg& {
        if (argIndex >= args.size()) RaiseFormatError(fmt);
        return args[argIndex++];
    };
    auto readNumber = [&](int& value) -> bool {
        // Either "*" (taken from the arguments) or decimal digits; false when neither is there.
        if (i < n && fmt[i] == '*') {
            ++i;
            const TFormatArg& a = nextArg();
            if (a.GetKind() == TFormatArg::Kind::Int)
                value = static_cast<int>(a.AsInt());
            else if (a.GetKind() == TFormatArg::Kind::UInt)
                value = static_cast<int>(a.AsUInt());
            else
                RaiseFormatError(fmt);
            return true;
        }
        if (i < n && IsDigit(fmt[i])) {
            // Every digit counts; a number beyond the integers is no width or precision.
            int64_t v = 0;
            while (i < n && IsDigit(fmt[i])) {
                v = v * 10 + (fmt[i] - '0');
                if (v > std::numeric_limits<int>::max()) RaiseFormatError(fmt);
                ++i;
            }
            value = static_cast<int>(v);
            return true;
        }
        return false;
    };

    while (i < n) {
        size_t pct = fmt.find('%', i);
        if (pct == std::string_view::npos) {
            out.append(fmt.substr(i));
            break;
        }
        out.append(fmt.substr(i, pct - i));
        i = pct + 1;
        if (i >= n) RaiseFormatError(fmt);
        if (fmt[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        int width = -1;
        int precision = -1;
        bool left = false;
        int number = -1;
        bool hadNumber = readNumber(number);
        if (hadNumber && i < n && fmt[i] == ':') {
            if (number < 0) RaiseFormatError(fmt);
            argIndex = static_cast<size_t>(number);
            ++i;
            hadNumber = false;
        }
        if (!hadNumber) {
            if (i < n && fmt[i] == '-') {
                left = true;
                ++i;
            }
            readNumber(width);
        } else {
            width = number;
        }
        if (i < n && fmt[i] == '.') {
            ++i;
            if (!readNumber(precision)) precision = 0;
        }
        if (i >= n) RaiseFormatError(fmt);
        char type = fmt[i++];
        if (type >= 'A' && type <= 'Z') type = static_cast<char>(type - 'A' + 'a');

        piece.clear();
        const TFormatArg& arg = nextArg();
        const TFormatArg::Kind kind = arg.GetKind();
        switch (type) {
        case 'd': {
            if (kind == TFormatArg::Kind::Int) {
                int64_t v = arg.AsInt();
                uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
                if (v < 0) piece += '-';
                AppendUnsigned(piece, mag, precision, 10);
            } else if (kind == TFormatArg::Kind::UInt) {
                AppendUnsigned(piece, arg.AsUInt(), precision, 10);
            } else {
                RaiseFormatError(fmt);
            }
            break;
        }
        case 'u':
        case 'x': {
            uint64_t v;
            if (kind == TFormatArg::Kind::Int) {
                int64_t s = arg.AsInt();
                // A negative 32-bit integer shows its 32-bit two's complement, as the platform's
                // Integer arguments do.
                if (s < 0 && s >= std::numeric_limits<int32_t>::min())
                    v = static_cast<uint32_t>(static_cast<int32_t>(s));
                else
                    v = static_cast<uint64_t>(s);
            } else if (kind == TFormatArg::Kind::UInt) {
                v = arg.AsUInt();
            } else {
                RaiseFormatError(fmt);
            }
            AppendUnsigned(piece, v, precision, type == 'x' ? 16 : 10);
            break;
        }
        case 'e':
        case 'f':
        case 'g':
        case 'n':
        case 'm': {
            if (kind != TFormatArg::Kind::Float) RaiseFormatError(fmt);
            double v = arg.AsFloat();
            if (type == 'e')
                AppendExponentForm(piece, v, precision, 3);
            else if (type == 'g')
                AppendGeneral(piece, v, precision, 0);
            else if (type == 'f')
                AppendFixed(piece, v, precision, false);
            else if (type == 'n')
                AppendFixed(piece, v, precision, true);
            else
                AppendCurrency(piece, v, precision);
            break;
        }
        case 's': {
            std::string_view text;
            char c;
            if (kind == TFormatArg::Kind::Text) {
                text = arg.AsText();
            } else if (kind == TFormatArg::Kind::Char) {
                c = arg.AsChar();
                text = std::string_view(&c, 1);
            } else {
                RaiseFormatError(fmt);
            }
            if (precision >= 0 && static_cast<size_t>(precision) < text.size())
                text = text.substr(0, static_cast<size_t>(precision));
            piece.append(text);
            break;
        }
        case 'c': {
            if (kind == TFormatArg::Kind::Char)
                piece += arg.AsChar();
            else if (kind == TFormatArg::Kind::Int || kind == TFormatArg::Kind::UInt)
                piece += static_cast<char>(arg.AsUInt() & 0xFF);
            else
                RaiseFormatError(fmt);
            break;
        }
        case 'p': {
            if (kind != TFormatArg::Kind::Pointer) RaiseFormatError(fmt);
            AppendUnsigned(piece, reinterpret_cast<uintptr_t>(arg.AsPointer()), 8, 16);
            break;
        }
        default:
            RaiseFormatError(fmt);
        }

        if (width > 0 && static_cast<size_t>(width) > piece.size()) {
            size_t pad = static_cast<size_t>(width) - piece.size();
            if (left) {
                out += piece;
                out.append(pad, ' ');
            } else {
                out.append(pad, ' ');
                out += piece;
            }
        } else {
            out += piece;
        }
    }
    return out;
}

std::string FloatToStr(double value) {
    std::string out;
    AppendGeneral(out, value, 15, 0);
    return out;
}

std::string IntToStr(int64_t value) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

namespace {

[[noreturn]] void RaiseNotInteger(std::string_view text) {
    std::string msg = "'";
    msg.append(text);
    msg += "' is not a valid integer value";
    throw EConvertError(msg);
}

[[noreturn]] void RaiseNotFloat(std::string_view text) {
    std::string msg = "'";
    msg.append(text);
    msg += "' is not a valid floating point value";
    throw EConvertError(msg);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Leading blanks, an optional sign, then decimal digits or a "$"/"0x" hexadecimal number filling
// the rest of the text.
bool ParseInt64(std::string_view text, int64_t& value) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < n && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= n) return false;
    uint64_t mag = 0;
    auto res = std::from_chars(text.data() + i, text.data() + n, mag, base);
    if (res.ec != std::errc() || res.ptr != text.data() + n) return false;
    if (base == 16) {
        // Hexadecimal texts may spell the two's complement of a negative number.
        int64_t v = static_cast<int64_t>(mag);
        value = negative ? static_cast<int64_t>(0 - mag) : v;
        return true;
    }
    if (negative) {
        if (mag > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1) return false;
        value = static_cast<int64_t>(0 - mag);
    } else {
        if (mag > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
        value = static_cast<int64_t>(mag);
    }
    return true;
}

} // namespace

bool TryStrToInt64(std::string_view text, int64_t& value) {
    return ParseInt64(text, value);
}

bool TryStrToInt(std::string_view text, int32_t& value) {
    int64_t v;
    if (!ParseInt64(text, v)) return false;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
        // "$FFFFFFFF" is the 32-bit spelling of -1.
        if (v > 0 && v <= static_cast<int64_t>(std::numeric_limits<uint32_t>::max()) &&
            text.find_first_of("$xX") != std::string_view::npos)
            v = static_cast<int32_t>(static_cast<uint32_t>(v));
        else
            return false;
    }
    value = static_cast<int32_t>(v);
    return true;
}

int64_t StrToInt64(std::string_view text) {
    int64_t v;
    if (!ParseInt64(text, v)) RaiseNotInteger(text);
    return v;
}

int32_t StrToInt(std::string_view text) {
    int32_t v;
    if (!TryStrToInt(text, v)) RaiseNotInteger(text);
    return v;
}

bool TryStrToFloat(std::string_view text, double& value) {
    size_t b = 0;
    size_t e = text.size();
    while (b < e && IsBlank(text[b]))
        ++b;
    while (e > b && IsBlank(text[e - 1]))
        --e;
    std::string_view t = text.substr(b, e - b);
    // Validate the shape ourselves: from_chars would also take "inf", "nan" and hexadecimal.
    size_t i = 0;
    const size_t n = t.size();
    bool negative = false;
    if (i < n && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    const size_t start = i;
    size_t digits = 0;
    while (i < n && IsDigit(t[i])) {
        ++i;
        ++digits;
    }
    if (i < n && t[i] == '.') {
        ++i;
        while (i < n && IsDigit(t[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) return false;
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
        size_t expDigits = 0;
        while (i < n && IsDigit(t[i])) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0) return false;
    }
    if (i != n) return false;
    double v = 0;
    auto res = std::from_chars(t.data() + start, t.data() + n, v, std::chars_format::general);
    if (res.ptr != t.data() + n) return false;
    if (res.ec == std::errc::result_out_of_range) {
        // Underflow gives zero, overflow is no number we can hold: tell them apart by the
        // decimal magnitude of the text.
        long magnitude = 0;
        bool seenPoint = false, seenNonZero = false;
        size_t k = start;
        for (; k < n && t[k] != 'e' && t[k] != 'E'; ++k) {
            if (t[k] == '.') {
                seenPoint = true;
            } else if (!seenNonZero) {
                if (t[k] != '0') seenNonZero = true;
                if (seenPoint) --magnitude;
            } else if (!seenPoint) {
                ++magnitude;
            }
        }
        if (k < n) {
            long ex = 0;
            size_t j = k + 1;
            bool negExp = false;
            if (t[j] == '+' || t[j] == '-') negExp = t[j++] == '-';
            for (; j < n && ex < 100000; ++j)
                ex = ex * 10 + (t[j] - '0');
            magnitude += negExp ? -ex : ex;
        }
        if (magnitude >= 0) return false;
        v = 0.0;
    } else if (res.ec != std::errc()) {
        return false;
    }
    if (std::isinf(v)) return false;
    value = negative ? -v : v;
    return true;
}

double StrToFloat(std::string_view text) {
    double v;
    if (!TryStrToFloat(text, v)) RaiseNotFloat(text);
    return v;
}

} // namespace ie
