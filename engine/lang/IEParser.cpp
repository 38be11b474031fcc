#include "engine/lang/IEParser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "engine/match/IERule.h"
#include "engine/match/IESlotTest.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"
#include "fuzzy/FuzzyConsts.h"
#include "fuzzy/FuzzyInterfaces.h"

namespace ie {

namespace {

constexpr std::string_view UnreadableSymbolMessage =
    "Cannot save the symbol \"%s\": no written word reads back as that symbol";

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
        if (IsNilText(FText)) return IEEmptyAtom();
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
// Writers

namespace {

const std::string CRLF(IELineEnd);
const std::string Indent(IEIndent);

std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return text;
}

// Every line break of plain text (not rule-language text) followed by `prefix`.
std::string PrefixLines(std::string_view text, std::string_view prefix) {
    std::string r;
    size_t p = 0;
    for (size_t e; (e = text.find(IELineEnd, p)) != std::string_view::npos;
         p = e + IELineEnd.size()) {
        r.append(text.substr(p, e + IELineEnd.size() - p));
        r.append(prefix);
    }
    return r.append(text.substr(p));
}

// A construct comment between double quotes, its quotes and backslashes escaped so that it
// reads back unchanged.
std::string QuotedComment(std::string_view text) {
    std::string r;
    r.reserve(text.size() + 2);
    r += '"';
    for (char c : text) {
        if (c == '"' || c == '\\') r += '\\';
        r += c;
    }
    r += '"';
    return r;
}

std::string TrimmedText(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ')
        --e;
    return std::string(text.substr(b, e - b));
}

// Comment lines as calls and patterns carry them: each non-empty line, "; " in front unless it
// is a comment already, each followed by CR LF.
std::string CommentLines(std::string_view comment) {
    std::string r;
    size_t p = 0;
    while (p <= comment.size()) {
        size_t e = comment.find_first_of("\r\n", p);
        if (e == std::string_view::npos) e = comment.size();
        const std::string line = TrimmedText(comment.substr(p, e - p));
        if (!line.empty()) {
            if (line[0] != ';') r += "; ";
            r += line;
            r += CRLF;
        }
        if (e >= comment.size()) break;
        p = e + 1;
    }
    return r;
}

// Type words of a kind set that read back to the same set: the single-slot set is ?VARIABLE;
// kinds that every slot takes anyway and the multislot markers are left out.
std::string TypeWords(TIETypes types) {
    types = types - TIETypes{dtList, dtMultiSlot};
    if (types == SingleSlotTypes()) return "?VARIABLE";
    types = types - TIETypes{dtNone, dtVariable, dtFunCall, dtMultiVariable};
    return UpperCase(SetToText(types, " "));
}

bool IsEmptyDefault(const IIEValue* value) {
    if (!value) return true;
    if (value->GetDType() == dtList) {
        TRefPtr<IValueVector> list = value->AsList();
        return !list || list->Count() == 0;
    }
    return false;
}

std::string RangeClauseText(const IIEDefinedType& t) {
    if (!t.GetRangeLimited()) return {};
    auto bound = [&t](double d, bool maximum) {
        return IsOpenRangeBound(t, d, maximum) ? std::string("?VARIABLE") : ExactNumberText(d);
    };
    return Indent + "(range " + bound(t.GetMinRange(), false) + " " + bound(t.GetMaxRange(), true) +
           ") " + CRLF;
}

std::string UnitsClauseText(const IIEDefinedType& t) {
    if (t.GetUnits().empty()) return {};
    return Indent + "(units " + WordOrQuoted(t.GetUnits()) + ")" + CRLF;
}

std::string CardinalityClauseText(const IIEDefinedType& t) {
    if (!t.GetCardinalityLimited()) return {};
    const int32_t lo = t.GetMinCardinality(), hi = t.GetMaxCardinality();
    return Indent + "(cardinality " + (lo < 0 ? std::string("?VARIABLE") : IntToStr(lo)) + " " +
           (hi == 2147483647 ? std::string("?VARIABLE") : IntToStr(hi)) + ") " + CRLF;
}

std::string AllowedClauseText(const IIEDefinedType& t) {
    const TValueConstraints c = t.GetConstraints();
    const bool atoms = c.Contains(vcAtom), strings = c.Contains(vcString);
    const bool integers = c.Contains(vcInteger), floats = c.Contains(vcFloat);
    auto addAtoms = [&t](std::string& r) {
        for (int32_t i = 0; i < t.AllowedAtomCount(); ++i) {
            const std::string atom = t.GetAllowedAtom(i);
            // An allowed symbol read from an escaped word is written as that word again.
            std::string word;
            r += (atom.empty() ? std::string(NilWord) : SymbolWord(atom, word) ? word : atom) + " ";
        }
    };
    auto addStrings = [&t](std::string& r) {
        for (int32_t i = 0; i < t.AllowedStringCount(); ++i)
            r += QuotedComment(t.GetAllowedString(i)) + " ";
    };
    auto addIntegers = [&t](std::string& r) {
        for (int32_t i = 0; i < t.AllowedIntegerCount(); ++i)
            r += IntToStr(t.GetAllowedInteger(i)) + " ";
    };
    auto addFloats = [&t](std::string& r) {
        for (int32_t i = 0; i < t.AllowedFloatCount(); ++i)
            r += ExactFloatText(t.GetAllowedFloat(i)) + " ";
    };
    std::string r;
    if (atoms && strings && integers && floats) {
        r += Indent + "(allowed-values ";
        addAtoms(r);
        addStrings(r);
        addIntegers(r);
        addFloats(r);
        return r + ")" + CRLF;
    }
    if (integers || floats) {
        r += Indent;
        r += integers && floats ? "(allowed-numbers "
             : integers         ? "(allowed-integers "
                                : "(allowed-floats ";
        if (integers) addIntegers(r);
        if (floats) addFloats(r);
        r += ") " + CRLF;
    }
    if (atoms || strings) {
        r += Indent;
        r += atoms && strings ? "(allowed-lexemes "
             : atoms          ? "(allowed-symbols "
                              : "(allowed-strings ";
        if (atoms) addAtoms(r);
        if (strings) addStrings(r);
        r += ")" + CRLF;
    }
    return r;
}

// The clause lines of a type that has no fuzzy variable; clauses the ancestor writes alike are
// left out.
std::string TypeClauses(const IIEDefinedType& type) {
    std::string r;
    const TRefPtr<IIEDefinedType> ancestor = type.GetAncestor();
    for (auto clause :
         {RangeClauseText, UnitsClauseText, CardinalityClauseText, AllowedClauseText}) {
        const std::string text = clause(type);
        if (text.empty()) continue;
        if (ancestor && clause(*ancestor) == text) continue;
        r += Indent;
        r += text;
    }
    return r;
}

} // namespace

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

std::string TIEParser::FunctionSignature(const IUserFunction& function) {
    std::string text = Format("(%s)", function.GetFunctionName());
    const std::string args = TrimmedText(function.GetArgumentString());
    if (!args.empty()) text += " " + args;
    return text;
}

namespace {

// The elements of a multifield value, separated by single blanks or each followed by one.
std::string ElementsText(TIEParser& writer, const IIEValue* list, bool eachFollowedByBlank) {
    TRefPtr<IValueVector> elements = list->AsList();
    std::string r;
    if (!elements) return r;
    for (int32_t i = 0; i < elements->Count(); ++i) {
        if (i > 0 && !eachFollowedByBlank) r += ' ';
        r += writer.FormatValue(elements->GetItem(i).get());
        if (eachFollowedByBlank) r += ' ';
    }
    return r;
}

} // namespace

std::string TIEParser::FormatValue(const IIEValue* value) {
    if (!value) return {};
    switch (value->GetDType()) {
    case dtAtom: {
        // The empty atom prints as nothing but is written as the word that reads back to it.
        if (value->Equals(IEEmptyAtom().get())) return std::string(NilWord);
        // A symbol made by a function may hold blanks, parentheses or quotes: it is written as
        // the escaped word that reads back to it.
        std::string text = value->AsAtom();
        std::string word;
        if (SymbolWord(text, word)) return word;
        // "[" and "]" read back as themselves in a list.
        if (text == "[" || text == "]" || !RefuseUnreadableSymbols) return text;
        throw EIEException(Format(UnreadableSymbolMessage, text));
    }
    case dtFloat:
        return ExactFloatText(value->AsFloat());
    case dtFunCall: {
        TRefPtr<IFunCall> call = value->AsFunCall();
        return call ? FormatFunCall(*call) : std::string();
    }
    case dtFact: {
        TRefPtr<IFact> fact = value->AsFact();
        return fact ? FormatFact(*fact) : std::string();
    }
    case dtFuzzy: {
        // Through this writer whatever parser the set has: the empty term writes as nothing.
        TRefPtr<IFuzzySet> set = value->AsFuzzy();
        return set ? FormatFuzzySet(*set, false) : std::string();
    }
    case dtList:
        return ElementsText(*this, value, false);
    case dtObject:
        // A pattern's compiled "|" constraint refers to its variable by a binding object; the
        // text names the variable, which reads back to the same test.
        if (auto* binding = dynamic_cast<const TBinding*>(value->AsObject()))
            return "?" + binding->Name;
        return value->GetText();
    default:
        return value->GetText();
    }
}

std::string TIEParser::FactValueText(const IIEValue* value) {
    if (!value || value->GetDType() != dtList) return FormatValue(value);
    return ElementsText(*this, value, true);
}

std::string TIEParser::FormatFactSet(const TFactSet& factSet) {
    std::string r = "(deffacts " + factSet.FactSetName();
    if (!factSet.Comment().empty()) r += " " + QuotedComment(factSet.Comment());
    r += CRLF;
    auto& facts = const_cast<TFactSet&>(factSet);
    for (int32_t i = 0; i < factSet.Facts().Count(); ++i) {
        TRefPtr<IFact> fact = facts.GetFact(i);
        const std::string text = fact ? FormatFact(*fact) : factSet.Facts().Get(i);
        r += Indent + IndentLines(text, Indent) + CRLF;
    }
    return r + ")";
}

std::string TIEParser::FormatFact(const IFact& fact) {
    TRefPtr<IFactTemplate> t = fact.GetTemplate();
    if (!t) return "()";
    std::string r = "(" + t->GetName();
    if (t->GetImplied()) {
        TRefPtr<IIEValue> data = fact.GetSlotValue(DataSlotName);
        const std::string text = FactValueText(data.get());
        if (!text.empty()) r += " " + text;
        return r + ")";
    }
    for (int32_t i = 0; i < t->SlotCount(); ++i) {
        TRefPtr<IFactSlot> slot = t->SlotAt(i);
        TRefPtr<IIEValue> value = fact.GetSlotValue(slot->GetName());
        const std::string text = FormatFactSlotValue(fact, slot->GetName(), value.get());
        if (!text.empty()) r += " " + text;
    }
    return r + ")";
}

std::string TIEParser::FormatFactSlotValue(const IFact& fact, std::string_view slotName) {
    TRefPtr<IIEValue> value = fact.GetSlotValue(slotName);
    return FormatFactSlotValue(fact, slotName, value.get());
}

std::string TIEParser::FormatFactSlotValue(const IFact& fact, std::string_view slotName,
                                           const IIEValue* value) {
    std::string text = FactValueText(value);
    // Whether a value may be left out, or must be spelled, depends on the declared slot's
    // default; an implied template has none.
    TRefPtr<IFactSlot> slot;
    if (TRefPtr<IFactTemplate> t = fact.GetTemplate(); t && !t->GetImplied())
        t->FindSlot(slotName, slot);
    const TRefPtr<IIEValue> def = slot ? slot->GetSlotDefault() : nullptr;
    // A fact of a fact set holds a dynamic default as written, to be evaluated at each reset;
    // left out, it reads back as that default.
    if (!text.empty() && slot && slot->GetDefaultDynamic() && def &&
        FactValueText(def.get()) == text)
        return {};
    if (value && value->Equals(IEEmptyAtom().get())) {
        // A nil slot is left out, as the default gives it back; in a slot whose default is
        // something else it must be written.
        if (slot && !slot->IsMultiSlot() && def && !def->Equals(IEEmptyAtom().get()))
            return "(" + std::string(slotName) + " " + text + ")";
        text.clear();
    } else if (text.empty() && value && value->GetDType() == dtFuzzy) {
        // The empty fuzzy value writes as nothing; in a slot whose default is another value it
        // is written by the name that reads back as the empty term.
        if (slot && def && !FormatValue(def.get()).empty())
            return "(" + std::string(slotName) + " " + std::string(FuzzyEmptySetName) + ")";
    } else if (text.empty()) {
        // An empty multislot whose default is not empty is written as "(name)", or it would
        // read back as its default.
        if (slot && slot->IsMultiSlot() && !IsEmptyDefault(def.get()) &&
            !FormatValue(def.get()).empty())
            return "(" + std::string(slotName) + ")";
    }
    return FormatFactSlotValueText(fact, slotName, text);
}

std::string TIEParser::FormatFactSlotValueText(const IFact& fact, std::string_view slotName,
                                               std::string_view valueText) {
    if (valueText.empty()) return {};
    TRefPtr<IFactTemplate> t = fact.GetTemplate();
    if (t && t->GetImplied()) return std::string(valueText);
    return "(" + std::string(slotName) + " " + std::string(valueText) + ")";
}

std::string TIEParser::FormatFactSlot(const IFactSlot& slot) {
    const TIETypes types = slot.GetSlotType();
    const bool multi = types.Contains(dtMultiSlot) || types.Contains(dtList);
    std::string r = (multi ? "(multislot " : "(slot ") + slot.GetName() + " ";
    std::string defaultPart;
    TRefPtr<IIEValue> def = slot.GetSlotDefault();
    if (!IsEmptyDefault(def.get()) && !def->Equals(IEEmptyAtom().get())) {
        const std::string text = FormatValue(def.get());
        if (!TrimmedText(text).empty())
            defaultPart =
                (slot.GetDefaultDynamic() ? "(default-dynamic " : "(default ") + text + ") ";
    } else if (def && !slot.GetDefaultDynamic()) {
        // A nil or empty default is written when the slot would read back with another one
        // (the first allowed value of its type, say).
        TRefPtr<IIEValue> natural = slot.NewDefaultValue(multi);
        if (natural && !IsEmptyDefault(natural.get()) && !natural->Equals(IEEmptyAtom().get()) &&
            !TrimmedText(FormatValue(natural.get())).empty())
            defaultPart = multi ? "(default) " : "(default " + std::string(NilWord) + ") ";
    }
    TRefPtr<IIEDefinedType> type = slot.GetExtendedTypeInfo();
    if (type) {
        if (type->GetImplicit() && type->GetName() != ImplicitTypeName) {
            // A named type with the slot's own qualifiers after it: the copy keeps the name.
            const TIETypes added = (types - MultiSlotMarkers) - type->GetBaseTypes();
            r += "(type " + type->GetName() + (added.Empty() ? "" : " " + TypeWords(added)) + ")" +
                 CRLF + TypeClauses(*type);
        } else if (type->GetImplicit()) {
            r += "(type " + TypeWords(types) + ")" + CRLF + TypeClauses(*type);
        } else {
            r += "(type " + type->GetName() + ")";
        }
        if (!defaultPart.empty()) r += Indent + Indent + defaultPart;
    } else if ((types - MultiSlotMarkers) == SingleSlotTypes()) {
        r += defaultPart;
    } else {
        r += "(type " + TypeWords(types) + ")";
        if (!defaultPart.empty()) r += CRLF + Indent + Indent + defaultPart;
    }
    return r + ")";
}

std::string TIEParser::FormatFactTemplate(const IFactTemplate& factTemplate) {
    std::string r = "(deftemplate " + factTemplate.GetName();
    if (!factTemplate.GetComment().empty()) r += " " + QuotedComment(factTemplate.GetComment());
    TRefPtr<IFactTemplate> parent = factTemplate.GetParent();
    if (parent) r += CRLF + Indent + "extends " + parent->GetName();
    if (factTemplate.SlotCount() == 1) {
        TRefPtr<IFactSlot> data = factTemplate.SlotAt(0);
        TRefPtr<IIEDefinedType> type = data->GetExtendedTypeInfo();
        if (data->GetName() == DataSlotName && type && !type->GetImplicit())
            return r + " is-a " + type->GetName() + ")";
    }
    r += CRLF;
    for (int32_t i = 0; i < factTemplate.SlotCount(); ++i) {
        // Inherited slots too: the text alone says every slot the template has, in its order.
        TRefPtr<IFactSlot> slot = factTemplate.SlotAt(i);
        r += Indent + IndentLines(FormatFactSlot(*slot), Indent) + CRLF;
    }
    return r + ")";
}

std::string TIEParser::FormatFunCall(const IFunCall& call) {
    std::string r = CommentLines(call.GetComment());
    const std::string& name = call.GetFunctionName();
    r += "(" + name;
    const bool slotFunction = name == "modify" || name == "duplicate";
    for (int32_t i = 0; i < call.ArgumentCount(); ++i) {
        const std::string text = FormatValue(call.GetArgument(i).get());
        if (slotFunction && i > 0)
            r += " (" + text + ")";
        else
            r += " " + text;
    }
    return r + ")";
}

std::string TIEParser::FormatFuzzySet(const IFuzzySet& set, bool asTerm) {
    auto num = [](double d) { return ExactFloatText(d); };
    const int count = set.Count();
    auto pointList = [&] {
        std::string points = "(";
        for (int i = 0; i < count; ++i) {
            points += '(';
            points += num(set.GetX(i));
            points += ' ';
            points += num(set.GetY(i));
            points += ") ";
        }
        return points + ")";
    };
    if (!asTerm) {
        if (set.GetName() == "__Empty") return {};
        // A set given by its points (a point list in a slot) has no name to be written by: it
        // is written as its points, which read back to the same set.
        if (set.GetName().empty() && count > 0) return pointList();
        return set.GetName();
    }
    auto& s = const_cast<IFuzzySet&>(set);
    std::string form;
    switch (set.GetSetType()) {
    case fstUserDefined:
        form = !set.GetExpression().empty() ? set.GetExpression() : pointList();
        break;
    case fstTriangle:
        form = "(tri " + num(count > 0 ? set.GetX(0) : 0) + " " + num(count > 1 ? set.GetX(1) : 0) +
               " " + num(count > 2 ? set.GetX(2) : 0) + ")";
        break;
    case fstDeclineCurve:
    case fstGrowthCurve:
        form = std::string(set.GetSetType() == fstDeclineCurve ? "(z " : "(s ") +
               num(count > 0 ? set.GetX(0) : 0) + " " + num(count > 0 ? set.GetX(count - 1) : 0) +
               ")";
        break;
    case fstPICurve: {
        const double c = s.MeanOfMaxima();
        const double x0 = count > 0 ? set.GetX(0) : 0, xn = count > 0 ? set.GetX(count - 1) : 0;
        if (std::fabs((c - x0) - (xn - c)) <= 1.0E-4)
            form = "(pi " + num(c) + " " + num(c - x0) + ")";
        else
            form = "(pi " + num(x0) + " " + num(c) + " " + num(xn) + ")";
        break;
    }
    case fstBetaCurve: {
        const double c = s.MeanOfMaxima();
        const double x0 = count > 0 ? set.GetX(0) : 0;
        const double beta = set.GetCurveParameter();
        form = "(beta " + num(c) + " " + num(c - x0) + " " + num(beta);
        if (count > 1 && beta != 0.0) {
            const double x1 = set.GetX(1), y1 = set.GetY(1);
            const double q = (x1 - c) / beta;
            if (y1 > 0.0 && q != 0.0) {
                const double k = (1.0 / y1 - 1.0) / (q * q);
                if (std::fabs(k - 1.0) > 1.0E-4) form += " " + num(k);
            }
        }
        form += ")";
        break;
    }
    }
    return "(term " + set.GetName() + " " + form + ")";
}

std::string TIEParser::FormatFuzzyVariable(const IFuzzyVariable& variable) {
    std::string r = Indent + "(range " + ExactFloatText(variable.GetMinimum()) + " " +
                    ExactFloatText(variable.GetMaximum()) + ")" + CRLF;
    if (!variable.GetUnits().empty())
        r += Indent + "(units " + WordOrQuoted(variable.GetUnits()) + ")" + CRLF;
    r += Indent + "(values " + CRLF;
    std::vector<TRefPtr<IFuzzySet>> terms;
    for (int i = 0; i < variable.Count(); ++i) {
        TRefPtr<IFuzzySet> set = variable.GetSet(i);
        if (set && set->GetRegistered()) terms.push_back(set);
    }
    std::stable_sort(terms.begin(), terms.end(),
                     [](const TRefPtr<IFuzzySet>& a, const TRefPtr<IFuzzySet>& b) {
                         return a->GetTermOrder() < b->GetTermOrder();
                     });
    for (const TRefPtr<IFuzzySet>& set : terms)
        r += Indent + Indent + FormatFuzzySet(*set, true) + CRLF;
    return r + Indent + ")";
}

std::string TIEParser::FormatRule(const TRule& rule) {
    std::string r = "(defrule " + rule.RuleName();
    if (!rule.Comment().empty()) r += CRLF + Indent + QuotedComment(rule.Comment());
    r += CRLF;
    const TRefPtr<IIEValue>& salience = rule.SalienceExpression();
    // A salience given by a variable or a call is written as written, not as its last value.
    const bool dynamic = salience && salience->GetDType() != dtInteger;
    if (dynamic || rule.Salience() != 0 || rule.OneShot() || !rule.Enabled()) {
        r += Indent + "(declare";
        if (dynamic)
            r += " (salience " + FormatValue(salience.get()) + ")";
        else if (rule.Salience() != 0)
            r += " (salience " + IntToStr(rule.Salience()) + ")";
        if (!rule.Enabled()) r += " (enabled FALSE)";
        if (rule.OneShot()) r += " (oneshot TRUE)";
        r += ")" + CRLF;
    }
    r += FormatRuleSide(rule, 0);
    r += CRLF + Indent + "=>" + CRLF;
    r += FormatRuleSide(rule, 1);
    return r + ")";
}

std::string TIEParser::FormatRuleSide(const TRule& rule, int32_t side) {
    std::string r;
    bool first = true;
    auto add = [&](const std::string& text) {
        if (!first) r += CRLF;
        first = false;
        r += Indent + IndentLines(text, Indent);
    };
    if (side == 0) {
        for (int32_t i = 0; i < rule.PatternCount(); ++i) {
            // The partner of a goal pattern is made again when the goal pattern is read.
            if (i > 0 && rule.GetPattern(i - 1)->Name().starts_with(GoalFactPrefix)) continue;
            add(FormatPattern(*rule.GetPattern(i)));
        }
    } else {
        for (int32_t i = 0; i < rule.ActionCount(); ++i)
            if (const TRefPtr<IFunCall>& action = rule.GetAction(i)) add(FormatFunCall(*action));
    }
    return r;
}

namespace {

bool IsGeneratedVariable(const IIEValue* value) {
    return value && (value->GetDType() == dtVariable || value->GetDType() == dtMultiVariable) &&
           IsGeneratedVariableName(VariableName(*value));
}

// The expression of an "=" constraint, which the reader keeps as a generated variable followed
// by the test (eq* variable expression); null when the two values are not such a pair.
const IIEValue* EqualsExpression(const IIEValue* variable, const IIEValue* next) {
    if (!next || next->GetDType() != dtFunCall) return nullptr;
    TRefPtr<IFunCall> call = next->AsFunCall();
    if (!call || call->GetFunctionName() != "eq*" || call->ArgumentCount() != 2) return nullptr;
    // In a rule the call refers to the variable by its binding.
    const IIEValue* first = call->GetArgument(0).get();
    std::string name;
    if (first && first->GetDType() == dtObject) {
        if (auto* binding = dynamic_cast<const TBinding*>(first->AsObject())) name = binding->Name;
    } else if (first && (first->GetDType() == dtVariable || first->GetDType() == dtMultiVariable)) {
        name = VariableName(*first);
    }
    if (name != VariableName(*variable)) return nullptr;
    return call->GetArgument(1).get();
}

} // namespace

std::string TIEParser::FormatConstraints(const std::vector<TConstraintItem>& items,
                                         bool writtenRun) {
    std::string r;
    bool any = false;
    int32_t lastSub = 0;
    for (size_t k = 0; k < items.size(); ++k) {
        const TConstraintItem& item = items[k];
        const TConstraintItem* next =
            k + 1 < items.size() && items[k + 1].Sub == item.Sub ? &items[k + 1] : nullptr;
        std::string text;
        const IIEValue* expression = nullptr;
        if (IsGeneratedVariable(item.Value) && next && next->Written) {
            // The variable a "|" run was compiled against: the run is written as it was read.
            continue;
        } else if (IsGeneratedVariable(item.Value) && next && next->Conjunction &&
                   (expression = EqualsExpression(item.Value, next->Value))) {
            text = next->Type == sttNotEquals ? "~=" : "=";
            text += FormatValue(expression);
            ++k;
        } else if (item.Written) {
            std::vector<TConstraintItem> run;
            for (const TWrittenConstraint& c : *item.Written)
                run.push_back({c.Type, c.Value.get(), c.Conjunction, item.Sub, nullptr});
            text = FormatConstraints(run, true);
        } else {
            if (item.Type == sttNotEquals) text = "~";
            if (IsGeneratedVariable(item.Value))
                text += item.Value->GetDType() == dtMultiVariable ? "$?" : "?";
            else if (item.Value && item.Value->GetDType() == dtFunCall)
                text += ":" + FormatValue(item.Value);
            else
                text += FormatValue(item.Value);
        }
        // Tests of one element are joined as they were read: a pattern that has not joined a
        // rule yet still holds its "|" tests as they stand.
        if (any) r += item.Sub != lastSub && !writtenRun ? ' ' : item.Conjunction ? '&' : '|';
        r += text;
        any = true;
        lastSub = item.Sub;
    }
    return r;
}

std::string TIEParser::FormatPattern(const TIEPattern& pattern) {
    const TRefPtr<IFactTemplate>& factTemplate = pattern.FactTemplate();
    if (!factTemplate) RaiseIE(imFactTemplateMissing);
    const bool isTest = pattern.IsTest();
    auto constraints = [&](int32_t slot) {
        std::vector<TConstraintItem> items;
        for (const auto& test : pattern.GetSlotTests(slot))
            items.push_back({test->SlotTestType(), test->SlotValue().get(), test->Conjunction(),
                             test->MultiSlotSubIndex(), test->WrittenForm()});
        return FormatConstraints(items, false);
    };
    std::string r = CommentLines(pattern.Comment());
    std::string body;
    if (isTest) {
        // A negated test is written as (not (test ...)): "~" before a call does not read back.
        bool negated = false;
        for (int32_t s = 0; s < pattern.SlotCount(); ++s) {
            for (const auto& test : pattern.GetSlotTests(s)) {
                if (test->SlotTestType() == sttNotEquals) negated = true;
                if (!body.empty()) body += " ";
                body += FormatValue(test->SlotValue().get());
            }
        }
        body = "(" + factTemplate->GetName() + " " + body + ")";
        if (negated) body = "(not " + body + ")";
    } else {
        std::string inner;
        if (factTemplate->GetImplied()) {
            const int32_t s = pattern.IndexOfSlot(DataSlotName);
            // An ordered element without tests is written bare: a generated variable would
            // make it need one element, and the initial fact has none.
            if (s >= 0) inner = constraints(s);
        } else {
            for (int32_t s = 0; s < pattern.SlotCount(); ++s) {
                if (pattern.SlotTestCount(s) == 0) {
                    // An empty multislot constraint still demands an empty value.
                    if (pattern.GetMultiSlotLength(s) == 0)
                        inner += "(" + pattern.GetSlotName(s) + ") ";
                    continue;
                }
                inner += "(" + pattern.GetSlotName(s) + " " + constraints(s) + ") ";
            }
        }
        body = "(" + factTemplate->GetName();
        if (!inner.empty()) body += " " + inner;
        body += ")";
        if (pattern.Unique()) body = "(unique " + body + ")";
        if (pattern.Explicit()) body = "(explicit " + body + ")";
        const int32_t n = pattern.NegatedCount();
        if (n == 1) {
            body = "(not " + body + ")";
        } else if (n >= 2) {
            body = "(exists " + body + ")";
            for (int32_t i = 2; i < n; ++i)
                body = "(not " + body + ")";
        }
    }
    if (!pattern.BoundName().empty()) body = "?" + pattern.BoundName() + " <- " + body;
    return r + body;
}

std::string TIEParser::FormatGlobal(std::string_view name, const IIEValue* value) {
    if (name.empty()) return {};
    std::string r;
    if (name[0] != '?') r += '?';
    r += name;
    return r + " = " + FormatValue(value);
}

std::string TIEParser::FormatGlobals(const TValueHashTable& variables) {
    std::string r = "(defglobal";
    for (const auto& entry : variables) {
        auto* value = dynamic_cast<IIEValue*>(entry.Intf().get());
        r += ' ';
        r += FormatGlobal("?" + entry.Key(), value);
    }
    return r + ")";
}

std::string TIEParser::FormatValuePairs(const IValueVector& pairs) {
    if (pairs.Count() == 0) return {};
    std::string r = "(";
    for (int32_t i = 0; i < pairs.Count(); ++i) {
        const TRefPtr<IIEValue>& pair = pairs.GetItem(i);
        TRefPtr<IValueVector> items = pair && pair->GetDType() == dtList ? pair->AsList() : nullptr;
        if (!items || items->Count() == 0) continue;
        // Appending piece by piece: gcc 12 misreads `" " + text` here as an overlapping copy.
        r += '(';
        r += FormatValue(items->GetItem(0).get());
        for (int32_t j = 1; j < items->Count(); ++j) {
            r += ' ';
            r += FormatValue(items->GetItem(j).get());
        }
        r += ") ";
    }
    return r + ")";
}

std::string TIEParser::FormatFunction(const IUserFunction& function, std::string_view signature) {
    if (auto* deffunction = dynamic_cast<const TInterpretedFunction*>(&function))
        return FormatDeffunction(*deffunction);
    std::string r = ";; " + function.GetFunctionName() + " function" + CRLF;
    const std::string text =
        function.GetComment() + CRLF + Format("     syntax: %s", std::string(signature));
    if (!text.empty()) r += ";; " + Indent + PrefixLines(text, ";; " + Indent);
    return r;
}

std::string TIEParser::FormatDeffunction(const TInterpretedFunction& function) {
    std::string r = "(deffunction " + function.GetFunctionName() + " (";
    bool first = true;
    for (const TRefPtr<IIEValue>& p : function.Parameters()) {
        if (!first) r += ' ';
        first = false;
        r += (p->GetDType() == dtMultiVariable ? "$?" : "?") + p->AsString();
    }
    r += ")" + CRLF;
    if (!function.GetComment().empty()) r += Indent + QuotedComment(function.GetComment()) + CRLF;
    for (const TRefPtr<IIEValue>& action : function.Actions())
        r += Indent + IndentLines(FormatValue(action.get()), Indent) + CRLF;
    return r + ")";
}

std::string TIEParser::FormatDefinedType(const IIEDefinedType& type) {
    std::string r;
    if (type.GetImplicit()) {
        r = "(type " + TypeWords(type.GetBaseTypes()) + ")" + CRLF;
    } else {
        r = "(deftype " + type.GetName() + " ";
        if (!type.GetComment().empty())
            r += CRLF + Indent + QuotedComment(type.GetComment()) + CRLF + Indent;
        r += "extends (type ";
        if (TRefPtr<IIEDefinedType> a = type.GetAncestor()) {
            const TIETypes added = type.GetBaseTypes() - a->GetBaseTypes();
            r += a->GetName() + " " + (added.Empty() ? std::string() : TypeWords(added));
        } else {
            r += TypeWords(type.GetBaseTypes());
        }
        r += ")" + CRLF;
    }
    if (TRefPtr<IFuzzyVariable> variable = type.GetFuzzyVariable())
        r += FormatFuzzyVariable(*variable);
    else
        r += TypeClauses(type);
    if (!type.GetImplicit()) r += ')';
    return r;
}

} // namespace ie
