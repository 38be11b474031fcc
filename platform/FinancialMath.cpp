// The financial routines, all solved on the one time-value identity. Near-zero rates take the
// annuity factor from its series, since (F - 1) / r loses its digits to cancellation, and the
// rate finders run a bounded Newton's method: an answer is finite, or the routine raises
// EInvalidArgument with its own name (or a math error of FloatMath.h).
#include "platform/FinancialMath.h"

#include <cmath>
#include <string>

namespace ie {

namespace {

// Below this rate (about 2^-14) (F - 1) / r loses its digits to cancellation and the annuity
// factor is taken from its series instead.
constexpr double SmallRate = 6.1e-5;
// Compound factors above this make the future value meaningless and the payment that of an
// unending annuity.
constexpr double HugeCompound = 1.0e16;
constexpr int MaxNewtonSteps = 15;

[[noreturn]] void ArgError(const char* routine) {
    throw EInvalidArgument(routine);
}

double Start(TPaymentTime t) {
    return t == TPaymentTime::ptStartOfPeriod ? 1.0 : 0.0;
}

// The compound factor F and the annuity factor A of the identity.
struct TFactors {
    double Compound;
    double Annuity;
};

TFactors Factors(double rate, double n, TPaymentTime time) {
    TFactors f;
    if (rate == 0.0) {
        f.Compound = 1.0;
        f.Annuity = n;
        return f;
    }
    if (std::fabs(rate) < SmallRate) {
        f.Compound = std::exp(n * std::log1p(rate));
        f.Annuity = n * (1.0 + (n - 1.0) * rate / 2.0);
    } else {
        f.Compound = std::pow(1.0 + rate, n);
        f.Annuity = (f.Compound - 1.0) / rate;
    }
    f.Annuity *= 1.0 + rate * Start(time);
    return f;
}

// A / F, kept finite when F overflows.
double AnnuityOverCompound(double rate, const TFactors& f, TPaymentTime time) {
    if (f.Compound <= HugeCompound || std::fabs(rate) < SmallRate) return f.Annuity / f.Compound;
    return (1.0 - 1.0 / f.Compound) / rate * (1.0 + rate * Start(time));
}

// The future value after K periods of the given payment, as the identity defines it.
double FutureValueAfter(double rate, int k, double payment, double presentValue,
                        TPaymentTime time) {
    const TFactors f = Factors(rate, k, time);
    return -(presentValue * f.Compound + payment * f.Annuity);
}

} // namespace

bool TryPaymentTimeFromName(std::string_view name, TPaymentTime& time) {
    auto same = [&](std::string_view what) {
        if (name.size() != what.size()) return false;
        for (size_t i = 0; i < name.size(); ++i) {
            char a = name[i], b = what[i];
            if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
            if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
            if (a != b) return false;
        }
        return true;
    };
    if (same("ptEndOfPeriod")) {
        time = TPaymentTime::ptEndOfPeriod;
        return true;
    }
    if (same("ptStartOfPeriod")) {
        time = TPaymentTime::ptStartOfPeriod;
        return true;
    }
    return false;
}

std::string_view PaymentTimeName(TPaymentTime time) {
    return time == TPaymentTime::ptStartOfPeriod ? "ptStartOfPeriod" : "ptEndOfPeriod";
}

double FutureValue(double rate, int nPeriods, double payment, double presentValue,
                   TPaymentTime paymentTime) {
    if (!(rate > -1.0)) ArgError("FutureValue");
    const TFactors f = Factors(rate, nPeriods, paymentTime);
    if (!(f.Compound <= HugeCompound)) ArgError("FutureValue");
    return CheckFloat(-(presentValue * f.Compound + payment * f.Annuity));
}

double PresentValue(double rate, int nPeriods, double payment, double futureValue,
                    TPaymentTime paymentTime) {
    if (!(rate > -1.0)) ArgError("PresentValue");
    const TFactors f = Factors(rate, nPeriods, paymentTime);
    if (f.Compound == 0.0) throw EZeroDivide();
    return CheckFloat(
        -(futureValue / f.Compound + payment * AnnuityOverCompound(rate, f, paymentTime)));
}

double Payment(double rate, int nPeriods, double presentValue, double futureValue,
               TPaymentTime paymentTime) {
    if (!(rate > -1.0)) ArgError("Payment");
    const TFactors f = Factors(rate, nPeriods, paymentTime);
    if (f.Compound > HugeCompound)
        return CheckFloat(-presentValue * rate / (1.0 + rate * Start(paymentTime)));
    return FloatDivide(-(presentValue * f.Compound + futureValue), f.Annuity);
}

double InterestPayment(double rate, int period, int nPeriods, double presentValue,
                       double futureValue, TPaymentTime paymentTime) {
    if (!(rate > -1.0) || period < 1 || period > nPeriods) ArgError("InterestPayment");
    const double payment = Payment(rate, nPeriods, presentValue, futureValue, paymentTime);
    if (paymentTime == TPaymentTime::ptEndOfPeriod)
        // The interest of period p on what is owed after p - 1 payments.
        return CheckFloat(rate *
                          FutureValueAfter(rate, period - 1, payment, presentValue, paymentTime));
    // A payment at the start of period p pays the interest of period p - 1 on what was owed
    // after payment p - 1; the first one pays no interest.
    if (period == 1) return 0.0;
    const double owed =
        FutureValueAfter(rate, period - 2, payment, presentValue, paymentTime) - payment;
    return CheckFloat(rate * owed);
}

double PeriodPayment(double rate, int period, int nPeriods, double presentValue, double futureValue,
                     TPaymentTime paymentTime) {
    if (!(rate > -1.0) || period < 1 || period > nPeriods) ArgError("PeriodPayment");
    const double payment = Payment(rate, nPeriods, presentValue, futureValue, paymentTime);
    return CheckFloat(
        payment - InterestPayment(rate, period, nPeriods, presentValue, futureValue, paymentTime));
}

double NumberOfPeriods(double rate, double payment, double presentValue, double futureValue,
                       TPaymentTime paymentTime) {
    if (!(rate > -1.0)) ArgError("NumberOfPeriods");
    if (rate == 0.0) {
        if (payment == 0.0) ArgError("NumberOfPeriods");
        return CheckFloat(-(presentValue + futureValue) / payment);
    }
    // pv F + k (F - 1) + fv = 0 with k = pmt (1 + r t) / r gives F = (k - fv) / (pv + k).
    const double k = payment * (1.0 + rate * Start(paymentTime)) / rate;
    const double num = k - futureValue;
    const double den = presentValue + k;
    if (den == 0.0 || num == 0.0 || (num > 0) != (den > 0)) ArgError("NumberOfPeriods");
    const double lnRate = std::log1p(rate);
    if (lnRate == 0.0) ArgError("NumberOfPeriods");
    return CheckFloat(std::log(num / den) / lnRate);
}

double InterestRate(int nPeriods, double payment, double presentValue, double futureValue,
                    TPaymentTime paymentTime) {
    if (nPeriods < 1) ArgError("InterestRate");
    // Without a change of sign among the amounts no rate balances them.
    const bool anyPositive = presentValue > 0 || payment > 0 || futureValue > 0;
    const bool anyNegative = presentValue < 0 || payment < 0 || futureValue < 0;
    if (!anyPositive || !anyNegative) ArgError("InterestRate");
    const double n = nPeriods;
    const double t = Start(paymentTime);
    // Newton's method on x = ln(1 + r) for the identity g(x) = pv F + pmt A + fv = 0.
    double x = 0.0;
    for (int step = 0; step < MaxNewtonSteps; ++step) {
        const double u = std::exp(x);
        const double r = u - 1.0;
        const double F = std::exp(n * x);
        double a0, da0;
        if (std::fabs(r) < SmallRate) {
            a0 = n * (1.0 + (n - 1.0) * r / 2.0);
            da0 = (n * (n - 1.0) / 2.0) * u;
        } else {
            a0 = (F - 1.0) / r;
            da0 = (n * F * r - (F - 1.0) * u) / (r * r);
        }
        const double ut = t != 0.0 ? u : 1.0;
        const double A = a0 * ut;
        const double dA = da0 * ut + a0 * t * ut;
        const double g = presentValue * F + payment * A + futureValue;
        const double dg = presentValue * n * F + payment * dA;
        // Newton's step on the present-value form h = g / F, whose slope keeps its sign between
        // 0 and the root for the usual loans and savings, so the steps do not run away:
        // h / h' = g / (g' - n g).
        const double dh = dg - n * g;
        if (!std::isfinite(g) || !std::isfinite(dh) || dh == 0.0) ArgError("InterestRate");
        const double dx = g / dh;
        x -= dx;
        if (!std::isfinite(x)) ArgError("InterestRate");
        if (std::fabs(dx) <= 1e-14 * (1.0 + std::fabs(x))) return CheckFloat(std::expm1(x));
    }
    ArgError("InterestRate");
}

double NetPresentValue(double rate, std::span<const double> cashFlows, TPaymentTime paymentTime) {
    if (!(rate > -1.0)) ArgError("NetPresentValue");
    const double d = 1.0 / (1.0 + rate);
    // Horner's rule from the last flow: sum c[i] d^i.
    double sum = 0.0;
    for (size_t i = cashFlows.size(); i-- > 0;)
        sum = sum * d + cashFlows[i];
    if (paymentTime == TPaymentTime::ptEndOfPeriod) sum *= d;
    return CheckFloat(sum);
}

double InternalRateOfReturn(double guess, std::span<const double> cashFlows) {
    if (!(guess > -1.0)) ArgError("InternalRateOfReturn");
    bool anyPositive = false, anyNegative = false;
    for (double c : cashFlows) {
        CheckFloat(c);
        anyPositive |= c > 0;
        anyNegative |= c < 0;
    }
    if (!anyPositive || !anyNegative) ArgError("InternalRateOfReturn");
    // Newton's method on y = ln d = -ln(1 + r) for sum c[i] e^(i y).
    double y = -std::log1p(guess);
    for (int step = 0; step < MaxNewtonSteps; ++step) {
        const double d = std::exp(y);
        double f = 0.0, df = 0.0;
        for (size_t i = cashFlows.size(); i-- > 0;) {
            df = df * d + f;
            f = f * d + cashFlows[i];
        }
        // df is now sum i c[i] d^(i-1); the derivative by y is d times that.
        df *= d;
        if (!std::isfinite(f) || !std::isfinite(df) || df == 0.0) ArgError("InternalRateOfReturn");
        const double dy = f / df;
        y -= dy;
        if (!std::isfinite(y)) ArgError("InternalRateOfReturn");
        if (std::fabs(dy) <= 1e-14 * (1.0 + std::fabs(y))) return CheckFloat(std::expm1(-y));
    }
    ArgError("InternalRateOfReturn");
}

double DoubleDecliningBalance(double cost, double salvage, int life, int period) {
    if (period < 1 || period > life || !(salvage < cost)) return 0.0;
    if (life <= 2) return period == 1 ? CheckFloat(cost - salvage) : 0.0;
    const double rate = 2.0 / life;
    const double value = cost * std::pow(1.0 - rate, period - 1);
    double depreciation = rate * value;
    if (depreciation > value - salvage) depreciation = value - salvage;
    return CheckFloat(depreciation < 0 ? 0.0 : depreciation);
}

double SLNDepreciation(double cost, double salvage, int life) {
    if (life < 1) ArgError("SLNDepreciation");
    return CheckFloat((cost - salvage) / life);
}

double SYDDepreciation(double cost, double salvage, int life, int period) {
    if (period < 1 || period > life || !(salvage < cost)) return 0.0;
    const double l = life;
    return CheckFloat((cost - salvage) * 2.0 * (l - period + 1.0) / ((l + 1.0) * l));
}

} // namespace ie
