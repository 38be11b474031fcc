// The engine's fuzzy set and variable: the library's factories overridden so that every set and
// term the library makes is an engine set, and matching extended to engine values.
//
// Invariant: a set without a variable matches at threshold 0, and every match records its
// degree (0 for a value that cannot match), so the firing strength read afterwards belongs to
// the last value matched.
#include "engine/model/IEFuzzyLogic.h"

namespace ie {

TRefPtr<TIFuzzySet> TIEFuzzySet::CreateSet(IFuzzyVariable* variable, std::string_view name) const {
    return MakeRef<TIEFuzzySet>(variable, name);
}

TFzyFloat TIEFuzzySet::Threshold() const {
    // A free set has no variable to ask: every positive membership matches.
    const IFuzzyVariable* variable = GetFuzzyVariable();
    return variable ? variable->GetThreshold() : 0.0;
}

TFzyFloat TIEFuzzySet::MatchDegree(const IIEValue& value) const {
    switch (value.GetDType()) {
    case dtInteger:
    case dtFloat:
        FLastDegree = GetMembership(value.AsFloat());
        break;
    case dtFuzzy: {
        const TRefPtr<IFuzzySet> set = value.AsFuzzy();
        FLastDegree = set ? MatchDegree(*set) : 0.0;
        break;
    }
    default:
        FLastDegree = 0.0;
        break;
    }
    return FLastDegree;
}

bool TIEFuzzySet::Match(const IIEValue& value) const {
    switch (value.GetDType()) {
    case dtInteger:
    case dtFloat:
        return MatchDegree(value) > Threshold();
    case dtFuzzy: {
        const TRefPtr<IFuzzySet> set = value.AsFuzzy();
        if (!set) {
            FLastDegree = 0.0;
            return false;
        }
        FLastDegree = MatchDegree(*set);
        return Match(*set);
    }
    default:
        FLastDegree = 0.0;
        return false;
    }
}

TFzyFloat TIEFuzzySet::MatchDegreeOf(const IInterface* other) const {
    if (const auto* value = dynamic_cast<const IIEValue*>(other)) return MatchDegree(*value);
    return TIFuzzySet::MatchDegreeOf(other);
}

TRefPtr<TIFuzzyVariable> TIEFuzzyVariable::CreateVariable(std::string_view name) const {
    return MakeRef<TIEFuzzyVariable>(name);
}

TRefPtr<TIFuzzySet> TIEFuzzyVariable::CreateTerm(std::string_view name) {
    return MakeRef<TIEFuzzySet>(this, name);
}

TRefPtr<IFuzzyVariable> NewIEFuzzyVariable(std::string_view name) {
    return MakeRef<TIEFuzzyVariable>(name);
}

} // namespace ie
