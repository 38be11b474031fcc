// The string package: case conversion, concatenation, comparison, search, length, substrings
// and formatting of texts. Texts are single-byte characters; positions count from 1.
#pragma once

#include <string_view>

#include "engine/model/IEPackages.h"
#include "packages/FunctionFramework.h"

namespace ie {

IE_BUILT_IN_FUNCTION(TLowerCaseFunction); // lowcase
IE_BUILT_IN_FUNCTION(TStrCatFunction);
IE_BUILT_IN_FUNCTION(TStrCompFunction); // str-compare
IE_BUILT_IN_FUNCTION(TStrIndexFunction);
IE_BUILT_IN_FUNCTION(TStrLengthFunction);
IE_BUILT_IN_FUNCTION(TSubStringFunction);
IE_BUILT_IN_FUNCTION(TSymCatFunction);
IE_BUILT_IN_FUNCTION(TUpperCaseFunction); // upcase
IE_BUILT_IN_FUNCTION(TStrFormatFunction);

class TStringPackage : public TUserPackage {
public:
    explicit TStringPackage(TComponent* owner) : TUserPackage(owner) {}
    std::string_view ClassName() const override { return "TStringPackage"; }

protected:
    void DoCreateFunctions() override;
};

// A count or position of a text as an engine integer; "Integer overflow" (EIntOverflow) when it
// is beyond the 32-bit integers, never a wrapped, negative number.
TRefPtr<IIEValue> TextCountValue(size_t count);

// Registers the package's function classes with the class registry (once; later calls do
// nothing), so stored package functions can be re-created by class name.
void RegisterStringFunctionClasses();
// Registers the function classes and the package's factory with the engine (done at start-up).
void RegisterStringPackage();

} // namespace ie
