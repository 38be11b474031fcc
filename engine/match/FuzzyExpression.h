// Fuzzy expressions of the rule language: a term name, a number, a variable or call, singletons,
// or a whole linguistic expression (terms, hedges, the and/or and arithmetic words, brackets),
// made into a fuzzy value of one fuzzy variable. Joins evaluate them per token, the reader when
// it reads fuzzy slot values, the engine for its fuzzy-expression reader.
#pragma once

#include <vector>

#include "engine/model/IEInterfaces.h"
#include "fuzzy/FuzzyInterfaces.h"

namespace ie {

class TIEContext;

// A copy of the set (what an expression changes in place of a variable's own term).
TRefPtr<IFuzzySet> CloneSet(const IFuzzySet& set);
// The set as a fuzzy value, on the variable (and with the parser) of `like` when it has none.
TRefPtr<IIEValue> FuzzyValueOf(TRefPtr<IFuzzySet> set, const IFuzzySet& like);

class TFuzzyExpressions {
public:
    // `parser` renders the sets made here (the engine); null leaves them without one.
    explicit TFuzzyExpressions(IFuzzyParser* parser) noexcept : FParser(parser) {}

    // One value made into a fuzzy value of the variable (a term name, a number, a variable or
    // call evaluated in the context, an expression list, singletons, a fuzzy value). Without a
    // context, variables and calls stay as they are.
    TRefPtr<IIEValue> Evaluate(IFuzzyVariable* variable, const TRefPtr<IIEValue>& value,
                               TIEContext* context);
    // A whole linguistic expression; several groups give a list of their values.
    TRefPtr<IIEValue> Build(IFuzzyVariable* variable, const IValueVector& items,
                            TIEContext* context);

private:
    TRefPtr<IIEValue> GroupValue(IFuzzyVariable* variable, const IValueVector& group,
                                 TIEContext* context, std::vector<TRefPtr<IIEValue>>& stack);
    TRefPtr<IIEValue> EmptyTerm(IFuzzyVariable* variable);
    TRefPtr<IIEValue> AttachToVariable(IFuzzyVariable* variable, TRefPtr<IIEValue> result);

    IFuzzyParser* FParser;
};

} // namespace ie
