// The business package: depreciation, the time value of money and cash-flow analysis, each a
// thin rule-language face of one platform financial routine (platform/FinancialMath.h). Every
// function takes a fixed number of arguments and returns a float.
#pragma once

#include <string_view>

#include "engine/model/IEPackages.h"
#include "packages/FunctionFramework.h"

namespace ie {

IE_BUILT_IN_FUNCTION(TDoubleDecliningBalanceFunction);
IE_BUILT_IN_FUNCTION(TFutureValueFunction);
IE_BUILT_IN_FUNCTION(TInterestPaymentFunction);
IE_BUILT_IN_FUNCTION(TInterestRateFunction);
IE_BUILT_IN_FUNCTION(TInternalRateOfReturnFunction);
IE_BUILT_IN_FUNCTION(TNetPresentValueFunction);
IE_BUILT_IN_FUNCTION(TNumberOfPeriodsFunction);
IE_BUILT_IN_FUNCTION(TPaymentFunction);
IE_BUILT_IN_FUNCTION(TPeriodPaymentFunction);
IE_BUILT_IN_FUNCTION(TPresentValueFunction);
IE_BUILT_IN_FUNCTION(TSLNDepreciationFunction);
IE_BUILT_IN_FUNCTION(TSYDDepreciationFunction);

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
// Registers the function classes and the package's factory with the engine (done at start-up).
void RegisterBusinessPackage();

} // namespace ie
