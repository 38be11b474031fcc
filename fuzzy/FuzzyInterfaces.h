// The interfaces through which the engine, its reader and writer and the function packages share
// fuzzy sets and fuzzy variables: IFuzzySet (a reference-counted set of points), IFuzzyVariable
// (a universe of discourse with named terms) and IFuzzyParser (the text side of fuzzy values,
// implemented by the engine and never owned by a set or a variable).
#pragma once

#include "containers/CommonInterfaces.h"
#include "fuzzy/FuzzyConsts.h"
#include "platform/RefCounted.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace ie {

class IFuzzySet;
class IFuzzyVariable;

// One point of a fuzzy set's membership function.
struct TFuzzySetValue {
    TFzyFloat X = 0.0;
    TFzyFloat Y = 0.0;

    // Both coordinates the same within the library's epsilon.
    bool Equals(const TFuzzySetValue& other) const;
};

// Called at every x of the common walk of two sets with this set's grade y1 and the other's y2;
// returning True stops the walk.
using TFuzzyWalkFunc = std::function<bool(TFzyFloat x, TFzyFloat y1, TFzyFloat y2)>;
// Combines the grades of two sets at one x.
using TFuzzyCombinator = TFzyFloat (*)(TFzyFloat y1, TFzyFloat y2);

using TIFuzzyVariableEvent = std::function<void(IFuzzyVariable& variable)>;
using TIFuzzySetEvent = std::function<void(IFuzzyVariable& variable, IFuzzySet& set)>;

// The text side of fuzzy values, implemented by the engine. Sets and variables hold it as a
// plain pointer: the engine outlives every set and variable that it is given to.
class IFuzzyParser {
public:
    // Reads an expression over the variable into a set and returns the set's defuzzified value.
    virtual double DefuzzifyFuzzyText(IFuzzyVariable* variable, std::string_view text,
                                      TRefPtr<IFuzzySet>& set) = 0;
    virtual TRefPtr<IFuzzySet> ParseFuzzyText(IFuzzyVariable* variable, std::string_view text) = 0;
    // The readers of a term text and of a fuzzy variable text.
    virtual TRefPtr<IFuzzySet> ParseFuzzySet(IFuzzyVariable* variable, std::string_view text) = 0;
    virtual TRefPtr<IFuzzyVariable> ParseFuzzyVariable(std::string_view text) = 0;
    // The texts of a set and of a variable.
    virtual std::string FuzzySetText(const IFuzzySet& set, bool asTerm) = 0;
    virtual std::string FuzzyVariableText(const IFuzzyVariable& variable) = 0;

protected:
    ~IFuzzyParser() = default;
};

// A fuzzy set. Index arguments count points from 0; the points are kept in ascending x.
class IFuzzySet : public ICloneable {
public:
    virtual TFzyFloat GetDefuzzifiedMembership() const = 0;
    virtual TFzyFloat GetCurveParameter() const = 0;
    virtual const std::string& GetExpression() const = 0;
    virtual void SetExpression(std::string_view expression) = 0;
    virtual const std::string& GetName() const = 0;
    virtual void SetName(std::string_view name) = 0;
    virtual TFuzzySetType GetSetType() const = 0;
    virtual void SetSetType(TFuzzySetType type) = 0;
    virtual TFzyFloat GetX(int index) const = 0;
    virtual void SetX(int index, TFzyFloat x) = 0;
    virtual TFzyFloat GetY(int index) const = 0;
    virtual void SetY(int index, TFzyFloat y) = 0;
    virtual TFzyFloat GetXMax() const = 0;
    virtual TFzyFloat GetXMin() const = 0;
    virtual std::string AsString() const = 0;
    virtual std::string ValuesAsString() const = 0;
    // The variable whose universe the set lives in; none for a free set.
    virtual IFuzzyVariable* GetFuzzyVariable() const = 0;
    virtual IFuzzyParser* GetParser() const = 0;
    virtual int32_t GetTermOrder() const = 0;
    virtual void SetTermOrder(int32_t order) = 0;
    virtual bool GetRegistered() const = 0;
    // Marks the set as a registered term; the mark is never cleared.
    virtual void SetRegistered() = 0;
    virtual void SetParser(IFuzzyParser* parser) = 0;
    virtual void SetFuzzyVariable(IFuzzyVariable* variable) = 0;
    virtual int Count() const = 0;
    // The points in ascending x; valid until the set changes.
    virtual std::span<const TFuzzySetValue> Points() const = 0;
    virtual void AddValues(const IFuzzySet& other) = 0;
    virtual void AddValues(const IFuzzySet& other, int start, int count) = 0;
    virtual void AssignValues(const IFuzzySet& other) = 0;
    virtual int Add(TFzyFloat x, TFzyFloat y) = 0;
    virtual void BeginUpdate() = 0;
    virtual void Clear() = 0;
    virtual void Delete(int index) = 0;
    virtual void EndUpdate() = 0;
    virtual void Insert(int index, TFzyFloat x, TFzyFloat y) = 0;
    virtual void Resample(int count) = 0;
    virtual TFzyFloat MaxY() const = 0;
    virtual TFzyFloat MinY() const = 0;
    virtual int IndexOfX(int start, int direction, TFzyFloat x) const = 0;
    virtual int IndexOfY(int start, int direction, TFzyFloat y) const = 0;
    virtual TFzyFloat MatchDegree(const IFuzzySet& other) const = 0;
    // True at the first x where both grades reach the variable's threshold.
    virtual bool Match(const IFuzzySet& other) const = 0;
    virtual TRefPtr<IFuzzySet> Correlate(bool product, TFzyFloat strength) = 0;
    virtual TRefPtr<IFuzzySet> Aggregate(const IFuzzySet& other, TFuzzyInferenceMethod method,
                                         bool andFlag) const = 0;
    virtual void Triangle(TFzyFloat left, TFzyFloat centre, TFzyFloat right) = 0;
    virtual void SCurve(int count, bool growth, TFzyFloat a, TFzyFloat c, TFzyFloat b) = 0;
    virtual void PICurve(int count, TFzyFloat left, TFzyFloat right, TFzyFloat centre) = 0;
    virtual void PICurveAround(int count, TFzyFloat width, TFzyFloat centre) = 0;
    virtual void BetaCurve(int count, TFzyFloat width, TFzyFloat centre, TFzyFloat beta) = 0;
    virtual void BetaCurveWeighted(int count, TFzyFloat width, TFzyFloat centre, TFzyFloat beta,
                                   TFzyFloat k) = 0;
    virtual TFzyFloat GetMembership(TFzyFloat x) const = 0;
    // MatchDegree when the object is a fuzzy set, otherwise 0.
    virtual TFzyFloat MatchDegreeOf(const IInterface* other) const = 0;
    virtual TRefPtr<IFuzzySet> Hedge(int hedge) = 0;
    virtual TRefPtr<IFuzzySet> Arithmetic(int op, bool onY, TFzyFloat value) = 0;
    virtual TFzyFloat Defuzzify() = 0;
    virtual TFzyFloat MeanOfMaxima() = 0;
    virtual TFzyFloat CenterOfGravity() = 0;
    virtual bool IsUndecidable() const = 0;
    // True when both sets have the same points within the library's epsilon.
    virtual bool CompareWith(const IFuzzySet& other) const = 0;
    virtual TRefPtr<IFuzzySet> And(const IFuzzySet& other) const = 0;
    virtual TRefPtr<IFuzzySet> Intersection(const IFuzzySet& other, TFuzzyOperation op) const = 0;
    // The crossing point of the segments (x1,y1)-(x2,y2) and (x3,y3)-(x4,y4).
    virtual bool SegmentCrossing(TFzyFloat x1, TFzyFloat y1, TFzyFloat x2, TFzyFloat y2,
                                 TFzyFloat x3, TFzyFloat y3, TFzyFloat x4, TFzyFloat y4,
                                 TFzyFloat& x, TFzyFloat& y) const = 0;
    virtual TRefPtr<IFuzzySet> Or(const IFuzzySet& other) const = 0;
    virtual TRefPtr<IFuzzySet> Union(const IFuzzySet& other, TFuzzyOperation op) const = 0;
    virtual TRefPtr<IFuzzySet> Normalize() = 0;
    virtual bool WalkWith(const IFuzzySet& other, const TFuzzyWalkFunc& callback) const = 0;
    virtual TRefPtr<IFuzzySet> Combine(const IFuzzySet& other, std::string_view word,
                                       TFuzzyCombinator combinator) const = 0;
    virtual TRefPtr<IFuzzySet> AlphaCut(bool strict, TFzyFloat alpha) const = 0;
    virtual TRefPtr<IFuzzySet> CrispAndOr(bool isOr, TFzyFloat level) const = 0;
    virtual TRefPtr<IFuzzySet> CloneFor(IFuzzyVariable* variable) const = 0;
    virtual const std::string& GetComment() const = 0;
    virtual void SetComment(std::string_view comment) = 0;
};

// A linguistic variable: a universe of discourse with units and its named terms.
class IFuzzyVariable : public ICloneable {
public:
    virtual TDefuzzificationMethod GetDefuzzificationMethod() const = 0;
    virtual TFzyFloat GetMaximum() const = 0;
    virtual TFzyFloat GetMinimum() const = 0;
    virtual const std::string& GetName() const = 0;
    virtual std::string AsString() const = 0;
    virtual const std::string& GetUnits() const = 0;
    virtual int32_t GetNumFunctionValues() const = 0;
    virtual const TIFuzzyVariableEvent& GetOnChange() const = 0;
    virtual const TIFuzzyVariableEvent& GetOnVariableChange() const = 0;
    virtual const TIFuzzySetEvent& GetOnFuzzySetChange() const = 0;
    virtual IFuzzyParser* GetParser() const = 0;
    virtual TFzyFloat GetThreshold() const = 0;
    virtual const std::string& GetComment() const = 0;
    virtual const TIFuzzySetEvent& GetOnFuzzySetAdded() const = 0;
    virtual const TIFuzzySetEvent& GetOnFuzzySetDeleted() const = 0;

    virtual void SetOnFuzzySetAdded(TIFuzzySetEvent handler) = 0;
    virtual void SetOnFuzzySetDeleted(TIFuzzySetEvent handler) = 0;
    virtual void SetComment(std::string_view comment) = 0;
    virtual void SetParser(IFuzzyParser* parser) = 0;
    virtual void SetDefuzzificationMethod(TDefuzzificationMethod method) = 0;
    virtual void SetMaximum(TFzyFloat value) = 0;
    virtual void SetMinimum(TFzyFloat value) = 0;
    virtual void SetName(std::string_view name) = 0;
    virtual void SetUnits(std::string_view units) = 0;
    virtual void SetNumFunctionValues(int32_t count) = 0;
    virtual void SetOnChange(TIFuzzyVariableEvent handler) = 0;
    virtual void SetOnVariableChange(TIFuzzyVariableEvent handler) = 0;
    virtual void SetOnFuzzySetChange(TIFuzzySetEvent handler) = 0;
    virtual void SetThreshold(TFzyFloat value) = 0;

    // One step of fuzzy inference: nil when A matches X below the threshold, otherwise C united
    // with B clipped at the match degree.
    virtual TRefPtr<IFuzzySet> Infer(const IFuzzySet& a, const IFuzzySet& b, const IFuzzySet& x,
                                     const IFuzzySet* c) = 0;

    // The terms, in the order they were added.
    virtual int Count() const = 0;
    virtual TRefPtr<IFuzzySet> GetSet(int index) const = 0;
    virtual TRefPtr<IFuzzySet> GetSet(std::string_view name) const = 0;
    virtual void AddSet(const TRefPtr<IFuzzySet>& set) = 0;
    virtual TRefPtr<IFuzzySet> CreateSet(std::string_view name) = 0;
    // Replaces the terms by copies of the other variable's terms.
    virtual void CopySets(const IFuzzyVariable& other) = 0;
    virtual void BeginUpdate() = 0;
    virtual void Clear() = 0;
    virtual bool Find(std::string_view name, TRefPtr<IFuzzySet>& set) const = 0;
    virtual void RemoveSet(const IFuzzySet* set) = 0;
    virtual void EndUpdate() = 0;
    // Told by a term whose points changed.
    virtual void SetChanged(IFuzzySet* set) = 0;
};

} // namespace ie
