// The reference-counted fuzzy set (TIFuzzySet), the terms table of a variable (TIFuzzySets) and
// the fuzzy variable (TIFuzzyVariable).
//
// Ownership: a variable owns its terms (counted references in its terms table). A term refers
// back to its variable through a plain pointer, so a variable and its terms never keep each
// other alive: releasing the last outside reference to a variable frees it, and its terms with
// it, exactly once. A set that is not a term of its variable (a clone, a crisp set, a derived
// set) holds a counted reference to the variable, which therefore lives as long as such sets
// do. A term that outlives its variable (held elsewhere when the variable goes) is left without
// a variable and falls back to the free universe.
#pragma once

#include "fuzzy/FuzzyInterfaces.h"
#include "fuzzy/FuzzyLogic.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ie {

class TIFuzzyVariable;

class TIFuzzySet : public TFuzzySet, public IFuzzySet {
public:
    // A set named `name` (raises EFzyException for a reserved word) in the universe of
    // `variable` (none for a free set).
    TIFuzzySet(IFuzzyVariable* variable, std::string_view name);
    ~TIFuzzySet() override;

    // The virtual constructor: a new empty set of this class.
    virtual TRefPtr<TIFuzzySet> CreateSet(IFuzzyVariable* variable, std::string_view name) const;
    TRefPtr<TFuzzySet> CreateLike() const override;
    TFzyFloat GetXRange(int index) const override;
    bool HasUniverse() const override { return FVariable != nullptr; }
    bool MatchThreshold(TFzyFloat& threshold) const override;
    // Copies the variable and the parser as well when the source is a TIFuzzySet.
    void Assign(const TFuzzySet& source) override;

    // ICloneable
    void AssignFrom(const IInterface* source) override;
    TRefPtr<ICloneable> Clone() const override;
    bool Equals(const IInterface* other) const override;
    intptr_t GetTag() const override { return FTag; }
    void SetTag(intptr_t tag) override { FTag = tag; }

    // IFuzzySet
    TFzyFloat GetDefuzzifiedMembership() const override { return DefuzzifiedMembership(); }
    TFzyFloat GetCurveParameter() const override { return CurveParameter(); }
    const std::string& GetExpression() const override { return Expression(); }
    void SetExpression(std::string_view expression) override { SetExpressionText(expression); }
    const std::string& GetName() const override { return Name(); }
    void SetName(std::string_view name) override { TFuzzySet::SetName(name); }
    TFuzzySetType GetSetType() const override { return SetType(); }
    void SetSetType(TFuzzySetType type) override { TFuzzySet::SetSetType(type); }
    TFzyFloat GetX(int index) const override { return Point(index).X; }
    void SetX(int index, TFzyFloat x) override { TFuzzySet::SetX(index, x); }
    TFzyFloat GetY(int index) const override { return Point(index).Y; }
    void SetY(int index, TFzyFloat y) override { TFuzzySet::SetY(index, y); }
    TFzyFloat GetXMax() const override;
    TFzyFloat GetXMin() const override;
    std::string AsString() const override;
    std::string ValuesAsString() const override;
    IFuzzyVariable* GetFuzzyVariable() const override { return FVariable; }
    IFuzzyParser* GetParser() const override { return FParser; }
    int32_t GetTermOrder() const override { return FTermOrder; }
    void SetTermOrder(int32_t order) override { FTermOrder = order; }
    bool GetRegistered() const override { return Registered(); }
    void SetRegistered() override { SetRegisteredFlag(true); }
    void SetParser(IFuzzyParser* parser) override { FParser = parser; }
    void SetFuzzyVariable(IFuzzyVariable* variable) override;
    int Count() const override { return TFuzzySet::Count(); }
    std::span<const TFuzzySetValue> Points() const override { return TFuzzySet::Points(); }
    void AddValues(const IFuzzySet& other) override;
    void AddValues(const IFuzzySet& other, int start, int count) override;
    void AssignValues(const IFuzzySet& other) override;
    int Add(TFzyFloat x, TFzyFloat y) override { return TFuzzySet::Add(x, y); }
    void BeginUpdate() override { TFuzzySet::BeginUpdate(); }
    void Clear() override { TFuzzySet::Clear(); }
    void Delete(int index) override { TFuzzySet::Delete(index); }
    void EndUpdate() override { TFuzzySet::EndUpdate(); }
    void Insert(int index, TFzyFloat x, TFzyFloat y) override { TFuzzySet::Insert(index, x, y); }
    void Resample(int count) override { TFuzzySet::Resample(count); }
    TFzyFloat MaxY() const override { return TFuzzySet::MaxY(); }
    TFzyFloat MinY() const override { return TFuzzySet::MinY(); }
    int IndexOfX(int start, int direction, TFzyFloat x) const override {
        return TFuzzySet::IndexOfX(start, direction, x);
    }
    int IndexOfY(int start, int direction, TFzyFloat y) const override {
        return TFuzzySet::IndexOfY(start, direction, y);
    }
    TFzyFloat MatchDegree(const IFuzzySet& other) const override;
    bool Match(const IFuzzySet& other) const override;
    TRefPtr<IFuzzySet> Correlate(bool product, TFzyFloat strength) override;
    TRefPtr<IFuzzySet> Aggregate(const IFuzzySet& other, TFuzzyInferenceMethod method,
                                 bool andFlag) const override;
    void Triangle(TFzyFloat left, TFzyFloat centre, TFzyFloat right) override {
        TFuzzySet::Triangle(left, centre, right);
    }
    void SCurve(int count, bool growth, TFzyFloat a, TFzyFloat c, TFzyFloat b) override {
        TFuzzySet::SCurve(count, growth, a, c, b);
    }
    void PICurve(int count, TFzyFloat left, TFzyFloat right, TFzyFloat centre) override {
        TFuzzySet::PICurve(count, left, right, centre);
    }
    void PICurveAround(int count, TFzyFloat width, TFzyFloat centre) override {
        TFuzzySet::PICurveAround(count, width, centre);
    }
    void BetaCurve(int count, TFzyFloat width, TFzyFloat centre, TFzyFloat beta) override {
        TFuzzySet::BetaCurve(count, width, centre, beta);
    }
    void BetaCurveWeighted(int count, TFzyFloat width, TFzyFloat centre, TFzyFloat beta,
                           TFzyFloat k) override {
        TFuzzySet::BetaCurveWeighted(count, width, centre, beta, k);
    }
    TFzyFloat GetMembership(TFzyFloat x) const override { return TFuzzySet::GetMembership(x); }
    TFzyFloat MatchDegreeOf(const IInterface* other) const override;
    TRefPtr<IFuzzySet> Hedge(int hedge) override;
    TRefPtr<IFuzzySet> Arithmetic(int op, bool onY, TFzyFloat value) override;
    TFzyFloat Defuzzify() override { return TFuzzySet::Defuzzify(); }
    TFzyFloat MeanOfMaxima() override { return TFuzzySet::MeanOfMaxima(); }
    TFzyFloat CenterOfGravity() override { return TFuzzySet::CenterOfGravity(); }
    bool IsUndecidable() const override { return DefuzzifiedMembership() == 0; }
    bool CompareWith(const IFuzzySet& other) const override;
    TRefPtr<IFuzzySet> And(const IFuzzySet& other) const override;
    TRefPtr<IFuzzySet> Intersection(const IFuzzySet& other, TFuzzyOperation op) const override;
    bool SegmentCrossing(TFzyFloat x1, TFzyFloat y1, TFzyFloat x2, TFzyFloat y2, TFzyFloat x3,
                         TFzyFloat y3, TFzyFloat x4, TFzyFloat y4, TFzyFloat& x,
                         TFzyFloat& y) const override {
        return TFuzzySet::SegmentCrossing(x1, y1, x2, y2, x3, y3, x4, y4, x, y);
    }
    TRefPtr<IFuzzySet> Or(const IFuzzySet& other) const override;
    TRefPtr<IFuzzySet> Union(const IFuzzySet& other, TFuzzyOperation op) const override;
    TRefPtr<IFuzzySet> Normalize() override;
    bool WalkWith(const IFuzzySet& other, const TFuzzyWalkFunc& callback) const override;
    TRefPtr<IFuzzySet> Combine(const IFuzzySet& other, std::string_view word,
                               TFuzzyCombinator combinator) const override;
    TRefPtr<IFuzzySet> AlphaCut(bool strict, TFzyFloat alpha) const override;
    TRefPtr<IFuzzySet> CrispAndOr(bool isOr, TFzyFloat level) const override;
    TRefPtr<IFuzzySet> CloneFor(IFuzzyVariable* variable) const override;
    const std::string& GetComment() const override { return Comment(); }
    void SetComment(std::string_view comment) override { SetCommentText(comment); }

protected:
    void PointChanged() override;
    void PointsChanged() override;

    // Another set as a TFuzzySet: itself when it is one, else a copy kept in `holder`.
    static const TFuzzySet& AsFuzzySet(const IFuzzySet& set, TRefPtr<TFuzzySet>& holder);
    static TRefPtr<IFuzzySet> AsInterface(TRefPtr<TFuzzySet> set);

private:
    friend class TIFuzzySets;

    // The terms table of `variable` took the set: the back reference stops counting.
    void BecomeTermOf(IFuzzyVariable* variable);
    // The terms table let the set go while the variable lives on: the reference counts again.
    void LeaveTerms();
    // The variable is being destroyed: the set has no variable any more.
    void LoseVariable();

    IFuzzyVariable* FVariable = nullptr;
    // Held only while the set is not one of its variable's terms.
    TRefPtr<IFuzzyVariable> FVariableRef;
    IFuzzyParser* FParser = nullptr;
    intptr_t FTag = 0;
    int32_t FTermOrder = 0;
};

// The terms of one variable by name, in the order they were added.
class TIFuzzySets {
public:
    explicit TIFuzzySets(TIFuzzyVariable& owner) : FOwner(owner) {}
    ~TIFuzzySets();
    TIFuzzySets(const TIFuzzySets&) = delete;
    TIFuzzySets& operator=(const TIFuzzySets&) = delete;

    int Count() const { return int(FOrder.size()); }
    const TRefPtr<IFuzzySet>& Get(int index) const;
    IFuzzySet* Find(std::string_view name) const;
    // Stores the set under its name, replacing a term of that name, with the next term number.
    void Add(const TRefPtr<IFuzzySet>& set);
    // A new set of the variable's set class, registered unless named "__Empty", added.
    TRefPtr<IFuzzySet> Create(std::string_view name);
    // Removes the set when the table holds that very set under its name.
    bool Remove(const IFuzzySet* set);
    void Clear();
    // Replaces the terms by copies of `source`'s terms attached to the owning variable.
    void Assign(const TIFuzzySets& source);
    void CopyFrom(const IFuzzyVariable& source);

private:
    friend class TIFuzzyVariable;
    struct TNameHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
    };
    void Release(IFuzzySet* set);
    void Detach(bool destroying);
    // Replaces the terms by copies, attached to the owning variable, of the `count` sets that
    // getSet(i) gives.
    template <class GetSet> void ReplaceWithCopies(int count, GetSet&& getSet);

    TIFuzzyVariable& FOwner;
    std::unordered_map<std::string, TRefPtr<IFuzzySet>, TNameHash, std::equal_to<>> FByName;
    std::vector<TRefPtr<IFuzzySet>> FOrder;
    int32_t FNextTermOrder = 0;
};

class TIFuzzyVariable : public IFuzzyVariable {
public:
    explicit TIFuzzyVariable(std::string_view name);
    ~TIFuzzyVariable() override;
    TIFuzzyVariable(const TIFuzzyVariable&) = delete;
    TIFuzzyVariable& operator=(const TIFuzzyVariable&) = delete;

    // The virtual constructors: a variable of this class, and a set of the class of its terms.
    virtual TRefPtr<TIFuzzyVariable> CreateVariable(std::string_view name) const;
    virtual TRefPtr<TIFuzzySet> CreateTerm(std::string_view name);

    TIFuzzySets& Items() { return FItems; }
    const TIFuzzySets& Items() const { return FItems; }
    // Copies the properties and copies of the terms.
    void Assign(const TIFuzzyVariable& source);

    // ICloneable
    void AssignFrom(const IInterface* source) override;
    TRefPtr<ICloneable> Clone() const override;
    bool Equals(const IInterface* other) const override;
    intptr_t GetTag() const override { return FTag; }
    void SetTag(intptr_t tag) override { FTag = tag; }

    // IFuzzyVariable
    TDefuzzificationMethod GetDefuzzificationMethod() const override { return FMethod; }
    TFzyFloat GetMaximum() const override { return FMaximum; }
    TFzyFloat GetMinimum() const override { return FMinimum; }
    const std::string& GetName() const override { return FName; }
    std::string AsString() const override;
    const std::string& GetUnits() const override { return FUnits; }
    int32_t GetNumFunctionValues() const override { return FNumFunctionValues; }
    const TIFuzzyVariableEvent& GetOnChange() const override { return FOnChange; }
    const TIFuzzyVariableEvent& GetOnVariableChange() const override { return FOnVariableChange; }
    const TIFuzzySetEvent& GetOnFuzzySetChange() const override { return FOnFuzzySetChange; }
    IFuzzyParser* GetParser() const override { return FParser; }
    TFzyFloat GetThreshold() const override { return FThreshold; }
    const std::string& GetComment() const override { return FComment; }
    const TIFuzzySetEvent& GetOnFuzzySetAdded() const override { return FOnFuzzySetAdded; }
    const TIFuzzySetEvent& GetOnFuzzySetDeleted() const override { return FOnFuzzySetDeleted; }

    void SetOnFuzzySetAdded(TIFuzzySetEvent handler) override;
    void SetOnFuzzySetDeleted(TIFuzzySetEvent handler) override;
    void SetComment(std::string_view comment) override { FComment = comment; }
    void SetParser(IFuzzyParser* parser) override;
    void SetDefuzzificationMethod(TDefuzzificationMethod method) override { FMethod = method; }
    void SetMaximum(TFzyFloat value) override;
    void SetMinimum(TFzyFloat value) override;
    void SetName(std::string_view name) override;
    void SetUnits(std::string_view units) override { FUnits = units; }
    void SetNumFunctionValues(int32_t count) override;
    void SetOnChange(TIFuzzyVariableEvent handler) override;
    void SetOnVariableChange(TIFuzzyVariableEvent handler) override;
    void SetOnFuzzySetChange(TIFuzzySetEvent handler) override;
    void SetThreshold(TFzyFloat value) override;

    TRefPtr<IFuzzySet> Infer(const IFuzzySet& a, const IFuzzySet& b, const IFuzzySet& x,
                             const IFuzzySet* c) override;

    int Count() const override { return FItems.Count(); }
    TRefPtr<IFuzzySet> GetSet(int index) const override { return FItems.Get(index); }
    TRefPtr<IFuzzySet> GetSet(std::string_view name) const override;
    void AddSet(const TRefPtr<IFuzzySet>& set) override;
    TRefPtr<IFuzzySet> CreateSet(std::string_view name) override;
    void CopySets(const IFuzzyVariable& other) override;
    void BeginUpdate() override { ++FUpdateCount; }
    void Clear() override;
    bool Find(std::string_view name, TRefPtr<IFuzzySet>& set) const override;
    void RemoveSet(const IFuzzySet* set) override;
    void EndUpdate() override;
    void SetChanged(IFuzzySet* set) override;

protected:
    // Reports a change: OnChange, then OnVariableChange (held back while an update is open).
    void Changed();

private:
    friend class TIFuzzySets;
    void SetAdded(IFuzzySet& set);
    void SetDeleted(IFuzzySet& set);

    TIFuzzySets FItems{*this};
    int32_t FNumFunctionValues = FuzzyDefaultFunctionValues;
    std::string FUnits;
    std::string FName;
    TDefuzzificationMethod FMethod = dmCenterOfGravity;
    TFzyFloat FMinimum = 0.0;
    TFzyFloat FMaximum = 1.0;
    TIFuzzyVariableEvent FOnChange;
    TIFuzzyVariableEvent FOnVariableChange;
    TIFuzzySetEvent FOnFuzzySetChange;
    TIFuzzySetEvent FOnFuzzySetAdded;
    TIFuzzySetEvent FOnFuzzySetDeleted;
    intptr_t FTag = 0;
    IFuzzyParser* FParser = nullptr;
    TFzyFloat FThreshold = 0.0;
    std::string FComment;
    int FUpdateCount = 0;
    bool FChangePending = false;
    bool FDestroying = false;
};

} // namespace ie
