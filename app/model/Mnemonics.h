// The simulated telemetry points of the spacecraft. A mnemonic's value is a trigonometric
// formula of a running parameter scaled by an amplitude; it carries a warning (yellow) and a
// critical (red) pair of limits. Invariant kept by the limit setters: after any single limit
// assignment RedLow <= RedHigh and YellowLow <= YellowHigh (the partner is pushed along).
// TMnemonics owns the items, numbers them Mnem1, Mnem2, ... and reports every change to one
// observer (the main window), so the model itself knows nothing of widgets.
#pragma once

#include "platform/Exceptions.h"
#include "platform/FloatMath.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ie {

enum class TFormula { fmSin, fmCos, fmArcCos, fmArcSin, fmTan, fmCot, fmSec, fmCsc };
constexpr int FormulaCount = 8;

// The enumeration name ("fmSin" ... "fmCsc"), as shown in display names.
std::string_view FormulaName(TFormula formula);

// F(x) of the formula. Where F has no finite value (a pole of cot, sec or csc, an arc form
// outside [-1, 1], an overflow) it raises the platform's math error (EZeroDivide, EInvalidOp,
// EOverflow) instead of producing a NaN or an infinity.
double EvaluateFormula(TFormula formula, double x);

class TMnemonics;

class TMnemonic {
public:
    explicit TMnemonic(TMnemonics* collection);
    TMnemonic(const TMnemonic&) = delete;
    TMnemonic& operator=(const TMnemonic&) = delete;

    // Copies name, formula, raw value, value, modifier and the four limits field by field
    // (no limit pushing) and reports one change; increment, tag and systems stay.
    void Assign(const TMnemonic& source);
    // "%s (%s): i:%f m:%f" of name, formula name, increment and modifier.
    std::string GetDisplayName() const;
    // Value := F(RawValue) * Modifier.
    void Calculate();
    // Advances the raw value by the increment, folds the arc forms back into [-1, 1] once,
    // calculates and reports the step to the collection.
    void Step();

    bool IsRed() const { return FValue > FRedHigh || FValue < FRedLow; }
    bool IsYellow() const { return FValue > FYellowHigh || FValue < FYellowLow; }

    TMnemonics* Collection() const { return FCollection; }
    int Index() const;

    const std::string& Name() const { return FName; }
    TFormula Formula() const { return FFormula; }
    double RawValue() const { return FRawValue; }
    double Value() const { return FValue; }
    double Increment() const { return FIncrement; }
    double Modifier() const { return FModifier; }
    double RedHigh() const { return FRedHigh; }
    double RedLow() const { return FRedLow; }
    double YellowHigh() const { return FYellowHigh; }
    double YellowLow() const { return FYellowLow; }
    void* Tag() const { return FTag; }
    const std::string& System() const { return FSystem; }
    const std::string& SubSystem() const { return FSubSystem; }

    void SetName(std::string_view value);
    void SetFormula(TFormula value);
    void SetRawValue(double value);
    void SetValue(double value);
    void SetIncrement(double value);
    void SetModifier(double value);
    void SetRedHigh(double value);
    void SetRedLow(double value);
    void SetYellowHigh(double value);
    void SetYellowLow(double value);
    // Free for the host: the main window keeps its chart of the mnemonic here.
    void SetTag(void* value) { FTag = value; }
    void SetSystem(std::string_view value);
    void SetSubSystem(std::string_view value) { FSubSystem = value; }

private:
    void Changed();

    TMnemonics* FCollection;
    std::string FName;
    TFormula FFormula = TFormula::fmSin;
    double FRawValue = 0;
    double FValue = 0;
    double FModifier = 0;
    double FRedLow = 0;
    double FYellowLow = 0;
    double FRedHigh = 0;
    double FYellowHigh = 0;
    double FIncrement = 0;
    void* FTag = nullptr;
    std::string FSystem = "unknown";
    std::string FSubSystem = "unknown";
};

enum class TCollectionNotification { cnAdded, cnExtracting, cnDeleting };

// What the owner of the collection hears: items entering and leaving, and changes (an item,
// or nullptr for a change of the whole collection at the end of an update).
class IMnemonicsObserver {
public:
    virtual ~IMnemonicsObserver() = default;
    virtual void MnemonicNotify(TMnemonic& item, TCollectionNotification action) = 0;
    virtual void MnemonicUpdate(TMnemonic* item) = 0;
};

class TMnemonics {
public:
    using TNotifyEvent = std::function<void(TMnemonics& sender)>;
    using TMnemonicEvent = std::function<void(TMnemonics& sender, TMnemonic& item)>;

    explicit TMnemonics(IMnemonicsObserver* owner = nullptr) : FOwner(owner) {}
    ~TMnemonics();
    TMnemonics(const TMnemonics&) = delete;
    TMnemonics& operator=(const TMnemonics&) = delete;

    IMnemonicsObserver* Owner() const { return FOwner; }
    void SetOwner(IMnemonicsObserver* owner) { FOwner = owner; }

    int Count() const { return static_cast<int>(FItems.size()); }
    // Raises EListError "List index out of bounds (%d)" outside 0 .. Count - 1.
    TMnemonic& Items(int index) const;
    TMnemonic& operator[](int index) const { return Items(index); }
    int IndexOf(const TMnemonic* item) const;

    // A new item with default fields at the end of the list.
    TMnemonic& Add();
    // A named mnemonic ("Mnem" + Count) with its limits derived from formula and modifier.
    TMnemonic& Add(TFormula formula, double rawValue, double increment, double modifier);
    // Draws raw value, increment and modifier from the process-wide generator.
    TMnemonic& AddRandom(TFormula formula);
    void AddRandomMnemonics(int count);
    void Delete(int index);
    void Clear();

    // Nested updates: only the outermost EndUpdate reports, once, for the whole collection.
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    // Steps every item in index order, between OnBeforeIterate and OnAfterIterate.
    void Iterate();

    TNotifyEvent OnBeforeIterate;
    TNotifyEvent OnAfterIterate;
    TMnemonicEvent OnIterateItem;

private:
    friend class TMnemonic;
    void ItemChanged(TMnemonic& item);
    void DoIterateItem(TMnemonic& item);
    void Notify(TMnemonic& item, TCollectionNotification action);
    void Update(TMnemonic* item);

    IMnemonicsObserver* FOwner;
    std::vector<std::unique_ptr<TMnemonic>> FItems;
    int FUpdateCount = 0;
};

} // namespace ie
