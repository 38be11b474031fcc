// Defined types: which values a slot accepts. A type names the kinds it takes (BaseTypes), may
// restrict atoms, strings, integers and floats to lists of allowed values, numbers to a range
// and multifields to a cardinality, and a fuzzy type carries the fuzzy variable whose terms its
// values use. Types may inherit from an ancestor type.
//
// Invariants: the allowed-value list of a kind holds values exactly while the kind is in
// Constraints; a type with a fuzzy variable has BaseTypes [dtFuzzy]; the ancestor chain never
// comes back to the type itself. Validation reports its reasons as text and raises nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "engine/model/IEConsts.h"
#include "engine/model/IEInterfaces.h"
#include "platform/Component.h"

namespace ie {

// The engine's defined-type events (sender, the type).
using TIEDefinedTypeEvent =
    std::function<void(TObject* sender, const TRefPtr<IIEDefinedType>& defType)>;

// A multislot default is built element by element; a minimum cardinality above this is refused
// instead of allocating that many values.
inline constexpr int32_t IEMaxDefaultCardinality = 65536;
inline constexpr std::string_view DefaultCardinalityTooLargeMessage =
    "Defined Type %s cannot make a default of %d elements, at most %d are allowed";
inline constexpr std::string_view DefaultRangeTooLargeMessage =
    "Defined Type %s cannot make an integer default from the range bound %.4f";

// One line of a type's description; children are indented below it.
struct TDefinedTypeLine {
    std::string Text;
    std::vector<std::string> Children;
};

class TIEDefinedType : public TPersistent, public IIEDefinedType {
public:
    explicit TIEDefinedType(IReasoner* owner = nullptr);
    ~TIEDefinedType() override;

    static TRefPtr<TIEDefinedType> Create(IReasoner* owner) {
        return MakeRef<TIEDefinedType>(owner);
    }

    std::string_view ClassName() const override { return "TIEDefinedType"; }

    // TPersistent: from another TIEDefinedType (inside one update bracket); assigning a type to
    // itself does nothing.
    void Assign(const TPersistent* source) override;

    // ICloneable
    void AssignFrom(const IInterface* source) override;
    TRefPtr<ICloneable> Clone() const override;
    bool Equals(const IInterface* other) const override;
    intptr_t GetTag() const override { return FTag; }
    void SetTag(intptr_t tag) override { FTag = tag; }

    // IIEDefinedType
    const std::string& GetName() const noexcept override { return FName; }
    TIETypes GetBaseTypes() const noexcept override { return FBaseTypes; }
    bool IsValid(const IIEValue* value) const override;
    std::string ValidationError(const IIEValue* value) const override;

    TRefPtr<IIEDefinedType> GetAncestor() const override { return FAncestor; }
    const std::string& GetComment() const noexcept override { return FComment; }
    const std::string& GetUnits() const noexcept override { return FUnits; }
    bool GetImplicit() const noexcept override { return FImplicit; }
    TValueConstraints GetConstraints() const noexcept override { return FConstraints; }
    const std::string& GetAllowedAtom(int32_t index) const override;
    int32_t AllowedAtomCount() const noexcept override { return FAtoms.Count(); }
    const std::string& GetAllowedString(int32_t index) const override;
    int32_t AllowedStringCount() const noexcept override { return FStrings.Count(); }
    int32_t GetAllowedInteger(int32_t index) const override;
    int32_t AllowedIntegerCount() const noexcept override {
        return static_cast<int32_t>(FIntegers.size());
    }
    double GetAllowedFloat(int32_t index) const override;
    int32_t AllowedFloatCount() const noexcept override {
        return static_cast<int32_t>(FFloats.size());
    }
    TRefPtr<IFuzzyVariable> GetFuzzyVariable() const override { return FFuzzyVariable; }
    int32_t GetMaxCardinality() const noexcept override { return FMaxCardinality; }
    int32_t GetMinCardinality() const noexcept override { return FMinCardinality; }
    double GetMaxRange() const noexcept override { return FMaxRange; }
    double GetMinRange() const noexcept override { return FMinRange; }
    IReasoner* GetOwner() const noexcept override { return FOwner; }
    bool GetCardinalityLimited() const noexcept override { return FCardinalityLimited; }
    bool GetRangeLimited() const noexcept override { return FRangeLimited; }
    const TChangeEvent& GetOnChange() const noexcept override { return FOnChange; }
    void SetOnChange(TChangeEvent handler) override { FOnChange = std::move(handler); }

    void SetAncestor(const TRefPtr<IIEDefinedType>& ancestor) override;
    void SetImplicit(bool value) override { FImplicit = value; }
    void SetUnits(std::string_view units) override;
    void SetBaseTypes(TIETypes types) override;
    void SetComment(std::string_view comment) override;
    void SetConstraints(TValueConstraints constraints) override;
    void SetFuzzyVariable(const TRefPtr<IFuzzyVariable>& variable) override;
    void SetMaxCardinality(int32_t value) override;
    void SetMinCardinality(int32_t value) override;
    void SetMaxRange(double value) override;
    void SetMinRange(double value) override;
    void SetName(std::string_view name) override;
    void SetOwner(IReasoner* owner) override;
    void SetCardinalityLimited(bool value) override;
    void SetRangeLimited(bool value) override;

    std::string GetText() const override;
    std::string ValueText(const IIEValue* value) const override;
    void BeginUpdate() override;
    void EndUpdate() override;
    void AddAllowedValue(const TRefPtr<IIEValue>& value) override;
    void ClearConstraints() override;
    void RemoveConstraints(TValueConstraints kinds) override;
    void RemoveAllowedValue(const IIEValue* value) override;
    void DeleteAllowedValue(int32_t index, TValueConstraint kind) override;
    TRefPtr<IIEValue> DefaultValue(bool isMultislot) const override;
    bool InAllowed(const IIEValue* value, TValueConstraint& kind) const override;

    // Fires OnChange with this type when a handler is set (whatever the update count).
    void Changed();

    // The allowed-value clauses of the type's text, each four blanks, the clause and CR LF;
    // empty when no kind is constrained.
    std::string ConstraintsText() const;
    // The lines of the type's description below its name, in the type editor's order.
    std::vector<TDefinedTypeLine> Description() const;

protected:
    // Called with True when the first BeginUpdate opens and with False when the last EndUpdate
    // closes; False fires OnChange.
    virtual void SetUpdateState(bool updating);
    // A new, default type of this class for Clone.
    virtual TRefPtr<TIEDefinedType> NewInstance() const { return Create(FOwner); }

private:
    // Atoms or strings: insertion order, looked up without regard to letter case.
    class TTextList {
    public:
        int32_t Count() const noexcept { return static_cast<int32_t>(FItems.size()); }
        const std::string& Item(int32_t index) const;
        bool Contains(std::string_view text) const;
        int32_t IndexOf(std::string_view text) const;
        void Add(std::string_view text);
        void Delete(int32_t index);
        void Clear() noexcept;
        const std::vector<std::string>& Items() const noexcept { return FItems; }

    private:
        std::vector<std::string> FItems;
        boost::unordered_flat_map<std::string, int32_t> FFolded; // folded text -> occurrences
    };

    // The constraint kind of an atom, string, integer or float (integers may fall to floats
    // and whole floats to integers when only the other kind is constrained); any other kind
    // raises "Defined Type %s cannot contain %s constraint types".
    TValueConstraint ConstraintKind(const IIEValue& value) const;
    bool ListHolds(const IIEValue& value, TValueConstraint kind) const;
    [[noreturn]] void RaiseNoConstraint(TValueConstraint kind) const;
    void CheckConstraint(TValueConstraint kind) const;
    void FreeList(TValueConstraint kind);
    TRefPtr<IIEValue> SingleDefault() const;
    // Empty when valid, otherwise the reason.
    std::string Reason(const IIEValue* value) const;
    void GiveParser(IFuzzyVariable* variable) const;

    TIETypes FBaseTypes;
    std::string FName;
    double FMaxRange = 2147483647.0;
    double FMinRange = -2147483648.0;
    int32_t FMaxCardinality = 2147483647;
    int32_t FMinCardinality = 0;
    TRefPtr<IFuzzyVariable> FFuzzyVariable;
    TValueConstraints FConstraints;
    intptr_t FTag = 0;
    TTextList FAtoms;
    std::vector<int32_t> FIntegers;
    TTextList FStrings;
    std::vector<double> FFloats;
    IReasoner* FOwner = nullptr;
    bool FRangeLimited = false;
    bool FCardinalityLimited = false;
    std::string FComment;
    std::string FUnits;
    bool FImplicit = false;
    TRefPtr<IIEDefinedType> FAncestor;
    TChangeEvent FOnChange;
    int32_t FUpdateCount = 0;
};

// The kinds a new defined type takes: every kind from dtAtom to dtExternalAddress but dtList.
TIETypes DefaultDefinedBaseTypes() noexcept;

// The rule-language text of a defined type ("(deftype ...)", or the "(type ...)" clause of an
// implicit type) as the engine's writer renders it.
std::string DefinedTypeText(const IIEDefinedType& type);

// The bound that an open ("?VARIABLE") end of a range stands for. A type that takes floats is
// open to the whole float range, so that a float beyond the 32-bit integers is in its range; any
// other type is open to the 32-bit integers.
double OpenRangeBound(TIETypes baseTypes, bool maximum) noexcept;
// Whether a range bound is open and written "?VARIABLE": the type's own open bound, or the
// widest float for any type.
bool IsOpenRangeBound(const IIEDefinedType& type, double bound, bool maximum) noexcept;

} // namespace ie
