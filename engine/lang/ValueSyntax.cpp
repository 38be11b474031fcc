// Values and fuzzy expressions, read and written: plain values, lists, calls (with the fact and
// (slot value) arguments of the slot functions), fuzzy point lists, and the fuzzy terms and
// clauses (range, units, values) of a fuzzy variable. The other families read and write their
// values through these.
//
// Invariant: a value written reads back equal: a symbol as the escaped word SymbolWord gives, a
// float with the digits it needs, an unnamed fuzzy set as its points, a registered term as a copy
// that keeps its name.
#include "engine/lang/IEClipsParser.h"

#include <algorithm>
#include <cmath>

#include <boost/container/small_vector.hpp>

#include "engine/lang/SyntaxText.h"
#include "engine/match/FuzzyExpression.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEFuzzyLogic.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"

namespace ie {

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

// ---------------------------------------------------------------------------------------------
// Reading

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

TRefPtr<IIEValue> TIEClipsParser::SharedConstant(TRefPtr<IIEValue> value) {
    if (!value || value->IsConstant()) return value;
    switch (value->GetDType()) {
    case dtInteger:
        if (TRefPtr<IIEValue> shared = TIEValue::SharedInteger(value->AsInteger())) return shared;
        break;
    case dtAtom:
    case dtVariable:
    case dtMultiVariable: {
        // A variable's value is only its name: it is read through the firing's bindings, and
        // the network replaces it by a position record in the call rather than changing it.
        auto* made = dynamic_cast<TIEValue*>(value.get());
        if (!made || !made->TextBlock()) break;
        std::string key(1, static_cast<char>(made->DType()));
        key += made->TextBlock()->Text();
        auto [at, added] = FSharedAtoms.try_emplace(std::move(key));
        if (added) {
            made->MakeConstant();
            at->second = std::move(value);
        }
        return at->second;
    }
    default:
        break;
    }
    return value;
}

// Reads into `item` the element of a written list that starts with `token`: a plain value, a
// bracket (an atom of its own) or a parenthesised value. False for any other token, which the
// caller decides on.
bool TIEClipsParser::ReadListItem(const TStreamTokenRef& token, TRefPtr<IIEValue>& item) {
    if (IsPlainValue(*token)) {
        item = token->ToValue();
    } else if (token->Is('[') || token->Is(']')) {
        item = TIEValue::CreateText(dtAtom, token->GetText());
    } else if (token->Is('(')) {
        PushBack(token);
        item = ReadParenthesisedValue();
    } else {
        return false;
    }
    return true;
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
        if (TRefPtr<IIEValue> item; ReadListItem(token, item)) {
            items.push_back(std::move(item));
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
        if (TRefPtr<IIEValue> item; ReadListItem(token, item)) {
            add(std::move(item));
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
    pair->Add(ConstantValue(token));
    // A slot written without a value is an empty multislot value: the pair holds the name
    // alone, and the function refuses it for a single slot once the fact's template is known.
    if (TRefPtr<IIEValue> value = ParseValue()) pair->Add(SharedConstant(std::move(value)));
    if (!Next()->Is(')')) ParseError("ParseValuePair", imExpectedCloseParen);
    return TIEValue::CreateList(pair);
}

TRefPtr<IIEValue> TIEClipsParser::ParseFactArgument() {
    // A dynamic default is evaluated by each assertion of the literal, not once when it is read.
    TDeferDynamicDefaults deferred(*this);
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
            call->AddArgument(ConstantValue(token));
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

// ---------------------------------------------------------------------------------------------
// Writing

std::string TIEParser::FormatValue(const IIEValue* value) {
    if (!value) return {};
    switch (value->GetDType()) {
    case dtAtom: {
        // The empty atom prints as nothing but is written as the word that reads back to it.
        if (value->Equals(IEEmptyAtom().get())) return std::string(NilWord);
        // A symbol made by a function may hold blanks, parentheses or quotes, or spell a
        // number, a variable or nil: it is written as the escaped word that reads back to it.
        std::string word;
        SymbolWord(value->AsAtom(), word);
        return word;
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

} // namespace ie
