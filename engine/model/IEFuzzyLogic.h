// The engine's fuzzy set and fuzzy variable: the fuzzy library's classes, made to accept engine
// values. A number is matched by its membership in the set against the owning variable's
// threshold (0 for a set without a variable); a fuzzy value is matched through its set as the
// library matches sets; any other value does not match.
#pragma once

#include <string_view>

#include "engine/model/IEInterfaces.h"
#include "fuzzy/FuzzyInterfaces.h"
#include "fuzzy/IFuzzyLogic.h"

namespace ie {

class TIEFuzzySet : public TIFuzzySet {
public:
    TIEFuzzySet(IFuzzyVariable* variable, std::string_view name) : TIFuzzySet(variable, name) {}

    TRefPtr<TIFuzzySet> CreateSet(IFuzzyVariable* variable, std::string_view name) const override;

    using TIFuzzySet::Match;
    using TIFuzzySet::MatchDegree;
    // The degree of an engine value: its membership for a number, the sets' match degree for a
    // fuzzy value, 0 otherwise. Kept as the degree of the last comparison.
    TFzyFloat MatchDegree(const IIEValue& value) const;
    // True when the number's membership is strictly above the threshold, or the fuzzy value's
    // set matches as sets do.
    bool Match(const IIEValue& value) const;
    // Accepts fuzzy sets and engine values.
    TFzyFloat MatchDegreeOf(const IInterface* other) const override;
    // The degree of the last comparison with an engine value.
    TFzyFloat LastMatchDegree() const noexcept { return FLastDegree; }

private:
    TFzyFloat Threshold() const;
    mutable TFzyFloat FLastDegree = 0.0;
};

class TIEFuzzyVariable : public TIFuzzyVariable {
public:
    explicit TIEFuzzyVariable(std::string_view name) : TIFuzzyVariable(name) {}

    TRefPtr<TIFuzzyVariable> CreateVariable(std::string_view name) const override;
    // Terms are engine fuzzy sets.
    TRefPtr<TIFuzzySet> CreateTerm(std::string_view name) override;
};

// A new fuzzy variable of the engine's class (its terms are engine fuzzy sets).
TRefPtr<IFuzzyVariable> NewIEFuzzyVariable(std::string_view name);

} // namespace ie
