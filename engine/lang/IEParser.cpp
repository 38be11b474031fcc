// The shared layer of the reader: the token (TIEStreamToken), the abstract parser's settings and
// the reading hooks of a parser without a construct layer, and the texts of numbers and words
// that every writer uses. The writers themselves (TIEParser::Format...) are defined beside the
// readers of their construct family: TypeSyntax, TemplateSyntax, RuleSyntax, FunctionSyntax and
// ValueSyntax.
//
// Invariant: converting a token never overflows (a hand-made number is held to the 32-bit
// range), and a number text written reads back to the same number.
#include "engine/lang/IEParser.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "engine/lang/SyntaxText.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEValue.h"

namespace ie {

namespace {

// A token's number as a 32-bit integer: truncated toward zero and held to the 32-bit range, so
// that a hand-made token with a huge number can never overflow the conversion.
int32_t TruncToInt32(double number) noexcept {
    if (std::isnan(number)) return 0;
    if (number >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (number <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(number);
}

bool IsNilText(std::string_view text) noexcept {
    return text.size() == 3 && (text[0] | 0x20) == 'n' && (text[1] | 0x20) == 'i' &&
           (text[2] | 0x20) == 'l';
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TIEStreamToken

void TIEStreamToken::Assign(const IStreamToken& source) {
    FDataType = source.GetDataType();
    FLineNumber = source.GetLineNumber();
    FNumber = source.GetNumber();
    FText = source.GetText();
    FTextBlock = nullptr;
    FTag = source.GetTag();
    FSource.clear();
}

void TIEStreamToken::AssignFrom(const IInterface* source) {
    if (auto* token = dynamic_cast<const IStreamToken*>(source)) Assign(*token);
}

TRefPtr<ICloneable> TIEStreamToken::Clone() const {
    auto copy = MakeRef<TIEStreamToken>();
    copy->Assign(*this);
    return copy;
}

bool TIEStreamToken::Equals(const IInterface* other) const {
    auto* token = dynamic_cast<const IStreamToken*>(other);
    return token && token->GetDataType() == FDataType && token->GetLineNumber() == FLineNumber &&
           token->GetNumber() == FNumber;
}

std::string TIEStreamToken::AsString() const {
    switch (FDataType) {
    case dtString:
        // The closing pair is quote-backslash: the display form mirrors the opening pair.
        return "\\\"" + FText + "\"\\";
    case dtInteger:
        return IntToStr(TruncToInt32(FNumber));
    case dtVariable:
        return "?" + FText;
    case dtFloat:
        return Format("%.4f", FNumber);
    case dtMultiVariable:
        return "$?" + FText;
    default:
        if (!FText.empty()) return FText;
        return std::string(1, static_cast<char>(FDataType));
    }
}

std::string TIEStreamToken::SourceText() const {
    return FSource.empty() ? AsString() : FSource;
}

TRefPtr<IIEValue> TIEStreamToken::ToValue() const {
    switch (FDataType) {
    case dtAtom:
        if (FText == "TRUE") return IETrueValue();
        if (FText == "FALSE") return IEFalseValue();
        if (IsNilText(FText) && !IsEscapedWord()) return IEEmptyAtom();
        if (FTextBlock) return TIEValue::CreateText(dtAtom, FTextBlock);
        return TIEValue::CreateText(dtAtom, FText);
    case dtString:
    case dtVariable:
    case dtMultiVariable:
    case dtSlot:
    case dtMultiSlot:
        return TIEValue::CreateText(static_cast<TIEType>(FDataType), FText);
    case dtInteger:
    case dtFactId:
    case dtDescriptor:
        return TIEValue::CreateInteger(static_cast<TIEType>(FDataType), TruncToInt32(FNumber));
    case dtExternalAddress:
        return TIEValue::CreateExternalAddress(TruncToInt32(FNumber));
    case dtObject: {
        // A token cannot carry an object: a number is never taken for an object's address.
        auto value = TIEValue::Create();
        value->SetAsObject(nullptr);
        return value;
    }
    case dtFloat:
        return TIEValue::CreateFloat(FNumber);
    case dtNone:
        if (FText == EndOfInputText) return IEEOFAtom();
        break;
    default:
        break;
    }
    return TIEValue::CreateText(dtString, IntToStr(FDataType));
}

TRefPtr<IIEValue> TIEStreamToken::ToValue(TIEContext* context) const {
    if (context && (FDataType == dtVariable || FDataType == dtMultiVariable)) {
        TBinding* binding = context->FindBinding(FText);
        if (!binding || !binding->Value) RaiseIE(imUnknownVariable, FText);
        return binding->Value;
    }
    return ToValue();
}

void TIEStreamToken::AssignValue(const IIEValue& value) {
    const TIEType kind = value.GetDType();
    FDataType = kind & 0x7F;
    switch (kind) {
    case dtAtom:
    case dtString:
    case dtVariable:
    case dtMultiVariable:
    case dtSlot:
    case dtMultiSlot:
        FText = value.AsString();
        FTextBlock = nullptr;
        break;
    case dtInteger:
    case dtFactId:
        FNumber = value.AsInteger();
        break;
    case dtDescriptor:
        FNumber = value.AsDescriptor();
        break;
    case dtObject:
    case dtExternalAddress:
        FNumber = static_cast<double>(value.AsExternalAddress());
        break;
    case dtFloat:
        FNumber = value.AsFloat();
        break;
    default:
        break;
    }
    FSource.clear();
}

// ---------------------------------------------------------------------------------------------
// TIEParser

TIEParser::TIEParser(IParserEngine* engine, TIETokenizerStream* stream)
    : FEngine(engine), FStream(stream) {}

void TIEParser::Assign(const TIEParser& source) {
    SetStream(source.FStream);
    TemplatesMustExist = source.TemplatesMustExist;
    StaticTypeCheck = source.StaticTypeCheck;
    ErrorHandling = source.ErrorHandling;
    MaxErrors = source.MaxErrors;
}

void TIEParser::SetStream(TIETokenizerStream* stream) {
    FStream = stream;
}

void TIEParser::Reset() {
    if (FStream) FStream->Reset();
}

std::string TIEParser::GenerateName(std::string_view prefix) {
    if (FEngine) return FEngine->GenerateSymbol(prefix);
    std::string name(prefix);
    name += IntToStr(FOwnSymbolCounter++);
    return name;
}

// ---------------------------------------------------------------------------------------------
// Reading hooks of a parser without a construct layer

TRefPtr<IFact> TIEParser::ParseFact() {
    RaiseParse(imUnableToParseStrings, "facts");
}

TRefPtr<IFactSlot> TIEParser::ParseFactTemplateSlot(TFactTemplate* owner) {
    (void)owner;
    RaiseParse(imUnableToParseStrings, "slots");
}

bool TIEParser::ParseFacts() {
    return false;
}

// ---------------------------------------------------------------------------------------------
// Written numbers and words

std::string ExactFloatText(double value) {
    std::string text = Format("%.4f", value);
    double back = 0.0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), back);
    // The sign of a zero counts: -0.0 is written so that it reads back negative.
    if (parsed.ec == std::errc() && back == value && std::signbit(back) == std::signbit(value))
        return text;
    if (!std::isfinite(value)) return text;
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    text.assign(buffer, written.ptr);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

std::string ExactNumberText(double value) {
    if (value == std::trunc(value) && value >= -2147483648.0 && value <= 2147483647.0)
        return IntToStr(static_cast<int32_t>(value));
    return ExactFloatText(value);
}

std::string WordOrQuoted(std::string_view text) {
    bool plain = !text.empty();
    if (plain) {
        const char first = text[0];
        // A word that would read as a number, a variable or a punctuation is quoted.
        if ((first >= '0' && first <= '9') || first == '+' || first == '-' || first == '.' ||
            first == '?' || first == '$' || first == '=')
            plain = false;
    }
    for (size_t i = 0; plain && i < text.size(); ++i)
        plain = IsPlainWordChar(text[i]);
    return plain ? std::string(text) : QuotedComment(text);
}

} // namespace ie
