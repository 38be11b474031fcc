// Types, read and written: deftype, the type words of slots and types (INTEGER, LEXEME,
// ?VARIABLE, a named type) and the clauses that slots and types share (range, cardinality,
// units, allowed-...). A fuzzy type's range, units and terms are those of its fuzzy variable, in
// ValueSyntax.
//
// Invariant: a type written reads back equal: a clause its ancestor writes alike is left out and
// comes back by inheritance, a bound written ?VARIABLE reads back open, and a minimum above its
// maximum is refused rather than quietly narrowed.
#include "engine/lang/IEClipsParser.h"

#include "engine/lang/SyntaxText.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEValue.h"
#include "fuzzy/FuzzyInterfaces.h"

namespace ie {

namespace {

constexpr std::string_view MinimumAboveMaximumMessage =
    "Invalid %s: the minimum %s is greater than the maximum %s";

// The plain text of a value for conversions: an atom's or string's characters, else its text.
std::string PlainText(const IIEValue& value) {
    const TIEType t = value.GetDType();
    if (t == dtAtom || t == dtString) return value.AsString();
    return value.GetText();
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
            r += (SymbolWord(atom, word) ? word : std::string(NilWord)) + " ";
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

} // namespace

// Type words of a kind set that read back to the same set: the single-slot set is ?VARIABLE;
// kinds that every slot takes anyway and the multislot markers are left out.
std::string TypeWords(TIETypes types) {
    types = types - TIETypes{dtList, dtMultiSlot};
    if (types == SingleSlotTypes()) return "?VARIABLE";
    types = types - TIETypes{dtNone, dtVariable, dtFunCall, dtMultiVariable};
    return UpperCase(SetToText(types, " "));
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

// ---------------------------------------------------------------------------------------------
// Reading

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

// ---------------------------------------------------------------------------------------------
// Writing

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
