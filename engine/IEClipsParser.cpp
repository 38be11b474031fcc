#include "engine/IEClipsParser.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "engine/IEContext.h"
#include "engine/IEValue.h"

namespace ie {

namespace {

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

// ---------------------------------------------------------------------------------------------
// TIEClipsStream

TIEClipsStream::TIEClipsStream(TStream* stream) : TIETokenizerStream(stream) {}

int TIEClipsStream::GetByte() {
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
    auto token = MakeRef<TIEStreamToken>(dataType, line);
    token->SetWhiteSpace(std::move(FPendingWhiteSpace));
    FPendingWhiteSpace.clear();
    return token;
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
            const int32_t line = FCurrentLine;
            c = GetByte();
            if (c == EndOfData) return MakeWordToken(line);
            if (c <= ' ') {
                // The blank ends up in this token's white space; a line end after the word
                // counts for the lines after it.
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
    FFormTokens.clear();
    FDepth = 0;
    int32_t count = 0;
    try {
        do {
            TStreamTokenRef token = ReadToken();
            const bool end = token->IsEndOfInput();
            if (token->Is('(')) ++count;
            if (token->Is(')')) --count;
            FPushBack.push_back(std::move(token));
            if (end) break;
        } while (count > 0);
    } catch (...) {
        // The form cannot be completed: what was read of it stays as the history of the
        // error, and nothing of it is handed out.
        FFormTokens = std::move(FPushBack);
        FPushBack.clear();
        if (!FFormTokens.empty()) FLastToken = FFormTokens.back();
        throw;
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
    (void)object;
    (void)interface;
    (void)kind;
    // Reached only by a parser that does not read constructs: refuse the form as a whole
    // (reading its "(" first, so that recovery skips all of it).
    Next();
    const std::string keyword = Next()->GetText();
    ParseError("ParseNext", imUnableToParseStrings, keyword);
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
    auto list = TValueVector::Create();
    for (;;) {
        TStreamTokenRef token = Next();
        if (token->Is(')') || token->IsEndOfInput()) {
            PushBack(token);
            break;
        }
        if (IsPlainValue(*token)) {
            list->Add(token->ToValue());
        } else if (token->Is('[') || token->Is(']')) {
            list->Add(TIEValue::CreateText(dtAtom, token->GetText()));
        } else if (token->Is('(')) {
            PushBack(token);
            list->Add(ReadParenthesisedValue());
        } else if (token->Is('=')) {
            TStreamTokenRef open = Next();
            if (!open->Is('(')) ParseError("ParseList", imEqualsAtomInFact);
            PushBack(open);
            list->Add(ReadCallValue());
        } else {
            ParseError("ParseList", imBadSlotValue, token->AsString());
        }
    }
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
    TRefPtr<IIEValue> value = ParseValue();
    if (!value) ParseError("ParseValuePair", imExpectedValueMissing);
    pair->Add(std::move(value));
    if (!Next()->Is(')')) ParseError("ParseValuePair", imExpectedCloseParen);
    return TIEValue::CreateList(pair);
}

TRefPtr<IIEValue> TIEClipsParser::ParseFactArgument() {
    // Facts are read by the construct layer of the parser; a parser without it refuses them.
    Next();
    ParseError("ParseFact", imUnableToParseStrings, "facts");
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

} // namespace ie
