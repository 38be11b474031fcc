// Fuzzy expressions evaluated: single items to a fuzzy value of the variable, and linguistic
// expressions in two stages (postfix form by operator precedence, then one operand stack).
//
// Invariant: a registered term of a fuzzy variable is never changed by an expression (it is
// copied before a hedge or operation applies), a chain of variables bound to each other stops
// with an error instead of recursing forever, and a group whose operand is not yet a fuzzy value
// stays a list as written so that a later evaluation gives the written expression's value.
#include "engine/match/FuzzyExpression.h"

#include <utility>

#include "engine/model/IEFuzzyLogic.h"
#include "engine/model/IEValue.h"
#include "fuzzy/FuzzyConsts.h"
#include "platform/Format.h"
#include "platform/Restore.h"

namespace ie {

TRefPtr<IFuzzySet> CloneSet(const IFuzzySet& set) {
    TRefPtr<ICloneable> copy = set.Clone();
    return TRefPtr<IFuzzySet>(dynamic_cast<IFuzzySet*>(copy.get()));
}

TRefPtr<IIEValue> FuzzyValueOf(TRefPtr<IFuzzySet> set, const IFuzzySet& like) {
    if (set && !set->GetFuzzyVariable() && like.GetFuzzyVariable()) {
        set->SetFuzzyVariable(like.GetFuzzyVariable());
        set->SetParser(like.GetParser());
    }
    return TIEValue::CreateFuzzy(std::move(set));
}

namespace {

enum TFuzzyWord : uint8_t { fwNone, fwOpen, fwClose, fwHedge, fwAndOr, fwArith };

TFuzzyWord FuzzyWordOf(const IIEValue& item) {
    const TIEType kind = item.GetDType();
    if (kind != dtAtom && kind != dtString) return fwNone;
    const std::string text = item.AsString();
    if (text == "[") return fwOpen;
    if (text == "]") return fwClose;
    if (IsFuzzyHedge(text)) return fwHedge;
    bool isOr = false;
    TFuzzyOperation op = foZadeh;
    if (FuzzyAndOrIndex(text, isOr, op)) return fwAndOr;
    if (IsFuzzyArithOperator(text)) return fwArith;
    return fwNone;
}

int StackPrecedence(TFuzzyWord w) {
    return w == fwOpen ? 4 : w == fwHedge ? 2 : 3;
}

int ArrivingPrecedence(TFuzzyWord w) {
    return w == fwOpen ? 0 : w == fwHedge ? 1 : 3;
}

// One group of the postfix form, with its items as written for a group that stays a list.
struct TFuzzyGroup {
    TRefPtr<TValueVector> Postfix = TValueVector::Create();
    TRefPtr<TValueVector> Written = TValueVector::Create();
};

} // namespace

TRefPtr<IIEValue> TFuzzyExpressions::EmptyTerm(IFuzzyVariable* variable) {
    if (!variable) RaiseIE(imFuzzyVariableNotDefined);
    TRefPtr<IFuzzySet> set;
    if (!variable->Find("__Empty", set)) set = variable->CreateSet("__Empty");
    return TIEValue::CreateFuzzy(set);
}

TRefPtr<IIEValue> TFuzzyExpressions::AttachToVariable(IFuzzyVariable* variable,
                                                      TRefPtr<IIEValue> result) {
    if (result && result->GetDType() == dtFuzzy && variable) {
        TRefPtr<IFuzzySet> set = result->AsFuzzy();
        if (set && !set->GetFuzzyVariable()) {
            set->SetFuzzyVariable(variable);
            set->SetParser(FParser);
        }
    }
    return result;
}

TRefPtr<IIEValue> TFuzzyExpressions::Evaluate(IFuzzyVariable* variable,
                                              const TRefPtr<IIEValue>& value, TIEContext* context) {
    if (!value) return EmptyTerm(variable);
    // A variable bound to itself (or a cycle of them) would never end.
    static thread_local int depth = 0;
    ++depth;
    const TOnExit guard([] { --depth; });
    if (depth > 64) RaiseIE(imInvalidFuzzyItem, value->GetText());
    TRefPtr<IIEValue> result;
    switch (value->GetDType()) {
    case dtAtom:
    case dtString: {
        if (!variable) RaiseIE(imFuzzyVariableNotDefined);
        const std::string name = value->AsAtom();
        if (name.empty() || name == "__Empty")
            return AttachToVariable(variable, EmptyTerm(variable));
        TRefPtr<IFuzzySet> term;
        if (!variable->Find(name, term)) RaiseIE(imInvalidFuzzyItem, value->GetText());
        result = TIEValue::CreateFuzzy(term);
        break;
    }
    case dtInteger:
    case dtFloat: {
        const std::string name = value->GetDType() == dtInteger ? std::to_string(value->AsInteger())
                                                                : Format("%.4f", value->AsFloat());
        auto set = MakeRef<TIEFuzzySet>(variable, name);
        set->SetParser(FParser);
        const double n = value->GetAsNumeric();
        set->Triangle(n, n, n);
        result = TIEValue::CreateFuzzy(TRefPtr<IFuzzySet>(set.get()));
        break;
    }
    case dtVariable:
        if (!context) return value;
        result = value->Evaluate(context);
        if (result && result->GetDType() == dtFuzzy)
            result = TIEValue::CreateFuzzy(result->AsFuzzy());
        result = Evaluate(variable, result, context);
        break;
    case dtFunCall:
        if (!context) return value;
        result = Evaluate(variable, value->Evaluate(context), context);
        break;
    case dtList:
        result = Build(variable, *value->AsList(), context);
        break;
    case dtSingletons: {
        if (context) {
            result = value->Evaluate(context);
            break;
        }
        TRefPtr<ISingletonsVector> pairs = value->AsSingletons();
        auto numeric = [](const TRefPtr<IIEValue>& v) {
            return v && (v->GetDType() == dtInteger || v->GetDType() == dtFloat);
        };
        bool allNumbers = true;
        for (int32_t i = 0; pairs && i < pairs->Count() && allNumbers; ++i)
            allNumbers = numeric(pairs->GetValue(i)) && numeric(pairs->GetMembership(i));
        if (!allNumbers) return value;
        result = value->Evaluate(nullptr);
        break;
    }
    case dtFuzzy:
        result = value;
        break;
    default:
        if (!context) return IEEmptyAtom();
        RaiseIE(imInvalidFuzzyItem, value->GetText());
    }
    return AttachToVariable(variable, result);
}

TRefPtr<IIEValue> TFuzzyExpressions::GroupValue(IFuzzyVariable* variable, const IValueVector& group,
                                                TIEContext* context,
                                                std::vector<TRefPtr<IIEValue>>& stack) {
    auto pop = [&](const IIEValue& word) {
        if (stack.empty()) RaiseIE(imMissingHedgeOperand, word.AsString());
        TRefPtr<IIEValue> top = std::move(stack.back());
        stack.pop_back();
        return top;
    };
    // A term of a variable is never changed by an expression: it is copied first.
    auto own = [](const TRefPtr<IIEValue>& v) {
        TRefPtr<IFuzzySet> set = v->AsFuzzy();
        if (!set->GetRegistered()) return v;
        return FuzzyValueOf(CloneSet(*set), *set);
    };
    for (int32_t i = 0; i < group.Count(); ++i) {
        const TRefPtr<IIEValue>& item = group.GetItem(i);
        const TFuzzyWord word = item ? FuzzyWordOf(*item) : fwNone;
        if (word == fwNone) {
            TRefPtr<IIEValue> v = Evaluate(variable, item, context);
            if (!v || v->GetDType() != dtFuzzy) return nullptr;
            stack.push_back(std::move(v));
            continue;
        }
        const std::string text = item->AsString();
        switch (word) {
        case fwHedge: {
            TRefPtr<IIEValue> a = own(pop(*item));
            int hedge = 0;
            FuzzyHedgeIndex(text, hedge);
            a->AsFuzzy()->Hedge(hedge);
            stack.push_back(std::move(a));
            break;
        }
        case fwArith: {
            TRefPtr<IIEValue> b = pop(*item);
            TRefPtr<IIEValue> a = own(pop(*item));
            int index = 0;
            bool onY = false;
            FuzzyArithOperatorIndex(text, index, onY);
            const TFzyFloat n = b->AsFuzzy()->MeanOfMaxima();
            a->AsFuzzy()->Arithmetic(index, onY, n);
            stack.push_back(std::move(a));
            break;
        }
        case fwAndOr: {
            TRefPtr<IIEValue> b = pop(*item);
            TRefPtr<IIEValue> a = pop(*item);
            bool isOr = false;
            TFuzzyOperation op = foZadeh;
            FuzzyAndOrIndex(text, isOr, op);
            TRefPtr<IFuzzySet> sa = a->AsFuzzy();
            TRefPtr<IFuzzySet> sb = b->AsFuzzy();
            stack.push_back(
                FuzzyValueOf(isOr ? sa->Union(*sb, op) : sa->Intersection(*sb, op), *sa));
            break;
        }
        default:
            // A bracket that no "]" matched.
            RaiseIE(imInvalidFuzzyItem, item->GetText());
        }
    }
    if (stack.empty()) return IEEmptyAtom();
    TRefPtr<IIEValue> top = std::move(stack.back());
    stack.pop_back();
    return top;
}

TRefPtr<IIEValue> TFuzzyExpressions::Build(IFuzzyVariable* variable, const IValueVector& items,
                                           TIEContext* context) {
    // Stage 1: the postfix form, in groups (a new group wherever an operand follows an operand
    // or a closing bracket).
    std::vector<TFuzzyGroup> groups(1);
    std::vector<TRefPtr<IIEValue>> operators;
    std::vector<TFuzzyWord> words;
    int depth = 0;
    bool lastWasOperand = false;
    auto closeGroup = [&] {
        if (depth > 0) RaiseIE(imMissingFuzzyCloseBracket);
        while (!operators.empty()) {
            groups.back().Postfix->Add(std::move(operators.back()));
            operators.pop_back();
            words.pop_back();
        }
    };
    auto operand = [&](const TRefPtr<IIEValue>& value, const TRefPtr<IIEValue>& written) {
        if (lastWasOperand) {
            closeGroup();
            groups.emplace_back();
        }
        groups.back().Postfix->Add(value);
        groups.back().Written->Add(written);
        lastWasOperand = true;
    };
    for (int32_t i = 0; i < items.Count(); ++i) {
        const TRefPtr<IIEValue>& written = items.GetItem(i);
        TRefPtr<IIEValue> item = written;
        if (context && item) item = item->Evaluate(context);
        const TIEType kind = item ? item->GetDType() : dtNone;
        if (kind == dtAtom || kind == dtString) {
            const TFuzzyWord word = FuzzyWordOf(*item);
            if (word == fwNone) {
                operand(item, written);
                continue;
            }
            if (word == fwClose) {
                // A "]" without its "[" is no item of an expression.
                if (depth == 0) RaiseIE(imInvalidFuzzyItem, item->GetText());
                --depth;
                while (!operators.empty() && words.back() != fwOpen) {
                    groups.back().Postfix->Add(std::move(operators.back()));
                    operators.pop_back();
                    words.pop_back();
                }
                if (!operators.empty()) {
                    operators.pop_back();
                    words.pop_back();
                }
                groups.back().Written->Add(written);
                lastWasOperand = true;
                continue;
            }
            if (word == fwOpen) ++depth;
            while (!words.empty() && StackPrecedence(words.back()) <= ArrivingPrecedence(word)) {
                groups.back().Postfix->Add(std::move(operators.back()));
                operators.pop_back();
                words.pop_back();
            }
            operators.push_back(item);
            words.push_back(word);
            groups.back().Written->Add(written);
            lastWasOperand = false;
            continue;
        }
        switch (kind) {
        case dtInteger:
        case dtVariable:
        case dtFloat:
        case dtFunCall:
        case dtSingletons:
        case dtFuzzy:
        case dtMultiVariable: {
            const TIEType writtenKind = written ? written->GetDType() : dtNone;
            if ((writtenKind == dtVariable || writtenKind == dtMultiVariable) && kind == dtFuzzy) {
                // The operators that follow must leave the variable's own set alone.
                TRefPtr<IFuzzySet> set = item->AsFuzzy();
                item = FuzzyValueOf(CloneSet(*set), *set);
            }
            operand(item, written);
            break;
        }
        default:
            RaiseIE(imInvalidFuzzyItem, item ? item->GetText() : std::string());
        }
    }
    closeGroup();
    // Stage 2: every group evaluated on one operand stack.
    if (groups.front().Postfix->Count() == 0) return IEEmptyList();
    std::vector<TRefPtr<IIEValue>> stack;
    std::vector<TRefPtr<IIEValue>> results;
    for (const TFuzzyGroup& group : groups) {
        TRefPtr<IIEValue> value = GroupValue(variable, *group.Postfix, context, stack);
        // A group whose operand is not yet a fuzzy value stays as written, so that evaluating
        // it later gives the written expression's value.
        if (!value) value = TIEValue::CreateList(group.Written->CloneVector());
        results.push_back(std::move(value));
    }
    if (results.size() == 1) return results.front();
    auto list = TValueVector::Create();
    for (auto& r : results)
        list->Add(std::move(r));
    return TIEValue::CreateList(std::move(list));
}

} // namespace ie
