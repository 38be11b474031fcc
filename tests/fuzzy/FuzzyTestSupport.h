// Fuzzy sets built from their points, for the fuzzy logic tests.
#pragma once

#include <initializer_list>
#include <string_view>

#include "fuzzy/IFuzzyLogic.h"

namespace ie::test {

// A set of `variable` (none by default) with the points in one update.
inline TRefPtr<TIFuzzySet> MakeSet(std::string_view name,
                                   std::initializer_list<TFuzzySetValue> points,
                                   IFuzzyVariable* variable = nullptr) {
    auto set = MakeRef<TIFuzzySet>(variable, name);
    set->BeginUpdate();
    for (const auto& p : points)
        set->Add(p.X, p.Y);
    set->EndUpdate();
    return set;
}

} // namespace ie::test
