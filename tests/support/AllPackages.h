// Registration of all nine function packages, for test programs that link the packages and
// make engines with every built-in function.
#pragma once

#include "packages/BusinessPackage.h"
#include "packages/FuzzyLogicPackage.h"
#include "packages/MathPackage.h"
#include "packages/MiscPackage.h"
#include "packages/ObjectPackage.h"
#include "packages/PredicatePackage.h"
#include "packages/StandardPackage.h"
#include "packages/StringPackage.h"
#include "packages/TrigonometryPackage.h"

namespace ie::test {

inline void RegisterAllPackages() {
    RegisterStandardPackage();
    RegisterMiscPackage();
    RegisterPredicatePackage();
    RegisterMathPackage();
    RegisterStringPackage();
    RegisterObjectPackage();
    RegisterTrigonometryPackage();
    RegisterBusinessPackage();
    RegisterFuzzyLogicPackage();
}

} // namespace ie::test
