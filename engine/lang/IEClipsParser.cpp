#include "engine/lang/IEClipsParser.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include <boost/container/small_vector.hpp>

#include "engine/match/FuzzyExpression.h"
#include "engine/match/IERule.h"
#include "engine/match/IESlotTest.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEFuzzyLogic.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"
#include "platform/Restore.h"

namespace ie {

namespace {

constexpr std::string_view MinimumAboveMaximumMessage =
    "Invalid %s: the minimum %s is greater than the maximum %s";

constexpr int32_t ParserHistoryLimit = 255;
constexpr int32_t ParserHistoryKeep = 128;

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

// ---------------------------------------------------------------------------------------------
// TIEClipsStream

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
        keyword = "=";
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

// ---------------------------------------------------------------------------------------------
// TIEClipsParser

namespace {

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// The text without the blanks and control characters at both ends.
std::string_view TrimText(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ')
        --e;
    return text.substr(b, e - b);
}

// The history as an error message shows it: a long one keeps its beginning and its end.
std::string ShortHistory(std::string history) {
    if (history.size() <= static_cast<size_t>(ParserHistoryLimit)) return history;
    std::string text = history.substr(0, ParserHistoryKeep);
    text += "... ";
    text += IELineEnd;
    text.append(history, history.size() - ParserHistoryKeep, ParserHistoryKeep);
    return text;
}

} // namespace

TIEClipsParser::TNesting::TNesting(TIEClipsParser& parser, std::string_view routineName)
    : FParser(parser) {
    if (++FParser.FNesting > MaxNesting) {
        --FParser.FNesting;
        FParser.ParseError(routineName, imSyntaxError, "forms nested too deeply");
    }
}

TIEClipsParser::TIEClipsParser(IParserEngine* engine, TIETokenizerStream* stream)
    : TIEParser(engine, nullptr), FSlotFunctions{{"assert", 0, 65535},
                                                 {"fuzzy-assert", 0, 65535},
                                                 {"fuzzy-assert-unconditional", 0, 65535},
                                                 {"modify", 1, 65535},
                                                 {"duplicate", 1, 65535}} {
    if (stream) SetStream(stream);
}

void TIEClipsParser::Assign(const TIEParser& source) {
    if (auto* clips = dynamic_cast<const TIEClipsParser*>(&source))
        FSlotFunctions = clips->FSlotFunctions;
    TIEParser::Assign(source);
}

void TIEClipsParser::SetSlotFunctions(std::vector<TSlotFunction> functions) {
    FSlotFunctions = std::move(functions);
}

const TSlotFunction* TIEClipsParser::FindSlotFunction(std::string_view name) const {
    for (const TSlotFunction& f : FSlotFunctions)
        if (SameTextIgnoringCase(f.Name, name)) return &f;
    return nullptr;
}

TSlotFunction& TIEClipsParser::SlotFunctionEntry(std::string_view name) {
    for (TSlotFunction& f : FSlotFunctions)
        if (SameTextIgnoringCase(f.Name, name)) return f;
    FSlotFunctions.push_back({std::string(name), 0, 65535});
    return FSlotFunctions.back();
}

void TIEClipsParser::SetSlotFunctionLow(std::string_view name, uint16_t low) {
    TSlotFunction& f = SlotFunctionEntry(name);
    f.Low = low;
    if (f.High < low) f.High = low;
}

void TIEClipsParser::SetSlotFunctionHigh(std::string_view name, uint16_t high) {
    TSlotFunction& f = SlotFunctionEntry(name);
    f.High = high == 0 ? 1 : high;
    if (f.Low > f.High) f.Low = f.High;
}

TIETokenizerStream& TIEClipsParser::In() {
    if (!FStream) RaiseParse(imUnexpectedEndOfStream);
    return *FStream;
}

TIEContext* TIEClipsParser::RootContext() const {
    return FEngine ? FEngine->RootContext() : nullptr;
}

bool TIEClipsParser::IsPlainValue(const IStreamToken& token) {
    switch (token.GetDataType()) {
    case dtAtom:
    case dtString:
    case dtInteger:
    case dtVariable:
    case dtFloat:
    case dtMultiVariable:
        return true;
    default:
        return false;
    }
}

void TIEClipsParser::ParseError(std::string_view routineName, std::string_view message,
                                int32_t line) {
    if (line <= 0) line = In().CurrentToken()->GetLineNumber();
    EIEParseException e(Format(IEMessage(imParsingError), message, routineName, IntToStr(line),
                               ShortHistory(In().History())),
                        line);
    e.SetDecorated(true);
    throw e;
}

TParsedType TIEClipsParser::GetConstructType(const TStreamTokenRef& token) {
    switch (token->GetDataType()) {
    case dtAtom:
    case dtInteger:
    case dtVariable:
    case dtFloat:
    case dtMultiVariable:
        return ptValue;
    case dtNone:
        if (token->GetText() == EndOfInputText) return ptEndOfInput;
        break;
    case tkOpenParen: {
        PushBack(token);
        const std::string keyword = In().PeekKeyword();
        if (keyword == "defrule") return ptRule;
        if (keyword == "deffacts") return ptFactSet;
        if (keyword == "deftemplate") return ptFactTemplate;
        if (keyword == "deffunction") return ptFunction;
        if (keyword == "defglobal") return ptGlobal;
        if (keyword == "deftype") return ptDefinedType;
        if (keyword == EndOfInputText) return ptEndOfInput;
        return ptFunCall;
    }
    default:
        break;
    }
    ParseError("GetConstructType", imUnexpectedSymbol, token->AsString());
}

TStreamTokenRef TIEClipsParser::ParseConstructHeader(std::string& name, std::string& comment,
                                                     TIEMessageId errorMessage,
                                                     std::string_view routineName,
                                                     std::string_view keyword, bool withComment) {
    TStreamTokenRef token = Next();
    if (!token->Is('(')) ParseError(routineName, errorMessage);
    token = Next();
    if (token->GetDataType() != dtAtom || token->GetText() != keyword)
        ParseError(routineName, errorMessage);
    token = Next();
    if (token->GetDataType() != dtAtom) ParseError(routineName, imMissingName);
    name = token->GetText();
    token = Next();
    if (withComment && token->GetDataType() == dtString) {
        comment = token->GetText();
        token = Next();
    }
    return token;
}

TRefPtr<IIEValue> TIEClipsParser::ReadConstruct(TParsedType kind, void*& object,
                                                TRefPtr<IInterface>& interface) {
    IConstructSink* engine = Sink();
    if (!engine) {
        // Constructs need an inference engine to receive them: refuse the form as a whole
        // (reading its "(" first, so that recovery skips all of it).
        Next();
        const std::string keyword = Next()->GetText();
        ParseError("ParseNext", imUnableToParseStrings, keyword);
    }
    switch (kind) {
    case ptRule: {
        TRule* rule = ParseRule();
        const std::string name = rule->RuleName();
        bool added = false;
        {
            // A rule the network refuses is not left behind half registered.
            const TOnFailure freeRefused([engine, &name, rule] {
                if (engine->FindRule(name) != rule) rule->Free();
            });
            added = engine->PutRule(name, rule);
        }
        if (!added) {
            rule->Free();
            rule = nullptr;
        }
        object = rule;
        break;
    }
    case ptFactSet:
        object = ParseFactSet();
        break;
    case ptFactTemplate: {
        TRefPtr<IFactTemplate> t = ParseFactTemplate();
        engine->PutFactTemplate(t);
        interface = t;
        break;
    }
    case ptFunction: {
        TRefPtr<IUserFunction> f = ParseFunction();
        engine->PutUserFunction(f);
        interface = f;
        break;
    }
    case ptGlobal:
        ParseGlobalVariables();
        break;
    case ptDefinedType: {
        TRefPtr<IIEDefinedType> t = ParseDefinedType();
        engine->PutDefinedType(t);
        interface = t;
        break;
    }
    default:
        break;
    }
    return IEEmptyAtom();
}

bool TIEClipsParser::ParseNext(bool execute) {
    if (!FStream) {
        // No text at all reads like an empty one.
        if (OnParse) OnParse(this, ptEndOfInput, nullptr, nullptr);
        return false;
    }
    TRefPtr<IIEValue> value = IEEmptyAtom();
    TParsedType kind = ptNone;
    void* object = nullptr;
    TRefPtr<IInterface> interface;
    try {
        TStreamTokenRef token = Next();
        kind = GetConstructType(token);
        switch (kind) {
        case ptValue:
            value = token->ToValue(RootContext());
            break;
        case ptFunCall:
            if (execute) {
                value = EvaluateFunCall();
            } else {
                value = TIEValue::CreateFunCall(ParseFunCall());
            }
            break;
        case ptEndOfInput:
            value = IEEOFAtom();
            break;
        default:
            value = ReadConstruct(kind, object, interface);
            break;
        }
    } catch (const EIEParseException& e) {
        // The scanner's own errors (an unterminated string) get the line and the tokens too.
        if (e.Decorated()) throw;
        ParseError("ReadToken", e.what(), e.LineNumber());
    }

    TParsedType reported = kind;
    if (!value || value->Equals(IEEmptyAtom().get())) reported = ptNone;
    if ((reported == ptValue || reported == ptFunCall) && FEngine)
        FEngine->PrintOut("", value->GetText() + std::string(IELineEnd));
    if (OnParse) OnParse(this, reported, object, interface.get());
    return !(value && value->Equals(IEEOFAtom().get()));
}

bool TIEClipsParser::Parse(bool execute) {
    if (ErrorHandling == ehRaiseImmediate) {
        while (ParseNext(execute)) {
        }
        return true;
    }

    if (!FStream) {
        ParseNext(execute);
        return true;
    }
    std::vector<std::string> errors;
    int32_t firstLine = 0;
    // Records one failure; true when collecting must stop.
    auto record = [&](std::string message, int32_t line) {
        if (errors.empty()) firstLine = line;
        errors.push_back(std::move(message));
        return static_cast<int64_t>(errors.size()) > MaxErrors;
    };
    auto recordOther = [&](const std::exception& e) {
        const int32_t line = In().CurrentToken()->GetLineNumber();
        return record(Format(IEMessage(imParsingError), e.what(), "Parse", IntToStr(line),
                             ShortHistory(In().History())),
                      line);
    };
    for (;;) {
        bool stop = false;
        try {
            if (!ParseNext(execute)) break;
            continue;
        } catch (const EIEParseException& e) {
            stop = record(e.what(), e.LineNumber());
        } catch (const std::exception& e) {
            stop = recordOther(e);
        }
        if (stop) break;
        // Skip the rest of the failed form. Skipping can meet an error of its own (a string
        // left open); it ends the text and is reported like the others.
        try {
            In().SkipToBalance();
        } catch (const EIEParseException& e) {
            if (record(e.what(), e.LineNumber())) break;
        }
    }
    if (errors.empty()) return true;

    std::string text;
    for (const std::string& line : errors) {
        text += line;
        text += IELineEnd;
    }
    EIEParseException e(errors.size() == 1 ? text : Format(IEMessage(imErrorsParsingStream), text),
                        firstLine);
    e.SetDecorated(true);
    e.Errors() = std::move(errors);
    throw e;
}

TRefPtr<IIEValue> TIEClipsParser::ReadCallValue() {
    return TIEValue::CreateFunCall(ParseFunCall());
}

TRefPtr<IIEValue> TIEClipsParser::ReadParenthesisedValue() {
    // The "(" is unread: a second "(" after it starts a point list, anything else a call.
    TStreamTokenRef open = Next();
    TStreamTokenRef after = Next();
    PushBack(after);
    PushBack(open);
    if (after->Is('(')) return ParseFuzzyPoints();
    return ReadCallValue();
}

TRefPtr<IIEValue> TIEClipsParser::ParseList() {
    // Gathered first, so that the list takes exactly the room it needs in one allocation.
    boost::container::small_vector<TRefPtr<IIEValue>, 16> items;
    for (;;) {
        TStreamTokenRef token = Next();
        if (token->Is(')') || token->IsEndOfInput()) {
            PushBack(token);
            break;
        }
        if (IsPlainValue(*token)) {
            items.push_back(token->ToValue());
        } else if (token->Is('[') || token->Is(']')) {
            items.push_back(TIEValue::CreateText(dtAtom, token->GetText()));
        } else if (token->Is('(')) {
            PushBack(token);
            items.push_back(ReadParenthesisedValue());
        } else if (token->Is('=')) {
            TStreamTokenRef open = Next();
            if (!open->Is('(')) ParseError("ParseList", imEqualsAtomInFact);
            PushBack(open);
            items.push_back(ReadCallValue());
        } else {
            ParseError("ParseList", imBadSlotValue, token->AsString());
        }
    }
    auto list = TValueVector::Create();
    list->Reserve(static_cast<int32_t>(items.size()));
    for (TRefPtr<IIEValue>& item : items)
        list->Add(std::move(item));
    return TIEValue::CreateList(list);
}

TRefPtr<IIEValue> TIEClipsParser::ParseValue() {
    TRefPtr<IIEValue> first;
    TRefPtr<TValueVector> many;
    auto add = [&](TRefPtr<IIEValue> value) {
        if (!first) {
            first = std::move(value);
            return;
        }
        if (!many) {
            many = TValueVector::Create();
            many->Add(first);
        }
        many->Add(std::move(value));
    };
    for (;;) {
        TStreamTokenRef token = Next();
        if (token->Is(')') || token->IsEndOfInput()) {
            PushBack(token);
            break;
        }
        if (IsPlainValue(*token)) {
            add(token->ToValue());
        } else if (token->Is('[') || token->Is(']')) {
            add(TIEValue::CreateText(dtAtom, token->GetText()));
        } else if (token->Is('(')) {
            PushBack(token);
            add(ReadParenthesisedValue());
        } else if (!first) {
            ParseError("ParseValue", imBadArgument, token->AsString());
        } else {
            PushBack(token);
            break;
        }
    }
    if (many) return TIEValue::CreateList(many);
    return first;
}

TRefPtr<IIEValue> TIEClipsParser::ParseValuePair() {
    TStreamTokenRef token = Next();
    if (!token->Is('(')) ParseError("ParseValuePair", imExpectedAtom);
    token = Next();
    if (token->GetDataType() != dtAtom) ParseError("ParseValuePair", imExpectedAtom);
    auto pair = TValueVector::Create();
    pair->Add(token->ToValue());
    // A slot written without a value is an empty multislot value: the pair holds the name
    // alone, and the function refuses it for a single slot once the fact's template is known.
    if (TRefPtr<IIEValue> value = ParseValue()) pair->Add(std::move(value));
    if (!Next()->Is(')')) ParseError("ParseValuePair", imExpectedCloseParen);
    return TIEValue::CreateList(pair);
}

TRefPtr<IIEValue> TIEClipsParser::ParseFactArgument() {
    return TIEValue::CreateFact(ParseFact());
}

TRefPtr<IFunCall> TIEClipsParser::ParseFunCall() {
    TNesting nesting(*this, "ParseFunCall");
    TStreamTokenRef open = Next();
    if (!open->Is('(')) ParseError("ParseFunCall", imExpectedOpenParen);

    TStreamTokenRef nameToken = Next();
    std::string_view name;
    const bool viaVariable =
        nameToken->GetDataType() == dtVariable || nameToken->GetDataType() == dtMultiVariable;
    if (nameToken->GetDataType() == dtAtom || nameToken->Is('=')) {
        name = nameToken->GetText();
    } else if (viaVariable) {
        // A variable in the name place reads that variable.
        name = "__get-var";
    } else {
        ParseError("ParseFunCall", imMissingName);
    }
    if (!FEngine) ParseError("ParseFunCall", imUnknownEngine);
    TRefPtr<IFunCall> call = FEngine->CreateFunCall(name);
    call->SetComment(TrimText(open->GetWhiteSpace()));
    if (viaVariable) call->AddArgument(nameToken->ToValue());

    const TSlotFunction* special = FindSlotFunction(name);
    const bool factFunction = special && special->Low == 0;
    const bool slotFunction = special && special->Low > 0;
    for (;;) {
        TStreamTokenRef token = Next();
        if (token->Is(')')) break;
        if (token->IsEndOfInput()) ParseError("ParseFunCall", imUnexpectedEndOfStream);
        if (token->Is('(')) {
            PushBack(token);
            const int32_t position = call->ArgumentCount() + 1;
            if (factFunction) {
                call->AddArgument(ParseFactArgument());
            } else if (slotFunction && position >= special->Low && position <= special->High) {
                call->AddArgument(ParseValuePair());
            } else {
                call->AddArgument(ReadParenthesisedValue());
            }
        } else if (IsPlainValue(*token)) {
            call->AddArgument(token->ToValue());
        } else {
            // Any other punctuation stands for itself, as a one-character string.
            call->AddArgument(TIEValue::CreateText(dtString, token->GetText()));
        }
    }
    if (OnParseFunCall) OnParseFunCall(this, call.get());
    return call;
}

TRefPtr<IIEValue> TIEClipsParser::EvaluateFunCall() {
    TRefPtr<IFunCall> call = ParseFunCall();
    return call->Evaluate(RootContext());
}

TRefPtr<IIEValue> TIEClipsParser::ReadPointCoordinate() {
    TStreamTokenRef token = Next();
    switch (token->GetDataType()) {
    case dtInteger:
    case dtVariable:
    case dtFloat:
        return token->ToValue();
    case tkOpenParen:
        PushBack(token);
        return ReadCallValue();
    default:
        ParseError("ParseFuzzyPoints", imExpectedNumberArgument);
    }
}

TRefPtr<IIEValue> TIEClipsParser::ParseFuzzyPoints() {
    TNesting nesting(*this, "ParseFuzzyPoints");
    if (!Next()->Is('(')) ParseError("ParseFuzzyPoints", imExpectedOpenParen);
    auto points = MakeRef<TSingletonsVector>(FEngine ? FEngine->SingletonsParser() : nullptr);
    for (;;) {
        TStreamTokenRef token = Next();
        if (token->Is(')')) break;
        // Anything but another pair leaves the list unclosed (the end of input included).
        if (!token->Is('(')) ParseError("ParseFuzzyPoints", imExpectedCloseParen);
        TRefPtr<IIEValue> x = ReadPointCoordinate();
        TRefPtr<IIEValue> y = ReadPointCoordinate();
        if (!Next()->Is(')')) ParseError("ParseFuzzyPoints", imExpectedCloseParen);
        points->Add(std::move(x), std::move(y));
    }
    return TIEValue::CreateSingletons(points);
}

// ---------------------------------------------------------------------------------------------
// Constructs, facts and patterns

namespace {

std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return text;
}

// Kind names of a set for messages: without "dt", upper case, joined by ", ".
std::string KindNames(TIETypes types) {
    return UpperCase(SetToText(types, ", "));
}

bool IsAtom(const IStreamToken& token, std::string_view text) {
    return token.GetDataType() == dtAtom && token.GetText() == text;
}

std::string LowerText(std::string_view text) {
    std::string r(text);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return r;
}

// The plain text of a value for conversions: an atom's or string's characters, else its text.
std::string PlainText(const IIEValue& value) {
    const TIEType t = value.GetDType();
    if (t == dtAtom || t == dtString) return value.AsString();
    return value.GetText();
}

} // namespace

IConstructSink* TIEClipsParser::Sink() const {
    return FEngine ? FEngine->ConstructSink() : nullptr;
}

IConstructSink& TIEClipsParser::ConstructSink(std::string_view routineName) {
    IConstructSink* engine = Sink();
    if (!engine) ParseError(routineName, imUnknownEngine);
    return *engine;
}

void TIEClipsParser::ExpectClose(std::string_view routineName) {
    if (!Next()->Is(')')) ParseError(routineName, imExpectedCloseParen);
}

void TIEClipsParser::ExpectOpen(std::string_view routineName) {
    if (!Next()->Is('(')) ParseError(routineName, imExpectedOpenParen);
}

TRefPtr<IIEValue> TIEClipsParser::EvaluateNow(const TRefPtr<IIEValue>& value) {
    if (!value) return value;
    std::unique_ptr<TIEContext> context;
    TIEContext* root = RootContext();
    if (root) context = root->CreateChild();
    return value->Evaluate(context ? context.get() : nullptr);
}

TRefPtr<IIEValue> TIEClipsParser::EvaluateFuzzyValue(std::string_view routineName,
                                                     IFuzzyVariable& variable,
                                                     const TRefPtr<IIEValue>& value) {
    IConstructSink& engine = ConstructSink(routineName);
    try {
        return TFuzzyExpressions(engine.FuzzyParser()).Evaluate(&variable, value, nullptr);
    } catch (const EIEParseException&) {
        throw;
    } catch (const std::exception& e) {
        ParseError(routineName, e.what());
    }
}

// --- Values typed by a slot ---

TRefPtr<IIEValue> TIEClipsParser::ParseValueForTypes(TIETypes types, const IIEDefinedType* type) {
    constexpr std::string_view routine = "ParseValue(SlotTypes)";
    TRefPtr<IIEValue> value;
    const bool fuzzy = types.Contains(dtFuzzy);
    if (types.Contains(dtMultiSlot)) {
        value = ParseList();
        if (StaticTypeCheck && fuzzy) {
            if (!type || !type->GetFuzzyVariable()) ParseError(routine, imFuzzyTypeNeeded);
            TRefPtr<IIEValue> result =
                EvaluateFuzzyValue(routine, *type->GetFuzzyVariable(), value);
            if (!result || result.get() == IEEmptyAtom().get())
                ParseError(routine, imInvalidFuzzyExpression, value->GetText());
            if (result->GetDType() == dtList) return result;
            auto items = MakeRef<TValueVector>();
            items->Add(result);
            return TIEValue::CreateList(TRefPtr<IValueVector>(items.get()));
        }
    } else if (fuzzy) {
        if (!type || !type->GetFuzzyVariable()) ParseError(routine, imFuzzyTypeNeeded);
        value = ParseValue();
        if (!value) ParseError("ParseValue", imExpectedValueMissing);
        // Variables and calls stay as written: the fact is evaluated again when it is
        // asserted in a context, and the expression is then completed there.
        TRefPtr<IIEValue> result = EvaluateFuzzyValue(routine, *type->GetFuzzyVariable(), value);
        if (!result || result.get() == IEEmptyAtom().get())
            ParseError(routine, imInvalidFuzzyExpression, value->GetText());
        return result;
    } else {
        TStreamTokenRef token = Next();
        if (IsPlainValue(*token)) {
            value = token->ToValue();
        } else if (token->Is('(')) {
            PushBack(token);
            value = ReadCallValue();
        } else if (token->Is('=')) {
            TStreamTokenRef open = Next();
            if (!open->Is('(')) ParseError("ParseValue", imEqualsAtomInFact);
            PushBack(open);
            value = ReadCallValue();
        } else {
            ParseError("ParseValue", imBadSlotValue, token->AsString());
        }
    }
    if (!StaticTypeCheck || !value) return value;
    const TIEType kind = value->GetDType();
    if (kind == dtNone || kind == dtVariable || kind == dtFunCall || kind == dtMultiVariable)
        return value;
    if (type) {
        if (!type->IsValid(value.get())) ParseError(routine, type->ValidationError(value.get()));
        return value;
    }
    if (types.Contains(kind)) return value;
    if (kind == dtFloat && types.Contains(dtInteger)) {
        const double d = value->AsFloat();
        if (d >= -2147483648.0 && d <= 2147483647.0)
            return TIEValue::CreateInteger(dtInteger, static_cast<int32_t>(d));
    }
    if (kind == dtInteger && types.Contains(dtFloat))
        return TIEValue::CreateFloat(value->AsInteger());
    if (kind == dtList) return value;
    ParseError(routine, imForSlot,
               Format(IEMessage(imNotAType), KindNames(types), value->GetText(), IETypeName(kind)),
               "ParseValue");
}

TRefPtr<IIEValue> TIEClipsParser::ParseValueForSlot(const IFactSlot& slot) {
    TRefPtr<IIEValue> value =
        ParseValueForTypes(slot.GetSlotType(), slot.GetExtendedTypeInfo().get());
    if (!StaticTypeCheck || !value) return value;
    const TIEType kind = value->GetDType();
    if (kind == dtVariable || kind == dtFunCall || kind == dtMultiVariable) return value;
    if (slot.IsValidValue(value.get())) return value;
    if (kind == dtInteger && slot.GetSlotType().Contains(dtFloat))
        return TIEValue::CreateFloat(value->AsInteger());
    ParseError("ParseValue(Fact Slot)", slot.ValidationMessage(value.get()));
}

// --- Facts ---

TRefPtr<IFact> TIEClipsParser::ParseFact() {
    TNesting nesting(*this, "ParseFact");
    if (!Next()->Is('(')) ParseError("ParseFact", imExpectedAtom);
    TStreamTokenRef nameToken = Next();
    if (nameToken->GetDataType() != dtAtom) ParseError("ParseFact", imExpectedAtom);
    IConstructSink& engine = ConstructSink("ParseFact");
    const std::string& name = nameToken->GetText();
    TRefPtr<IFactTemplate> factTemplate = engine.FindFactTemplate(name);
    if (!factTemplate) {
        if (TemplatesMustExist) ParseError("ParseFact", imUnknownFactTemplate, name);
        try {
            factTemplate = engine.ImpliedTemplate(name);
        } catch (const EIEParseException&) {
            throw;
        } catch (const std::exception& e) {
            ParseError("ParseFact", e.what());
        }
    }
    // A new fact reads as its defaults the slots the text leaves out; a fact whose dynamic
    // defaults wait for its assertion is one with no value stored yet.
    TRefPtr<IFact> fact = DeferDynamicDefaults ? TRefPtr<IFact>(TFact::Create(factTemplate))
                                               : factTemplate->NewFact();
    if (factTemplate->GetImplied()) {
        TRefPtr<IIEValue> data = ParseList();
        fact->SetSlotValue(DataSlotName, data);
    } else {
        for (;;) {
            TStreamTokenRef token = Next();
            PushBack(token);
            if (!token->Is('(')) break;
            ParseFactSlot(*fact);
        }
    }
    if (!Next()->Is(')')) ParseError("ParseFact", imExpectedCloseParen);
    if (OnParseFact) OnParseFact(this, fact.get());
    return fact;
}

void TIEClipsParser::ParseFactSlot(IFact& fact) {
    TNesting nesting(*this, "ParseFactSlot");
    ExpectOpen("ParseFactSlot");
    TStreamTokenRef nameToken = Next();
    if (nameToken->GetDataType() != dtAtom)
        ParseError("ParseFactSlot", imBadSlotName, nameToken->AsString());
    TRefPtr<IFactTemplate> factTemplate = fact.GetTemplate();
    TRefPtr<IFactSlot> slot;
    if (!factTemplate || !factTemplate->FindSlot(nameToken->GetText(), slot) || !slot) {
        try {
            if (factTemplate) factTemplate->SlotByName(nameToken->GetText());
        } catch (const std::exception& e) {
            ParseError("ParseFactSlot", e.what());
        }
        ParseError("ParseFactSlot", imNoSuchSlot, nameToken->GetText());
    }
    TRefPtr<IIEValue> value;
    TStreamTokenRef next = Next();
    PushBack(next);
    if (next->Is(')') && slot->IsMultiSlot()) {
        value = TIEValue::CreateList(TValueVector::Create());
    } else {
        value = ParseValueForSlot(*slot);
    }
    ExpectClose("ParseFactSlot");
    try {
        fact.SetSlotValue(nameToken->GetText(), value);
    } catch (const EIEParseException&) {
        throw;
    } catch (const std::exception& e) {
        ParseError("ParseFactSlot", e.what());
    }
}

bool TIEClipsParser::ParseFacts() {
    IConstructSink* engine = Sink();
    if (!engine || !FStream) return false;
    for (;;) {
        TStreamTokenRef token = Next();
        if (token->IsEndOfInput()) break;
        PushBack(token);
        TRefPtr<IFact> fact = ParseFact();
        engine->AssertFact(fact);
    }
    return true;
}

// --- deftemplate ---

TRefPtr<IFactTemplate> TIEClipsParser::ParseFactTemplate() {
    constexpr std::string_view routine = "ParseFactTemplate";
    IConstructSink& engine = ConstructSink(routine);
    std::string name, comment;
    TStreamTokenRef token =
        ParseConstructHeader(name, comment, imExpectedDeftemplate, routine, "deftemplate", true);
    TRefPtr<IFactTemplate> parent;
    TRefPtr<IIEDefinedType> isA;
    if (token->GetDataType() == dtAtom) {
        if (token->GetText() == "extends") {
            token = Next();
            if (token->GetDataType() != dtAtom) ParseError(routine, imMissingParentTemplate);
            parent = engine.FindFactTemplate(token->GetText());
        } else if (token->GetText() == "is-a") {
            token = Next();
            if (token->GetDataType() != dtAtom) ParseError(routine, imMissingTypeName);
            isA = engine.FindDefinedType(token->GetText());
            if (!isA) ParseError(routine, imTypeNameUnknown, token->GetText());
        } else {
            ParseError(routine, imExpectedExtends);
        }
        token = Next();
    }
    TRefPtr<IFactTemplate> result;
    try {
        // The parent's slots are copied as objects: the template takes over its content
        // without a trip through text.
        TRefPtr<TFactTemplate> created = engine.NewFactTemplate(name);
        created->SetComment(comment);
        if (parent) {
            for (int32_t i = 0; i < parent->SlotCount(); ++i)
                created->AddSlotCopy(*parent->SlotAt(i));
            created->SetParent(parent);
        }
        result = created;
    } catch (const EIEParseException&) {
        throw;
    } catch (const std::exception& e) {
        ParseError(routine, e.what());
    }
    if (isA) {
        TRefPtr<IFactSlot> data = result->AddMultiSlot(DataSlotName, IEEmptyList());
        data->SetExtendedTypeInfo(isA);
    } else {
        auto* owner = static_cast<TFactTemplate*>(result.get());
        while (token->Is('(')) {
            PushBack(token);
            TRefPtr<IFactSlot> slot = ParseFactTemplateSlot(owner);
            try {
                // A slot of the parent that the template defines again is replaced.
                if (result->HasSlot(slot->GetName())) result->DeleteSlot(slot->GetName());
                result->AddSlotCopy(*slot);
            } catch (const EIEParseException&) {
                throw;
            } catch (const std::exception& e) {
                ParseError(routine, e.what());
            }
            token = Next();
        }
    }
    if (!token->Is(')')) ParseError(routine, imExpectedCloseParen);
    if (OnParseFactTemplate) OnParseFactTemplate(this, result.get());
    return result;
}

TRefPtr<IFactSlot> TIEClipsParser::ParseFactTemplateSlot(TFactTemplate* owner) {
    constexpr std::string_view routine = "ParseFactTemplateSlot";
    TNesting nesting(*this, routine);
    IConstructSink& engine = ConstructSink(routine);
    ExpectOpen(routine);
    TStreamTokenRef kindToken = Next();
    bool multi = false;
    if (IsAtom(*kindToken, "multislot")) {
        multi = true;
    } else if (!IsAtom(*kindToken, "slot") && !IsAtom(*kindToken, "field")) {
        ParseError(routine, imInvalidSlotType, kindToken->AsString());
    }
    TIETypes types = SingleSlotTypes();
    if (multi) types = types | MultiSlotMarkers;
    TStreamTokenRef nameToken = Next();
    if (nameToken->GetDataType() != dtAtom)
        ParseError(routine, imBadSlotName, nameToken->AsString());
    TRefPtr<TFactSlot> slot = TFactSlot::Create(nullptr);
    (void)owner; // a free slot: naming it must not enter it in the template yet
    try {
        slot->SetName(nameToken->GetText());
    } catch (const EIEParseException&) {
        throw;
    } catch (const std::exception& e) {
        ParseError(routine, e.what());
    }
    TRefPtr<IIEDefinedType> type;
    TRefPtr<IIEValue> defaultValue;
    bool dynamicDefault = false;
    // The implicit type that range, cardinality, units and allowed values go to.
    auto implicitType = [&]() -> IIEDefinedType& {
        if (types.Contains(dtFuzzy)) ParseError(routine, imCannotModifyFuzzySlotType);
        if (!type) {
            type = engine.NewDefinedType();
            type->SetImplicit(true);
        } else if (!type->GetImplicit()) {
            auto copy = engine.NewDefinedType();
            copy->Assign(dynamic_cast<const TPersistent*>(type.get()));
            copy->SetImplicit(true);
            type = copy;
        }
        return *type;
    };
    TStreamTokenRef token = Next();
    while (token->Is('(')) {
        TStreamTokenRef qualifier = Next();
        if (qualifier->GetDataType() != dtAtom)
            ParseError(routine, imInvalidSlotQualifier, qualifier->AsString());
        const std::string q = LowerText(qualifier->GetText());
        if (q == "default" || q == "default-dynamic") {
            TRefPtr<IIEValue> value = multi ? ParseList() : ParseValueForTypes(types, type.get());
            dynamicDefault = q == "default-dynamic";
            if (!dynamicDefault) {
                try {
                    value = EvaluateNow(value);
                } catch (const EIEParseException&) {
                    throw;
                } catch (const std::exception& e) {
                    ParseError(routine, e.what());
                }
            }
            defaultValue = value;
        } else if (q == "type") {
            TRefPtr<IIEDefinedType> named;
            TIETypes words = ParseSlotTypes(named);
            types = multi ? words | MultiSlotMarkers : words;
            if (named) type = named;
        } else if (q == "range" || q == "cardinality") {
            IIEDefinedType& t = implicitType();
            ParseRangeClause(&t, nullptr, q == "cardinality", true);
        } else if (q == "units") {
            IIEDefinedType& t = implicitType();
            t.SetUnits(ParseUnits(routine));
        } else if (q.starts_with("allowed-")) {
            IIEDefinedType& t = implicitType();
            ParseAllowedClause(t, *qualifier);
        } else {
            ParseError(routine, imInvalidSlotQualifier, qualifier->GetText());
        }
        if (!Next()->Is(')')) ParseError(routine, imExpectedCloseParen);
        token = Next();
    }
    if (!token->Is(')')) ParseError("ParseFactTemplate", imExpectedCloseParen);
    // The type first: taking a type resets the kinds to the type's, and the kinds then go to
    // an implicit type as its base kinds.
    if (type) slot->SetExtendedTypeInfo(type);
    slot->SetSlotType(types);
    slot->SetDefaultDynamic(dynamicDefault);
    if (defaultValue && types.Contains(dtFuzzy) && type && type->GetFuzzyVariable() &&
        (defaultValue->GetDType() == dtAtom || defaultValue->GetDType() == dtString)) {
        TRefPtr<IFuzzySet> term;
        if (type->GetFuzzyVariable()->Find(defaultValue->AsString(), term))
            defaultValue = TIEValue::CreateFuzzy(term);
    }
    if (defaultValue && StaticTypeCheck && !dynamicDefault &&
        !defaultValue->Equals(IEEmptyAtom().get())) {
        TRefPtr<IValueVector> list =
            defaultValue->GetDType() == dtList ? defaultValue->AsList() : nullptr;
        const bool emptyList = defaultValue->GetDType() == dtList && (!list || list->Count() == 0);
        if (!emptyList && !slot->IsValidValue(defaultValue.get())) {
            if (defaultValue->GetDType() == dtInteger && types.Contains(dtFloat))
                defaultValue = TIEValue::CreateFloat(defaultValue->AsInteger());
            else
                ParseError(routine, slot->ValidationMessage(defaultValue.get()));
        }
    }
    if (defaultValue) slot->SetSlotDefault(defaultValue);
    return slot;
}

TIETypes TIEClipsParser::ParseSlotTypes(TRefPtr<IIEDefinedType>& type) {
    constexpr std::string_view routine = "ParseSlotTypes";
    IConstructSink& engine = ConstructSink(routine);
    TIETypes result;
    for (;;) {
        TStreamTokenRef token = Next();
        if (token->Is(')')) {
            PushBack(token);
            break;
        }
        if (token->GetDataType() == dtVariable) {
            if (token->GetText() != "VARIABLE")
                ParseError(routine, imInvalidSlotType, token->AsString());
            result = SingleSlotTypes();
            continue;
        }
        if (token->GetDataType() != dtAtom)
            ParseError(routine, imInvalidSlotType, token->AsString());
        const std::string& w = token->GetText();
        if (w == "SYMBOL" || w == "ATOM") {
            result.Include(dtAtom);
        } else if (w == "STRING") {
            result.Include(dtString);
        } else if (w == "LEXEME") {
            result = result | TIETypes{dtAtom, dtString};
        } else if (w == "INTEGER") {
            result.Include(dtInteger);
        } else if (w == "FLOAT") {
            result.Include(dtFloat);
        } else if (w == "NUMBER") {
            result = result | TIETypes{dtInteger, dtFloat};
        } else if (w == "CLASS") {
            result = result | TIETypes{dtClass, dtInteger};
        } else if (w == "DESCRIPTOR") {
            result = result | TIETypes{dtDescriptor, dtInteger};
        } else if (w == "OBJECT") {
            result = result | TIETypes{dtObject, dtInteger};
        } else if (w == "EXTERNALADDRESS") {
            result = result | TIETypes{dtExternalAddress, dtInteger};
        } else if (w == "FUZZY") {
            result.Include(dtFuzzy);
        } else if (w == "FACTID") {
            result = result | TIETypes{dtFactId, dtInteger};
        } else if (w == "FACT") {
            result.Include(dtFact);
        } else {
            TRefPtr<IIEDefinedType> named = engine.FindDefinedType(w);
            if (!named) ParseError(routine, imInvalidSlotType, token->AsString());
            if (type) ParseError(routine, imMultipleInheritance);
            type = named;
            result = result | named->GetBaseTypes();
        }
    }
    if (result.Contains(dtFuzzy) && !(result - TIETypes{dtFuzzy}).Empty())
        ParseError(routine, imCannotMixFuzzyType);
    return result;
}

// --- Clauses shared by slots and types ---

TRefPtr<IIEValue> TIEClipsParser::ParseRangeBound(bool isCardinality, bool allowVariable,
                                                  bool& unlimited) {
    constexpr std::string_view routine = "ParseDefinedType";
    unlimited = false;
    TStreamTokenRef token = Next();
    switch (token->GetDataType()) {
    case dtInteger:
    case dtFloat:
        return token->ToValue();
    case dtVariable:
        if (!allowVariable) ParseError(routine, imExpectedValueMissing);
        if (token->GetText() == "VARIABLE") {
            unlimited = true;
            return nullptr;
        }
        try {
            return token->ToValue(RootContext());
        } catch (const EIEParseException&) {
            throw;
        } catch (const std::exception& e) {
            ParseError(routine, e.what());
        }
    case tkOpenParen:
        PushBack(token);
        return EvaluateFunCall();
    default:
        ParseError(routine, imExpectedIntegerArgument, isCardinality ? "cardinality" : "range");
    }
}

void TIEClipsParser::ParseRangeClause(IIEDefinedType* type, IFuzzyVariable* fuzzy,
                                      bool isCardinality, bool allowVariable) {
    constexpr std::string_view routine = "ParseDefinedType";
    bool openMin = false, openMax = false;
    TRefPtr<IIEValue> lo = ParseRangeBound(isCardinality, allowVariable, openMin);
    TRefPtr<IIEValue> hi = ParseRangeBound(isCardinality, allowVariable, openMax);
    // A minimum above the maximum is refused here: the setters would quietly narrow it to one
    // value, which the user would learn only from a later validation message.
    if (lo && hi) {
        double a = 0, b = 0;
        try {
            a = isCardinality ? lo->AsInteger() : lo->AsFloat();
            b = isCardinality ? hi->AsInteger() : hi->AsFloat();
        } catch (const EIEParseException&) {
            throw;
        } catch (const std::exception& e) {
            ParseError(routine, e.what());
        }
        if (a > b)
            ParseError(routine,
                       Format(MinimumAboveMaximumMessage, isCardinality ? "cardinality" : "range",
                              ExactNumberText(a), ExactNumberText(b)));
    }
    try {
        if (fuzzy) {
            if (lo) fuzzy->SetMinimum(lo->AsFloat());
            if (hi) fuzzy->SetMaximum(hi->AsFloat());
        } else if (type && isCardinality) {
            type->BeginUpdate();
            if (lo) type->SetMinCardinality(lo->AsInteger());
            if (hi) type->SetMaxCardinality(hi->AsInteger());
            if (openMax) type->SetMaxCardinality(2147483647);
            type->SetCardinalityLimited(true);
            type->EndUpdate();
        } else if (type) {
            type->BeginUpdate();
            if (lo) type->SetMinRange(lo->AsFloat());
            if (openMin) type->SetMinRange(OpenRangeBound(type->GetBaseTypes(), false));
            if (hi) type->SetMaxRange(hi->AsFloat());
            if (openMax) type->SetMaxRange(OpenRangeBound(type->GetBaseTypes(), true));
            type->SetRangeLimited(true);
            type->EndUpdate();
        }
    } catch (const EIEParseException&) {
        throw;
    } catch (const std::exception& e) {
        ParseError(routine, e.what());
    }
    TStreamTokenRef close = Next();
    if (!close->Is(')')) ParseError(routine, imExpectedCloseParen);
    PushBack(close);
}

void TIEClipsParser::ParseAllowedClause(IIEDefinedType& type, const IStreamToken& keyword) {
    constexpr std::string_view routine = "ParseDefinedType";
    const std::string& k = keyword.GetText();
    TValueConstraints flags;
    if (k == "allowed-values")
        flags = TValueConstraints{vcAtom, vcString, vcInteger, vcFloat};
    else if (k == "allowed-lexemes")
        flags = TValueConstraints{vcAtom, vcString};
    else if (k == "allowed-strings")
        flags = TValueConstraints{vcString};
    else if (k == "allowed-symbols")
        flags = TValueConstraints{vcAtom};
    else if (k == "allowed-numbers")
        flags = TValueConstraints{vcInteger, vcFloat};
    else if (k == "allowed-integers")
        flags = TValueConstraints{vcInteger};
    else if (k == "allowed-floats")
        flags = TValueConstraints{vcFloat};
    else
        ParseError(routine, imExpectedAllowedValue, keyword.AsString());
    try {
        type.SetConstraints(type.GetConstraints() | flags);
    } catch (const EIEParseException&) {
        throw;
    } catch (const std::exception& e) {
        ParseError(routine, e.what());
    }
    for (;;) {
        TStreamTokenRef token = Next();
        if (token->Is(')')) {
            PushBack(token);
            break;
        }
        // A clause cut off by the end of the text is an error, never a wait for more.
        if (token->IsEndOfInput()) ParseError(routine, imExpectedCloseParen);
        try {
            TRefPtr<IIEValue> value;
            if (token->Is('(')) {
                PushBack(token);
                value = EvaluateFunCall();
            } else {
                value = token->ToValue(RootContext());
            }
            const TIEType t = value->GetDType();
            if (k == "allowed-lexemes") {
                if (t != dtAtom && t != dtString)
                    value = TIEValue::CreateText(dtString, PlainText(*value));
            } else if (k == "allowed-strings") {
                value = TIEValue::CreateText(dtString, PlainText(*value));
            } else if (k == "allowed-symbols") {
                value = TIEValue::CreateText(dtAtom, PlainText(*value));
            } else if (k == "allowed-numbers") {
                if (t != dtInteger && t != dtFloat)
                    value = TIEValue::CreateInteger(dtInteger, value->AsInteger());
            } else if (k == "allowed-integers") {
                value = TIEValue::CreateInteger(dtInteger, value->AsInteger());
            } else if (k == "allowed-floats") {
                value = TIEValue::CreateFloat(value->AsFloat());
            }
            type.AddAllowedValue(value);
        } catch (const EIEParseException&) {
            throw;
        } catch (const std::exception& e) {
            ParseError(routine, e.what());
        }
    }
}

std::string TIEClipsParser::ParseUnits(std::string_view routineName) {
    TStreamTokenRef token = Next();
    // Units written in quotes read back as their characters, not as the display text.
    if (token->GetDataType() == dtString) return token->GetText();
    if (!IsPlainValue(*token)) ParseError(routineName, imExpectedValueMissing);
    return token->AsString();
}

// --- deffacts ---

TFactSet* TIEClipsParser::ParseFactSet() {
    constexpr std::string_view routine = "ParseFactSet";
    IConstructSink& engine = ConstructSink(routine);
    std::string name, comment;
    TStreamTokenRef token =
        ParseConstructHeader(name, comment, imExpectedDeffacts, routine, "deffacts", true);
    auto* factSet = engine.NewFactSet(name);
    const TOnFailure freeHalfRead([factSet] { factSet->Free(); });
    factSet->SetComment(comment);
    std::vector<TRefPtr<IFact>> facts;
    {
        TDeferDynamicDefaults deferred(*this);
        while (token->Is('(')) {
            PushBack(token);
            facts.push_back(ParseFact());
            token = Next();
        }
    }
    if (!token->Is(')')) ParseError(routine, imExpectedCloseParen);
    engine.AttachFactSet(*factSet);
    for (const TRefPtr<IFact>& fact : facts)
        factSet->AddFact(fact);
    if (OnParseFactSet) OnParseFactSet(this, factSet);
    return factSet;
}

// --- defrule ---

TRule* TIEClipsParser::ParseRule() {
    constexpr std::string_view routine = "ParseRule";
    IConstructSink& engine = ConstructSink(routine);
    std::string name, comment;
    TStreamTokenRef token =
        ParseConstructHeader(name, comment, imExpectedDefrule, routine, "defrule", true);
    auto* rule = engine.NewRule();
    rule->BeginUpdate();
    const TOnFailure freeHalfRead([rule] { rule->Free(); });
    try {
        rule->SetRuleName(name);
    } catch (const EIEParseException&) {
        throw;
    } catch (const std::exception& e) {
        ParseError(routine, e.what());
    }
    rule->SetComment(comment);
    PushBack(token);
    if (token->Is('(') && In().PeekKeyword() == "declare") {
        Next();
        Next();
        token = Next();
        while (token->Is('(')) {
            TStreamTokenRef property = Next();
            if (IsAtom(*property, "salience")) {
                TStreamTokenRef v = Next();
                if (v->GetDataType() == dtInteger) {
                    rule->SetSalience(static_cast<int32_t>(v->GetNumber()));
                } else if (v->GetDataType() == dtVariable) {
                    rule->SetSalienceExpression(v->ToValue());
                } else if (v->Is('(')) {
                    PushBack(v);
                    rule->SetSalienceExpression(ReadCallValue());
                } else {
                    ParseError(routine, imExpectedIntegerArgument, "salience");
                }
            } else if (IsAtom(*property, "oneshot") || IsAtom(*property, "enabled")) {
                TStreamTokenRef v = Next();
                TRefPtr<IIEValue> value;
                if (v->Is('(')) {
                    PushBack(v);
                    value = EvaluateFunCall();
                } else if (IsPlainValue(*v)) {
                    value = v->ToValue();
                } else {
                    ParseError(routine, imExpectedValueMissing);
                }
                const bool on = value && value->Equals(IETrueValue().get());
                if (property->GetText() == "oneshot")
                    rule->SetOneShot(on);
                else
                    rule->SetEnabled(on);
            } else {
                ParseError(routine, imExpectedRuleProperty);
            }
            if (!Next()->Is(')')) ParseError(routine, imExpectedCloseParen);
            token = Next();
        }
        if (!token->Is(')')) ParseError(routine, imExpectedCloseParen);
    }
    TRuleBindings bindings;
    ParseRulePatterns(*rule, bindings);
    token = Next();
    if (!token->Is('=')) ParseError(routine, imExpectedArrow);
    token = Next();
    if (!IsAtom(*token, ">")) ParseError(routine, imExpectedArrow);
    ParseRuleActions(*rule);
    if (!Next()->Is(')')) ParseError(routine, imExpectedCloseParen);
    if (OnParseRule) OnParseRule(this, rule);
    rule->EndUpdate();
    return rule;
}

void TIEClipsParser::ParseRulePatterns(TRule& rule, TRuleBindings& bindings) {
    constexpr std::string_view routine = "ParseRulePatterns";
    for (;;) {
        TStreamTokenRef token = Next();
        std::string boundName;
        if (token->GetDataType() == dtVariable) {
            boundName = token->GetText();
            if (!IsAtom(*Next(), "<-")) ParseError(routine, imExpectedLeftArrow);
            token = Next();
            if (!token->Is('(')) ParseError(routine, imExpectedAtom);
        } else if (!token->Is('(')) {
            PushBack(token);
            return;
        }
        PushBack(token);
        std::unique_ptr<TIEPattern> pattern = ParsePattern(rule, 0, bindings);
        if (!boundName.empty()) {
            if (pattern->IsNegated() || pattern->IsTest())
                ParseError(routine, imNotAndTestCannotBind);
            pattern->SetBoundName(boundName);
        }
        try {
            rule.AddPattern(std::move(pattern));
        } catch (const EIEParseException&) {
            throw;
        } catch (const std::exception& e) {
            ParseError(routine, e.what());
        }
    }
}

void TIEClipsParser::ParseRuleActions(TRule& rule) {
    for (;;) {
        TStreamTokenRef token = Next();
        PushBack(token);
        if (!token->Is('(')) return;
        rule.AddAction(ParseFunCall());
    }
}

std::unique_ptr<TIEPattern> TIEClipsParser::ParsePattern(TRule& rule, int32_t negatedCount,
                                                         TRuleBindings& bindings) {
    constexpr std::string_view routine = "ParsePattern";
    TNesting nesting(*this, routine);
    IConstructSink& engine = ConstructSink(routine);
    TStreamTokenRef open = Next();
    if (!open->Is('(')) ParseError(routine, imExpectedAtom);
    TStreamTokenRef nameToken = Next();
    if (nameToken->GetDataType() != dtAtom) ParseError(routine, imExpectedAtom);
    const std::string comment(TrimText(open->GetWhiteSpace()));
    const std::string& name = nameToken->GetText();
    std::unique_ptr<TIEPattern> pattern;
    if (name == "not" || name == "exists" || name == "unique" || name == "explicit") {
        const int32_t count = name == "not"      ? negatedCount + 1
                              : name == "exists" ? negatedCount + 2
                                                 : negatedCount;
        pattern = ParsePattern(rule, count, bindings);
        if (name == "unique") pattern->SetUnique(true);
        if (name == "explicit") pattern->SetExplicit(true);
    } else if (name == TestCEName) {
        TRefPtr<IFactTemplate> testTemplate = engine.ImpliedTemplate(TestCEName);
        pattern = rule.NewPattern(TestCEName, testTemplate, 0);
        TStreamTokenRef callOpen = Next();
        PushBack(callOpen);
        if (!callOpen->Is('(')) ParseError(routine, imExpectedOpenParen);
        TRefPtr<IIEValue> call = ReadCallValue();
        pattern->AddSlotTest(DataSlotName, call, true, (negatedCount & 1) != 0, -1);
    } else {
        TRefPtr<IFactTemplate> factTemplate;
        try {
            factTemplate = engine.ImpliedTemplate(name);
        } catch (const EIEParseException&) {
            throw;
        } catch (const std::exception& e) {
            ParseError(routine, e.what());
        }
        pattern = rule.NewPattern(name, factTemplate, negatedCount);
        if (factTemplate->GetImplied()) {
            TRefPtr<IFactSlot> data;
            factTemplate->FindSlot(DataSlotName, data);
            ParseSlotConstraints(*pattern, data.get(), DataSlotName, true, bindings);
        } else {
            for (;;) {
                TStreamTokenRef token = Next();
                if (!token->Is('(')) {
                    PushBack(token);
                    break;
                }
                TStreamTokenRef slotToken = Next();
                if (slotToken->GetDataType() != dtAtom)
                    ParseError(routine, imBadSlotName, slotToken->AsString());
                TRefPtr<IFactSlot> slot;
                if (!factTemplate->FindSlot(slotToken->GetText(), slot) || !slot)
                    ParseError(routine, imNoSuchSlot, slotToken->GetText());
                ParseSlotConstraints(*pattern, slot.get(), slotToken->GetText(),
                                     slot->IsMultiSlot(), bindings);
                ExpectClose(routine);
            }
        }
    }
    if (!comment.empty() && pattern->Comment().empty()) pattern->SetComment(comment);
    ExpectClose(routine);
    if (OnParsePattern) OnParsePattern(this, pattern.get());
    return pattern;
}

TRefPtr<IIEValue> TIEClipsParser::ParseConstraintValue(TIEPattern& pattern, const IFactSlot* slot,
                                                       std::string_view slotName, bool multi,
                                                       TRuleBindings& bindings,
                                                       TStreamTokenRef token, int32_t subIndex,
                                                       bool conjunction, bool notEqual) {
    constexpr std::string_view routine = "ParsePattern";
    const int32_t kind = token->GetDataType();
    TRefPtr<IIEValue> value;
    if (kind == dtVariable || kind == dtMultiVariable) {
        auto [it, first] = bindings.try_emplace(token->GetText(), static_cast<TIEType>(kind));
        value = TIEValue::CreateText(it->second, token->GetText());
        (void)first;
    } else if (IsAtom(*token, ":")) {
        TStreamTokenRef open = Next();
        PushBack(open);
        if (!open->Is('(')) ParseError(routine, imExpectedOpenParen);
        value = ReadCallValue();
    } else if (token->Is('=')) {
        TStreamTokenRef open = Next();
        PushBack(open);
        if (!open->Is('(')) ParseError(routine, imExpectedOpenParen);
        TRefPtr<IIEValue> call = ReadCallValue();
        // The term stands for one value, a multislot's element as much as a single slot.
        const TIEType varKind = dtVariable;
        TRefPtr<IIEValue> variable = TIEValue::CreateText(varKind, GenerateName(BlankVariableName));
        bindings.try_emplace(VariableName(*variable), varKind);
        pattern.AddSlotTest(slotName, variable, conjunction, false, subIndex);
        TRefPtr<IFunCall> eq = FEngine->CreateFunCall("eq*");
        eq->AddArgument(variable);
        eq->AddArgument(call);
        value = TIEValue::CreateFunCall(eq);
        conjunction = true;
    } else if (slot && slot->GetSlotType().Contains(dtFuzzy) &&
               (multi ? kind == dtAtom || kind == dtString || token->Is('[')
                      : StartsFuzzyExpression(*token))) {
        // A linguistic expression (very hot, [hot or warm], a point list): the test compares
        // the slot's fuzzy value with the expression's set by their degree of match. Every
        // element of a fuzzy multislot is a fuzzy value too, so a term name written for one
        // element becomes its set; a number stays a crisp constant matched by membership.
        const TRefPtr<IIEDefinedType> type = slot->GetExtendedTypeInfo();
        if (!type || !type->GetFuzzyVariable()) ParseError(routine, imFuzzyTypeNeeded);
        if (multi) {
            value = token->Is('[') ? ReadBracketedElement() : token->ToValue();
        } else {
            PushBack(token);
            value = ParseValue();
            if (!value) ParseError(routine, imExpectedValueMissing);
            if (value->GetDType() == dtFunCall) value = EvaluateNow(value);
        }
        if (!value || value->GetDType() != dtFuzzy)
            value = EvaluateFuzzyValue(routine, *type->GetFuzzyVariable(), value);
        if (!value || value.get() == IEEmptyAtom().get())
            ParseError(routine, imInvalidFuzzyExpression, token->AsString());
    } else if (kind == dtAtom || kind == dtString || kind == dtInteger || kind == dtFloat) {
        value = token->ToValue();
    } else {
        ParseError(routine, imBadSlotValue, token->AsString());
    }
    pattern.AddSlotTest(slotName, value, conjunction, notEqual, subIndex);
    return value;
}

TRefPtr<IIEValue> TIEClipsParser::ReadBracketedElement() {
    // The opening bracket has been read. In a multislot each element is one term, so the
    // expression ends with its matching bracket rather than with the slot's parenthesis.
    auto items = TValueVector::Create();
    items->Add(TIEValue::CreateText(dtAtom, "["));
    for (int32_t depth = 1; depth > 0;) {
        TStreamTokenRef token = Next();
        if (token->Is(')') || token->IsEndOfInput())
            ParseError("ParsePattern", imMissingFuzzyCloseBracket);
        if (token->Is('[') || token->Is(']')) {
            depth += token->Is('[') ? 1 : -1;
            items->Add(TIEValue::CreateText(dtAtom, token->GetText()));
        } else if (token->Is('(')) {
            PushBack(token);
            items->Add(ReadParenthesisedValue());
        } else if (IsPlainValue(*token)) {
            items->Add(token->ToValue());
        } else {
            ParseError("ParsePattern", imBadSlotValue, token->AsString());
        }
    }
    return TIEValue::CreateList(items);
}

bool TIEClipsParser::StartsFuzzyExpression(const IStreamToken& token) {
    const int32_t kind = token.GetDataType();
    if (kind == dtAtom || kind == dtString) return true;
    if (token.Is('[') || token.Is('(')) return true;
    if (kind != dtInteger && kind != dtFloat) return false;
    // A number alone is a crisp constant (matched by membership); followed by more items it
    // starts an expression such as 50 +X 10.
    TStreamTokenRef after = Next();
    PushBack(after);
    return !(after->Is(')') || after->Is('&') || after->Is('|') || after->IsEndOfInput());
}

void TIEClipsParser::ParseSlotConstraints(TIEPattern& pattern, const IFactSlot* slot,
                                          std::string_view slotName, bool multi,
                                          TRuleBindings& bindings) {
    constexpr std::string_view routine = "ParsePattern";
    int32_t position = multi ? 0 : -1;
    int32_t terms = 0;
    for (;;) {
        TStreamTokenRef token = Next();
        if (token->Is(')')) {
            PushBack(token);
            break;
        }
        if (!multi && terms > 0) ParseError(routine, imSlotNotMultislot, slotName);
        bool conjunction = true;
        for (;;) {
            bool notEqual = false;
            if (token->Is('~')) {
                notEqual = true;
                token = Next();
            }
            try {
                ParseConstraintValue(pattern, slot, slotName, multi, bindings, token, position,
                                     conjunction, notEqual);
            } catch (const EIEParseException&) {
                throw;
            } catch (const std::exception& e) {
                ParseError(routine, e.what());
            }
            token = Next();
            if (token->Is('&')) {
                conjunction = true;
            } else if (token->Is('|')) {
                conjunction = false;
            } else {
                PushBack(token);
                break;
            }
            token = Next();
        }
        ++terms;
        if (multi) ++position;
    }
    // A multislot matches exactly the number of elements written: none written means empty.
    if (multi) {
        const int32_t index = pattern.IndexOfSlot(slotName);
        if (index >= 0) pattern.SetMultiSlotLength(index, terms);
    }
}

// --- deffunction ---

TRefPtr<IUserFunction> TIEClipsParser::ParseFunction() {
    constexpr std::string_view routine = "ParseFunction";
    ConstructSink(routine);
    std::string name, comment;
    TStreamTokenRef token =
        ParseConstructHeader(name, comment, imExpectedDeffunction, routine, "deffunction", true);
    auto function = MakeRef<TInterpretedFunction>(name);
    function->SetComment(comment);
    if (!token->Is('(')) ParseError(routine, imExpectedOpenParen);
    for (;;) {
        token = Next();
        if (token->Is(')')) break;
        if (token->GetDataType() == dtVariable) {
            function->AddParameter(token->GetText(), dtVariable);
        } else if (token->GetDataType() == dtMultiVariable) {
            function->AddParameter(token->GetText(), dtMultiVariable);
        } else {
            ParseError(routine, imExpectedCloseParen);
        }
    }
    token = Next();
    if (token->GetDataType() == dtString) {
        function->SetComment(token->GetText());
        token = Next();
    }
    for (;; token = Next()) {
        if (token->Is(')')) break;
        if (token->Is('(')) {
            PushBack(token);
            function->AddAction(ReadCallValue());
        } else if (IsPlainValue(*token)) {
            function->AddAction(token->ToValue());
        } else {
            ParseError(routine, imUnexpectedCharacter, token->AsString());
        }
    }
    if (OnParseFunction) OnParseFunction(this, function.get());
    return function;
}

// --- defglobal ---

bool TIEClipsParser::ParseGlobalVariables() {
    constexpr std::string_view routine = "ParseGlobalVariables";
    IConstructSink& engine = ConstructSink(routine);
    if (!Next()->Is('(')) ParseError(routine, imExpectedDefglobal);
    if (Next()->GetText() != "defglobal") ParseError(routine, imExpectedDefglobal);
    for (;;) {
        TStreamTokenRef token = Next();
        if (token->Is(')')) break;
        PushBack(token);
        std::string name;
        TRefPtr<IIEValue> value;
        ParseVariable(name, value);
        try {
            engine.PutGlobal(name, value);
        } catch (const EIEParseException&) {
            throw;
        } catch (const std::exception& e) {
            ParseError(routine, e.what());
        }
    }
    return true;
}

void TIEClipsParser::ParseVariable(std::string& name, TRefPtr<IIEValue>& value) {
    constexpr std::string_view routine = "ParseVariable";
    TStreamTokenRef token = Next();
    if (token->GetDataType() != dtVariable) ParseError(routine, imMissingName);
    const std::string& text = token->GetText();
    if (text.size() < 2 || text.front() != '*' || text.back() != '*')
        ParseError(routine, imBadVariableName, token->AsString());
    name = text;
    if (!Next()->Is('=')) ParseError(routine, imExpected, "=");
    token = Next();
    if (token->Is('(')) {
        PushBack(token);
        value = ReadCallValue();
    } else if (IsPlainValue(*token)) {
        value = token->ToValue();
    } else {
        ParseError(routine, imExpectedValueMissing);
    }
    if (OnParseVariable) OnParseVariable(this, name, value.get());
}

// --- deftype ---

TRefPtr<IIEDefinedType> TIEClipsParser::ParseDefinedType() {
    constexpr std::string_view routine = "ParseDefinedType";
    IConstructSink& engine = ConstructSink(routine);
    std::string name, comment;
    TStreamTokenRef token =
        ParseConstructHeader(name, comment, imExpectedDeftype, routine, "deftype", true);
    TRefPtr<TIEDefinedType> type = engine.NewDefinedType();
    type->SetName(name);
    type->SetComment(comment);
    if (!IsAtom(*token, "extends")) ParseError(routine, imMissingKeyword, "extends");
    ExpectOpen(routine);
    if (!IsAtom(*Next(), "type")) ParseError(routine, imMissingKeyword, "type");
    TRefPtr<IIEDefinedType> ancestor;
    TIETypes words = ParseSlotTypes(ancestor);
    ExpectClose(routine);
    try {
        if (ancestor) {
            type->Assign(dynamic_cast<const TPersistent*>(ancestor.get()));
            type->SetAncestor(ancestor);
            words = words | ancestor->GetBaseTypes();
            type->SetName(name);
            type->SetComment(comment);
        }
        type->SetBaseTypes(words);
    } catch (const EIEParseException&) {
        throw;
    } catch (const std::exception& e) {
        ParseError(routine, e.what());
    }
    if (words.Contains(dtFuzzy)) {
        TRefPtr<IFuzzyVariable> variable = ParseFuzzyVariable();
        variable->SetName(name);
        type->SetFuzzyVariable(variable);
        type->SetUnits(variable->GetUnits());
    } else {
        token = Next();
        while (token->Is('(')) {
            TStreamTokenRef keyword = Next();
            if (IsAtom(*keyword, "range") || IsAtom(*keyword, "cardinality")) {
                ParseRangeClause(type.get(), nullptr, keyword->GetText() == "cardinality", true);
            } else if (IsAtom(*keyword, "units")) {
                type->SetUnits(ParseUnits(routine));
            } else {
                ParseAllowedClause(*type, *keyword);
            }
            ExpectClose(routine);
            token = Next();
        }
        PushBack(token);
    }
    ExpectClose(routine);
    if (OnParseDefinedType) OnParseDefinedType(this, type.get());
    return type;
}

// --- Fuzzy values ---

TRefPtr<IFuzzyVariable> TIEClipsParser::ParseFuzzyVariable() {
    constexpr std::string_view routine = "ParseFuzzyVariable";
    TRefPtr<IFuzzyVariable> variable = NewIEFuzzyVariable("");
    if (auto* parser = dynamic_cast<IFuzzyParser*>(FEngine)) variable->SetParser(parser);
    for (;;) {
        TStreamTokenRef token = Next();
        if (token->Is(')')) {
            PushBack(token);
            break;
        }
        if (!token->Is('(')) ParseError(routine, imExpectedOpenParen);
        TStreamTokenRef keyword = Next();
        if (IsAtom(*keyword, "range")) {
            ParseRangeClause(nullptr, variable.get(), false, true);
        } else if (IsAtom(*keyword, "units")) {
            variable->SetUnits(ParseUnits(routine));
        } else if (IsAtom(*keyword, "values")) {
            for (;;) {
                TStreamTokenRef t = Next();
                PushBack(t);
                if (!t->Is('(')) break;
                TRefPtr<IFuzzySet> set = ParseFuzzySet(*variable);
                set->SetRegistered();
                variable->AddSet(set);
            }
        } else {
            ParseError(routine, imMissingKeyword, "range, units, or values");
        }
        ExpectClose(routine);
    }
    if (OnParseFuzzyVariable) OnParseFuzzyVariable(this, variable.get());
    return variable;
}

TRefPtr<IFuzzySet> TIEClipsParser::ParseFuzzySet(IFuzzyVariable& variable) {
    constexpr std::string_view routine = "ParseFuzzySet";
    TNesting nesting(*this, routine);
    std::string name, comment;
    TStreamTokenRef token =
        ParseConstructHeader(name, comment, imExpectedTerm, routine, "term", false);
    PushBack(token);
    TRefPtr<IIEValue> value = ParseValue();
    if (!value) ParseError(routine, imExpectedValueMissing);
    TRefPtr<IFuzzySet> set;
    try {
        if (value->GetDType() == dtSingletons) {
            // A point list: the set's points as written.
            auto points = MakeRef<TIEFuzzySet>(&variable, name);
            TRefPtr<ISingletonsVector> singletons = value->AsSingletons();
            points->BeginUpdate();
            for (int32_t i = 0; i < singletons->Count(); ++i)
                points->Add(EvaluateNow(singletons->GetValue(i))->AsFloat(),
                            EvaluateNow(singletons->GetMembership(i))->AsFloat());
            points->EndUpdate();
            set = points;
        } else {
            TRefPtr<IIEValue> result = EvaluateNow(value);
            // A linguistic expression over the variable's earlier terms (very hot).
            if (!result || result->GetDType() != dtFuzzy)
                result = EvaluateFuzzyValue(routine, variable, result);
            if (!result || result->GetDType() != dtFuzzy)
                ParseError(routine, imInvalidFuzzyExpression, value->GetText());
            set = result->AsFuzzy();
            // A bare term name gives the term's own set, which must keep its name.
            if (set->GetRegistered()) {
                TRefPtr<ICloneable> copy = set->Clone();
                set = TRefPtr<IFuzzySet>(dynamic_cast<IFuzzySet*>(copy.get()));
            }
        }
    } catch (const EIEParseException&) {
        throw;
    } catch (const std::exception& e) {
        ParseError(routine, e.what());
    }
    set->SetName(name);
    if (auto* parser = dynamic_cast<IFuzzyParser*>(FEngine)) set->SetParser(parser);
    if (!set->GetFuzzyVariable()) set->SetFuzzyVariable(&variable);
    ExpectClose(routine);
    if (OnParseFuzzySet) OnParseFuzzySet(this, set.get());
    return set;
}

} // namespace ie
