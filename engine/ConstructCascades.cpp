// The construct cascades over the engine's tables: rules found by their patterns (and, for a
// rebuild, by the facts their actions hold), fact-set facts by their template, templates by
// their slots' types.
//
// Invariant: the tables are only walked while names are collected; the removals come after, so
// no table changes under its own iteration.
#include "engine/ConstructCascades.h"

#include <string>
#include <vector>

#include "engine/EngineTables.h"
#include "engine/InferenceEngine.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEInterpretedFunction.h"
#include "engine/model/IEPackages.h"

namespace ie {

namespace {

// Whether a value, at any depth of calls and lists, holds a fact of the template.
bool MentionsTemplate(const IIEValue* value, const IFactTemplate* factTemplate, int depth = 0) {
    if (!value || depth > 64) return false;
    switch (value->GetDType()) {
    case dtFact: {
        TRefPtr<IFact> fact = value->AsFact();
        return fact && fact->GetTemplate().get() == factTemplate;
    }
    case dtFunCall: {
        TRefPtr<IFunCall> call = value->AsFunCall();
        for (int32_t i = 0; call && i < call->ArgumentCount(); ++i)
            if (MentionsTemplate(call->GetArgument(i).get(), factTemplate, depth + 1)) return true;
        return false;
    }
    case dtList: {
        TRefPtr<IValueVector> list = value->AsList();
        for (int32_t i = 0; list && i < list->Count(); ++i)
            if (MentionsTemplate(list->GetItem(i).get(), factTemplate, depth + 1)) return true;
        return false;
    }
    default:
        return false;
    }
}

bool RuleHasPatternOn(const TRule& rule, const IFactTemplate* factTemplate) {
    for (int32_t p = 0; p < rule.PatternCount(); ++p)
        if (rule.GetPattern(p)->FactTemplate().get() == factTemplate) return true;
    return false;
}

bool RuleUsesTemplate(const TRule& rule, const IFactTemplate* factTemplate) {
    if (RuleHasPatternOn(rule, factTemplate)) return true;
    for (int32_t a = 0; a < rule.ActionCount(); ++a) {
        const TRefPtr<IFunCall>& call = rule.GetAction(a);
        for (int32_t i = 0; call && i < call->ArgumentCount(); ++i)
            if (MentionsTemplate(call->GetArgument(i).get(), factTemplate)) return true;
    }
    return false;
}

bool TemplateUsesType(IFactTemplate& factTemplate, const IIEDefinedType* type) {
    for (int32_t i = 0; i < factTemplate.SlotCount(); ++i)
        if (factTemplate.SlotAt(i)->GetExtendedTypeInfo().get() == type) return true;
    return false;
}

bool FunctionUsesTemplate(const TInterpretedFunction& function, const IFactTemplate* factTemplate) {
    for (const auto& action : function.Actions())
        if (MentionsTemplate(action.get(), factTemplate)) return true;
    return false;
}

// The deffunctions whose bodies hold facts of the template, by name.
std::vector<TInterpretedFunction*> FunctionsUsing(TUserFunctions& functions,
                                                  const IFactTemplate* factTemplate) {
    std::vector<TInterpretedFunction*> users;
    if (functions.DeffunctionCount() == 0) return users;
    for (const auto& entry : functions)
        if (auto* f = dynamic_cast<TInterpretedFunction*>(entry.Intf().get()))
            if (FunctionUsesTemplate(*f, factTemplate)) users.push_back(f);
    return users;
}

bool HasFactsOf(TInferenceEngine& engine, const IFactTemplate* factTemplate) {
    for (const auto& fact : engine.Facts().Items())
        if (fact && fact->GetTemplate().get() == factTemplate) return true;
    return false;
}

// Whether a fact-set line not parsed (yet, or again) names the template first.
bool LineNamesTemplate(const std::string& line, const IFactTemplate* factTemplate) {
    const size_t start = line.find_first_not_of(" \t\r\n(");
    if (start == std::string::npos || line.find('(') > start) return false;
    const size_t end = line.find_first_of(" \t\r\n()", start);
    return line.compare(start, end == std::string::npos ? std::string::npos : end - start,
                        factTemplate->GetName()) == 0;
}

// The fact-set facts of the template: read again from their lines, or, with `remove`, gone
// with the template (a reset would read them against no template, and a saved deffacts would
// not load).
void ClearFactSetFactsOf(TFactSets& sets, const IFactTemplate* factTemplate, bool remove) {
    for (TFactSet* set : sets.Items()) {
        TFactSetFacts& facts = set->Facts();
        for (int32_t i = facts.Count() - 1; i >= 0; --i) {
            auto fact = facts.GetInterfaceAs<IFact>(i);
            const bool of = fact ? fact->GetTemplate().get() == factTemplate
                                 : remove && LineNamesTemplate(facts.Get(i), factTemplate);
            if (!of) continue;
            if (remove)
                facts.Delete(i);
            else
                facts.PutInterface(i, nullptr);
        }
    }
}

// The templates that extend the old one extend the new one instead (none, when it is removed:
// they keep the slots they took over, and what is saved of them reads back).
void ReparentChildrenOf(TFactTemplates& templates, const IFactTemplate* oldTemplate,
                        IFactTemplate* newTemplate) {
    for (const auto& entry : templates) {
        auto* t = dynamic_cast<IFactTemplate*>(entry.Intf().get());
        if (t && t != oldTemplate && t->GetParent().get() == oldTemplate)
            t->SetParent(TRefPtr<IFactTemplate>(newTemplate));
    }
}

} // namespace

void TConstructCascades::CheckTemplateRemovable(IFactTemplate* factTemplate) {
    if (!factTemplate) return;
    // Rules and facts go with the template; a deffunction or a global is the user's own code,
    // which would no longer read back once the template is gone: the removal is refused.
    std::string users;
    for (const TInterpretedFunction* f : FunctionsUsing(FEngine.UserFunctions(), factTemplate))
        users += (users.empty() ? "deffunction " : ", deffunction ") + f->GetFunctionName();
    for (const auto& entry : FEngine.GlobalVariables())
        if (MentionsTemplate(dynamic_cast<IIEValue*>(entry.Intf().get()), factTemplate))
            users += (users.empty() ? "global ?*" : ", global ?*") + entry.Key() + "*";
    if (!users.empty())
        throw EIEException(Format("Cannot remove the fact template %s: %s use it",
                                  factTemplate->GetName(), users));
}

void TConstructCascades::CheckTemplateReplaceable(IFactTemplate* factTemplate) {
    if (!factTemplate || !FEngine.FiringActivation()) return;
    bool used = HasFactsOf(FEngine, factTemplate);
    for (const auto& entry : FEngine.Rules()) {
        if (used) break;
        used = RuleUsesTemplate(*static_cast<TRule*>(entry.Value()), factTemplate);
    }
    if (used)
        throw EIEException(Format("Redefining the fact template %s is not allowed while rules "
                                  "fire: rules or facts use it",
                                  factTemplate->GetName()));
}

void TConstructCascades::CheckTypeChange(IIEDefinedType* type, bool replacing) {
    if (!type) return;
    std::vector<TRefPtr<IFactTemplate>> users;
    for (const auto& entry : FEngine.FactTemplates()) {
        auto* t = dynamic_cast<IFactTemplate*>(entry.Intf().get());
        if (t && TemplateUsesType(*t, type)) users.emplace_back(t);
    }
    for (const auto& t : users) {
        if (replacing)
            CheckTemplateReplaceable(t.get());
        else
            CheckTemplateRemovable(t.get());
    }
}

void TConstructCascades::RemoveTemplateDependants(IFactTemplate* factTemplate) {
    if (!factTemplate) return;
    FEngine.WorkingMemory().RetractFactsOf(factTemplate);
    ClearFactSetFactsOf(FEngine.FactSets(), factTemplate, true);
    ReparentChildrenOf(FEngine.FactTemplates(), factTemplate, nullptr);
    // Every rule that uses the template goes: one with a pattern on it, and one whose actions
    // assert or hold its facts, which could only fail from now on and would not read back.
    TRules& rules = FEngine.Rules();
    std::vector<std::string> names;
    for (const auto& entry : rules)
        if (RuleUsesTemplate(*static_cast<TRule*>(entry.Value()), factTemplate))
            names.push_back(entry.Key());
    for (const auto& name : names)
        rules.RemoveRule(name);
}

void TConstructCascades::RemoveTemplatesUsingType(IIEDefinedType* type) {
    if (!type) return;
    TFactTemplates& templates = FEngine.FactTemplates();
    std::vector<std::string> names;
    for (const auto& entry : templates) {
        auto* t = dynamic_cast<IFactTemplate*>(entry.Intf().get());
        if (t && TemplateUsesType(*t, type)) names.push_back(entry.Key());
    }
    for (auto it = names.rbegin(); it != names.rend(); ++it)
        templates.RemoveTemplate(*it);
}

void TConstructCascades::RebuildTemplateDependants(IFactTemplate* oldTemplate,
                                                   IFactTemplate* newTemplate) {
    if (!oldTemplate) return;
    if (!newTemplate || oldTemplate->GetName() != newTemplate->GetName()) {
        FEngine.RemoveTemplateDependants(oldTemplate);
        return;
    }
    // The facts go now and come back as text, read against the new template.
    std::vector<TInferenceEngine::TExecuteLine> lines;
    FEngine.WorkingMemory().RetractFactsOf(oldTemplate, [&](const TRefPtr<IFact>& fact) {
        lines.push_back({FEngine.FormatFact(*fact), true});
    });
    ClearFactSetFactsOf(FEngine.FactSets(), oldTemplate, false);
    ReparentChildrenOf(FEngine.FactTemplates(), oldTemplate, newTemplate);
    // Deffunctions whose bodies hold facts of the template are read again too (before the
    // rules, which may call them).
    TUserFunctions& functions = FEngine.UserFunctions();
    std::vector<std::string> functionNames;
    for (TInterpretedFunction* f : FunctionsUsing(functions, oldTemplate)) {
        functionNames.push_back(f->GetFunctionName());
        lines.push_back({FEngine.FormatDeffunction(*f), false});
    }
    for (const auto& name : functionNames)
        functions.RemoveFunction(name);
    TRules& rules = FEngine.Rules();
    std::vector<std::string> names;
    for (const auto& entry : rules) {
        auto* rule = static_cast<TRule*>(entry.Value());
        if (RuleUsesTemplate(*rule, oldTemplate)) {
            names.push_back(entry.Key());
            lines.push_back({FEngine.FormatRule(*rule), false});
        }
    }
    for (const auto& name : names)
        rules.RemoveRule(name);
    FEngine.ExecuteLines(lines);
}

void TConstructCascades::RebuildTypeDependants(IIEDefinedType* oldType, IIEDefinedType* newType) {
    if (!oldType) return;
    if (!newType || oldType->GetName() != newType->GetName()) {
        FEngine.RemoveTemplatesUsingType(oldType);
        return;
    }
    TFactTemplates& templates = FEngine.FactTemplates();
    std::vector<TRefPtr<IFactTemplate>> users;
    for (const auto& entry : templates) {
        auto* t = dynamic_cast<IFactTemplate*>(entry.Intf().get());
        if (t && TemplateUsesType(*t, oldType)) users.emplace_back(t);
    }
    TRefPtr<IIEDefinedType> replacement(newType);
    for (const auto& t : users) {
        // The same template on the new type: every slot of the old type takes the new one.
        TRefPtr<IFactTemplate> rebuilt = t->CloneFor(&FEngine);
        for (int32_t i = 0; i < rebuilt->SlotCount(); ++i) {
            TRefPtr<IFactSlot> slot = rebuilt->SlotAt(i);
            if (slot->GetExtendedTypeInfo().get() == oldType)
                slot->SetExtendedTypeInfo(replacement);
        }
        templates.ReplaceTemplate(t, rebuilt);
    }
}

} // namespace ie
