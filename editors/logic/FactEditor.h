// The fact editor's behaviour apart from its window: the current fact and its slot grid, the
// fact list in its three orders, and Add, Replace and Delete as real assertions and retractions
// in the editor's private engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/model/IEInterfaces.h"

namespace ie {

class TInferenceEngine;

enum TFactOrder : uint8_t { foIndex, foID, foTemplate };

struct TFactLine {
    std::string Text;
    int32_t ID;
};

// One row of the slot grid below the headings.
struct TSlotRow {
    std::string Slot;
    std::string Value;
    bool operator==(const TSlotRow&) const = default;
};

// Add of a fact the engine has already.
inline constexpr const char* FactExistsMessage = "Fact already exists: %s";

class TFactEditor {
public:
    explicit TFactEditor(TInferenceEngine& engine) : FEngine(engine) {}

    TInferenceEngine& Engine() const noexcept { return FEngine; }

    // The list's line of a fact in an order: Index and Template "text (fN)", ID the label.
    static std::string LineText(const IFact& fact, TFactOrder order);
    // The private engine's facts as lines: Index in fact order, ID and Template sorted by text.
    std::vector<TFactLine> Lines(TFactOrder order) const;

    const TRefPtr<IFact>& Current() const noexcept { return FCurrent; }
    // A copy of the fact with that identifier becomes current; false (nothing current) when the
    // engine has no such fact.
    bool SelectFact(int32_t id);
    // A new fact of the named template becomes current (not asserted: its identifier is -1).
    // False when the engine has no template of that name.
    bool NewFact(const std::string& templateName);
    // The current fact takes the named template (none when the engine has no such template):
    // what "Based On" does while a fact is current.
    void ChooseTemplate(const std::string& templateName);
    std::string CurrentTemplateName() const;

    // The slot grid of the current fact: "ID" and the identifier, then one row per declared
    // slot with its value's text; an ordered fact has "Template" with its relation name and
    // "__Data" with its values. Empty without a current fact.
    const std::vector<TSlotRow>& Grid() const noexcept { return FGrid; }
    void SetGridValue(size_t row, std::string value);
    // Rebuilds the grid from the current fact.
    void RefillGrid();

    // Applying the editor: from the grid (declared slots read one value each; an ordered fact
    // re-read as "(" relation " " data ")"), or from the free-form text. On failure the
    // exception passes and the current fact stays as it was.
    void ApplyGrid();
    void ApplyText(const std::string& text);
    // The current fact's text, as the free-form page shows it.
    std::string CurrentText() const;

    // Whether a grid value was typed since the grid was filled.
    bool GridChanged() const { return FGrid != FShownGrid; }
    // Whether the editor holds an edit that Add or Replace has not taken: a grid value typed,
    // or a current fact that differs from the engine's fact it was made from (a new fact: that
    // was edited at all).
    bool HasPendingEdit() const;

    // Asserts the current fact's text; the asserted fact (a copy) becomes current. Returns its
    // identifier; a fact equal to one present is refused with FactExistsMessage.
    int32_t Add();
    // Retracts the fact `selectedId` and adds the current one in its place; when that is
    // refused the retracted fact comes back under its identifier.
    int32_t Replace(int32_t selectedId);
    // Keeps the current fact as edited: in place of the engine's fact it was made from, or as
    // a new fact.
    int32_t KeepCurrent();
    // Retracts the fact with that identifier; false when there is none.
    bool Delete(int32_t id);

private:
    void FillGrid();
    // An applied edit: the fact becomes current and the grid shows it.
    void TakeCurrent(const TRefPtr<IFact>& fact);

    TInferenceEngine& FEngine;
    TRefPtr<IFact> FCurrent;
    std::vector<TSlotRow> FGrid;
    std::vector<TSlotRow> FShownGrid;
    // The current fact was edited since it was selected or made.
    bool FTouched = false;
};

} // namespace ie
