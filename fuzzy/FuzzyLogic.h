// A fuzzy set: a piecewise-linear membership function kept as one array of points (x, y) in
// ascending x, joined by straight segments; left of the first point and right of the last the
// grade stays that point's grade.
//
// Invariants outside an update (BeginUpdate/EndUpdate): the points are sorted by x; no two
// neighbours are equal within the library's epsilon (1e-4) in both coordinates; a run of points
// at one x (a vertical step) holds only a few points; every x lies within the set's universe
// (GetXRange) and every grade is finite and not below 0 (grades above 1 are legal). Inside an
// update points are stored as given and put in order when the outermost update closes.
// Every edit of the points makes the set user-defined and empties its expression; the shape
// generators set their type after their edits.
#pragma once

#include "fuzzy/FuzzyConsts.h"
#include "fuzzy/FuzzyInterfaces.h"
#include "platform/RefCounted.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ie {

// The epsilon within which two fuzzy coordinates are the same.
inline constexpr TFzyFloat FuzzyEpsilon = 1e-4;
// The universe of a set that no variable limits.
inline constexpr TFzyFloat FuzzyDefaultMaximum = 2147483647.0;
inline constexpr TFzyFloat FuzzyDefaultMinimum = -2147483647.0;
// The sample count of shapes without an owner, and of every hedge.
inline constexpr int FuzzyDefaultFunctionValues = 7;

inline bool SameFuzzyValue(TFzyFloat a, TFzyFloat b) {
    return a - FuzzyEpsilon <= b && a + FuzzyEpsilon >= b;
}

// Raises EFzyException unless the value is a finite number.
void CheckFuzzyFloat(TFzyFloat value);

// Combinators of intersection (and) and union (or) by operation.
TFuzzyCombinator FuzzyAndCombinator(TFuzzyOperation op);
TFuzzyCombinator FuzzyOrCombinator(TFuzzyOperation op);

class TFuzzySet : public virtual TRefCounted {
public:
    TFuzzySet() = default;
    TFuzzySet(const TFuzzySet&) = delete;
    TFuzzySet& operator=(const TFuzzySet&) = delete;
    ~TFuzzySet() override = default;

    // --- Fields ---
    TFuzzySetType SetType() const { return FSetType; }
    // Stores the type; any type but fstUserDefined replaces the points by its default shape over
    // the universe.
    virtual void SetSetType(TFuzzySetType type);
    const std::string& Name() const { return FName; }
    // Raises EFzyException for a reserved word; the set is then unchanged.
    virtual void SetName(std::string_view name);
    // The Name, or the class's own text when the name is empty.
    std::string GetDisplayName() const;
    TFzyFloat CurveParameter() const { return FCurveParameter; }
    const std::string& Expression() const { return FExpression; }
    void SetExpressionText(std::string_view expression) { FExpression = expression; }
    TFzyFloat DefuzzifiedMembership() const { return FDefuzzifiedMembership; }
    const std::string& Comment() const { return FComment; }
    void SetCommentText(std::string_view comment) { FComment = comment; }
    bool Registered() const { return FRegistered; }
    void SetRegisteredFlag(bool value) { FRegistered = value; }
    int32_t Tag() const { return FTag; }
    void SetTagValue(int32_t tag) { FTag = tag; }

    // --- Owner context ---
    // 0: the universe maximum, 1: the minimum; any other index raises EFzyException.
    virtual TFzyFloat GetXRange(int index) const;
    // Whether the owner context gives the set a universe that its points are held to. A free
    // set's points stay as given, however large: the default range above only places the
    // default shapes.
    virtual bool HasUniverse() const { return false; }
    virtual int NumFunctionValues() const { return FuzzyDefaultFunctionValues; }
    virtual TDefuzzificationMethod DefuzzificationMethod() const { return dmCenterOfGravity; }
    // The match threshold; False when the set has none (Match then reports False).
    virtual bool MatchThreshold(TFzyFloat& threshold) const;
    // A new empty set of this set's class and owner context (the virtual constructor).
    virtual TRefPtr<TFuzzySet> CreateLike() const;

    // --- Points ---
    int Count() const { return int(FPoints.size()); }
    std::span<const TFuzzySetValue> Points() const { return FPoints; }
    const TFuzzySetValue& Point(int index) const;
    // Appends a point and puts it in its place; returns the index where it ended.
    int Add(TFzyFloat x, TFzyFloat y);
    void Insert(int index, TFzyFloat x, TFzyFloat y);
    void SetX(int index, TFzyFloat x);
    void SetY(int index, TFzyFloat y);
    void SetXY(int index, TFzyFloat x, TFzyFloat y);
    void Delete(int index);
    void Clear();
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    // Appends copies of `count` points of `source` from `start` (both cut to the source).
    void AddValues(std::span<const TFuzzySetValue> source, int start, int count);
    void AssignValues(std::span<const TFuzzySetValue> source);
    // Adds points on the existing segments until the set holds `count` points.
    void Resample(int count);
    TFzyFloat MaxY() const;
    TFzyFloat MinY() const;
    int IndexOfX(int start, int direction, TFzyFloat x) const;
    int IndexOfY(int start, int direction, TFzyFloat y) const;
    TFzyFloat GetMembership(TFzyFloat x) const;

    // --- Shapes (each replaces the points) ---
    void Triangle(TFzyFloat left, TFzyFloat centre, TFzyFloat right);
    void SCurve(int count, bool growth, TFzyFloat a, TFzyFloat c, TFzyFloat b);
    void PICurve(int count, TFzyFloat left, TFzyFloat right, TFzyFloat centre);
    void PICurveAround(int count, TFzyFloat width, TFzyFloat centre);
    void BetaCurve(int count, TFzyFloat width, TFzyFloat centre, TFzyFloat beta);
    void BetaCurveWeighted(int count, TFzyFloat width, TFzyFloat centre, TFzyFloat beta,
                           TFzyFloat k);

    // Copies name, points, type, curve parameter and expression.
    virtual void Assign(const TFuzzySet& source);
    TRefPtr<TFuzzySet> Clone() const;

    // --- Operations ---
    TFuzzySet& ApplyHedge(int hedge);
    TFuzzySet& ApplyArithmetic(int op, bool onY, TFzyFloat value);
    TRefPtr<TFuzzySet> Intersection(const TFuzzySet& other, TFuzzyOperation op) const;
    TRefPtr<TFuzzySet> Union(const TFuzzySet& other, TFuzzyOperation op) const;
    // The common walk of both sets combined by `combinator`, named with the operation word.
    TRefPtr<TFuzzySet> Combine(const TFuzzySet& other, std::string_view word,
                               TFuzzyCombinator combinator) const;
    TRefPtr<TFuzzySet> CrispAndOr(bool isOr, TFzyFloat level) const;
    TRefPtr<TFuzzySet> AlphaCut(bool strict, TFzyFloat alpha) const;
    TFuzzySet& Normalize();
    bool Match(const TFuzzySet& other) const;
    TFzyFloat MatchDegree(const TFuzzySet& other) const;
    TFuzzySet& Correlate(bool product, TFzyFloat strength);
    TRefPtr<TFuzzySet> Aggregate(const TFuzzySet& other, TFuzzyInferenceMethod method,
                                 bool andFlag) const;
    TFzyFloat Defuzzify();
    TFzyFloat CenterOfGravity();
    TFzyFloat MeanOfMaxima();
    // Calls `visit` (x, y1, y2) at every point x of either set and at every crossing of their
    // segments, in ascending x; returns True when `visit` stopped the walk.
    bool WalkWith(const TFuzzySet& other, const TFuzzyWalkFunc& visit) const;
    bool SamePoints(const TFuzzySet& other) const;

    // The crossing of the segments (x1,y1)-(x2,y2) and (x3,y3)-(x4,y4); False for segments that
    // do not cross, are parallel or overlap.
    static bool SegmentCrossing(TFzyFloat x1, TFzyFloat y1, TFzyFloat x2, TFzyFloat y2,
                                TFzyFloat x3, TFzyFloat y3, TFzyFloat x4, TFzyFloat y4,
                                TFzyFloat& x, TFzyFloat& y);

protected:
    // A point or the whole list changed: the set becomes user-defined.
    virtual void PointChanged();
    virtual void PointsChanged();
    // Any change of the set.
    virtual void Changed() {}

    // Replaces all points (clamped, sorted and reduced) as one update.
    void ReplacePoints(std::vector<TFuzzySetValue> points);
    void StoreSetType(TFuzzySetType type) { FSetType = type; }
    void StoreCurveParameter(TFzyFloat value) { FCurveParameter = value; }
    void StoreName(std::string_view name) { FName = name; }

private:
    TFzyFloat ClampX(TFzyFloat x) const;
    void StorePoint(int index, TFzyFloat x, TFzyFloat y);
    // Puts the point at `index` in its place after an edit outside an update.
    void PlaceEditedPoint(int index, bool xChanged);
    void Tidy();
    void CheckIndex(int index) const;
    void ApplyGradePower(TFzyFloat power);
    void ApplyAboveBelow(bool above);
    void ApplyWidening(TFzyFloat power);
    void ApplyIntensify(TFzyFloat power);
    void ApplySlightly();
    static std::vector<TFuzzySetValue> SCurvePoints(int count, bool growth, TFzyFloat a,
                                                    TFzyFloat c);

    std::vector<TFuzzySetValue> FPoints;
    std::string FName;
    std::string FExpression;
    std::string FComment;
    TFzyFloat FCurveParameter = 0.0;
    TFzyFloat FDefuzzifiedMembership = 0.0;
    int32_t FTag = 0;
    int FUpdateCount = 0;
    TFuzzySetType FSetType = fstUserDefined;
    bool FRegistered = false;
};

} // namespace ie
