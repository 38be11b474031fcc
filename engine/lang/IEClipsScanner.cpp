// The scanner TIEClipsStream turns characters into tokens, reading one top-level form ahead, and
// holds the word rules of the language (IsPlainWordChar, SymbolWord) that the writers use so that
// what they write reads back as it was.
//
// Invariant: the line count follows every byte read and put back (CR LF, LF and a lone CR are one
// line end each); the push-back stack holds the rest of the current form, its next token on top,
// and a form that cannot be completed hands out nothing but stays as the error's history.
#include "engine/lang/IEClipsScanner.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "engine/model/IEValue.h"
#include "platform/Restore.h"

namespace ie {

namespace {

// Characters that end a word and begin the next token.
bool EndsWord(int c) {
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

// An optional sign, then decimal digits, or 0x / 0X and hexadecimal digits; the value must fit
// 32 bits (hexadecimal up to 0xFFFFFFFF, read as the bit pattern).
bool ReadInteger(std::string_view w, int32_t& value) {
    bool negative = false;
    size_t i = 0;
    if (i < w.size() && (w[i] == '+' || w[i] == '-')) negative = w[i++] == '-';
    if (i >= w.size()) return false;
    int64_t v = 0;
    if (w.size() - i > 2 && w[i] == '0' && (w[i + 1] == 'x' || w[i + 1] == 'X')) {
        i += 2;
        for (; i < w.size(); ++i) {
            const int d = HexDigit(w[i]);
            if (d < 0) return false;
            v = v * 16 + d;
            if (v > 0xFFFFFFFFLL) return false;
        }
        const auto bits = static_cast<uint32_t>(v);
        value = static_cast<int32_t>(negative ? 0u - bits : bits);
        return true;
    }
    for (; i < w.size(); ++i) {
        if (!IsDigit(w[i])) return false;
        v = v * 10 + (w[i] - '0');
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

} // namespace

bool SymbolWord(std::string_view text, std::string& word) {
    word.clear();
    if (text.empty()) return false;
    const auto first = static_cast<unsigned char>(text[0]);
    if (first <= ' ' || IsPunctuation(first) || first == ';' || first == '"') return false;
    // The word is classified by its whole text, escapes resolved, as the scanner does.
    if (first == '?' || text.starts_with("$?")) return false;
    if (IsDigit(text[0]) && text.size() == 1) return false;
    if (text.size() > 1 &&
        (IsDigit(text[0]) || text[0] == '+' || text[0] == '-' || text[0] == '.')) {
        int32_t i = 0;
        double f = 0.0;
        if (ReadInteger(text, i) || ReadFloat(text, f)) return false;
    }
    if (text.size() == NilWord.size()) {
        std::string lower(text);
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower == NilWord) return false;
    }
    word.reserve(text.size() + 4);
    word += text[0];
    for (size_t k = 1; k < text.size(); ++k) {
        const char c = text[k];
        if (!IsPlainWordChar(c)) word += '\\';
        word += c;
    }
    return true;
}

TIEClipsStream::TIEClipsStream(TStream* stream) : TIETokenizerStream(stream) {}

void TIEClipsStream::Rebind(TStream* stream) {
    FStream = stream;
    // The new stream stands at its start: seeking there from a position that counts the former
    // read-ahead empties the buffer; with nothing read ahead the next read refills it anyway.
    if (stream) Seek(0, soFromBeginning);
    FPushBack.clear();
    FLastToken = nullptr;
    RecycleFormTokens();
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

TRefPtr<TIEStreamToken> TIEClipsStream::NewToken(int32_t dataType, int32_t line) {
    TRefPtr<TIEStreamToken> token;
    if (FSpareTokens.empty()) {
        token = MakeRef<TIEStreamToken>(dataType, line);
    } else {
        token = std::move(FSpareTokens.back());
        FSpareTokens.pop_back();
        token->Reuse(dataType, line);
    }
    token->SwapWhiteSpace(FPendingWhiteSpace);
    FPendingWhiteSpace.clear();
    if (FMadeTokens.size() < MaxSpareTokens) FMadeTokens.push_back(token);
    return token;
}

void TIEClipsStream::RecycleFormTokens() {
    FFormTokens.clear();
    // A token still held elsewhere (by a parser, a value, or as the last token) stays as it is.
    for (TRefPtr<TIEStreamToken>& made : FMadeTokens)
        if (made->RefCount() == 1) FSpareTokens.push_back(std::move(made));
    FMadeTokens.clear();
}

TRefPtr<TIEText> TIEClipsStream::SharedAtomText(std::string_view text) {
    if (const auto it = FAtomTexts.find(text); it != FAtomTexts.end()) return it->second;
    if (FAtomTexts.size() >= MaxSharedAtomTexts) FAtomTexts.clear();
    TRefPtr<TIEText> block = TIEText::Make(text);
    FAtomTexts.emplace(std::string(text), block);
    return block;
}

TRefPtr<TIEStreamToken> TIEClipsStream::MakeWordToken(int32_t line) {
    const std::string_view w = FLexeme;
    TRefPtr<TIEStreamToken> token;
    if (w[0] == '?') {
        token = NewToken(dtVariable, line);
        token->SetText(w.size() == 1 ? GenerateName(BlankVariableName) : std::string(w.substr(1)));
    } else if (w.size() >= 2 && w[0] == '$' && w[1] == '?') {
        token = NewToken(dtMultiVariable, line);
        token->SetText(w.size() == 2 ? GenerateName(BlankMultiVariableName)
                                     : std::string(w.substr(2)));
    } else if (w.size() > 1 && (IsDigit(w[0]) || w[0] == '+' || w[0] == '-' || w[0] == '.')) {
        int32_t i = 0;
        double f = 0.0;
        if (ReadInteger(w, i)) {
            token = NewToken(dtInteger, line);
            token->SetNumber(i);
        } else if (ReadFloat(w, f)) {
            token = NewToken(dtFloat, line);
            token->SetNumber(f);
        } else {
            token = NewToken(dtAtom, line);
            token->SetText(FLexeme);
        }
        // A number's display text is its value; error messages show it as written.
        if (token->GetDataType() != dtAtom) token->SetSourceText(FLexeme);
    } else if (IsDigit(w[0])) {
        token = NewToken(dtInteger, line);
        token->SetNumber(w[0] - '0');
        token->SetSourceText(FLexeme);
    } else {
        token = NewToken(dtAtom, line);
        token->SetText(FLexeme);
        token->SetTextBlock(SharedAtomText(FLexeme));
    }
    if (!FSource.empty()) token->SetSourceText(std::move(FSource));
    FSource.clear();
    return token;
}

TStreamTokenRef TIEClipsStream::ReadToken() {
    FLexeme.clear();
    FSource.clear();
    for (;;) {
        int c = GetByte();
        while (c != EndOfData && c <= ' ') {
            FPendingWhiteSpace += static_cast<char>(c);
            c = GetByte();
        }
        if (c == EndOfData) {
            auto token = NewToken(tkEndOfInput, FCurrentLine);
            token->SetText(std::string(EndOfInputText));
            return token;
        }
        if (IsPunctuation(c)) {
            auto token = NewToken(c, FCurrentLine);
            token->SetText(std::string(1, static_cast<char>(c)));
            return token;
        }
        if (c == ';') {
            FPendingWhiteSpace += ';';
            std::string line;
            ReadLn(line);
            continue;
        }
        if (c == '"') {
            const int32_t startLine = FCurrentLine;
            std::string source(1, '"');
            for (;;) {
                c = GetByte();
                if (c == EndOfData) {
                    throw EIEParseException(std::string(IEMessage(imUnterminatedString)),
                                            startLine);
                }
                source += static_cast<char>(c);
                if (c == '"') break;
                if (c == '\\') {
                    c = GetByte();
                    if (c == EndOfData) {
                        throw EIEParseException(std::string(IEMessage(imUnterminatedString)),
                                                startLine);
                    }
                    source += static_cast<char>(c);
                }
                FLexeme += static_cast<char>(c);
            }
            auto token = NewToken(dtString, FCurrentLine);
            token->SetText(std::move(FLexeme));
            FLexeme.clear();
            token->SetSourceText(std::move(source));
            return token;
        }
        // A word: everything up to a blank, the end of data or a character that begins a token.
        FLexeme += static_cast<char>(c);
        for (;;) {
            // The plain characters that follow are taken from the read-ahead in one run; none of
            // them is a line end, so the line bookkeeping is that of any such character.
            const std::string_view ahead = BufferedBytes();
            size_t run = 0;
            while (run < ahead.size() && IsPlainWordChar(ahead[run]))
                ++run;
            if (run > 0) {
                FLexeme.append(ahead.data(), run);
                if (!FSource.empty()) FSource.append(ahead.data(), run);
                SkipBuffered(run);
                FAfterCR = false;
                FLastCounted = false;
            }
            const int32_t line = FCurrentLine;
            c = GetByte();
            if (c == EndOfData) return MakeWordToken(line);
            if (c == '\n' || c == '\r') {
                // A line end stays in the stream: a reader that takes one token and then the
                // rest of its line must not lose the next line.
                UngetByte(c);
                return MakeWordToken(line);
            }
            if (c <= ' ') {
                // The blank ends up in this token's white space.
                FPendingWhiteSpace += static_cast<char>(c);
                return MakeWordToken(line);
            }
            if (EndsWord(c)) {
                UngetByte(c);
                return MakeWordToken(line);
            }
            if (c == '\\') {
                if (FSource.empty()) FSource = FLexeme;
                FSource += '\\';
                c = GetByte();
                if (c == EndOfData) return MakeWordToken(line);
                FSource += static_cast<char>(c);
                FLexeme += static_cast<char>(c);
                continue;
            }
            if (!FSource.empty()) FSource += static_cast<char>(c);
            FLexeme += static_cast<char>(c);
        }
    }
}

void TIEClipsStream::ReadAhead() {
    RecycleFormTokens();
    FDepth = 0;
    int32_t count = 0;
    {
        // When the form cannot be completed, what was read of it stays as the history of the
        // error, and nothing of it is handed out.
        const TOnFailure keepHistory([this] {
            FFormTokens = std::move(FPushBack);
            FPushBack.clear();
            if (!FFormTokens.empty()) FLastToken = FFormTokens.back();
        });
        do {
            TStreamTokenRef token = ReadToken();
            const bool end = token->IsEndOfInput();
            if (token->Is('(')) ++count;
            if (token->Is(')')) --count;
            FPushBack.push_back(std::move(token));
            if (end) break;
        } while (count > 0);
    }
    std::reverse(FPushBack.begin(), FPushBack.end());
}

TStreamTokenRef TIEClipsStream::NextToken() {
    if (FPushBack.empty()) ReadAhead();
    TStreamTokenRef token = std::move(FPushBack.back());
    FPushBack.pop_back();
    if (!token->IsEndOfInput()) FFormTokens.push_back(token);
    FLastToken = token;
    if (token->Is('(')) ++FDepth;
    if (token->Is(')')) --FDepth;
    return token;
}

void TIEClipsStream::PushBack(const TStreamTokenRef& token) {
    FPushBack.push_back(token);
    FLastToken = token;
    if (!FFormTokens.empty() && FFormTokens.back() == token) FFormTokens.pop_back();
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
    FFormTokens.clear();
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
    for (const TStreamTokenRef& token : FFormTokens) {
        if (!first && lastLine < token->GetLineNumber()) text += IELineEnd;
        text += token->SourceText();
        text += ' ';
        lastLine = token->GetLineNumber();
        first = false;
    }
    return text;
}

} // namespace ie
