// The fact template editor's logic. Applying the slot panel checks everything (the default
// against the type and the slot's kinds; a dynamic default must be a call) before it changes
// anything, and the slot's name is set first, so a refused edit leaves the slot as it was.
#include "editors/logic/FactTemplateEditor.h"

#include "editors/logic/EngineReading.h"
#include "engine/InferenceEngine.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEValue.h"

namespace ie {

std::string TFactTemplateEditor::NewTemplateName() const {
    for (int32_t n = FEngine.FactTemplates().Count();; ++n) {
        std::string name = "FactTemplateName" + std::to_string(n);
        if (!FEngine.FactTemplates().Find(name)) return name;
    }
}

std::string TFactTemplateEditor::NewSlotName(const IFactTemplate& factTemplate) {
    for (int32_t n = factTemplate.SlotCount();; ++n) {
        std::string name = "SlotName" + std::to_string(n);
        if (!factTemplate.HasSlot(name)) return name;
    }
}

TRefPtr<IFactTemplate> TFactTemplateEditor::NewTemplate() {
    const std::string name = NewTemplateName();
    TRefPtr<IFactTemplate> t = TFactTemplate::CreateNamed(&FEngine, name);
    t->SetComment("Comment");
    FEngine.FactTemplates().PutTemplate(name, t);
    return t;
}

TRefPtr<IFactSlot> TFactTemplateEditor::NewSlot(IFactTemplate& factTemplate) {
    auto* owner = dynamic_cast<TFactTemplate*>(&factTemplate);
    if (!owner) return nullptr;
    // A slot without a default, of the kinds a new single slot takes; naming it enters it in
    // the template's table.
    TRefPtr<TFactSlot> slot = TFactSlot::Create(owner);
    slot->SetSlotType(SingleSlotTypes());
    slot->SetName(NewSlotName(factTemplate));
    return slot;
}

std::string TFactTemplateEditor::Rename(IFactTemplate& factTemplate, const std::string& name) {
    if (name.empty()) return "Please fill in a name";
    if (name == factTemplate.GetName()) return {};
    if (FEngine.FactTemplates().Find(name)) return "Duplicate name found";
    factTemplate.SetName(name);
    return {};
}

bool TFactTemplateEditor::MultiSlotChecked(const IFactSlot& slot) {
    const TIETypes kinds = slot.GetSlotType();
    return kinds.Contains(dtList) || kinds.Contains(dtMultiSlot);
}

bool TFactTemplateEditor::DefaultDynamicChecked(const IFactSlot& slot) {
    TRefPtr<IIEValue> value = slot.GetSlotDefault();
    return value && value->GetDType() == dtFunCall;
}

std::string TFactTemplateEditor::DefaultText(const IFactSlot& slot) const {
    TRefPtr<IIEValue> value = slot.GetSlotDefault();
    return ValueText(FEngine, value.get());
}

std::vector<std::string> TFactTemplateEditor::SlotDetailLines(const IFactSlot& slot) const {
    std::vector<std::string> lines;
    lines.push_back((slot.IsMultiSlot() ? "Type: (Multislot) " : "Type: ") +
                    SetToText(slot.GetSlotType() - MultiSlotMarkers, ", "));
    if (slot.GetSlotDefault()) lines.push_back("Default: " + DefaultText(slot));
    return lines;
}

std::string TFactTemplateEditor::RefusedDefault(const IIEDefinedType& type,
                                                const IIEValue& value) const {
    // The value as the user reads it (nil too), and why the type refuses it.
    std::string shown = ValueText(FEngine, &value);
    if (shown.empty()) shown = value.AsString();
    if (shown.empty()) shown = "\"\"";
    std::string reason = type.ValidationError(&value);
    // The type's message repeats the value before its reason: keep the reason.
    if (reason.starts_with("Value ")) {
        const size_t comma = reason.find(", ");
        if (comma != std::string::npos) reason.erase(0, comma + 2);
    }
    return reason.empty() ? shown : shown + " (" + reason + ")";
}

TRefPtr<IFactSlot> TFactTemplateEditor::ApplySlot(IFactTemplate& factTemplate,
                                                  const std::string& slotName,
                                                  const TSlotEdit& edit) {
    TRefPtr<IFactSlot> slot = factTemplate.SlotByName(slotName);
    if (!slot) return nullptr;
    TRefPtr<IIEValue> value =
        Trimmed(edit.DefaultText).empty() ? nullptr : FEngine.ParseValue(edit.DefaultText);
    const bool isCall = value && value->GetDType() == dtFunCall;
    // A dynamic default is a call that only the fact's assertion evaluates: the type judges
    // its result then, not the call.
    if (value && !isCall && edit.Type && !edit.Type->IsValid(value.get()))
        RaiseIE(imInvalidDefaultSlotValue, RefusedDefault(*edit.Type, *value));

    TIETypes kinds = edit.Type ? edit.Type->GetBaseTypes() : slot->GetSlotType() - MultiSlotMarkers;
    if (!edit.Type && kinds.Empty()) kinds = SingleSlotTypes();
    const bool multi = edit.MultiSlot && !edit.DefaultDynamic;
    if (multi) kinds = kinds | MultiSlotMarkers;

    if (value) {
        if (!edit.DefaultDynamic) {
            if (isCall) {
                value = value->AsFunCall()->Evaluate(FEngine.RootContext());
                if (value && edit.Type && !edit.Type->IsValid(value.get()))
                    RaiseIE(imInvalidDefaultSlotValue, RefusedDefault(*edit.Type, *value));
            }
            if (multi && value && value->GetDType() != dtList) {
                auto list = MakeRef<TValueVector>();
                list->Add(value);
                value = TIEValue::CreateList(list);
            }
            const TIEType kind = value->GetDType();
            const bool numberForFuzzy =
                kinds.Contains(dtFuzzy) && (kind == dtInteger || kind == dtFloat);
            if (!kinds.Contains(kind) && !numberForFuzzy)
                RaiseIE(imNotAType, SetToText(kinds), value->GetText(), IETypeName(kind));
        } else if (!isCall) {
            RaiseIE(imNotAType, "function call", value->GetText(), IETypeName(value->GetDType()));
        }
    }
    if (edit.Name.empty()) return slot;
    // The name first: a name another slot has raises before anything changed.
    slot->SetName(edit.Name);
    slot->SetExtendedTypeInfo(edit.Type);
    slot->SetSlotType(kinds);
    slot->SetSlotDefault(value);
    slot->SetDefaultDynamic(edit.DefaultDynamic);
    if (auto* t = dynamic_cast<TFactTemplate*>(&factTemplate)) t->MarkChanged();
    return slot;
}

void TFactTemplateEditor::DeleteSlot(IFactTemplate& factTemplate, const std::string& slotName) {
    factTemplate.DeleteSlot(slotName);
}

void TFactTemplateEditor::DeleteTemplate(const std::string& name) {
    FEngine.FactTemplates().RemoveTemplate(name);
}

} // namespace ie
