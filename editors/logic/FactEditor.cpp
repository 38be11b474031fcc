// The fact editor's logic. The current fact is always a copy, never a fact of the engine, so
// editing the grid changes nothing until Add or Replace asserts its text again; that re-reading
// gives the fact the engine's template as it stands now. An ordered fact's grid shows its
// relation and its values, so applying an untouched grid gives the same fact back.
#include "editors/logic/FactEditor.h"

#include <algorithm>

#include "editors/logic/EngineReading.h"
#include "engine/InferenceEngine.h"
#include "engine/model/IEFacts.h"
#include "platform/Format.h"
#include "platform/Restore.h"

namespace ie {
namespace {

TRefPtr<IFact> CopyOf(const IFact& fact) {
    TRefPtr<ICloneable> copy = fact.Clone();
    return TRefPtr<IFact>(dynamic_cast<IFact*>(copy.get()));
}

// The values of an ordered fact as they stand between its relation name and ")".
std::string DataText(TInferenceEngine& engine, const IFact& fact) {
    TRefPtr<IIEValue> data = fact.GetSlotValue(DataSlotName);
    if (!data) return {};
    if (data->GetDType() != dtList) return ValueText(engine, data.get());
    TRefPtr<IValueVector> list = data->AsList();
    std::string text;
    for (int32_t i = 0; list && i < list->Count(); ++i) {
        if (i > 0) text += ' ';
        text += ValueText(engine, list->GetItem(i).get());
    }
    return text;
}

} // namespace

std::string TFactEditor::LineText(const IFact& fact, TFactOrder order) {
    if (order == foID) return fact.GetLabel();
    return fact.GetText() + " (f" + std::to_string(fact.GetFactId()) + ")";
}

std::vector<TFactLine> TFactEditor::Lines(TFactOrder order) const {
    std::vector<TFactLine> lines;
    lines.reserve(static_cast<size_t>(FEngine.Facts().Count()));
    for (const auto& fact : FEngine.Facts().Items())
        lines.push_back({LineText(*fact, order), fact->GetFactId()});
    if (order != foIndex)
        std::stable_sort(lines.begin(), lines.end(),
                         [](const TFactLine& a, const TFactLine& b) { return a.Text < b.Text; });
    return lines;
}

bool TFactEditor::SelectFact(int32_t id) {
    const int32_t at = FEngine.Facts().IndexOfID(id);
    FCurrent = at >= 0 ? CopyOf(*FEngine.Facts().Item(at)) : nullptr;
    FTouched = false;
    RefillGrid();
    return FCurrent != nullptr;
}

bool TFactEditor::NewFact(const std::string& templateName) {
    TRefPtr<IFactTemplate> t = FEngine.FactTemplates().Find(templateName);
    if (!t) return false;
    FCurrent = t->NewFact();
    FCurrent->SetFactId(-1);
    FTouched = false;
    RefillGrid();
    return true;
}

void TFactEditor::ChooseTemplate(const std::string& templateName) {
    if (!FCurrent) return;
    TRefPtr<IFactTemplate> t = FEngine.FactTemplates().Find(templateName);
    TRefPtr<IFactTemplate> old = FCurrent->GetTemplate();
    if (t.get() == old.get()) return;
    TRefPtr<IFact> fact = t ? t->NewFact() : TRefPtr<IFact>(TFact::Create(nullptr));
    fact->SetFactId(FCurrent->GetFactId());
    // Slots of the same name keep their values where the new template takes them.
    if (t && old)
        for (int32_t i = 0; i < old->SlotCount(); ++i) {
            const std::string& name = old->SlotAt(i)->GetName();
            if (!t->HasSlot(name)) continue;
            try {
                fact->SetSlotValue(name, FCurrent->GetSlotValue(name));
            } catch (const EException&) {
                // A value the new slot refuses is left at its default.
            }
        }
    FCurrent = fact;
    FTouched = true;
    RefillGrid();
}

std::string TFactEditor::CurrentTemplateName() const {
    if (!FCurrent) return {};
    TRefPtr<IFactTemplate> t = FCurrent->GetTemplate();
    return t ? t->GetName() : std::string();
}

void TFactEditor::RefillGrid() {
    FillGrid();
    FShownGrid = FGrid;
}

void TFactEditor::FillGrid() {
    FGrid.clear();
    if (!FCurrent) return;
    FGrid.push_back({"ID", std::to_string(FCurrent->GetFactId())});
    TRefPtr<IFactTemplate> t = FCurrent->GetTemplate();
    if (!t || t->GetImplied()) {
        // An ordered fact shows its relation and its values, so that re-applying the grid
        // gives the same fact back.
        FGrid.push_back({"Template", t ? t->GetName() : std::string()});
        FGrid.push_back({std::string(DataSlotName), t ? DataText(FEngine, *FCurrent) : ""});
        return;
    }
    for (int32_t i = 0; i < t->SlotCount(); ++i) {
        const std::string& name = t->SlotAt(i)->GetName();
        FGrid.push_back({name, ValueText(FEngine, FCurrent->GetSlotValue(name).get())});
    }
}

void TFactEditor::SetGridValue(size_t row, std::string value) {
    if (row < FGrid.size()) FGrid[row].Value = std::move(value);
}

void TFactEditor::TakeCurrent(const TRefPtr<IFact>& fact) {
    FTouched = FTouched || !FCurrent || FCurrent->GetText() != fact->GetText();
    FCurrent = fact;
    RefillGrid();
}

bool TFactEditor::HasPendingEdit() const {
    if (!FCurrent) return false;
    if (GridChanged()) return true;
    if (const IFact* stored = FEngine.Facts().FindID(FCurrent->GetFactId()))
        return stored->GetText() != FCurrent->GetText();
    return FTouched;
}

void TFactEditor::ApplyGrid() {
    if (!FCurrent) return;
    TRefPtr<IFactTemplate> t = FCurrent->GetTemplate();
    if (!t || t->GetImplied()) {
        std::string relation;
        std::string data;
        for (const TSlotRow& row : FGrid) {
            if (row.Slot == "Template") relation = Trimmed(row.Value);
            if (row.Slot == DataSlotName) data = row.Value;
        }
        // The relation typed in the Template row names the fact: an ordered fact can be given
        // another relation there. An emptied row keeps the fact's own.
        if (relation.empty() && t) relation = t->GetName();
        ApplyText("(" + relation + " " + data + ")");
        return;
    }
    TRefPtr<IFact> fact = CopyOf(*FCurrent);
    for (const TSlotRow& row : FGrid) {
        if (row.Slot.empty() || row.Slot == "ID" || !t->HasSlot(row.Slot)) continue;
        TRefPtr<IIEValue> value =
            Trimmed(row.Value).empty() ? nullptr : FEngine.ParseValue(row.Value);
        if (value && value->GetDType() == dtFunCall)
            value = value->AsFunCall()->Evaluate(FEngine.RootContext());
        if (value) fact->SetSlotValue(row.Slot, value);
    }
    TakeCurrent(fact);
}

void TFactEditor::ApplyText(const std::string& text) {
    TRefPtr<IFact> fact = FEngine.ParseFact(text);
    if (!fact) RaiseIE(imFactTemplateMissing);
    fact->SetFactId(FCurrent ? FCurrent->GetFactId() : -1);
    TakeCurrent(fact);
}

std::string TFactEditor::CurrentText() const {
    return FCurrent ? FCurrent->GetText() : std::string();
}

int32_t TFactEditor::Add() {
    if (!FCurrent) return -1;
    // The text, read again by the engine: the fact takes the engine's template of its name as
    // it stands now (the templates may have been edited since the fact became current).
    const std::string text = FCurrent->GetText();
    const int32_t id = FEngine.AssertString(text);
    if (id < 0) throw EIEException(Format(FactExistsMessage, text));
    SelectFact(id);
    return id;
}

int32_t TFactEditor::Replace(int32_t selectedId) {
    if (!FCurrent) return -1;
    TRefPtr<IFact> edited = CopyOf(*FCurrent);
    const int32_t at = FEngine.Facts().IndexOfID(selectedId);
    TRefPtr<IFact> old = at >= 0 ? CopyOf(*FEngine.Facts().Item(at)) : nullptr;
    Delete(selectedId);
    FCurrent = edited;
    try {
        return Add();
    } catch (const EException&) {
        // The edited fact equals another one: the replaced fact stays as it was.
        if (old) {
            const TRestore<bool> keep(FEngine.Facts().KeepIdentifiers, true);
            FEngine.Facts().Add(old);
        }
        FCurrent = edited;
        throw;
    }
}

int32_t TFactEditor::KeepCurrent() {
    if (!FCurrent) return -1;
    const int32_t id = FCurrent->GetFactId();
    return id >= 0 && FEngine.Facts().IndexOfID(id) >= 0 ? Replace(id) : Add();
}

bool TFactEditor::Delete(int32_t id) {
    const int32_t at = FEngine.Facts().IndexOfID(id);
    if (at < 0) return false;
    FEngine.RetractAt(at);
    return true;
}

} // namespace ie
