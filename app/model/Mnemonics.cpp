// The mnemonics' formulas, limits and collection. Each limit setter pushes its partner along, so
// every low limit stays at or below its high one; formulas go through the checked math, so a
// value is never NaN or infinite but a math error. Random mnemonics draw from the shared generator
// in a fixed order, since the generated set must be the same for a given seed.
#include "app/model/Mnemonics.h"

#include "platform/Format.h"
#include "platform/Random.h"

#include <cmath>

namespace ie {

namespace {

// sqrt(1 - x^2), the leg both arc forms pass to atan2; outside [-1, 1] it has no real value.
double ArcLeg(double x) {
    return Sqrt(1 - x * x);
}

} // namespace

std::string_view FormulaName(TFormula formula) {
    switch (formula) {
    case TFormula::fmSin:
        return "fmSin";
    case TFormula::fmCos:
        return "fmCos";
    case TFormula::fmArcCos:
        return "fmArcCos";
    case TFormula::fmArcSin:
        return "fmArcSin";
    case TFormula::fmTan:
        return "fmTan";
    case TFormula::fmCot:
        return "fmCot";
    case TFormula::fmSec:
        return "fmSec";
    case TFormula::fmCsc:
        return "fmCsc";
    }
    return "";
}

double EvaluateFormula(TFormula formula, double x) {
    // The trigonometric functions of an infinity are NaN; say so before computing.
    if (!std::isfinite(x)) throw EInvalidOp();
    switch (formula) {
    case TFormula::fmSin:
        return std::sin(x);
    case TFormula::fmCos:
        return std::cos(x);
    case TFormula::fmArcCos:
        return std::atan2(ArcLeg(x), x);
    case TFormula::fmArcSin:
        return std::atan2(x, ArcLeg(x));
    case TFormula::fmTan:
        return CheckFloat(std::tan(x));
    case TFormula::fmCot:
        return FloatDivide(1, std::tan(x));
    case TFormula::fmSec:
        return FloatDivide(1, std::cos(x));
    case TFormula::fmCsc:
        return FloatDivide(1, std::sin(x));
    }
    throw EInvalidOp();
}

// ---------------------------------------------------------------------------------------------
// TMnemonic

TMnemonic::TMnemonic(TMnemonics* collection) : FCollection(collection) {}

int TMnemonic::Index() const {
    return FCollection ? FCollection->IndexOf(this) : -1;
}

void TMnemonic::Changed() {
    if (FCollection) FCollection->ItemChanged(*this);
}

void TMnemonic::Assign(const TMnemonic& source) {
    if (&source == this) return;
    FName = source.FName;
    FFormula = source.FFormula;
    FRawValue = source.FRawValue;
    FValue = source.FValue;
    FModifier = source.FModifier;
    FRedLow = source.FRedLow;
    FYellowLow = source.FYellowLow;
    FRedHigh = source.FRedHigh;
    FYellowHigh = source.FYellowHigh;
    Changed();
}

std::string TMnemonic::GetDisplayName() const {
    return Format("%s (%s): i:%f m:%f", FName, FormulaName(FFormula), FIncrement, FModifier);
}

void TMnemonic::Calculate() {
    SetValue(CheckFloat(EvaluateFormula(FFormula, FRawValue) * FModifier));
}

void TMnemonic::Step() {
    FRawValue += FIncrement;
    if (FFormula == TFormula::fmArcCos || FFormula == TFormula::fmArcSin) {
        if (FRawValue < -1)
            FRawValue += 2;
        else if (FRawValue > 1)
            FRawValue -= 2;
    }
    Calculate();
    if (FCollection) FCollection->DoIterateItem(*this);
}

void TMnemonic::SetName(std::string_view value) {
    if (value == FName) return;
    FName = value;
    Changed();
}

void TMnemonic::SetFormula(TFormula value) {
    if (value == FFormula) return;
    FFormula = value;
    Changed();
}

void TMnemonic::SetRawValue(double value) {
    if (value == FRawValue) return;
    FRawValue = value;
    Changed();
}

void TMnemonic::SetValue(double value) {
    FValue = value;
    Changed();
}

void TMnemonic::SetIncrement(double value) {
    if (value == FIncrement) return;
    FIncrement = value;
    Changed();
}

void TMnemonic::SetModifier(double value) {
    if (value == FModifier) return;
    FModifier = value;
    Changed();
}

void TMnemonic::SetRedHigh(double value) {
    if (value == FRedHigh) return;
    FRedHigh = value;
    if (FRedHigh < FRedLow) FRedLow = FRedHigh;
    Changed();
}

void TMnemonic::SetRedLow(double value) {
    if (value == FRedLow) return;
    FRedLow = value;
    if (FRedHigh < FRedLow) FRedHigh = FRedLow;
    Changed();
}

void TMnemonic::SetYellowHigh(double value) {
    if (value == FYellowHigh) return;
    FYellowHigh = value;
    if (FYellowHigh < FYellowLow) FYellowLow = FYellowHigh;
    Changed();
}

void TMnemonic::SetYellowLow(double value) {
    if (value == FYellowLow) return;
    FYellowLow = value;
    if (FYellowHigh < FYellowLow) FYellowHigh = FYellowLow;
    Changed();
}

void TMnemonic::SetSystem(std::string_view value) {
    if (value == FSystem) return;
    FSystem = value;
    Changed();
}

// ---------------------------------------------------------------------------------------------
// TMnemonics

TMnemonics::~TMnemonics() {
    // The owner may be half destroyed by now (it frees the collection): tell it nothing.
    FOwner = nullptr;
}

TMnemonic& TMnemonics::Items(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    return *FItems[static_cast<size_t>(index)];
}

int TMnemonics::IndexOf(const TMnemonic* item) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == item) return static_cast<int>(i);
    return -1;
}

TMnemonic& TMnemonics::Add() {
    FItems.push_back(std::make_unique<TMnemonic>(this));
    TMnemonic& item = *FItems.back();
    Notify(item, TCollectionNotification::cnAdded);
    if (FUpdateCount == 0) Update(nullptr);
    return item;
}

TMnemonic& TMnemonics::Add(TFormula formula, double rawValue, double increment, double modifier) {
    TMnemonic& item = Add();
    item.SetName("Mnem" + std::to_string(Count()));
    item.SetRawValue(rawValue);
    item.SetIncrement(increment);
    if (item.Increment() == 0) item.SetIncrement(0.05);
    item.SetModifier(modifier);
    const double m = item.Modifier();
    switch (formula) {
    case TFormula::fmArcCos:
        if (m > 0) {
            item.SetYellowHigh(2 * m);
            item.SetYellowLow(m);
            item.SetRedHigh(3 * m);
            item.SetRedLow(0.5 * m);
        } else {
            item.SetYellowLow(2 * m);
            item.SetYellowHigh(m);
            item.SetRedLow(3 * m);
            item.SetRedHigh(0.5 * m);
        }
        break;
    case TFormula::fmSec:
    case TFormula::fmCsc:
        item.SetYellowHigh(1.5 * std::abs(m));
        item.SetYellowLow(-item.YellowHigh());
        item.SetRedHigh(3 * std::abs(m));
        item.SetRedLow(-item.RedHigh());
        break;
    default:
        item.SetYellowHigh(std::abs(m));
        item.SetYellowLow(-item.YellowHigh());
        item.SetRedHigh(2 * std::abs(m));
        item.SetRedLow(-item.RedHigh());
        break;
    }
    item.SetFormula(formula);
    return item;
}

TMnemonic& TMnemonics::AddRandom(TFormula formula) {
    // The draws happen in this order on purpose: the generated set depends on it.
    const double r = Random(361) / 360.0 - 1;
    double i = Random(101) / 100.0 - 0.5;
    double m = Random(201) - 100;
    if (formula == TFormula::fmTan || formula == TFormula::fmCot) {
        i = i * 0.1;
        m = m * 0.1;
    }
    return Add(formula, r, i, m);
}

void TMnemonics::AddRandomMnemonics(int count) {
    BeginUpdate();
    try {
        for (int n = 0; n < count; ++n)
            AddRandom(static_cast<TFormula>(Random(FormulaCount)));
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TMnemonics::Delete(int index) {
    TMnemonic& item = Items(index);
    Notify(item, TCollectionNotification::cnDeleting);
    Notify(item, TCollectionNotification::cnExtracting);
    FItems.erase(FItems.begin() + index);
    if (FUpdateCount == 0) Update(nullptr);
}

void TMnemonics::Clear() {
    if (FItems.empty()) return;
    BeginUpdate();
    while (!FItems.empty()) {
        Notify(*FItems.back(), TCollectionNotification::cnExtracting);
        FItems.pop_back();
    }
    EndUpdate();
}

void TMnemonics::EndUpdate() {
    if (FUpdateCount <= 0) return;
    if (--FUpdateCount == 0) Update(nullptr);
}

void TMnemonics::Iterate() {
    if (OnBeforeIterate) OnBeforeIterate(*this);
    const int count = Count();
    for (int i = 0; i < count; ++i)
        Items(i).Step(); // bounds-checked: a handler may have removed items meanwhile
    if (OnAfterIterate) OnAfterIterate(*this);
}

void TMnemonics::ItemChanged(TMnemonic& item) {
    if (FUpdateCount == 0) Update(&item);
}

void TMnemonics::DoIterateItem(TMnemonic& item) {
    if (OnIterateItem) OnIterateItem(*this, item);
}

void TMnemonics::Notify(TMnemonic& item, TCollectionNotification action) {
    if (FOwner) FOwner->MnemonicNotify(item, action);
}

void TMnemonics::Update(TMnemonic* item) {
    if (FOwner) FOwner->MnemonicUpdate(item);
}

} // namespace ie
