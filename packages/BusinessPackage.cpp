// The business package's functions: depreciation, the time value of money and cash flows, each
// a call of one platform financial routine with the call's arguments read as its parameters.
//
// Invariant: the arguments are evaluated once each, left to right in the routine's order, and a
// result is always a finite float (CheckFloat); a cash flow is read only from floats, never
// guessed from another kind. Needs of the engine nothing but the function framework.
#include "packages/BusinessPackage.h"

#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/model/IEValue.h"
#include "platform/FinancialMath.h"

namespace ie {

namespace {

// How one parameter of a financial routine is read from its argument: numbers with the
// numeric getter, counts with the integer getter, the payment time by its enumeration name and
// cash flows from a multifield.
template <class P> struct TArgumentReader;

template <> struct TArgumentReader<double> {
    static double Read(const TRefPtr<IIEValue>& value) { return value->GetAsNumeric(); }
};

template <> struct TArgumentReader<int> {
    static int32_t Read(const TRefPtr<IIEValue>& value) { return value->AsInteger(); }
};

// ptEndOfPeriod or ptStartOfPeriod in any letter case; any other text is refused rather than
// taken for one of them.
template <> struct TArgumentReader<TPaymentTime> {
    static TPaymentTime Read(const TRefPtr<IIEValue>& value) {
        const std::string name = value->AsString();
        TPaymentTime time;
        if (!TryPaymentTimeFromName(name, time)) RaiseIE(imBadArgument, name);
        return time;
    }
};

// The elements of the multifield as they stand (not evaluated). A cash flow must be written as
// a float: an integer or any other kind is refused with the type error of the float reading,
// so that the amounts of a cash-flow list are never guessed from other kinds.
template <> struct TArgumentReader<std::span<const double>> {
    static std::vector<double> Read(const TRefPtr<IIEValue>& value) {
        const TRefPtr<IValueVector> list = value->AsList();
        std::vector<double> flows;
        flows.reserve(static_cast<size_t>(list->Count()));
        for (int32_t k = 0, n = list->Count(); k < n; ++k) {
            const TRefPtr<IIEValue>& element = list->GetItem(k);
            if (!element) RaiseIE(imNotAType, "numeric", "", IETypeName(dtNone));
            if (element->GetDType() != dtFloat)
                RaiseIE(imNotAType, "numeric", element->GetText(), IETypeName(element->GetDType()));
            flows.push_back(element->AsFloat());
        }
        return flows;
    }
};

template <class... P, size_t... I>
double CallWithArguments(double (*routine)(P...), IFunCall* call, TIEContext* context,
                         std::index_sequence<I...>) {
    // Braced initialisation evaluates the arguments left to right, in the routine's order.
    std::tuple<decltype(TArgumentReader<P>::Read(std::declval<TRefPtr<IIEValue>>()))...> arguments{
        TArgumentReader<P>::Read(EvalArg(call, static_cast<int32_t>(I), context))...};
    return std::apply(routine, arguments);
}

// Reads the call's arguments as the routine's parameters, in order, and returns the routine's
// result as a float.
template <class... P>
TRefPtr<IIEValue> CallRoutine(double (*routine)(P...), IFunCall* call, TIEContext* context) {
    return TIEValue::CreateFloat(
        CheckFloat(CallWithArguments(routine, call, context, std::index_sequence_for<P...>{})));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Depreciation

TDoubleDecliningBalanceFunction::TDoubleDecliningBalanceFunction()
    : TBuiltInFunction("double-declining-balance",
                       "Returns the depreciation of an asset for the given period by the "
                       "double-declining balance method",
                       " <cost-numeric-expression> <salvage-numeric-expression> "
                       "<life-integer-expression> <period-integer-expression>",
                       4, 4) {}

TRefPtr<IIEValue> TDoubleDecliningBalanceFunction::Execute(IFunCall* call, TIEContext* context) {
    return CallRoutine(DoubleDecliningBalance, call, context);
}

TSLNDepreciationFunction::TSLNDepreciationFunction()
    : TBuiltInFunction("sln-depreciation",
                       "Returns the straight-line depreciation of an asset for one period",
                       " <cost-numeric-expression> <salvage-numeric-expression> "
                       "<life-integer-expression>",
                       3, 3) {}

TRefPtr<IIEValue> TSLNDepreciationFunction::Execute(IFunCall* call, TIEContext* context) {
    return CallRoutine(SLNDepreciation, call, context);
}

TSYDDepreciationFunction::TSYDDepreciationFunction()
    : TBuiltInFunction("syd-depreciation",
                       "Returns the sum-of-years'-digits depreciation of an asset for the given "
                       "period",
                       " <cost-numeric-expression> <salvage-numeric-expression> "
                       "<life-integer-expression> <period-integer-expression>",
                       4, 4) {}

TRefPtr<IIEValue> TSYDDepreciationFunction::Execute(IFunCall* call, TIEContext* context) {
    return CallRoutine(SYDDepreciation, call, context);
}

// ---------------------------------------------------------------------------------------------
// Time value of money

TFutureValueFunction::TFutureValueFunction()
    : TBuiltInFunction("future-value",
                       "Returns the future value of an investment of periodic payments at a "
                       "fixed rate",
                       " <rate-numeric-expression> <num-periods-integer-expression> "
                       "<payment-numeric-expression> <present-value-numeric-expression> "
                       "ptEndOfPeriod|ptStartOfPeriod",
                       5, 5) {}

TRefPtr<IIEValue> TFutureValueFunction::Execute(IFunCall* call, TIEContext* context) {
    return CallRoutine(FutureValue, call, context);
}

TPresentValueFunction::TPresentValueFunction()
    : TBuiltInFunction("present-value",
                       "Returns the present value of an investment of periodic payments at a "
                       "fixed rate",
                       " <rate-numeric-expression> <num-periods-integer-expression> "
                       "<payment-numeric-expression> <future-value-numeric-expression> "
                       "ptEndOfPeriod|ptStartOfPeriod",
                       5, 5) {}

TRefPtr<IIEValue> TPresentValueFunction::Execute(IFunCall* call, TIEContext* context) {
    return CallRoutine(PresentValue, call, context);
}

TPaymentFunction::TPaymentFunction()
    : TBuiltInFunction("payment",
                       "Returns the periodic payment that amortizes a loan at a fixed rate",
                       " <rate-numeric-expression> <num-periods-integer-expression> "
                       "<present-value-numeric-expression> <future-value-numeric-expression> "
                       "ptEndOfPeriod|ptStartOfPeriod",
                       5, 5) {}

TRefPtr<IIEValue> TPaymentFunction::Execute(IFunCall* call, TIEContext* context) {
    return CallRoutine(Payment, call, context);
}

TInterestPaymentFunction::TInterestPaymentFunction()
    : TBuiltInFunction("interest-payment",
                       "Returns the interest part of the payment of the given period",
                       " <rate-numeric-expression> <period-integer-expression> "
                       "<num-periods-integer-expression> <present-value-numeric-expression> "
                       "<future-value-numeric-expression> ptEndOfPeriod|ptStartOfPeriod",
                       6, 6) {}

TRefPtr<IIEValue> TInterestPaymentFunction::Execute(IFunCall* call, TIEContext* context) {
    return CallRoutine(InterestPayment, call, context);
}

TPeriodPaymentFunction::TPeriodPaymentFunction()
    : TBuiltInFunction("period-payment",
                       "Returns the principal part of the payment of the given period",
                       " <rate-numeric-expression> <period-integer-expression> "
                       "<num-periods-integer-expression> <present-value-numeric-expression> "
                       "<future-value-numeric-expression> ptEndOfPeriod|ptStartOfPeriod",
                       6, 6) {}

TRefPtr<IIEValue> TPeriodPaymentFunction::Execute(IFunCall* call, TIEContext* context) {
    return CallRoutine(PeriodPayment, call, context);
}

TNumberOfPeriodsFunction::TNumberOfPeriodsFunction()
    : TBuiltInFunction("number-of-periods",
                       "Returns the number of periods needed for periodic payments at a fixed "
                       "rate to bring the present value to the future value",
                       " <rate-numeric-expression> <payment-numeric-expression> "
                       "<present-value-numeric-expression> <future-value-numeric-expression> "
                       "ptEndOfPeriod|ptStartOfPeriod",
                       5, 5) {}

TRefPtr<IIEValue> TNumberOfPeriodsFunction::Execute(IFunCall* call, TIEContext* context) {
    return CallRoutine(NumberOfPeriods, call, context);
}

TInterestRateFunction::TInterestRateFunction()
    : TBuiltInFunction("interest-rate",
                       "Returns the rate per period at which periodic payments bring the "
                       "present value to the future value",
                       " <num-periods-integer-expression> <payment-numeric-expression> "
                       "<present-value-numeric-expression> <future-value-numeric-expression> "
                       "ptEndOfPeriod|ptStartOfPeriod",
                       5, 5) {}

TRefPtr<IIEValue> TInterestRateFunction::Execute(IFunCall* call, TIEContext* context) {
    return CallRoutine(InterestRate, call, context);
}

// ---------------------------------------------------------------------------------------------
// Cash flows

TNetPresentValueFunction::TNetPresentValueFunction()
    : TBuiltInFunction("net-present-value",
                       "Returns the net present value of a list of cash flows (floats) at the "
                       "given rate",
                       " <rate-numeric-expression> <cash-flows-multifield-expression> "
                       "ptEndOfPeriod|ptStartOfPeriod",
                       3, 3) {}

TRefPtr<IIEValue> TNetPresentValueFunction::Execute(IFunCall* call, TIEContext* context) {
    return CallRoutine(NetPresentValue, call, context);
}

TInternalRateOfReturnFunction::TInternalRateOfReturnFunction()
    : TBuiltInFunction("internal-rate-of-return",
                       "Returns the rate at which the net present value of a list of cash flows "
                       "(floats) is zero, searched from the guess",
                       " <guess-numeric-expression> <cash-flows-multifield-expression>", 2, 2) {}

TRefPtr<IIEValue> TInternalRateOfReturnFunction::Execute(IFunCall* call, TIEContext* context) {
    return CallRoutine(InternalRateOfReturn, call, context);
}

// ---------------------------------------------------------------------------------------------
// The package

namespace {

// The function classes of the package, in the order of its functions.
using TBusinessFunctionClasses =
    TFunctionClasses<TDoubleDecliningBalanceFunction, TFutureValueFunction,
                     TInterestPaymentFunction, TInterestRateFunction, TInternalRateOfReturnFunction,
                     TNetPresentValueFunction, TNumberOfPeriodsFunction, TPaymentFunction,
                     TPeriodPaymentFunction, TPresentValueFunction, TSLNDepreciationFunction,
                     TSYDDepreciationFunction>;

} // namespace

void TBusinessPackage::DoCreateFunctions() {
    TUserPackage::DoCreateFunctions();
    TBusinessFunctionClasses::AddTo(Functions());
}

void RegisterBusinessFunctionClasses() {
    TBusinessFunctionClasses::Register();
}

void RegisterBusinessPackage() {
    RegisterPackage<TBusinessPackage, TBusinessFunctionClasses>(pBusiness);
}

namespace {
// Engines create the package and stored functions find their classes from start-up on.
const bool BusinessPackageRegistered = (RegisterBusinessPackage(), true);
} // namespace

} // namespace ie
