// The construct cascades: what goes or is re-made with a template or a defined type when the
// construct tables remove or replace it (facts of the template, its facts in fact sets, rules
// with a pattern on it or actions that hold its facts, deffunctions re-made on a replacement,
// templates with a slot of the type), and what refuses such a change. TInferenceEngine's cascade
// methods, which the tables call, forward here.
//
// Invariant: after a cascade no fact, fact-set fact or rule of the engine refers to the removed
// template, and no template to the removed type; on a replacement under the same name, what
// referred to the old construct refers to the new one.
#pragma once

namespace ie {

class IFactTemplate;
class IIEDefinedType;
class TInferenceEngine;

class TConstructCascades {
public:
    explicit TConstructCascades(TInferenceEngine& engine) noexcept : FEngine(engine) {}

    // Raises, naming them, when deffunctions or globals hold facts of the template.
    void CheckTemplateRemovable(IFactTemplate* factTemplate);
    // Raises while rules fire when rules or facts use the template.
    void CheckTemplateReplaceable(IFactTemplate* factTemplate);
    // Those checks for every template with a slot of the type.
    void CheckTypeChange(IIEDefinedType* type, bool replacing);
    // Retracts the template's facts, drops them from the fact sets and removes every rule with
    // a pattern on it or an action that holds its facts.
    void RemoveTemplateDependants(IFactTemplate* factTemplate);
    // Removes every template with a slot of the type.
    void RemoveTemplatesUsingType(IIEDefinedType* type);
    // The facts of the old template are asserted again and the deffunctions and rules that use
    // it re-created against the new one (as text, through the engine's ExecuteLines); another name
    // removes the dependants instead.
    void RebuildTemplateDependants(IFactTemplate* oldTemplate, IFactTemplate* newTemplate);
    // Each template with a slot of the old type is replaced by a copy on the new type; another
    // name removes those templates instead.
    void RebuildTypeDependants(IIEDefinedType* oldType, IIEDefinedType* newType);

private:
    TInferenceEngine& FEngine;
};

} // namespace ie
