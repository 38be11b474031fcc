// The fact template editor's behaviour apart from its window: names for new templates and
// slots, renaming with its status complaints, and applying the slot panel (name, default value,
// multislot and default-dynamic flags, defined type) with its checks.
#pragma once

#include <string>
#include <vector>

#include "engine/model/IEInterfaces.h"

namespace ie {

class TInferenceEngine;

// What the slot panel holds when it is applied.
struct TSlotEdit {
    std::string Name;
    std::string DefaultText;
    bool MultiSlot = true;
    bool DefaultDynamic = false;
    // The type frame's type; none keeps the slot without a defined type.
    TRefPtr<IIEDefinedType> Type;

    // The same fields apart from the type: a panel left as it was shown applies nothing.
    bool SameFields(const TSlotEdit& other) const {
        return Name == other.Name && DefaultText == other.DefaultText &&
               MultiSlot == other.MultiSlot && DefaultDynamic == other.DefaultDynamic;
    }
};

class TFactTemplateEditor {
public:
    explicit TFactTemplateEditor(TInferenceEngine& engine) : FEngine(engine) {}

    // "FactTemplateName" followed by the first free number from the template count on.
    std::string NewTemplateName() const;
    // "SlotName" followed by the first free number from the slot count on.
    static std::string NewSlotName(const IFactTemplate& factTemplate);

    // A new template with the comment "Comment", entered in the engine.
    TRefPtr<IFactTemplate> NewTemplate();
    // A new slot with the default kinds.
    TRefPtr<IFactSlot> NewSlot(IFactTemplate& factTemplate);

    // Renames the template unless the name is empty ("Please fill in a name") or another
    // template's ("Duplicate name found"); returns the complaint for the status bar, empty when
    // the template took the name.
    std::string Rename(IFactTemplate& factTemplate, const std::string& name);

    // What the slot panel shows for a slot.
    static bool MultiSlotChecked(const IFactSlot& slot);
    static bool DefaultDynamicChecked(const IFactSlot& slot);
    std::string DefaultText(const IFactSlot& slot) const;
    // The lines shown below a slot in the templates tree: "Type: " (or "Type: (Multislot) ")
    // and the allowed kinds, then "Default: " and the default's text when there is one.
    std::vector<std::string> SlotDetailLines(const IFactSlot& slot) const;

    // Applies the panel to the slot of the template: reads and checks the default ("Invalid
    // default slot value: %s", "Not a %s type.  Value (%s) is a %s type"), then sets name, type,
    // kinds, default and flag. With an empty name nothing is stored. On failure the slot keeps
    // its previous settings. Returns the slot (renamed when the name changed).
    // The text of a default the slot's type refuses: the value and the type's reason.
    std::string RefusedDefault(const IIEDefinedType& type, const IIEValue& value) const;
    TRefPtr<IFactSlot> ApplySlot(IFactTemplate& factTemplate, const std::string& slotName,
                                 const TSlotEdit& edit);

    void DeleteSlot(IFactTemplate& factTemplate, const std::string& slotName);
    void DeleteTemplate(const std::string& name);

private:
    TInferenceEngine& FEngine;
};

} // namespace ie
