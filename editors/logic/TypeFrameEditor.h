// The defined-type frame's behaviour apart from its window: which type it edits (and the
// implicit copy it makes of a named type before the first edit), the kinds with the fuzzy flag,
// cardinality and range texts, allowed values per kind, fuzzy terms with their expressions, and
// the expressions that clicking shapes on the chart builds.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model/IEInterfaces.h"

namespace ie {

class TInferenceEngine;

// The base kinds a slot may be restricted to, in the list's order (sorted by their names
// without "dt").
const std::vector<TIEType>& FrameBaseKinds();
std::string BaseKindName(TIEType kind);

// The characters a fuzzy term name refuses.
inline constexpr std::string_view TermFilterChars = " ~`!@#$%^&()={}|\\;:'\",?";

inline constexpr const char* EmptyFuzzyTermMessage =
    "Fuzzy term \"%s\" of type \"%s\" has no points: give it an expression or delete it";

// Follows the reader's complaint about a term's expression.
inline constexpr std::string_view FuzzyExpressionHint =
    "\r\nA fuzzy set is written as one list of points, such as ((20 0) (30 1)), or as a shape, "
    "such as (tri 10 20 30).";

// Why a type cannot be kept as it stands, empty when it can: a fuzzy term without points
// (made by New and never given an expression) would not read back, so writing the types back
// would fail half-way. The complaint names the type and the term.
std::string TypeKeepComplaint(const IIEDefinedType& type);
// The first such complaint among an engine's defined types and its templates' slot types.
std::string EngineTypesKeepComplaint(TInferenceEngine& engine);

// The tabs of the Allowed Values page.
enum TAllowedTab : uint8_t { atAny, atSymbols, atStrings, atIntegers, atFloats };

// Reads a fuzzy expression for a type's fuzzy variable into a set; raises when it does not give
// a fuzzy set.
using TFuzzyEvaluator =
    std::function<TRefPtr<IFuzzySet>(IIEDefinedType& type, const std::string& text)>;

// The expression clicking builds for a shape: mode 0 points, 1 triangle, 2 decline, 3 PI,
// 4 beta, 5 growth.
class TFuzzyShapeClicks {
public:
    static std::string StartText(int mode, const std::string& currentExpression);
    int Mode() const noexcept { return FMode; }
    int Count() const noexcept { return FCount; }
    // Choosing a shape: sets the mode and starts again; returns the started expression.
    std::string Choose(int mode, const std::string& currentExpression);
    // One click at x: returns the expression so far; `complete` tells that the shape is
    // finished (the expression then ends with ")"). Mode 0 collects no text.
    std::string Click(double x, bool& complete);
    // The completed expression with x as the pending last click, empty when no last click is
    // pending (never in mode 0).
    std::string Preview(double x) const;
    const std::string& Text() const noexcept { return FText; }

private:
    int ClicksNeeded() const noexcept;
    std::string LastPart(double x) const;

    int FMode = 0;
    int FCount = 0;
    double FFirstX = 0;
    double FLastX = 0;
    std::string FText;
    std::string FExpression;
};

class TTypeFrameEditor {
public:
    explicit TTypeFrameEditor(TInferenceEngine* engine = nullptr);

    TInferenceEngine* Engine() const noexcept { return FEngine; }
    void SetEngine(TInferenceEngine* engine) { FEngine = engine; }
    bool EnableNonImplicitEditing = true;
    // Raised after every edit of the type.
    std::function<void()> OnChanged;
    TFuzzyEvaluator Evaluator;

    const TRefPtr<IIEDefinedType>& Type() const noexcept { return FType; }
    // The type to edit; none gives a new empty type on the engine. Without non-implicit
    // editing a type that is not implicit is edited as a clone.
    void SetType(const TRefPtr<IIEDefinedType>& type);
    // The type a slot shows: a clone of its defined type, or a new type of its kinds.
    void SetSlotType(const IFactSlot& slot);
    // Before each edit: without non-implicit editing, a type that is not implicit is replaced
    // by a clone marked implicit and named "implicit" (the named type stays as it was).
    IIEDefinedType& Editable();
    bool StoreRange(const std::string& text, void (IIEDefinedType::*setter)(double));
    void ReevaluateTerms();
    template <class N> bool StoreParsed(const std::string& text, void (IIEDefinedType::*setter)(N));

    // Kinds.
    bool Fuzzy() const;
    // Checked: the kinds become the fuzzy kind alone; unchecked: the checked base kinds.
    void SetFuzzy(bool fuzzy, TIETypes checkedBaseKinds);
    void SetBaseKinds(TIETypes kinds);
    void SelectAll();
    void SelectNone();

    // Units, comment, name, ancestor.
    void SetUnits(const std::string& text);
    void SetComment(const std::string& text);
    void Rename(const std::string& name);
    // Another type's definition copied into the edited type, which keeps its name; false for
    // the edited type's own name or an unknown name.
    bool ChooseAncestor(const std::string& name);

    // Cardinality and range: texts are validated while typed and stored on leaving. An empty
    // maximum cardinality or range bound is no limit: it is shown empty and stored as the
    // type's unlimited bound.
    static constexpr int32_t UnlimitedCardinality = 2147483647;
    static constexpr double UnlimitedRangeMin = -2147483648.0;
    static constexpr double UnlimitedRangeMax = 2147483647.0;
    static bool IsIntegerText(const std::string& text);
    static bool IsNumberText(const std::string& text);
    static std::string MaxCardinalityText(int32_t value);
    void SetCardinalityLimited(bool value);
    void SetRangeLimited(bool value);
    bool StoreMinCardinality(const std::string& text);
    bool StoreMaxCardinality(const std::string& text);
    bool StoreMinRange(const std::string& text);
    bool StoreMaxRange(const std::string& text);
    static std::string RangeText(double value);

    // Pages and tabs shown for the kinds.
    bool RangePageShown() const;
    bool AllowedPageShown() const;
    bool AllowedTabShown(TAllowedTab tab) const;

    // Allowed values.
    static TRefPtr<IIEValue> ValueFromText(const std::string& text);
    bool CanAdd(TAllowedTab tab, const std::string& text) const;
    void AddAllowed(TAllowedTab tab, const std::string& text);
    std::vector<std::string> AllowedLines(TAllowedTab tab) const;
    void DeleteAllowed(TAllowedTab tab, int32_t index, const std::string& line);
    void ClearAllowed(TAllowedTab tab);

    // Fuzzy terms.
    std::vector<std::string> TermNames() const;
    // "Term" followed by the first number from 1 on that the variable does not have.
    std::string NewTermName() const;
    // Adds a new term (named NewTermName() when `name` is empty) and returns its name.
    std::string NewTerm(const std::string& name = {});
    void RenameTerm(const std::string& oldName, const std::string& newName);
    void RemoveTerm(const std::string& name);
    std::string TermExpression(const std::string& name) const;
    TRefPtr<IFuzzySet> Term(const std::string& name) const;
    // Evaluates an expression for the type (raises when it gives no fuzzy set).
    TRefPtr<IFuzzySet> Evaluate(const std::string& text) const;
    // Evaluates and makes the result the term's set; false (the term keeping its set) when the
    // expression does not evaluate and `raise` is false.
    bool SetTermExpression(const std::string& name, const std::string& text, bool raise);
    // A point clicked in mode 0 joins the term's set.
    void AddTermPoint(const std::string& name, double x, double y);

private:
    void Changed();
    TRefPtr<IFuzzyVariable> Variable() const;

    TInferenceEngine* FEngine;
    TRefPtr<IIEDefinedType> FType;
};

} // namespace ie
