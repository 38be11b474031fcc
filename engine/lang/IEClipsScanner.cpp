// The scanner TIEClipsStream turns characters into tokens, reading one top-level form ahead, and
// holds the word rules of the language (IsPlainWordChar, SymbolWord) that the writers use so that
// what they write reads back as it was.
//
// Invariant: the line count follows every byte read and put back (CR LF, LF and a lone CR are one
// line end each); the push-back stack holds the rest of the current form, its next token on top,
// and a form that cannot be completed hands out nothing but stays as the error's history.
#include "engine/lang/IEClipsScanner.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <type_traits>
#include <typeinfo>

#include "engine/model/IEValue.h"

namespace ie {

namespace {

// Characters that end a word and begin the next token.
constexpr bool EndsWord(int c) {
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
    case '<':
        return true;
    default:
        return false;
    }
}

} // namespace

bool IsPlainWordChar(char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c > ' ' && c != '\\' && !EndsWord(c);
}

namespace {

// The plain word characters by byte value, for the runs of word characters.
struct TPlainWordChars {
    bool Plain[256] = {};
    constexpr TPlainWordChars() {
        for (int c = 0; c < 256; ++c)
            Plain[c] = c > ' ' && c != '\\' && !EndsWord(c);
    }
};
constexpr TPlainWordChars PlainWordChars;

// The number of plain word characters at the front of `text`.
inline size_t PlainRun(std::string_view text) {
    size_t run = 0;
    while (run < text.size() && PlainWordChars.Plain[static_cast<unsigned char>(text[run])])
        ++run;
    return run;
}

} // namespace

namespace {

bool IsPunctuation(int c) {
    switch (c) {
    case '=':
    case '&':
    case '(':
    case ')':
    case '[':
    case ']':
    case '|':
    case '~':
        return true;
    default:
        return false;
    }
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// True when the word, after its optional sign, is 0x or 0X and hexadecimal digits.
bool IsHexWord(std::string_view w, size_t i) {
    if (w.size() - i <= 2 || w[i] != '0' || (w[i + 1] != 'x' && w[i + 1] != 'X')) return false;
    for (size_t k = i + 2; k < w.size(); ++k)
        if (HexDigit(w[k]) < 0) return false;
    return true;
}

// An optional sign, then decimal digits, or 0x / 0X and hexadecimal digits; the signed value
// must fit 32 bits. A hexadecimal number is a magnitude as a decimal one is: 0x80000000 does not
// fit (it is no bit pattern of a negative number).
bool ReadInteger(std::string_view w, int32_t& value) {
    bool negative = false;
    size_t i = 0;
    if (i < w.size() && (w[i] == '+' || w[i] == '-')) negative = w[i++] == '-';
    if (i >= w.size()) return false;
    int64_t v = 0;
    const bool hex = IsHexWord(w, i);
    if (hex) i += 2;
    for (; i < w.size(); ++i) {
        if (!hex && !IsDigit(w[i])) return false;
        v = v * (hex ? 16 : 10) + (hex ? HexDigit(w[i]) : w[i] - '0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > 2147483647LL) return false;
    value = static_cast<int32_t>(v);
    return true;
}

// An optional sign, digits with an optional fraction (at least one digit in all), and an
// optional exponent of E or e, an optional sign and digits. A value beyond the double range is
// not a number; one too small for it is zero.
bool ReadFloat(std::string_view w, double& value) {
    size_t i = 0;
    bool negative = false;
    if (i < w.size() && (w[i] == '+' || w[i] == '-')) negative = w[i++] == '-';
    const size_t start = i;
    size_t digits = 0;
    while (i < w.size() && IsDigit(w[i]))
        ++i, ++digits;
    if (i < w.size() && w[i] == '.') {
        ++i;
        while (i < w.size() && IsDigit(w[i]))
            ++i, ++digits;
    }
    if (digits == 0) return false;
    bool negativeExponent = false;
    if (i < w.size() && (w[i] == 'e' || w[i] == 'E')) {
        ++i;
        if (i < w.size() && (w[i] == '+' || w[i] == '-')) negativeExponent = w[i++] == '-';
        size_t expDigits = 0;
        while (i < w.size() && IsDigit(w[i]))
            ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != w.size()) return false;
    // from_chars takes neither a leading "+" nor a mantissa that begins with "."; the sign is
    // applied here, and a bare fraction gets its "0" in a small copy.
    std::string_view digitsText = w.substr(start);
    std::string withZero;
    if (digitsText[0] == '.') {
        withZero.reserve(digitsText.size() + 1);
        withZero += '0';
        withZero += digitsText;
        digitsText = withZero;
    }
    double v = 0.0;
    const char* end = digitsText.data() + digitsText.size();
    const auto result = std::from_chars(digitsText.data(), end, v);
    if (result.ec == std::errc::result_out_of_range) {
        if (!negativeExponent) return false;
        v = 0.0;
    } else if (result.ec != std::errc() || result.ptr != end) {
        return false;
    }
    value = negative ? -v : v;
    return true;
}

// A hexadecimal number beyond the 32-bit integers, as a float (as a decimal one beyond them
// is); one beyond the double range is not a number.
bool ReadHexFloat(std::string_view w, double& value) {
    size_t i = 0;
    bool negative = false;
    if (i < w.size() && (w[i] == '+' || w[i] == '-')) negative = w[i++] == '-';
    if (!IsHexWord(w, i)) return false;
    double v = 0.0;
    const char* end = w.data() + w.size();
    const auto result = std::from_chars(w.data() + i + 2, end, v, std::chars_format::hex);
    if (result.ec != std::errc() || result.ptr != end) return false;
    value = negative ? -v : v;
    return true;
}

// A word that may be a number (longer than one character, starting with a digit, a sign or a
// point): dtInteger with `integer`, dtFloat with `real`, or dtAtom when it is neither.
int ReadNumber(std::string_view w, int32_t& integer, double& real) {
    // The common shapes in one pass: a sign, up to 15 digits and at most one point. Nine
    // digits always fit an integer; for a decimal the digits make an integer below 2^53 and
    // the fraction's power of ten is exact, so one division rounds as the full conversion does.
    static constexpr double PowersOfTen[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    size_t k = 0;
    bool negative = false;
    if (w[0] == '+' || w[0] == '-') negative = w[k++] == '-';
    const size_t start = k;
    uint64_t mantissa = 0; // wraps past 19 digits, where it is not used
    while (k < w.size() && IsDigit(w[k]))
        mantissa = mantissa * 10 + static_cast<uint64_t>(w[k++] - '0');
    if (k == w.size()) {
        if (k > start && k - start <= 9) {
            const auto v = static_cast<int32_t>(mantissa);
            integer = negative ? -v : v;
            return dtInteger;
        }
    } else if (w[k] == '.') {
        const size_t point = k++;
        while (k < w.size() && IsDigit(w[k]))
            mantissa = mantissa * 10 + static_cast<uint64_t>(w[k++] - '0');
        const size_t digits = k - start - 1;
        if (k == w.size() && digits > 0 && digits <= 15) {
            const double v = static_cast<double>(mantissa) / PowersOfTen[k - point - 1];
            real = negative ? -v : v;
            return dtFloat;
        }
    }
    if (ReadInteger(w, integer)) return dtInteger;
    if (ReadFloat(w, real) || ReadHexFloat(w, real)) return dtFloat;
    return dtAtom;
}

// True when the word reads as a symbol only with its first character escaped: it would begin
// another token, or the word would read as a number, a variable, nil or the predicate mark.
bool NeedsFirstEscape(std::string_view text) {
    const auto first = static_cast<unsigned char>(text[0]);
    if (first <= ' ' || IsPunctuation(first) || first == ';' || first == '"' || first == '\\' ||
        first == '?')
        return true;
    if (text.size() == 1) return IsDigit(text[0]) || text == ":";
    if (first == '$' && text[1] == '?') return true;
    if (IsDigit(text[0]) || first == '+' || first == '-' || first == '.') {
        int32_t i = 0;
        double f = 0.0;
        if (ReadNumber(text, i, f) != dtAtom) return true;
    }
    return text.size() == NilWord.size() && (text[0] | 0x20) == 'n' && (text[1] | 0x20) == 'i' &&
           (text[2] | 0x20) == 'l';
}

} // namespace

bool SymbolWord(std::string_view text, std::string& word) {
    word.clear();
    if (text.empty()) return false;
    word.reserve(text.size() + 4);
    if (NeedsFirstEscape(text)) word += '\\';
    word += text[0];
    for (size_t k = 1; k < text.size(); ++k) {
        const char c = text[k];
        if (!IsPlainWordChar(c)) word += '\\';
        word += c;
    }
    return true;
}

// The scanner's stream as a byte source for Lex.
struct TIEClipsStream::TStreamIn {
    TIEClipsStream& S;
    int Get() { return S.GetByte(); }
    void Unget(int c) { S.UngetByte(c); }
    int32_t Line() const { return S.FCurrentLine; }
    std::string_view Ahead() const { return S.BufferedBytes(); }
    // Consumes `count` bytes of Ahead, none of them a line end.
    void Skip(size_t count) {
        S.SkipBuffered(count);
        S.FAfterCR = false;
        S.FLastCounted = false;
    }
    std::string BlankName(std::string_view prefix) { return S.GenerateName(prefix); }
};

// A form's text read ahead as a byte source for Lex, counting lines as the stream did.
struct TIEClipsStream::TTextIn {
    const char* P;
    const char* End;
    int32_t LineNumber;
    bool AfterCR;
    const std::vector<std::string>* Names;
    size_t NextName;
    bool PrevAfterCR = false;
    bool LastCounted = false;

    int Get() {
        PrevAfterCR = AfterCR;
        if (P == End) {
            LastCounted = false;
            return EndOfData;
        }
        const auto c = static_cast<unsigned char>(*P++);
        LastCounted = c == '\r' || (c == '\n' && !AfterCR);
        if (LastCounted) ++LineNumber;
        AfterCR = c == '\r';
        return c;
    }
    void Unget(int c) {
        if (c == EndOfData) return;
        --P;
        if (LastCounted) --LineNumber;
        LastCounted = false;
        AfterCR = PrevAfterCR;
    }
    int32_t Line() const { return LineNumber; }
    std::string_view Ahead() const { return {P, static_cast<size_t>(End - P)}; }
    void Skip(size_t count) {
        P += count;
        AfterCR = false;
        LastCounted = false;
    }
    // The names were given while the form was read ahead, in the order of its words.
    std::string BlankName(std::string_view prefix) {
        if (NextName < Names->size()) return (*Names)[NextName++];
        return std::string(prefix);
    }
};

// The stream's buffer as a byte source for Lex while a form is read: its end is no end of data,
// only the end of what is known, so a token that reaches it is made again later from the text;
// the name of a lone "?" or "$?" is given only once its token is known whole.
struct TIEClipsStream::TBufferIn : TTextIn {
    bool HitEnd = false;
    std::string_view PendingName;

    int Get() {
        if (P == End) HitEnd = true;
        return TTextIn::Get();
    }
    std::string BlankName(std::string_view prefix) {
        PendingName = prefix;
        return std::string(prefix);
    }
};

namespace {

// Numbers of the forms read ahead, unique among all scanners, so that a token of another form
// or another scanner is never taken for one of the current form.
std::atomic<uint64_t> FormSerials{0};

} // namespace

TIEClipsStream::TIEClipsStream(TStream* stream) : TIETokenizerStream(stream) {}

void TIEClipsStream::Rebind(TStream* stream) {
    FStream = stream;
    // The new stream stands at its start: seeking there from a position that counts the former
    // read-ahead empties the buffer; with nothing read ahead the next read refills it anyway.
    if (stream) Seek(0, soFromBeginning);
    FPushBack.clear();
    FLastToken = nullptr;
    FHistory.clear();
    FFormTokens.clear();
    FFormText.clear();
    FFormNames.clear();
    FFormWhiteSpace.clear();
    FFormSerial = 0;
    FFormLeft = 0;
    FLexeme.clear();
    FSource.clear();
    FPendingWhiteSpace.clear();
    FCurrentLine = 1;
    FDepth = 0;
    FOwnSymbolCounter = 0;
    FAfterCR = false;
    FPrevAfterCR = false;
    FLastCounted = false;
}

inline int TIEClipsStream::GetByte() {
    char ch = 0;
    FPrevAfterCR = FAfterCR;
    if (!NextByte(ch)) {
        FLastCounted = false;
        return EndOfData;
    }
    const auto c = static_cast<unsigned char>(ch);
    // A line end counts once: CR LF is one line end, so the LF after a CR is not counted.
    FLastCounted = c == '\r' || (c == '\n' && !FAfterCR);
    if (FLastCounted) ++FCurrentLine;
    FAfterCR = c == '\r';
    return c;
}

void TIEClipsStream::UngetByte(int c) {
    if (c == EndOfData) return;
    TGTextStream::PutBack(static_cast<char>(c));
    if (FLastCounted) --FCurrentLine;
    FLastCounted = false;
    FAfterCR = FPrevAfterCR;
}

char TIEClipsStream::ReadChar() {
    const int c = GetByte();
    return c == EndOfData ? '\0' : static_cast<char>(c);
}

bool TIEClipsStream::SkipBlanks() {
    for (;;) {
        const int c = GetByte();
        if (c == EndOfData) return false;
        if (c > ' ') {
            UngetByte(c);
            return false;
        }
        FPendingWhiteSpace += static_cast<char>(c);
        if (c == '\n') return true;
        if (c == '\r') {
            const int next = GetByte();
            if (next == '\n') {
                FPendingWhiteSpace += '\n';
            } else {
                UngetByte(next);
            }
            return true;
        }
    }
}

void TIEClipsStream::ReadRestOfLine(std::string& line) {
    for (;;) {
        const int c = GetByte();
        if (c == EndOfData || c == '\n') return;
        if (c == '\r') {
            const int next = GetByte();
            if (next != '\n') UngetByte(next);
            return;
        }
        line += static_cast<char>(c);
    }
}

void TIEClipsStream::ReadLn(std::string& line) {
    line.clear();
    ReadRestOfLine(line);
    FPendingWhiteSpace += line;
    FPendingWhiteSpace += IELineEnd;
}

void TIEClipsStream::SkipLine() {
    std::string line;
    ReadLn(line);
}

std::string TIEClipsStream::GenerateName(std::string_view prefix) {
    if (Engine()) return Engine()->GenerateSymbol(prefix);
    std::string name(prefix);
    name += IntToStr(FOwnSymbolCounter++);
    return name;
}

inline TRefPtr<TIEStreamToken> TIEClipsStream::NewToken(int32_t line, std::string& whiteSpace) {
    TRefPtr<TIEStreamToken>& made = FMadeTokens[FMadeNext];
    FMadeNext = (FMadeNext + 1) % MadeTokenRing;
    // A token still held elsewhere (by a parser, a value, or as the last token) stays as it is.
    if (made && made->RefCount() == 1) {
        made->Reuse(tkEndOfInput, line);
    } else {
        made = MakeRef<TIEStreamToken>(tkEndOfInput, line);
    }
    // Most tokens have none or one blank before them: a token made new or again has none.
    if (!whiteSpace.empty()) {
        made->SwapWhiteSpace(whiteSpace);
        whiteSpace.clear();
    }
    return made;
}

TRefPtr<TIEText> TIEClipsStream::SharedAtomText(std::string_view text) {
    if (const auto it = FAtomTexts.find(text); it != FAtomTexts.end()) return it->second;
    if (FAtomTexts.size() >= MaxSharedAtomTexts) FAtomTexts.clear();
    TRefPtr<TIEText> block = TIEText::Make(text);
    FAtomTexts.emplace(std::string(text), block);
    return block;
}

template <class TIn>
bool TIEClipsStream::FillToken(TIEStreamToken& token, int hint, std::string& lexeme,
                               std::string& source, TIn& in) {
    if (hint == EndOfData) {
        token.SetText(std::string(EndOfInputText));
        return false;
    }
    if (hint == '"') {
        token.SetDataType(dtString);
        token.SetText(std::move(lexeme));
        lexeme.clear();
        token.SetSourceText(std::move(source));
        source.clear();
        return false;
    }
    if (hint != 0) {
        token.SetDataType(hint);
        token.SetText(std::string(1, static_cast<char>(hint)));
        return false;
    }
    const std::string_view w = lexeme;
    bool shared = false;
    if (!source.empty() && source[0] == '\\') {
        // The first character was escaped: a symbol, whatever the word spells.
        token.SetDataType(dtAtom);
        token.SetText(std::move(lexeme));
        shared = true;
    } else if (w[0] == '?') {
        token.SetDataType(dtVariable);
        token.SetText(w.size() == 1 ? in.BlankName(BlankVariableName) : std::string(w.substr(1)));
    } else if (w.size() >= 2 && w[0] == '$' && w[1] == '?') {
        token.SetDataType(dtMultiVariable);
        token.SetText(w.size() == 2 ? in.BlankName(BlankMultiVariableName)
                                    : std::string(w.substr(2)));
    } else if (w.size() > 1 && (IsDigit(w[0]) || w[0] == '+' || w[0] == '-' || w[0] == '.')) {
        int32_t i = 0;
        double f = 0.0;
        const int kind = ReadNumber(w, i, f);
        if (kind == dtInteger) {
            token.SetDataType(dtInteger);
            token.SetNumber(i);
        } else if (kind == dtFloat) {
            token.SetDataType(dtFloat);
            token.SetNumber(f);
        } else {
            token.SetDataType(dtAtom);
            token.SetText(std::move(lexeme));
        }
        // A number's display text is its value; error messages show it as written.
        if (token.GetDataType() != dtAtom) token.SetSourceText(std::move(lexeme));
    } else if (IsDigit(w[0])) {
        token.SetDataType(dtInteger);
        token.SetNumber(w[0] - '0');
        token.SetSourceText(std::move(lexeme));
    } else {
        token.SetDataType(dtAtom);
        token.SetText(std::move(lexeme));
        shared = true;
    }
    lexeme.clear();
    if (!source.empty()) token.SetSourceText(std::move(source));
    source.clear();
    return shared;
}

template <class TIn>
TRefPtr<TIEStreamToken> TIEClipsStream::MakeToken(TIn& in, std::string& whiteSpace) {
    int32_t line = 0;
    const int hint = Lex(in, whiteSpace, FLexeme, FSource, line);
    TRefPtr<TIEStreamToken> token = NewToken(line, whiteSpace);
    if (FillToken(*token, hint, FLexeme, FSource, in))
        token->SetTextBlock(SharedAtomText(token->GetText()));
    return token;
}

template <class TIn>
int TIEClipsStream::Lex(TIn& in, std::string& whiteSpace, std::string& lexeme, std::string& source,
                        int32_t& line) {
    lexeme.clear();
    source.clear();
    for (;;) {
        int c = in.Get();
        while (c != EndOfData && c <= ' ') {
            whiteSpace += static_cast<char>(c);
            c = in.Get();
        }
        if (c == EndOfData || IsPunctuation(c)) {
            line = in.Line();
            return c;
        }
        if (c == ';') {
            // A comment joins the white space with the rest of its line and one line end.
            whiteSpace += ';';
            for (;;) {
                c = in.Get();
                if (c == EndOfData || c == '\n') break;
                if (c == '\r') {
                    const int next = in.Get();
                    if (next != '\n') in.Unget(next);
                    break;
                }
                whiteSpace += static_cast<char>(c);
            }
            whiteSpace += IELineEnd;
            continue;
        }
        if (c == '"') {
            const int32_t startLine = in.Line();
            source = '"';
            for (;;) {
                c = in.Get();
                if (c == EndOfData) {
                    throw EIEParseException(std::string(IEMessage(imUnterminatedString)),
                                            startLine);
                }
                source += static_cast<char>(c);
                if (c == '"') break;
                if (c == '\\') {
                    c = in.Get();
                    if (c == EndOfData) {
                        throw EIEParseException(std::string(IEMessage(imUnterminatedString)),
                                                startLine);
                    }
                    source += static_cast<char>(c);
                }
                lexeme += static_cast<char>(c);
            }
            line = in.Line();
            return '"';
        }
        // A word: everything up to a blank, the end of data or a character that begins a token.
        if (c == '\\') {
            // An escaped first character makes the word a symbol whatever it spells; the
            // written text keeps the backslash, by which the token knows. A backslash that
            // ends the data is a word of itself.
            c = in.Get();
            if (c == EndOfData) {
                lexeme += '\\';
                line = in.Line();
                return 0;
            }
            source = '\\';
            source += static_cast<char>(c);
            lexeme += static_cast<char>(c);
        } else if constexpr (std::is_base_of_v<TTextIn, TIn>) {
            // In a text the first character and the run of plain ones after it are one piece.
            const size_t run = PlainRun(in.Ahead());
            lexeme.append(in.P - 1, run + 1);
            in.Skip(run);
        } else {
            lexeme += static_cast<char>(c);
        }
        for (;;) {
            // The plain characters that follow are taken in one run; none of them is a line end,
            // so the line bookkeeping is that of any such character.
            const std::string_view ahead = in.Ahead();
            const size_t run = PlainRun(ahead);
            if (run > 0) {
                lexeme.append(ahead.data(), run);
                if (!source.empty()) source.append(ahead.data(), run);
                in.Skip(run);
            }
            line = in.Line();
            c = in.Get();
            if (c == EndOfData) return 0;
            if (c == '\n' || c == '\r') {
                // A line end stays in the stream: a reader that takes one token and then the
                // rest of its line must not lose the next line.
                in.Unget(c);
                return 0;
            }
            if (c <= ' ') {
                // The blank ends up in this token's white space.
                whiteSpace += static_cast<char>(c);
                return 0;
            }
            if (EndsWord(c)) {
                in.Unget(c);
                return 0;
            }
            if (c == '\\') {
                if (source.empty()) source = lexeme;
                source += '\\';
                c = in.Get();
                if (c == EndOfData) return 0;
                source += static_cast<char>(c);
                lexeme += static_cast<char>(c);
                continue;
            }
            if (!source.empty()) source += static_cast<char>(c);
            lexeme += static_cast<char>(c);
        }
    }
}

TStreamTokenRef TIEClipsStream::ReadToken() {
    TStreamIn in{*this};
    return MakeToken(in, FPendingWhiteSpace);
}

void TIEClipsStream::ReadFormText(uint32_t& complete, int32_t depth) {
    // The text is taken from the read-ahead buffer a run at a time: the bytes are classified in
    // place and copied once per fill, which costs a form a small part of what reading its
    // tokens costs. What the tokens need later (their ends, the names of the lone "?" and "$?",
    // the line count) follows the rules of Lex exactly.
    enum TState : uint8_t { Between, Word, WordEscape, String, StringEscape, Comment };
    TState state = Between;
    int32_t count = depth;
    int32_t stringLine = 0;
    int first = 0;
    int second = 0;
    size_t length = 0;
    // A word's end: its name when it is a lone "?" or "$?", and whether the form is complete.
    const auto endWord = [&] {
        if (length == 1 && first == '?') {
            FFormNames.push_back(GenerateName(BlankVariableName));
        } else if (length == 2 && first == '$' && second == '?') {
            FFormNames.push_back(GenerateName(BlankMultiVariableName));
        }
        state = Between;
        ++complete;
        return count <= 0;
    };
    for (;;) {
        std::string_view view = BufferedBytes();
        if (view.empty()) {
            const int c = GetByte();
            if (c == EndOfData) {
                switch (state) {
                case String:
                case StringEscape:
                    throw EIEParseException(std::string(IEMessage(imUnterminatedString)),
                                            stringLine);
                case Word:
                case WordEscape:
                    if (endWord()) return;
                    break;
                default:
                    break;
                }
                ++complete; // the end-of-input token ends any form
                return;
            }
            UngetByte(c);
            view = BufferedBytes();
        }
        const char* const start = view.data();
        const char* const end = start + view.size();
        const char* p = start;
        const bool startAfterCR = FAfterCR;
        int32_t line = FCurrentLine;
        // Counts the line end at `at` as GetByte would: an LF right after a CR is not one.
        const auto countLineEnd = [&](const char* at) {
            if (*at == '\r') {
                ++line;
            } else if (*at == '\n' && !(at == start ? startAfterCR : at[-1] == '\r')) {
                ++line;
            }
        };
        bool done = false;
        while (p < end && !done) {
            switch (state) {
            case Between: {
                const auto c = static_cast<unsigned char>(*p);
                if (c <= ' ') {
                    countLineEnd(p++);
                } else if (c == ';') {
                    state = Comment;
                    ++p;
                } else if (c == '"') {
                    state = String;
                    stringLine = line;
                    ++p;
                } else {
                    ++p;
                    if (c == '(') {
                        ++count;
                    } else if (c == ')') {
                        --count;
                    } else if (c == '\\') {
                        // An escaped first character: never a lone "?" or "$?".
                        state = WordEscape;
                        first = c;
                        second = 0;
                        length = 0;
                        break;
                    } else if (!IsPunctuation(c)) {
                        state = Word;
                        first = c;
                        second = 0;
                        length = 1;
                        break;
                    }
                    ++complete;
                    done = count <= 0;
                }
                break;
            }
            case Word: {
                const size_t run = PlainRun({p, static_cast<size_t>(end - p)});
                if (run > 0) {
                    if (length == 1) second = static_cast<unsigned char>(*p);
                    length += run;
                    p += run;
                    if (p == end) break;
                }
                const char c = *p;
                if (c == '\\') {
                    state = WordEscape;
                    ++p;
                } else {
                    // A blank ends the word and is taken (here it would be anyway); a line end
                    // or a character that begins a token stays for what follows.
                    if (c != '\n' && c != '\r' && !EndsWord(static_cast<unsigned char>(c))) ++p;
                    done = endWord();
                }
                break;
            }
            case WordEscape:
                countLineEnd(p);
                if (length == 1) second = static_cast<unsigned char>(*p);
                ++length;
                ++p;
                state = Word;
                break;
            case String: {
                const char c = *p;
                if (c == '"') {
                    ++p;
                    state = Between;
                    ++complete;
                    done = count <= 0;
                } else if (c == '\\') {
                    ++p;
                    state = StringEscape;
                } else {
                    countLineEnd(p++);
                }
                break;
            }
            case StringEscape:
                countLineEnd(p++);
                state = String;
                break;
            case Comment:
                // The line end that ends a comment is read as a blank.
                if (*p == '\n' || *p == '\r') {
                    state = Between;
                } else {
                    ++p;
                }
                break;
            }
        }
        const auto taken = static_cast<size_t>(p - start);
        FFormText.append(start, taken);
        SkipBuffered(taken);
        FCurrentLine = line;
        if (taken > 0) FAfterCR = p[-1] == '\r';
        FPrevAfterCR = FAfterCR;
        FLastCounted = false;
        if (done) return;
    }
}

TIEClipsStream::TTextIn TIEClipsStream::FormStart() const {
    return TTextIn{FFormText.data(), FFormText.data() + FFormText.size(),
                   FFormStartLine,   FFormStartAfterCR,
                   &FFormNames,      0};
}

bool TIEClipsStream::MakeTokensAhead(uint32_t& complete, int32_t& depth) {
    // (ReadAhead has set where the tokens not made here will be made from the text: its start.)
    std::string_view view = BufferedBytes();
    if (view.empty()) {
        const int c = GetByte();
        if (c == EndOfData) return false;
        UngetByte(c);
        view = BufferedBytes();
    }
    TBufferIn in;
    in.P = view.data();
    in.End = view.data() + view.size();
    in.LineNumber = FCurrentLine;
    in.AfterCR = FAfterCR;
    in.Names = &FFormNames;
    in.NextName = FFormNames.size();
    bool ended = false;
    while (FFormTokens.size() < MaxMadeAhead) {
        const char* const tokenStart = in.P;
        const int32_t tokenLine = in.LineNumber;
        const bool tokenAfterCR = in.AfterCR;
        const size_t whiteSpace = FFormWhiteSpace.size();
        int32_t line = 0;
        int hint = EndOfData;
        if (in.P != in.End && IsPunctuation(static_cast<unsigned char>(*in.P))) {
            // Lex's way with punctuation right at hand, without the call.
            hint = in.Get();
            line = in.LineNumber;
        } else {
            try {
                hint = Lex(in, FFormWhiteSpace, FLexeme, FSource, line);
            } catch (const EIEParseException&) {
                // A string that runs past the buffer: the text reader decides whether it ends.
                if (!in.HitEnd) throw;
            }
        }
        if (in.HitEnd) {
            in.P = tokenStart;
            in.LineNumber = tokenLine;
            in.AfterCR = tokenAfterCR;
            FFormWhiteSpace.resize(whiteSpace);
            break;
        }
        TRefPtr<TIEStreamToken> token = NewToken(line, FFormWhiteSpace);
        if (FillToken(*token, hint, FLexeme, FSource, in)) {
            token->SetTextBlock(SharedAtomText(token->GetText()));
        } else if (!in.PendingName.empty()) {
            FFormNames.push_back(GenerateName(in.PendingName));
            token->SetText(FFormNames.back());
            in.PendingName = {};
        }
        token->SetFormPlace(FFormSerial, complete++);
        if (hint == '(') ++depth;
        if (hint == ')') --depth;
        FFormTokens.push_back(std::move(token));
        if (depth <= 0) {
            ended = true;
            break;
        }
    }
    const auto taken = static_cast<size_t>(in.P - view.data());
    FFormText.append(view.data(), taken);
    SkipBuffered(taken);
    FCurrentLine = in.LineNumber;
    FAfterCR = in.AfterCR;
    FPrevAfterCR = FAfterCR;
    FLastCounted = false;
    FFormPos = FFormText.size();
    FFormLine = FCurrentLine;
    FFormAfterCR = FAfterCR;
    FFormNextName = FFormNames.size();
    return ended;
}

void TIEClipsStream::ReadAhead() {
    FHistory.clear();
    FDepth = 0;
    FFormSerial = FormSerials.fetch_add(1, std::memory_order_relaxed) + 1;
    FFormTokens.clear();
    // The text of a long form is not kept for the short ones that follow.
    if (FFormText.capacity() > 65536) {
        std::string().swap(FFormText);
    } else {
        FFormText.clear();
    }
    FFormNames.clear();
    FFormStartLine = FCurrentLine;
    FFormStartAfterCR = FAfterCR;
    FFormWhiteSpace.swap(FPendingWhiteSpace);
    FPendingWhiteSpace.clear();
    FFormNext = 0;
    FFormLeft = 0;
    FFormPos = 0;
    FFormLine = FFormStartLine;
    FFormAfterCR = FFormStartAfterCR;
    FFormNextName = 0;
    uint32_t complete = 0;
    try {
        int32_t depth = 0;
        if (!MakeTokensAhead(complete, depth)) ReadFormText(complete, depth);
    } catch (...) {
        // When the form cannot be completed, what was read of it stays as the history of the
        // error, and nothing of it is handed out; the white space before the broken token
        // waits for the next one.
        uint32_t i = 0;
        for (; i < complete && i < FFormTokens.size(); ++i)
            FLastToken = FFormTokens[i];
        TTextIn in = FormTextIn();
        for (; i < complete; ++i) {
            TRefPtr<TIEStreamToken> token = MakeToken(in, FFormWhiteSpace);
            token->SetFormPlace(FFormSerial, i);
            FLastToken = std::move(token);
        }
        if (complete > 0) FHistory.push_back(THistoryPart{0, complete, nullptr});
        try {
            FPendingWhiteSpace = MakeToken(in, FFormWhiteSpace)->GetWhiteSpace();
        } catch (...) {
            FPendingWhiteSpace.swap(FFormWhiteSpace);
        }
        FFormWhiteSpace.clear();
        FFormTokens.clear();
        throw;
    }
    FFormLeft = complete;
}

// The rest of the form's text, from where its tokens were last made.
inline TIEClipsStream::TTextIn TIEClipsStream::FormTextIn() const {
    return TTextIn{FFormText.data() + FFormPos,
                   FFormText.data() + FFormText.size(),
                   FFormLine,
                   FFormAfterCR,
                   &FFormNames,
                   FFormNextName};
}

inline TRefPtr<TIEStreamToken> TIEClipsStream::NextFormToken() {
    --FFormLeft;
    // A token made ahead is handed over: the scanner keeps no count on it, so that it is made
    // again as soon as its taker lets go of it.
    if (FFormNext < FFormTokens.size()) return std::move(FFormTokens[FFormNext++]);
    return NextTextToken();
}

TRefPtr<TIEStreamToken> TIEClipsStream::NextTextToken() {
    TTextIn in = FormTextIn();
    TRefPtr<TIEStreamToken> token = MakeToken(in, FFormWhiteSpace);
    FFormPos = static_cast<size_t>(in.P - FFormText.data());
    FFormLine = in.LineNumber;
    FFormAfterCR = in.AfterCR;
    FFormNextName = in.NextName;
    token->SetFormPlace(FFormSerial, FFormNext++);
    return token;
}

inline bool TIEClipsStream::IsOfForm(const IStreamToken& token, uint32_t& index) const {
    // The token class is final: comparing the type is enough, and cheaper than a cast search.
    if (typeid(token) != typeid(TIEStreamToken)) return false;
    const auto& own = static_cast<const TIEStreamToken&>(token);
    if (own.Form() == 0 || own.Form() != FFormSerial) return false;
    index = own.FormIndex();
    return true;
}

inline void TIEClipsStream::AppendFormHistory(uint32_t index) {
    if (!FHistory.empty()) {
        THistoryPart& last = FHistory.back();
        if (!last.Other && last.First + last.Count == index) {
            ++last.Count;
            return;
        }
    }
    FHistory.push_back(THistoryPart{index, 1, nullptr});
}

TStreamTokenRef TIEClipsStream::NextToken() {
    TStreamTokenRef token;
    if (FPushBack.empty()) {
        if (FFormLeft == 0) ReadAhead();
        TRefPtr<TIEStreamToken> made = NextFormToken();
        const int32_t kind = made->GetDataType();
        if (kind != tkEndOfInput) AppendFormHistory(made->FormIndex());
        if (kind == tkOpenParen) ++FDepth;
        if (kind == tkCloseParen) --FDepth;
        FLastToken = made;
        return made;
    }
    token = std::move(FPushBack.back());
    FPushBack.pop_back();
    if (!token->IsEndOfInput()) {
        uint32_t index = 0;
        if (IsOfForm(*token, index)) {
            AppendFormHistory(index);
        } else {
            FHistory.push_back(THistoryPart{0, 1, token});
        }
    }
    FLastToken = token;
    if (token->Is('(')) ++FDepth;
    if (token->Is(')')) --FDepth;
    return token;
}

TStreamTokenRef TIEClipsStream::NextLineToken() {
    // A token handed back or a form read ahead comes first; otherwise the token alone is read
    // from the characters: reading its whole form ahead would take the lines after it.
    if (!FPushBack.empty() || FFormLeft > 0) return NextToken();
    FLastToken = ReadToken();
    return FLastToken;
}

void TIEClipsStream::PushBack(const TStreamTokenRef& token) {
    FPushBack.push_back(token);
    FLastToken = token;
    // The token handed out last leaves the history again.
    if (!FHistory.empty()) {
        THistoryPart& last = FHistory.back();
        uint32_t index = 0;
        if (last.Other ? last.Other == token
                       : IsOfForm(*token, index) && index == last.First + last.Count - 1) {
            if (--last.Count == 0) FHistory.pop_back();
        }
    }
    if (token->Is('(')) --FDepth;
    if (token->Is(')')) ++FDepth;
}

std::string TIEClipsStream::PeekKeyword() {
    TStreamTokenRef open = NextToken();
    if (!open->Is('(')) return {};
    TStreamTokenRef next = NextToken();
    std::string keyword;
    switch (next->GetDataType()) {
    case dtAtom:
        keyword = next->GetText().empty() ? next->AsString() : next->GetText();
        break;
    case tkEquals:
        // Appended: gcc 12 takes assigning the literal here for an overlapping copy.
        keyword += '=';
        break;
    case dtVariable:
        keyword = next->GetText();
        break;
    default:
        break;
    }
    PushBack(next);
    PushBack(open);
    return keyword;
}

void TIEClipsStream::SkipToBalance() {
    while (FDepth > 0) {
        if (NextToken()->IsEndOfInput()) return;
    }
}

void TIEClipsStream::Reset() {
    FPushBack.clear();
    FFormLeft = 0;
    FFormWhiteSpace.clear();
    FHistory.clear();
}

TStreamTokenRef TIEClipsStream::CurrentToken() {
    if (!FLastToken) {
        NextToken();
    }
    return FLastToken;
}

std::string TIEClipsStream::History() const {
    std::string text;
    int32_t lastLine = 0;
    bool first = true;
    auto add = [&](const IStreamToken& token) {
        if (!first && lastLine < token.GetLineNumber()) text += IELineEnd;
        text += token.SourceText();
        text += ' ';
        lastLine = token.GetLineNumber();
        first = false;
    };
    // The form's tokens are made again from its text, in a token of this call's own.
    TTextIn in = FormStart();
    uint32_t made = 0;
    TIEStreamToken token;
    std::string whiteSpace;
    std::string lexeme;
    std::string source;
    for (const THistoryPart& part : FHistory) {
        if (part.Other) {
            add(*part.Other);
            continue;
        }
        for (uint32_t i = part.First; i < part.First + part.Count; ++i) {
            if (i + 1 < made || made == 0) {
                in = FormStart();
                made = 0;
            }
            while (made <= i) {
                int32_t line = 0;
                const int hint = Lex(in, whiteSpace, lexeme, source, line);
                whiteSpace.clear();
                token.Reuse(tkEndOfInput, line);
                FillToken(token, hint, lexeme, source, in);
                ++made;
            }
            add(token);
        }
    }
    return text;
}

} // namespace ie
