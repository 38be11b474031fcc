// The financial routines: time value of money, cash-flow analysis and depreciation.
// For a rate r and n periods the time-value routines satisfy
//     pv * F + pmt * A + fv = 0,   F = (1 + r)^n,   A = (F - 1) / r  (times (1 + r) when
// payments fall at the start of each period), and solve it for one quantity. Money paid out is
// negative, money received positive. A rejected argument raises EInvalidArgument whose message
// is the routine's name; overflow and division by zero raise the math errors of FloatMath.h.
#pragma once

#include "platform/FloatMath.h"

#include <span>
#include <string_view>

namespace ie {

enum class TPaymentTime { ptEndOfPeriod = 0, ptStartOfPeriod = 1 };

// The enumeration names "ptEndOfPeriod" and "ptStartOfPeriod" (case-insensitive).
bool TryPaymentTimeFromName(std::string_view name, TPaymentTime& time);
std::string_view PaymentTimeName(TPaymentTime time);

double FutureValue(double rate, int nPeriods, double payment, double presentValue,
                   TPaymentTime paymentTime);
double PresentValue(double rate, int nPeriods, double payment, double futureValue,
                    TPaymentTime paymentTime);
double Payment(double rate, int nPeriods, double presentValue, double futureValue,
               TPaymentTime paymentTime);
// The interest part and the principal part of the payment of Period (1..NPeriods).
double InterestPayment(double rate, int period, int nPeriods, double presentValue,
                       double futureValue, TPaymentTime paymentTime);
double PeriodPayment(double rate, int period, int nPeriods, double presentValue, double futureValue,
                     TPaymentTime paymentTime);
double NumberOfPeriods(double rate, double payment, double presentValue, double futureValue,
                       TPaymentTime paymentTime);
double InterestRate(int nPeriods, double payment, double presentValue, double futureValue,
                    TPaymentTime paymentTime);
// Sum of flow[i] / (1 + r)^i from i = 0, discounted one period more for end-of-period flows.
double NetPresentValue(double rate, std::span<const double> cashFlows, TPaymentTime paymentTime);
// The rate at which the start-of-period net present value of the flows is 0.
double InternalRateOfReturn(double guess, std::span<const double> cashFlows);

double DoubleDecliningBalance(double cost, double salvage, int life, int period);
double SLNDepreciation(double cost, double salvage, int life);
double SYDDepreciation(double cost, double salvage, int life, int period);

} // namespace ie
