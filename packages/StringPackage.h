// The string package: case conversion, concatenation, comparison, search, length, substrings
// and formatting of texts. Texts are single-byte characters; positions count from 1.
#pragma once

#include <string_view>

#include "engine/IEPackages.h"
#include "packages/StandardPackage.h"

namespace ie {

#define IE_STRING_FUNCTION(ClassType)                                                              \
    class ClassType : public TBuiltInFunction {                                                    \
    public:                                                                                        \
        ClassType();                                                                               \
        std::string_view ClassName() const override { return #ClassType; }                         \
                                                                                                   \
    protected:                                                                                     \
        TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;                   \
    }

IE_STRING_FUNCTION(TLowerCaseFunction); // lowcase
IE_STRING_FUNCTION(TStrCatFunction);
IE_STRING_FUNCTION(TStrCompFunction); // str-compare
IE_STRING_FUNCTION(TStrIndexFunction);
IE_STRING_FUNCTION(TStrLengthFunction);
IE_STRING_FUNCTION(TSubStringFunction);
IE_STRING_FUNCTION(TSymCatFunction);
IE_STRING_FUNCTION(TUpperCaseFunction); // upcase
IE_STRING_FUNCTION(TStrFormatFunction);

#undef IE_STRING_FUNCTION

class TStringPackage : public TUserPackage {
public:
    explicit TStringPackage(TComponent* owner) : TUserPackage(owner) {}
    std::string_view ClassName() const override { return "TStringPackage"; }

protected:
    void DoCreateFunctions() override;
};

// Registers the package's function classes with the class registry (once; later calls do
// nothing), so stored package functions can be re-created by class name.
void RegisterStringFunctionClasses();

} // namespace ie
