// The fuzzy set's point edits, shapes, hedges, arithmetic, combinations and defuzzification.
// Two sets are combined by one common walk over both point lists (every point of either and every
// crossing between them), so a result is exact for piecewise-linear sets; combined points are
// tidied without changing the membership function, and a bulk edit runs inside an update that
// is closed, putting the points back in order, even when an exception ends it.
#include "fuzzy/FuzzyLogic.h"

#include "platform/Format.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

namespace ie {

bool TFuzzySetValue::Equals(const TFuzzySetValue& other) const {
    return SameFuzzyValue(X, other.X) && SameFuzzyValue(Y, other.Y);
}

void CheckFuzzyFloat(TFzyFloat value) {
    if (std::isnan(value)) throw EFzyException(std::string(SFuzzyInvalidFloat));
    if (std::isinf(value)) throw EFzyException(std::string(SFuzzyOverflow));
}

namespace {

using TPoints = std::vector<TFuzzySetValue>;
using TPointSpan = std::span<const TFuzzySetValue>;

TFzyFloat AndZadeh(TFzyFloat a, TFzyFloat b) {
    return std::min(a, b);
}
TFzyFloat AndMean(TFzyFloat a, TFzyFloat b) {
    return (a + b) / 2;
}
TFzyFloat MeanSqr(TFzyFloat a, TFzyFloat b) {
    TFzyFloat m = (a + b) / 2;
    return m * m;
}
TFzyFloat MeanSqrt(TFzyFloat a, TFzyFloat b) {
    return std::sqrt((a + b) / 2);
}
TFzyFloat AndProduct(TFzyFloat a, TFzyFloat b) {
    return a * b;
}
TFzyFloat AndBoundedSum(TFzyFloat a, TFzyFloat b) {
    return std::max(0.0, a + b - 1);
}
TFzyFloat OrZadeh(TFzyFloat a, TFzyFloat b) {
    return std::max(a, b);
}
TFzyFloat OrMean(TFzyFloat a, TFzyFloat b) {
    return (2 * std::min(a, b) + 4 * std::max(a, b)) / 6;
}
TFzyFloat OrProduct(TFzyFloat a, TFzyFloat b) {
    return a + b - a * b;
}
TFzyFloat OrBoundedSum(TFzyFloat a, TFzyFloat b) {
    return std::min(1.0, a + b);
}
TFzyFloat OrSum(TFzyFloat a, TFzyFloat b) {
    return a + b;
}

[[noreturn]] void RaiseInvalidOperation(TFuzzyOperation op) {
    throw EFzyException(Format(SFuzzyInvalidOperation, FuzzyOperationEnumName(op)));
}

TFzyFloat Lerp(const TFuzzySetValue& p1, const TFuzzySetValue& p2, TFzyFloat x) {
    if (p2.X == p1.X) return p2.Y;
    return (x - p1.X) / (p2.X - p1.X) * (p2.Y - p1.Y) + p1.Y;
}

// The grades of one set at one x of the common walk: the run of its points at that x, or the
// one grade its segments give there.
struct TGradeRun {
    const TFuzzySetValue* Run = nullptr;
    size_t Length = 0;
    TFzyFloat Single = 0.0;

    size_t Size() const { return Length ? Length : 1; }
    TFzyFloat At(size_t k) const { return Length ? Run[std::min(k, Length - 1)].Y : Single; }
    TFzyFloat First() const { return At(0); }
    TFzyFloat Last() const { return Length ? Run[Length - 1].Y : Single; }
};

TGradeRun GradesAt(TPointSpan p, size_t begin, size_t end, TFzyFloat x) {
    TGradeRun run;
    if (end > begin) {
        run.Run = &p[begin];
        run.Length = end - begin;
    } else if (begin == 0) {
        run.Single = p.front().Y;
    } else if (begin >= p.size()) {
        run.Single = p.back().Y;
    } else {
        run.Single = Lerp(p[begin - 1], p[begin], x);
    }
    return run;
}

// The common walk of two point lists: every x of a point of either list (points within the
// epsilon share one x), each point of a vertical step in turn, and every x strictly between two
// of those where the grades of the two lists cross. Between neighbouring x both lists are
// straight lines, so a crossing is a change of the sign of their difference; parallel or
// overlapping segments never give one. O(n + m).
template <class F> bool WalkPointLists(TPointSpan a, TPointSpan b, F&& visit) {
    if (a.empty() || b.empty()) {
        for (const auto& p : a.empty() ? b : a)
            if (visit(p.X, p.Y, p.Y)) return true;
        return false;
    }
    constexpr TFzyFloat none = std::numeric_limits<TFzyFloat>::infinity();
    size_t ia = 0, ib = 0;
    bool havePrevious = false;
    TFzyFloat prevX = 0, prevA = 0, prevB = 0;
    while (ia < a.size() || ib < b.size()) {
        TFzyFloat x = std::min(ia < a.size() ? a[ia].X : none, ib < b.size() ? b[ib].X : none);
        size_t ja = ia, jb = ib;
        while (ja < a.size() && a[ja].X <= x + FuzzyEpsilon)
            ++ja;
        while (jb < b.size() && b[jb].X <= x + FuzzyEpsilon)
            ++jb;
        TGradeRun ga = GradesAt(a, ia, ja, x);
        TGradeRun gb = GradesAt(b, ib, jb, x);
        if (havePrevious) {
            TFzyFloat d0 = prevA - prevB, d1 = ga.First() - gb.First();
            if ((d0 < 0 && d1 > 0) || (d0 > 0 && d1 < 0)) {
                TFzyFloat t = d0 / (d0 - d1);
                TFzyFloat cx = prevX + (x - prevX) * t;
                if (visit(cx, prevA + (ga.First() - prevA) * t, prevB + (gb.First() - prevB) * t))
                    return true;
            }
        }
        size_t steps = std::max(ga.Size(), gb.Size());
        for (size_t k = 0; k < steps; ++k)
            if (visit(x, ga.At(k), gb.At(k))) return true;
        havePrevious = true;
        prevX = x;
        prevA = ga.Last();
        prevB = gb.Last();
        ia = ja;
        ib = jb;
    }
    return false;
}

// Tidies the points of a combination: equal neighbours go, a point on the straight line between
// its neighbours goes (so repeated unions do not grow a set with points that change nothing; an
// inner flat run keeps its first and last point), a flat run at the start keeps its last point,
// and a last point as high as its predecessor goes. The membership function is unchanged.
void TidyCombined(TPoints& points) {
    TPoints out;
    out.reserve(points.size());
    for (const auto& p : points) {
        if (!out.empty() && out.back().Equals(p)) continue;
        while (out.size() >= 2) {
            const auto& p0 = out[out.size() - 2];
            const auto& p1 = out.back();
            bool flat = SameFuzzyValue(p0.Y, p1.Y) && SameFuzzyValue(p1.Y, p.Y);
            bool onLine = p1.X - p0.X > FuzzyEpsilon && p.X - p1.X > FuzzyEpsilon &&
                          std::fabs(Lerp(p0, p, p1.X) - p1.Y) <= 1e-9;
            if (!flat && !onLine) break;
            out.pop_back();
        }
        out.push_back(p);
    }
    size_t k = 0;
    while (k + 1 < out.size() && SameFuzzyValue(out[k].Y, out[k + 1].Y))
        ++k;
    out.erase(out.begin(), out.begin() + ptrdiff_t(k));
    if (out.size() >= 2 && SameFuzzyValue(out[out.size() - 2].Y, out.back().Y)) out.pop_back();
    points = std::move(out);
}

// Opens an update of a set's points for a scope; on an exception the update is closed without
// reporting a change.
class TPointsUpdate {
public:
    explicit TPointsUpdate(TFuzzySet& set) : FSet(set), FExceptions(std::uncaught_exceptions()) {
        FSet.BeginUpdate();
    }
    ~TPointsUpdate() noexcept(false) {
        if (std::uncaught_exceptions() > FExceptions) {
            try {
                FSet.EndUpdate();
            } catch (...) {
            }
        } else {
            FSet.EndUpdate();
        }
    }
    TPointsUpdate(const TPointsUpdate&) = delete;
    TPointsUpdate& operator=(const TPointsUpdate&) = delete;

private:
    TFuzzySet& FSet;
    int FExceptions;
};

} // namespace

TFuzzyCombinator FuzzyAndCombinator(TFuzzyOperation op) {
    switch (op) {
    case foZadeh:
        return AndZadeh;
    case foMean:
        return AndMean;
    case foMeanSqr:
        return MeanSqr;
    case foMeanSqrt:
        return MeanSqrt;
    case foProduct:
        return AndProduct;
    case foBoundedSum:
        return AndBoundedSum;
    case foSum:
        break;
    }
    RaiseInvalidOperation(op);
}

TFuzzyCombinator FuzzyOrCombinator(TFuzzyOperation op) {
    switch (op) {
    case foZadeh:
        return OrZadeh;
    case foMean:
        return OrMean;
    case foMeanSqr:
        return MeanSqr;
    case foMeanSqrt:
        return MeanSqrt;
    case foProduct:
        return OrProduct;
    case foBoundedSum:
        return OrBoundedSum;
    case foSum:
        return OrSum;
    }
    RaiseInvalidOperation(op);
}

// ---------------------------------------------------------------------------------------------
// Fields and owner context

void TFuzzySet::SetName(std::string_view name) {
    if (name == FName) return;
    if (IsFuzzyReservedWord(name)) throw EFzyException(Format(SFuzzyReservedName, name));
    FName = name;
    Changed();
}

std::string TFuzzySet::GetDisplayName() const {
    return FName.empty() ? "TFuzzySet" : FName;
}

TFzyFloat TFuzzySet::GetXRange(int index) const {
    if (index == 0) return FuzzyDefaultMaximum;
    if (index == 1) return FuzzyDefaultMinimum;
    throw EFzyException(Format(SFuzzyInvalidXRangeIndex, index));
}

bool TFuzzySet::MatchThreshold(TFzyFloat& threshold) const {
    (void)threshold;
    return false;
}

TRefPtr<TFuzzySet> TFuzzySet::CreateLike() const {
    return MakeRef<TFuzzySet>();
}

void TFuzzySet::SetSetType(TFuzzySetType type) {
    if (type == FSetType) return;
    if (type == fstUserDefined) {
        FSetType = type;
        Changed();
        return;
    }
    const TFzyFloat lo = GetXRange(1), hi = GetXRange(0), range = hi - lo;
    const int n = NumFunctionValues();
    const TFzyFloat centre = lo + range / 2, width = range * (1.0 / 3.0);
    {
        TPointsUpdate update(*this);
        switch (type) {
        case fstDeclineCurve:
        case fstGrowthCurve: {
            TFzyFloat a = lo + range * (1.0 / 3.0), c = lo + range * (2.0 / 3.0);
            SCurve(n, type == fstGrowthCurve, a, c, a + (c - a) / 2);
            break;
        }
        case fstTriangle:
            Triangle(centre - width, centre, centre + width);
            break;
        case fstPICurve:
            PICurveAround(n, width, centre);
            break;
        case fstBetaCurve:
            BetaCurve(n, width, centre, range / 12);
            break;
        case fstUserDefined:
            break;
        }
    }
    FSetType = type;
    Changed();
}

// ---------------------------------------------------------------------------------------------
// Point edits

const TFuzzySetValue& TFuzzySet::Point(int index) const {
    CheckIndex(index);
    return FPoints[size_t(index)];
}

void TFuzzySet::CheckIndex(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
}

TFzyFloat TFuzzySet::ClampX(TFzyFloat x) const {
    if (!HasUniverse()) return x;
    TFzyFloat lo = GetXRange(1), hi = GetXRange(0);
    if (x < lo) return lo;
    if (x > hi) return hi;
    return x;
}

void TFuzzySet::StorePoint(int index, TFzyFloat x, TFzyFloat y) {
    CheckFuzzyFloat(x);
    CheckFuzzyFloat(y);
    FPoints[size_t(index)] = {ClampX(x), y < 0 ? 0.0 : y};
}

int TFuzzySet::Add(TFzyFloat x, TFzyFloat y) {
    CheckFuzzyFloat(x);
    CheckFuzzyFloat(y);
    FPoints.push_back({ClampX(x), y < 0 ? 0.0 : y});
    int index = Count() - 1;
    if (FUpdateCount > 0) return index;
    PlaceEditedPoint(index, true);
    // Where the point ended (or its equal, when it was a duplicate).
    TFuzzySetValue p{ClampX(x), y < 0 ? 0.0 : y};
    for (int i = Count() - 1; i >= 0; --i)
        if (FPoints[size_t(i)].Equals(p)) {
            index = i;
            break;
        }
    PointChanged();
    return index;
}

void TFuzzySet::Insert(int index, TFzyFloat x, TFzyFloat y) {
    if (index < 0 || index > Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    CheckFuzzyFloat(x);
    CheckFuzzyFloat(y);
    FPoints.insert(FPoints.begin() + index, {ClampX(x), y < 0 ? 0.0 : y});
    if (FUpdateCount > 0) return;
    PlaceEditedPoint(index, true);
    PointChanged();
}

void TFuzzySet::SetX(int index, TFzyFloat x) {
    CheckIndex(index);
    if (x == FPoints[size_t(index)].X) return;
    StorePoint(index, x, FPoints[size_t(index)].Y);
    if (FUpdateCount > 0) return;
    PlaceEditedPoint(index, true);
    PointChanged();
}

void TFuzzySet::SetY(int index, TFzyFloat y) {
    CheckIndex(index);
    if (y == FPoints[size_t(index)].Y) return;
    StorePoint(index, FPoints[size_t(index)].X, y);
    if (FUpdateCount > 0) return;
    PlaceEditedPoint(index, false);
    PointChanged();
}

void TFuzzySet::SetXY(int index, TFzyFloat x, TFzyFloat y) {
    CheckIndex(index);
    StorePoint(index, x, y);
    if (FUpdateCount > 0) return;
    PlaceEditedPoint(index, true);
    PointChanged();
}

void TFuzzySet::Delete(int index) {
    CheckIndex(index);
    FPoints.erase(FPoints.begin() + index);
    if (FUpdateCount > 0) return;
    Tidy();
    PointsChanged();
}

void TFuzzySet::Clear() {
    FPoints.clear();
    if (FUpdateCount == 0) PointsChanged();
}

void TFuzzySet::EndUpdate() {
    if (FUpdateCount <= 0) return;
    if (--FUpdateCount > 0) return;
    Tidy();
    PointsChanged();
}

void TFuzzySet::PlaceEditedPoint(int index, bool xChanged) {
    if (Count() < 2) return;
    size_t at = size_t(index);
    const TFuzzySetValue p = FPoints[at];
    if (xChanged) {
        // After the points at or left of its x; a fourth point at one x takes the third's place.
        FPoints.erase(FPoints.begin() + index);
        size_t pos = 0, third = FPoints.size();
        int same = 0;
        while (pos < FPoints.size() && FPoints[pos].X <= p.X + FuzzyEpsilon) {
            if (SameFuzzyValue(FPoints[pos].X, p.X) && ++same == 3) {
                third = pos;
                break;
            }
            ++pos;
        }
        if (third < FPoints.size()) {
            FPoints[third] = p;
            at = third;
        } else {
            FPoints.insert(FPoints.begin() + ptrdiff_t(pos), p);
            at = pos;
        }
    }
    size_t runStart = at, runEnd = at + 1;
    while (runStart > 0 && SameFuzzyValue(FPoints[runStart - 1].X, p.X))
        --runStart;
    while (runEnd < FPoints.size() && SameFuzzyValue(FPoints[runEnd].X, p.X))
        ++runEnd;
    for (size_t i = runStart + 1; i < runEnd;) {
        if (FPoints[i].Equals(FPoints[i - 1])) {
            FPoints.erase(FPoints.begin() + ptrdiff_t(i - 1));
            --runEnd;
            if (at >= i) --at;
        } else {
            ++i;
        }
    }
    if (runEnd - runStart > 3 && at > runStart) FPoints.erase(FPoints.begin() + ptrdiff_t(at - 1));
}

void TFuzzySet::Tidy() {
    if (FPoints.size() < 2) return;
    auto byX = [](const TFuzzySetValue& a, const TFuzzySetValue& b) { return a.X < b.X; };
    if (!std::is_sorted(FPoints.begin(), FPoints.end(), byX))
        std::stable_sort(FPoints.begin(), FPoints.end(), byX);
    // Equal neighbours go; a run at one x keeps at most four points.
    size_t out = 1;
    int sameX = 0;
    for (size_t i = 1; i < FPoints.size(); ++i) {
        const TFuzzySetValue& prev = FPoints[out - 1];
        const TFuzzySetValue p = FPoints[i];
        if (prev.Equals(p)) continue;
        if (SameFuzzyValue(prev.X, p.X)) {
            if (++sameX == 4) {
                sameX = 0;
                continue;
            }
        } else {
            sameX = 0;
        }
        FPoints[out++] = p;
    }
    FPoints.resize(out);
}

void TFuzzySet::ReplacePoints(std::vector<TFuzzySetValue> points) {
    for (auto& p : points) {
        CheckFuzzyFloat(p.X);
        CheckFuzzyFloat(p.Y);
        p.X = ClampX(p.X);
        if (p.Y < 0) p.Y = 0;
    }
    ++FUpdateCount;
    FPoints = std::move(points);
    EndUpdate();
}

void TFuzzySet::AddValues(std::span<const TFuzzySetValue> source, int start, int count) {
    if (source.empty() || count <= 0) return;
    start = std::clamp(start, 0, int(source.size()) - 1);
    count = std::min(count, int(source.size()) - start);
    TPoints points(FPoints);
    points.insert(points.end(), source.begin() + start, source.begin() + start + count);
    ReplacePoints(std::move(points));
}

void TFuzzySet::AssignValues(std::span<const TFuzzySetValue> source) {
    ReplacePoints(TPoints(source.begin(), source.end()));
}

void TFuzzySet::Resample(int count) {
    const int n = Count();
    if (count < 2 || count <= n) return;
    int missing = count - n, gaps = 0;
    for (int i = 0; i + 1 < n; ++i)
        if (std::fabs(FPoints[size_t(i + 1)].X - FPoints[size_t(i)].X) > FuzzyEpsilon) ++gaps;
    if (gaps == 0) return;
    TPoints points;
    points.reserve(size_t(count));
    for (int i = 0; i < n; ++i) {
        const TFuzzySetValue p1 = FPoints[size_t(i)];
        points.push_back(p1);
        if (i + 1 == n) break;
        const TFuzzySetValue p2 = FPoints[size_t(i + 1)];
        if (std::fabs(p2.X - p1.X) <= FuzzyEpsilon) continue;
        int k = (missing + gaps - 1) / gaps;
        TFzyFloat step = (p2.X - p1.X) / (k + 1), x = p1.X;
        --gaps;
        for (int j = 0; j < k; ++j, --missing) {
            x += step;
            points.push_back({x, Lerp(p1, p2, x)});
        }
    }
    ReplacePoints(std::move(points));
}

// Every point is scanned: grades above 1 are legal, so 1 is not necessarily the maximum.
TFzyFloat TFuzzySet::MaxY() const {
    if (FPoints.empty()) throw EFzyException(Format(SFuzzySetEmpty, SFuzzyGetMaxY));
    TFzyFloat m = FPoints.front().Y;
    for (const auto& p : FPoints)
        m = std::max(m, p.Y);
    return m;
}

TFzyFloat TFuzzySet::MinY() const {
    if (FPoints.empty()) throw EFzyException(Format(SFuzzySetEmpty, SFuzzyGetMinY));
    TFzyFloat m = FPoints.front().Y;
    for (const auto& p : FPoints) {
        m = std::min(m, p.Y);
        if (m == 0) break; // no grade is below 0
    }
    return m;
}

int TFuzzySet::IndexOfX(int start, int direction, TFzyFloat x) const {
    int step = direction < 0 ? -1 : 1;
    for (int i = start; i >= 0 && i < Count(); i += step)
        if (!SameFuzzyValue(FPoints[size_t(i)].X, x)) return i;
    return -1;
}

int TFuzzySet::IndexOfY(int start, int direction, TFzyFloat y) const {
    int step = direction < 0 ? -1 : 1;
    for (int i = start; i >= 0 && i < Count(); i += step)
        if (!SameFuzzyValue(FPoints[size_t(i)].Y, y)) return i;
    return -1;
}

TFzyFloat TFuzzySet::GetMembership(TFzyFloat x) const {
    if (FPoints.empty()) return 0.0;
    const size_t n = FPoints.size();
    // The largest grade of the run of points at the x of point `from`, walking by `step`.
    auto runMax = [&](size_t from, int step) {
        TFzyFloat runX = FPoints[from].X, best = FPoints[from].Y;
        for (ptrdiff_t i = ptrdiff_t(from) + step;
             i >= 0 && size_t(i) < n && SameFuzzyValue(FPoints[size_t(i)].X, runX); i += step)
            best = std::max(best, FPoints[size_t(i)].Y);
        return best;
    };
    if (FPoints.front().X > x) return FPoints.front().Y;
    if (FPoints.front().X == x) return runMax(0, 1);
    if (FPoints.back().X < x) return FPoints.back().Y;
    if (FPoints.back().X == x) return runMax(n - 1, -1);
    auto it = std::lower_bound(FPoints.begin() + 1, FPoints.end(), x,
                               [](const TFuzzySetValue& p, TFzyFloat v) { return p.X < v; });
    size_t i = size_t(it - FPoints.begin());
    if (FPoints[i].X == x) return runMax(i, 1);
    return Lerp(FPoints[i - 1], FPoints[i], x);
}

// ---------------------------------------------------------------------------------------------
// Shapes

void TFuzzySet::Triangle(TFzyFloat left, TFzyFloat centre, TFzyFloat right) {
    if (right < left) right = left;
    centre = std::clamp(centre, left, right);
    ReplacePoints({{left, 0.0}, {centre, 1.0}, {right, 0.0}});
    FSetType = fstTriangle;
}

std::vector<TFuzzySetValue> TFuzzySet::SCurvePoints(int count, bool growth, TFzyFloat a,
                                                    TFzyFloat c) {
    if (count < 3) count = 3;
    const TFzyFloat step = (c - a) / (count - 1), middle = (a + c) / 2;
    TPoints points;
    points.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        TFzyFloat x = i + 1 == count ? c : a + i * step, y;
        if (x <= a) {
            y = 0.0;
        } else if (x <= middle) {
            TFzyFloat r = (x - a) / (c - a);
            y = 2 * r * r;
        } else if (x <= c) {
            TFzyFloat r = (x - c) / (c - a);
            y = 1 - 2 * r * r;
        } else {
            y = 1.0;
        }
        points.push_back({x, growth ? y : 1 - y});
    }
    return points;
}

void TFuzzySet::SCurve(int count, bool growth, TFzyFloat a, TFzyFloat c, TFzyFloat b) {
    if (a > c) throw EFzyException(Format(SFuzzyInvalidRange, a, c));
    ReplacePoints(SCurvePoints(count, growth, a, c));
    FCurveParameter = b;
    FSetType = growth ? fstGrowthCurve : fstDeclineCurve;
}

// A growth curve up to the peak and a decline curve from it, the peak kept once: with few
// points the two halves stay mirror images of each other.
void TFuzzySet::PICurve(int count, TFzyFloat left, TFzyFloat right, TFzyFloat centre) {
    if (left > right) throw EFzyException(Format(SFuzzyInvalidRange, left, right));
    centre = std::clamp(centre, left, right);
    const int half = count / 2 + 1;
    TPoints points = SCurvePoints(half, true, left, centre);
    points.pop_back();
    TPoints decline = SCurvePoints(half, false, centre, right);
    points.insert(points.end(), decline.begin(), decline.end());
    ReplacePoints(std::move(points));
    FCurveParameter = centre + (right - centre) / 2;
    FSetType = fstPICurve;
}

void TFuzzySet::PICurveAround(int count, TFzyFloat width, TFzyFloat centre) {
    PICurve(count, centre - width, centre + width, centre);
}

void TFuzzySet::BetaCurve(int count, TFzyFloat width, TFzyFloat centre, TFzyFloat beta) {
    BetaCurveWeighted(count, width, centre, beta, 1.0);
}

void TFuzzySet::BetaCurveWeighted(int count, TFzyFloat width, TFzyFloat centre, TFzyFloat beta,
                                  TFzyFloat k) {
    if (count < 3) count = 3;
    const TFzyFloat step = 2 * width / (count - 1);
    TPoints points;
    points.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        TFzyFloat x = centre - width + i * step, y;
        if (beta == 0) {
            // The limit of the bell as its width goes to 0: a spike at the centre.
            y = x == centre ? 1.0 : 0.0;
        } else {
            TFzyFloat r = (x - centre) / beta, d = 1 + k * r * r;
            if (d == 0) throw EFzyException(std::string(SFuzzyDivideByZero));
            y = 1 / d;
        }
        points.push_back({x, y});
    }
    ReplacePoints(std::move(points));
    FCurveParameter = beta;
    FSetType = fstBetaCurve;
}

void TFuzzySet::Assign(const TFuzzySet& source) {
    if (&source == this) return;
    FName = source.FName;
    ReplacePoints(TPoints(source.FPoints));
    FSetType = source.FSetType;
    FCurveParameter = source.FCurveParameter;
    FExpression = source.FExpression;
    Changed();
}

TRefPtr<TFuzzySet> TFuzzySet::Clone() const {
    TRefPtr<TFuzzySet> copy = CreateLike();
    copy->Assign(*this);
    return copy;
}

void TFuzzySet::PointChanged() {
    FSetType = fstUserDefined;
    FExpression.clear();
    Changed();
}

void TFuzzySet::PointsChanged() {
    FSetType = fstUserDefined;
    FExpression.clear();
    Changed();
}

// ---------------------------------------------------------------------------------------------
// Hedges and arithmetic

void TFuzzySet::ApplyGradePower(TFzyFloat power) {
    Resample(FuzzyDefaultFunctionValues);
    TPoints points(FPoints);
    for (auto& p : points)
        if (p.Y > 0 && p.Y < 1) p.Y = std::pow(p.Y, power);
    ReplacePoints(std::move(points));
}

void TFuzzySet::ApplyAboveBelow(bool above) {
    if (FPoints.empty()) return;
    // The peak: each point at least as high as the highest so far, scanning from the left for
    // "above" (from the right for "below"); the scan stops at the first point of the largest
    // grade when that reaches 1, and runs through a plateau below 1 to its far end.
    const TFzyFloat top = MaxY();
    const int n = Count(), step = above ? 1 : -1;
    int peak = above ? 0 : n - 1;
    TFzyFloat best = -1;
    for (int i = peak; i >= 0 && i < n; i += step) {
        TFzyFloat y = FPoints[size_t(i)].Y;
        if (y >= best) {
            best = y;
            peak = i;
        }
        if (y == top && top >= 1.0) break;
    }
    TPoints points(FPoints);
    for (int i = 0; i < n; ++i) {
        bool beyond = above ? i > peak : i < peak;
        points[size_t(i)].Y = beyond ? 1 - points[size_t(i)].Y : 0.0;
    }
    ReplacePoints(std::move(points));
}

void TFuzzySet::ApplySlightly() {
    TRefPtr<TFuzzySet> a = Clone();
    a->ApplyHedge(fhVery).ApplyHedge(fhNot);
    TRefPtr<TFuzzySet> b = Clone();
    b->ApplyHedge(fhPlus);
    TRefPtr<TFuzzySet> c = b->Intersection(*a, foZadeh);
    c->Normalize().ApplyHedge(fhPositively);
    ReplacePoints(TPoints(c->FPoints));
}

void TFuzzySet::ApplyWidening(TFzyFloat power) {
    Resample(FuzzyDefaultFunctionValues);
    if (FPoints.empty()) return;
    const TFzyFloat lo = GetXRange(1), hi = GetXRange(0), range = hi - lo;
    const TFzyFloat first = FPoints.front().X, last = FPoints.back().X;
    // A universe of one point has no width to relate the set's width to.
    const TFzyFloat scale = (last == first || !(range > 0)) ? 0.2 : (last - first) / range;
    constexpr int samples = 50;
    TPoints work;
    if (range > FuzzyEpsilon) {
        work.reserve(samples);
        work.push_back({lo, 0.0});
        TFzyFloat step = range / (samples - 1), x = lo;
        for (int j = 1; j + 1 < samples; ++j) {
            x += step;
            work.push_back({x, 0.0});
        }
        work.push_back({hi, 0.0});
    } else {
        work.push_back({lo, 0.0});
    }
    for (const auto& p : FPoints) {
        if (!(p.Y > 0)) continue;
        for (auto& w : work) {
            TFzyFloat d = std::fabs(w.X - p.X) * scale;
            w.Y = std::max(w.Y, p.Y / (1 + std::pow(d, power)));
        }
    }
    ReplacePoints(std::move(work));
    Normalize();
}

void TFuzzySet::ApplyIntensify(TFzyFloat power) {
    Resample(FuzzyDefaultFunctionValues);
    TPoints points(FPoints);
    for (auto& p : points) {
        if (power < 1 && p.Y <= 0) continue;
        // Grades above 1 are taken as 1: 1 - y would be negative under a fractional power.
        TFzyFloat y = std::clamp(p.Y, 0.0, 1.0);
        if (y < 0.5)
            p.Y = std::min(1.0, power * std::pow(y, power));
        else
            p.Y = std::max(0.0, 1 - power * std::pow(1 - y, power));
    }
    ReplacePoints(std::move(points));
}

TFuzzySet& TFuzzySet::ApplyHedge(int hedge) {
    if (hedge < 0 || hedge >= FuzzyHedgeCount)
        throw EListError(Format("List index out of bounds (%d)", hedge));
    // A set without a name (given by its points) stays without one: a name made from the
    // empty name would not read back; the set is written by its points instead.
    const std::string newName = FName.empty() ? std::string() : FuzzyHedgeText(hedge, FName);
    const std::string oldExpression = FExpression;
    const TFzyFloat p = FuzzyHedgeValues[size_t(hedge)];
    {
        TPointsUpdate update(*this);
        switch (hedge) {
        case fhNot: {
            TPoints points(FPoints);
            for (auto& pt : points)
                pt.Y = 1 - pt.Y;
            ReplacePoints(std::move(points));
            break;
        }
        case fhAbove:
        case fhBelow:
            ApplyAboveBelow(hedge == fhAbove);
            break;
        case fhSlightly:
            ApplySlightly();
            break;
        case fhNormalize:
            Normalize();
            break;
        default:
            if (hedge <= fhExtremely)
                ApplyGradePower(p);
            else if (hedge <= fhNeighboring)
                ApplyWidening(p);
            else
                ApplyIntensify(p);
        }
    }
    StoreName(newName);
    FExpression = oldExpression.empty() ? BracketFuzzyText(FName)
                                        : FuzzyHedgeText(hedge, BracketFuzzyText(oldExpression));
    Changed();
    return *this;
}

TFuzzySet& TFuzzySet::ApplyArithmetic(int op, bool onY, TFzyFloat value) {
    if (op < 0 || op >= FuzzyArithOperatorCount)
        throw EListError(Format("List index out of bounds (%d)", op));
    CheckFuzzyFloat(value);
    if (op == faoDivide && value == 0) throw EFzyException(std::string(SFuzzyDivideByZero));
    const std::string oldName = FName, oldExpression = FExpression;
    TPoints points(FPoints);
    for (auto& pt : points) {
        TFzyFloat& t = onY ? pt.Y : pt.X;
        switch (op) {
        case faoAdd:
            t += value;
            break;
        case faoSubtract:
            t += -value;
            break;
        case faoMultiply:
            t *= value;
            break;
        case faoDivide:
            t *= 1 / value;
            break;
        case faoPower:
            if (onY ? (t > 0 && t < 1) : t > 0) t = std::pow(t, value);
            break;
        case faoRaiseBelow:
            if (t < value) t = value;
            break;
        case faoRaiseAtOrBelow:
            if (t <= value) t = value;
            break;
        case faoLowerAbove:
            if (t > value) t = value;
            break;
        case faoLowerAtOrAbove:
            if (t >= value) t = value;
            break;
        }
    }
    ReplacePoints(std::move(points));
    std::string word(FuzzyArithOperators[size_t(op)]);
    if (!onY) word += 'X';
    StoreName(oldName.empty() ? std::string() : FuzzyArithValueText(oldName, word, value));
    FExpression = FuzzyArithText(op, onY, oldExpression.empty() ? oldName : oldExpression);
    Changed();
    return *this;
}

// ---------------------------------------------------------------------------------------------
// Combining

bool TFuzzySet::WalkWith(const TFuzzySet& other, const TFuzzyWalkFunc& visit) const {
    return WalkPointLists(FPoints, other.FPoints, visit);
}

TRefPtr<TFuzzySet> TFuzzySet::Combine(const TFuzzySet& other, std::string_view word,
                                      TFuzzyCombinator combinator) const {
    TPoints points;
    points.reserve(FPoints.size() + other.FPoints.size() + 4);
    WalkPointLists(FPoints, other.FPoints, [&](TFzyFloat x, TFzyFloat y1, TFzyFloat y2) {
        points.push_back({x, combinator(y1, y2)});
        return false;
    });
    TidyCombined(points);
    TRefPtr<TFuzzySet> result = CreateLike();
    result->ReplacePoints(std::move(points));
    result->StoreName(FName.empty() || other.FName.empty()
                          ? std::string()
                          : FuzzyOperationText(FName, other.FName, word));
    std::string expression = BracketFuzzyText(FExpression.empty() ? FName : FExpression);
    expression += ' ';
    expression += word;
    expression += ' ';
    expression += BracketFuzzyText(other.FExpression.empty() ? other.FName : other.FExpression);
    result->FExpression = std::move(expression);
    result->Changed();
    return result;
}

TRefPtr<TFuzzySet> TFuzzySet::Intersection(const TFuzzySet& other, TFuzzyOperation op) const {
    TFuzzyCombinator combinator = FuzzyAndCombinator(op);
    return Combine(other, FuzzyAndNames[size_t(op)], combinator);
}

TRefPtr<TFuzzySet> TFuzzySet::Union(const TFuzzySet& other, TFuzzyOperation op) const {
    TFuzzyCombinator combinator = FuzzyOrCombinator(op);
    return Combine(other, FuzzyOrNames[size_t(op)], combinator);
}

TRefPtr<TFuzzySet> TFuzzySet::CrispAndOr(bool isOr, TFzyFloat level) const {
    CheckFuzzyFloat(level);
    TPoints points;
    if (!FPoints.empty()) {
        // A one-point list is the level everywhere; the walk inserts the crossings.
        const TFuzzySetValue flat[1] = {{FPoints.front().X, level}};
        points.reserve(FPoints.size() * 2);
        WalkPointLists(FPoints, flat, [&](TFzyFloat x, TFzyFloat y1, TFzyFloat y2) {
            points.push_back({x, isOr ? std::max(y1, y2) : std::min(y1, y2)});
            return false;
        });
    }
    TRefPtr<TFuzzySet> result = CreateLike();
    result->ReplacePoints(std::move(points));
    std::string_view word = isOr ? FuzzyOrNames[0] : FuzzyAndNames[0];
    result->StoreName(FName.empty() ? std::string() : FuzzyArithValueText(FName, word, level));
    if (!FExpression.empty()) {
        result->FExpression =
            FExpression + ' ' + std::string(word) + ' ' + Format(FuzzyFloatFormat, level);
    }
    result->Changed();
    return result;
}

TRefPtr<TFuzzySet> TFuzzySet::AlphaCut(bool strict, TFzyFloat alpha) const {
    CheckFuzzyFloat(alpha);
    alpha = std::clamp(alpha, 0.0, 1.0);
    TPoints points;
    if (strict && alpha == 0) {
        points = FPoints;
    } else if (!FPoints.empty()) {
        auto reaches = [&](TFzyFloat y) { return strict ? y > alpha : y >= alpha; };
        points.reserve(FPoints.size() * 2);
        const TFuzzySetValue& first = FPoints.front();
        points.push_back(reaches(first.Y) ? first : TFuzzySetValue{first.X, 0.0});
        for (size_t i = 0; i + 1 < FPoints.size(); ++i) {
            const TFuzzySetValue &p1 = FPoints[i], &p2 = FPoints[i + 1];
            bool in1 = reaches(p1.Y), in2 = reaches(p2.Y);
            if (in1 != in2) {
                TFzyFloat x =
                    p2.X == p1.X ? p1.X : p1.X + (alpha - p1.Y) * (p2.X - p1.X) / (p2.Y - p1.Y);
                if (in2) {
                    points.push_back({x, 0.0});
                    points.push_back({x, alpha});
                } else {
                    points.push_back({x, alpha});
                    points.push_back({x, 0.0});
                }
            }
            if (in2) points.push_back(p2);
        }
    }
    TRefPtr<TFuzzySet> result = CreateLike();
    result->ReplacePoints(std::move(points));
    result->StoreName(FName);
    result->Changed();
    return result;
}

TFuzzySet& TFuzzySet::Normalize() {
    const TFzyFloat m = MaxY();
    if (m == 0) return *this;
    const TFzyFloat factor = 1 / m;
    TPoints points(FPoints);
    for (auto& p : points)
        p.Y *= factor;
    ReplacePoints(std::move(points));
    return *this;
}

bool TFuzzySet::Match(const TFuzzySet& other) const {
    TFzyFloat threshold;
    if (!MatchThreshold(threshold)) return false;
    return WalkPointLists(FPoints, other.FPoints,
                          [threshold](TFzyFloat, TFzyFloat y1, TFzyFloat y2) {
                              return std::min(y1, y2) >= threshold;
                          });
}

TFzyFloat TFuzzySet::MatchDegree(const TFuzzySet& other) const {
    TFzyFloat degree = 0.0;
    WalkPointLists(FPoints, other.FPoints, [&degree](TFzyFloat, TFzyFloat y1, TFzyFloat y2) {
        degree = std::max(degree, std::min(y1, y2));
        return false;
    });
    return degree;
}

TFuzzySet& TFuzzySet::Correlate(bool product, TFzyFloat strength) {
    if (product) return ApplyArithmetic(faoMultiply, true, strength);
    // Clipping at the strength is min(grade, strength) everywhere. Lowering only the points
    // above it would slope the set from its last point below the strength to the lowered one;
    // the points where the set crosses the strength are added instead. Every point of the set
    // stays, even one that now lies on a line between its neighbours: a rule's conclusion keeps
    // the points its term has, and the point-based mean of maxima counts each of them.
    CheckFuzzyFloat(strength);
    const std::string oldName = FName, oldExpression = FExpression;
    TPoints points;
    if (!FPoints.empty()) {
        const TFuzzySetValue flat[1] = {{FPoints.front().X, strength}};
        points.reserve(FPoints.size() * 2);
        WalkPointLists(FPoints, flat, [&](TFzyFloat x, TFzyFloat y1, TFzyFloat y2) {
            points.push_back({x, std::min(y1, y2)});
            return false;
        });
    }
    ReplacePoints(std::move(points));
    StoreName(FuzzyArithValueText(oldName, FuzzyArithOperators[size_t(faoLowerAbove)], strength));
    FExpression =
        FuzzyArithText(faoLowerAbove, true, oldExpression.empty() ? oldName : oldExpression);
    Changed();
    return *this;
}

TRefPtr<TFuzzySet> TFuzzySet::Aggregate(const TFuzzySet& other, TFuzzyInferenceMethod method,
                                        bool andFlag) const {
    TFuzzyOperation op = FuzzyInferenceOperation(method);
    return andFlag ? Intersection(other, op) : Union(other, op);
}

// ---------------------------------------------------------------------------------------------
// Defuzzification

TFzyFloat TFuzzySet::Defuzzify() {
    return DefuzzificationMethod() == dmMeanOfMaxima ? MeanOfMaxima() : CenterOfGravity();
}

TFzyFloat TFuzzySet::CenterOfGravity() {
    FDefuzzifiedMembership = 0.0;
    if (FPoints.empty()) return 0.0;
    const TFzyFloat lo = GetXRange(1), hi = GetXRange(0);
    const TFuzzySetValue &first = FPoints.front(), &last = FPoints.back();
    if (FPoints.size() == 1 || first.X == last.X) return lo + (hi - lo) * 0.5;
    TFzyFloat moment = 0.0, area = 0.0;
    auto add = [&](TFzyFloat a, TFzyFloat centroid) {
        area += a;
        moment += a * centroid;
    };
    if (first.Y > 0 && first.X != lo) add((first.X - lo) * first.Y, (lo + first.X) / 2);
    for (size_t i = 0; i + 1 < FPoints.size(); ++i) {
        const TFzyFloat x1 = FPoints[i].X, y1 = FPoints[i].Y;
        const TFzyFloat x2 = FPoints[i + 1].X, y2 = FPoints[i + 1].Y, dx = x2 - x1;
        if (SameFuzzyValue(x1, x2) || (y1 == 0 && y2 == 0)) continue;
        if (SameFuzzyValue(y1, y2))
            add(dx * y1, (x1 + x2) / 2);
        else if (y1 == 0)
            add(dx * std::fabs(y2 - y1) / 2, x1 + 2 * dx / 3);
        else if (y2 == 0)
            add(dx * std::fabs(y2 - y1) / 2, x1 + dx / 3);
        else
            add(dx * (y1 + y2) / 2, x1 + (2.0 / 3.0) * dx * (y1 / 2 + y2) / (y1 + y2));
    }
    if (last.Y > 0 && last.X != hi) add((hi - last.X) * last.Y, (last.X + hi) / 2);
    const TFzyFloat result = area == 0 ? 0.0 : moment / area;
    CheckFuzzyFloat(result);
    FDefuzzifiedMembership = GetMembership(result);
    return result;
}

TFzyFloat TFuzzySet::MeanOfMaxima() {
    FDefuzzifiedMembership = 0.0;
    if (FPoints.empty()) return 0.0;
    TFzyFloat top = FPoints.front().Y, sum = FPoints.front().X;
    int count = 1;
    for (size_t i = 1; i < FPoints.size(); ++i) {
        const TFuzzySetValue& p = FPoints[i];
        if (std::fabs(p.Y - top) < FuzzyEpsilon) {
            sum += p.X;
            ++count;
        } else if (p.Y > top) {
            top = p.Y;
            sum = p.X;
            count = 1;
        }
    }
    FDefuzzifiedMembership = top;
    return sum / count;
}

bool TFuzzySet::SamePoints(const TFuzzySet& other) const {
    if (FPoints.size() != other.FPoints.size()) return false;
    for (size_t i = 0; i < FPoints.size(); ++i)
        if (!FPoints[i].Equals(other.FPoints[i])) return false;
    return true;
}

bool TFuzzySet::SegmentCrossing(TFzyFloat x1, TFzyFloat y1, TFzyFloat x2, TFzyFloat y2,
                                TFzyFloat x3, TFzyFloat y3, TFzyFloat x4, TFzyFloat y4,
                                TFzyFloat& x, TFzyFloat& y) {
    const TFzyFloat d = (x2 - x1) * (y4 - y3) - (y2 - y1) * (x4 - x3);
    if (std::fabs(d) < 1e-12) return false; // parallel or overlapping: no single crossing
    const TFzyFloat t = ((x3 - x1) * (y4 - y3) - (y3 - y1) * (x4 - x3)) / d;
    const TFzyFloat u = ((x3 - x1) * (y2 - y1) - (y3 - y1) * (x2 - x1)) / d;
    if (t < 0 || t > 1 || u < 0 || u > 1) return false;
    x = x1 + t * (x2 - x1);
    y = y1 + t * (y2 - y1);
    return true;
}

} // namespace ie
