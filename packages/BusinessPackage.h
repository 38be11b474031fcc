// The business package: depreciation, the time value of money and cash-flow analysis, each a
// thin rule-language face of one platform financial routine (platform/FinancialMath.h). Every
// function takes a fixed number of arguments and returns a float.
#pragma once

#include <string_view>

#include "engine/IEPackages.h"
#include "packages/StandardPackage.h"

namespace ie {

#define IE_BUSINESS_FUNCTION(ClassType)                                                            \
    class ClassType : public TBuiltInFunction {                                                    \
    public:                                                                                        \
        ClassType();                                                                               \
        std::string_view ClassName() const override { return #ClassType; }                         \
                                                                                                   \
    protected:                                                                                     \
        TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;                   \
    }

IE_BUSINESS_FUNCTION(TDoubleDecliningBalanceFunction);
IE_BUSINESS_FUNCTION(TFutureValueFunction);
IE_BUSINESS_FUNCTION(TInterestPaymentFunction);
IE_BUSINESS_FUNCTION(TInterestRateFunction);
IE_BUSINESS_FUNCTION(TInternalRateOfReturnFunction);
IE_BUSINESS_FUNCTION(TNetPresentValueFunction);
IE_BUSINESS_FUNCTION(TNumberOfPeriodsFunction);
IE_BUSINESS_FUNCTION(TPaymentFunction);
IE_BUSINESS_FUNCTION(TPeriodPaymentFunction);
IE_BUSINESS_FUNCTION(TPresentValueFunction);
IE_BUSINESS_FUNCTION(TSLNDepreciationFunction);
IE_BUSINESS_FUNCTION(TSYDDepreciationFunction);

#undef IE_BUSINESS_FUNCTION

class TBusinessPackage : public TUserPackage {
public:
    explicit TBusinessPackage(TComponent* owner) : TUserPackage(owner) {}
    std::string_view ClassName() const override { return "TBusinessPackage"; }

protected:
    void DoCreateFunctions() override;
};

// Registers the package's function classes with the class registry (once; later calls do
// nothing), so stored package functions can be re-created by class name.
void RegisterBusinessFunctionClasses();

} // namespace ie
