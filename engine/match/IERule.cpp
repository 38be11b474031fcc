// Rules: pattern and action lists, variable bindings, the salience, and the firing that binds a
// matched token's values in a child context and runs the actions.
//
// Invariant: the match binds its variables in the firing context itself, shadowing and never
// overwriting a name bound higher up; variables of not and exists elements stay their elements'
// own. Firing is the hot path, so the load plan (which token level and slot feeds each variable)
// is worked out once per rule and firing contexts are reused, with the names they bound.
#include "engine/match/IERule.h"

#include <atomic>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace ie {

namespace {

// Renames the variable arguments of a call (recursively) that AddPattern renamed.
void RenameCallVariables(IFunCall& call,
                         const std::unordered_map<std::string, std::string>& renamed) {
    for (int32_t i = 0; i < call.ArgumentCount(); ++i) {
        const TRefPtr<IIEValue>& arg = call.GetArgument(i);
        if (!arg) continue;
        TIEType t = arg->GetDType();
        if (t == dtVariable || t == dtMultiVariable) {
            auto it = renamed.find(VariableName(*arg));
            if (it != renamed.end()) call.SetArgument(i, MakeVariable(t, it->second));
        } else if (t == dtFunCall) {
            if (TRefPtr<IFunCall> inner = arg->AsFunCall()) RenameCallVariables(*inner, renamed);
        }
    }
}

// Binds the name in the firing context itself: a variable of the same name further up (one
// bound at the top level) is shadowed, never overwritten by the match. `fresh`: the context does
// not hold the name yet.
void BindLocally(TIEContext& context, std::string_view name, TRefPtr<IIEValue> value, bool fresh) {
    if (!fresh)
        if (TBinding* own = context.Bindings().Find(name)) {
            own->Value = std::move(value);
            return;
        }
    context.Bindings().Append(name, std::move(value));
}

// The engine's own list that a value of the engine's own kind holds, read without a call (the
// addresses of the type information tell the classes); null for anything else.
const IValueVector* OwnList(const IIEValue* value) noexcept {
    if (!value || &typeid(*value) != &typeid(TIEValue)) return nullptr;
    const IValueVector* list = static_cast<const TIEValue*>(value)->ListPayload();
    return list && &typeid(*list) == &typeid(TValueVector) ? list : nullptr;
}

} // namespace

TRule::TRule(TComponent* owner, IRuleEngine* engine) : TComponent(owner) {
    if (!engine) engine = dynamic_cast<IRuleEngine*>(owner);
    if (engine) {
        FEngine = engine;
        FRuleNumber = engine->NextRuleIndex();
        FRuleName = TIEText::Make("Rule_" + std::to_string(FRuleNumber));
    }
}

TRule::~TRule() {
    if (FOwnsSpare) ReleaseSpareSlot();
    OnFire = nullptr;
    OnChange = nullptr;
    FUpdateCount = 1; // no change notifications while the parts go
    FPatterns.clear();
}

void TRule::SetEngine(IRuleEngine* engine) {
    if (engine == FEngine) return;
    if (FEngine) FEngine->RuleEngineDetached(*this);
    FEngine = engine;
    if (FEngine) {
        FRuleNumber = FEngine->NextRuleIndex();
        FEngine->RuleEngineAttached(*this);
    }
}

void TRule::CheckName(std::string_view name) const {
    int32_t pos = FirstCharOf(name, IEInvalidNameChars);
    if (pos > 0) RaiseIE(imUnexpectedCharacterIn, name, name[pos - 1]);
}

void TRule::SetRuleName(std::string_view name) {
    if (name == RuleName()) return;
    CheckName(name);
    std::string old = RuleName();
    FRuleName = TIEText::Make(name);
    FRuleNameValue = nullptr;
    if (FEngine) FEngine->RuleRenamed(*this, old);
}

void TRule::SetSalience(int32_t value) {
    if (value == FSalience) return;
    FSalience = value;
    FSalienceExpression = TIEValue::CreateInteger(dtInteger, value);
    FSalienceFixed = false;
    Changed();
}

void TRule::SetSalienceExpression(TRefPtr<IIEValue> value) {
    FSalienceExpression = std::move(value);
    FSalienceFixed = !FSalienceExpression;
    EvaluateSalience();
}

void TRule::EvaluateSalience() {
    if (FSalienceFixed || !FEngine || !FSalienceExpression) return;
    // A number (every rule's salience but a dynamic one) stands for itself: no context needed.
    if (const TIEType type = FSalienceExpression->GetDType();
        type == dtInteger || type == dtFloat) {
        FSalience = FSalienceExpression->AsInteger();
        FSalienceFixed = true;
        return;
    }
    // The agenda calls this while a token is in flight: a new value only reorders the agenda,
    // so it is stored without a change notification (which would recompile the rule and rebuild
    // nodes in the middle of the propagation) and the expression stays dynamic.
    auto context = FEngine->RootContext()->CreateChild();
    const TActivityScope busy(FEngine, eaSalience);
    TRefPtr<IIEValue> result = FSalienceExpression->Evaluate(context.get());
    if (result) FSalience = result->AsInteger();
}

void TRule::Changed() {
    BindingsChanged();
    if (FUpdateCount > 0) return;
    if (FEngine) FEngine->RuleChanged(*this);
    if (OnChange) OnChange(this);
}

void TRule::EndUpdate() {
    if (FUpdateCount > 0) --FUpdateCount;
    if (FUpdateCount == 0) Changed();
}

int32_t TRule::IndexOfPattern(const TIEPattern* pattern) const noexcept {
    for (size_t i = 0; i < FPatterns.size(); ++i)
        if (FPatterns[i].get() == pattern) return static_cast<int32_t>(i);
    return -1;
}

int32_t TRule::TokenIndexOf(int32_t patternIndex) const noexcept {
    int32_t index = patternIndex;
    for (int32_t i = 0; i < patternIndex && i < PatternCount(); ++i)
        if (FPatterns[i]->IsTest()) --index;
    return index;
}

std::unique_ptr<TIEPattern> TRule::NewPattern(std::string_view name,
                                              TRefPtr<IFactTemplate> factTemplate,
                                              int32_t negatedCount) {
    return std::make_unique<TIEPattern>(this, name, std::move(factTemplate), negatedCount);
}

namespace {

// A negated, test or goal-seeking element cannot start a rule: it needs a fact to join with,
// which the initial fact in front of it supplies.
bool NeedsFactBefore(const TIEPattern& p) {
    return p.NegatedCount() > 0 || p.IsTest() ||
           (p.FactTemplate() && p.FactTemplate()->GetBackwardChaining());
}

} // namespace

TIEPattern* TRule::AddPattern(std::unique_ptr<TIEPattern> pattern) {
    if (!FEngine) RaiseIE(imUnknownEngine);
    TIEPattern* p = pattern.get();
    p->FRule = this;
    if (FPatterns.empty() && NeedsFactBefore(*p)) {
        if (TIEPattern* initial = FEngine->InitialFactPattern()) {
            auto copy = initial->CopyForRule(this);
            TIEPattern* raw = copy.get();
            FPatterns.push_back(std::move(copy));
            RunAddPattern(raw);
        }
    }
    FPatterns.push_back(std::move(pattern));
    RunAddPattern(p);
    Changed();
    return p;
}

void TRule::RunAddPattern(TIEPattern* p) {
    const int32_t index = IndexOfPattern(p);
    p->BeginUpdate();
    if (p->IsGoal() && p->BoundName().empty()) p->FBoundName = FEngine->GenSym(FactIndexName);
    if (!p->BoundName().empty()) AddBinding(p->BoundName(), index, PatternSlotName, -1);

    std::unordered_map<std::string, std::string> renamed;
    for (int32_t s = 0; s < p->SlotCount(); ++s) {
        for (int32_t t = 0; t < p->SlotTestCount(s); ++t) {
            TIEPatternMatchTest* test = p->GetTest(s, t);
            if (!test->IsVariable()) continue;
            std::string name = VariableName(*test->SlotValue());
            if (FindBinding(name, index)) continue;
            if (p->NegatedCount() > 0 && name.starts_with(BlankVariableName)) {
                std::string fresh = "_";
                fresh += std::to_string(PatternCount());
                fresh += '_';
                fresh += name;
                renamed.emplace(name, fresh);
                test->FSlotValue = MakeVariable(test->ValueType(), fresh);
                name = fresh;
            } else if (test->SlotTestType() == sttNotEquals) {
                p->EndUpdate();
                RaiseIE(imFirstUseNegated, name);
            }
            AddBinding(name, index, p->GetSlotName(s), test->MultiSlotSubIndex());
        }
    }
    if (!renamed.empty())
        for (int32_t s = 0; s < p->SlotCount(); ++s)
            for (int32_t t = 0; t < p->SlotTestCount(s); ++t) {
                TIEPatternMatchTest* test = p->GetTest(s, t);
                if (test->IsFunCall())
                    if (TRefPtr<IFunCall> call = test->SlotValue()->AsFunCall())
                        RenameCallVariables(*call, renamed);
            }
    p->CompileConnectives();
    p->FUpdateCount = 0;

    if (p->IsGoal()) {
        // The goal is only pursued while no fact of the template it asks for matches: the
        // partner element is built on that template, not on the goal's own, which would make
        // the goal fact block its own rule. It is explicit so that it raises no goal itself.
        const std::string_view target = std::string_view(p->Name()).substr(GoalFactPrefix.size());
        auto goal =
            std::make_unique<TIEPattern>(this, *p, target, 1, FEngine->FindFactTemplate(target));
        goal->FBoundName.clear();
        goal->FExplicit = true;
        TIEPattern* raw = goal.get();
        FPatterns.push_back(std::move(goal));
        RunAddPattern(raw);
    }
}

void TRule::AddAction(TRefPtr<IFunCall> action) {
    FActions.push_back(std::move(action));
    Changed();
}

void TRule::ClearPatterns() {
    BindingsChanged();
    FPatterns.clear();
    FBindings.clear();
    Changed();
}

void TRule::ClearActions() {
    FActions.clear();
    Changed();
}

TBinding* TRule::AddBinding(std::string_view name, int32_t patternIndex, std::string_view slotName,
                            int32_t subIndex) {
    auto binding = std::make_unique<TBinding>(name, patternIndex, slotName, subIndex);
    for (const auto& b : FBindings)
        if (b->Equals(binding.get())) return b.get();
    BindingsChanged();
    FBindings.push_back(std::move(binding));
    return FBindings.back().get();
}

int32_t TRule::IndexOfBinding(std::string_view name) const noexcept {
    for (size_t i = 0; i < FBindings.size(); ++i)
        if (FBindings[i]->Name == name) return static_cast<int32_t>(i);
    return -1;
}

TBinding* TRule::FindBinding(std::string_view name) const noexcept {
    int32_t i = IndexOfBinding(name);
    return i < 0 ? nullptr : FBindings[i].get();
}

TBinding* TRule::FindBinding(std::string_view name, int32_t patternIndex) const noexcept {
    for (const auto& b : FBindings) {
        if (b->Name != name) continue;
        if (b->FactIndex == patternIndex) return b.get();
        if (b->FactIndex < patternIndex && !IsNegatedBinding(*b)) return b.get();
    }
    return nullptr;
}

bool TRule::IsNegatedBinding(const TBinding& binding) const {
    if (binding.FactIndex < 0 || binding.FactIndex >= PatternCount()) return false;
    return FPatterns[binding.FactIndex]->NegatedCount() > 0;
}

int32_t TRule::ElementNumber(int32_t patternIndex) const {
    int32_t number = 0;
    for (int32_t i = 0; i <= patternIndex && i < PatternCount(); ++i) {
        const TIEPattern* p = FPatterns[i].get();
        if (i > 0 && FPatterns[i - 1]->IsGoal()) continue; // the goal's partner
        if (i == 0 && PatternCount() > 1 && FEngine && FEngine->InitialFactPattern() &&
            p->Name() == FEngine->InitialFactPattern()->Name()) {
            // Put in front of an element that needs a fact to join with.
            if (NeedsFactBefore(*FPatterns[1])) continue;
        }
        ++number;
    }
    return number;
}

namespace {

// Walks the actions in the order they are written, as a firing evaluates them.
class TActionVariableScan {
public:
    explicit TActionVariableScan(const TRule& rule) : FRule(rule) {
        FBound.insert(std::string(RuleVariableName));
    }

    void Call(const IFunCall& call) {
        const std::string& name = call.GetFunctionName();
        const int32_t n = call.ArgumentCount();
        int32_t from = 0;
        if (name == "bind" && n >= 1) {
            // The value is read before the variable is bound.
            for (int32_t i = 1; i < n; ++i)
                Argument(call.GetArgument(i));
            Binds(call.GetArgument(0), true);
            return;
        }
        if (name == "foreach" && n >= 1) {
            // The list is read before the variable is bound, the actions after.
            if (n >= 2) Argument(call.GetArgument(1));
            Binds(call.GetArgument(0), false);
            from = 2;
        }
        if (name == "try") FBound.insert("__ERROR");
        for (int32_t i = from; i < n; ++i)
            Argument(call.GetArgument(i));
    }

    void Argument(const TRefPtr<IIEValue>& value) {
        if (!value || !FUnbound.empty()) return;
        switch (value->GetDType()) {
        case dtVariable:
        case dtMultiVariable:
            Read(VariableName(*value));
            break;
        case dtFunCall:
            if (TRefPtr<IFunCall> call = value->AsFunCall()) Call(*call);
            break;
        case dtList:
            if (TRefPtr<IValueVector> items = value->AsList())
                for (int32_t i = 0; i < items->Count(); ++i)
                    Argument(items->GetItem(i));
            break;
        case dtFact:
            if (TRefPtr<IFact> fact = value->AsFact())
                if (TRefPtr<IFactTemplate> t = fact->GetTemplate())
                    for (int32_t i = 0; i < t->SlotCount(); ++i) {
                        TRefPtr<IIEValue> slotValue;
                        if (fact->FindSlotValue(t->SlotAt(i)->GetName(), slotValue))
                            Argument(slotValue);
                    }
            break;
        default:
            break;
        }
    }

    // The first variable read unbound; empty when none, or when a bind or foreach named its
    // variable through an expression.
    std::string Result() const { return FDynamic ? std::string() : FUnbound; }

private:
    // bind takes its variable as written; foreach evaluates the name (a constant in practice).
    void Binds(const TRefPtr<IIEValue>& target, bool written) {
        const TIEType t = target ? target->GetDType() : dtNone;
        if (written && (t == dtVariable || t == dtMultiVariable)) {
            FBound.insert(VariableName(*target));
        } else if (t == dtAtom || t == dtString) {
            FBound.insert(target->AsString());
        } else {
            Argument(target);
            FDynamic = true;
        }
    }

    void Read(const std::string& name) {
        if (name.empty() || name.starts_with('*') || FBound.count(name)) return;
        if (FRule.FindBinding(name, FRule.PatternCount())) return;
        if (IRuleEngine* engine = FRule.Engine()) {
            if (engine->IsGlobalVariable(name)) return;
            // A variable bound at the top level: the firing context is a child of the root.
            if (TIEContext* root = engine->RootContext(); root && root->FindBinding(name)) return;
        }
        FUnbound = name;
    }

    const TRule& FRule;
    std::unordered_set<std::string> FBound;
    std::string FUnbound;
    bool FDynamic = false;
};

} // namespace

std::string TRule::FirstUnboundActionVariable() const {
    TActionVariableScan scan(*this);
    for (const auto& action : FActions)
        if (action) scan.Call(*action);
    return scan.Result();
}

namespace {

// Walks the actions for a form that fails whatever the facts are: an if without its then, a
// modify or duplicate of a pattern's fact that names a slot the pattern's template lacks.
class TActionFormScan {
public:
    explicit TActionFormScan(const TRule& rule) : FRule(rule) {}

    // A variable an action binds may hold another fact by the time a modify reads it: every
    // action is collected before any is checked.
    void CollectBinds(const IFunCall& call) {
        const int32_t n = call.ArgumentCount();
        const std::string& name = call.GetFunctionName();
        if ((name == "bind" || name == "foreach") && n >= 1)
            if (const IIEValue* target = call.GetArgument(0).get())
                FRebound.insert(target->GetDType() == dtVariable ||
                                        target->GetDType() == dtMultiVariable
                                    ? VariableName(*target)
                                    : target->AsString());
        for (int32_t i = 0; i < n; ++i)
            if (const IIEValue* argument = call.GetArgument(i).get())
                if (argument->GetDType() == dtFunCall)
                    if (TRefPtr<IFunCall> inner = argument->AsFunCall()) CollectBinds(*inner);
    }

    std::string Fault() const { return FFault; }

    void Value(const IIEValue* value) {
        if (!value || !FFault.empty()) return;
        if (value->GetDType() == dtFunCall) {
            if (TRefPtr<IFunCall> call = value->AsFunCall()) Call(*call);
        } else if (value->GetDType() == dtList) {
            if (TRefPtr<IValueVector> items = value->AsList())
                for (int32_t i = 0; i < items->Count(); ++i)
                    Value(items->GetItem(i).get());
        }
    }

    void Call(const IFunCall& call) {
        const std::string& name = call.GetFunctionName();
        const int32_t n = call.ArgumentCount();
        if (name == "if" && n >= 2 && !IsAtom(call.GetArgument(1).get(), "then")) {
            FFault = Format(IEMessage(imSyntaxError), IEMessage(imMissingThen));
            return;
        }
        if ((name == "modify" || name == "duplicate") && n >= 1)
            if (const IFactTemplate* t = BoundTemplate(call.GetArgument(0).get()))
                for (int32_t i = 1; i < n && FFault.empty(); ++i)
                    CheckSlot(*t, call.GetArgument(i).get());
        for (int32_t i = 0; i < n && FFault.empty(); ++i)
            Value(call.GetArgument(i).get());
    }

private:
    static bool IsAtom(const IIEValue* value, std::string_view text) {
        return value && value->GetDType() == dtAtom && value->AsString() == text;
    }

    // The template of the pattern whose fact the variable is bound to; null when the value is
    // no such variable, or an action binds it anew.
    const IFactTemplate* BoundTemplate(const IIEValue* value) const {
        if (!value || value->GetDType() != dtVariable) return nullptr;
        const std::string name = VariableName(*value);
        if (FRebound.count(name)) return nullptr;
        const TBinding* b = FRule.FindBinding(name, FRule.PatternCount());
        if (!b || b->SlotName != PatternSlotName || b->FactIndex < 0 ||
            b->FactIndex >= FRule.PatternCount())
            return nullptr;
        return FRule.GetPattern(b->FactIndex)->FactTemplate().get();
    }

    // A slot change written as (slot value...) whose slot the template lacks.
    void CheckSlot(const IFactTemplate& t, const IIEValue* change) {
        if (!change || change->GetDType() != dtList) return;
        TRefPtr<IValueVector> group = change->AsList();
        if (!group || group->Count() == 0) return;
        const IIEValue* slot = group->GetItem(0).get();
        if (!slot || slot->GetDType() != dtAtom) return;
        const std::string slotName = slot->AsString();
        IRuleEngine* engine = FRule.Engine();
        if (engine && !engine->SlotInTemplateOrHeir(t, slotName))
            FFault = Format(IEMessage(imNoSuchSlot), slotName);
    }

    const TRule& FRule;
    std::unordered_set<std::string> FRebound;
    std::string FFault;
};

} // namespace

std::string TRule::FirstActionFault() const {
    TActionFormScan scan(*this);
    for (const auto& action : FActions)
        if (action) scan.CollectBinds(*action);
    for (const auto& action : FActions)
        if (action) scan.Call(*action);
    return scan.Fault();
}

std::string TRule::FirstFieldBeforeAddress(int32_t& patternIndex) const {
    for (const auto& address : FBindings) {
        if (address->SlotName != PatternSlotName) continue;
        for (const auto& field : FBindings)
            if (field->Name == address->Name && field->SlotName != PatternSlotName &&
                field->FactIndex < address->FactIndex && !IsNegatedBinding(*field)) {
                patternIndex = field->FactIndex;
                return field->Name;
            }
    }
    return {};
}

void TRule::PlanLoad() {
    FLoadPlan.clear();
    FLoadNamesUnique = true;
    for (const auto& b : FBindings) {
        // A variable of a not or exists element is that element's own: the actions never see it.
        if (b->SlotName == LocalSlotName || IsNegatedBinding(*b)) continue;
        if (b->Name == RuleVariableName) FLoadNamesUnique = false;
        for (const TLoadStep& step : FLoadPlan)
            if (step.Binding->Name == b->Name) FLoadNamesUnique = false;
        TLoadStep& step = FLoadPlan.emplace_back();
        step.Binding = b.get();
        step.Position = b->Position;
        step.TokenIndex = TokenIndexOf(b->FactIndex);
        step.SubIndex = b->SubIndex;
        step.WholeFact = b->SlotName == PatternSlotName;
        step.NameSize = TLoadStep::LongName;
        if (b->Name.size() <= sizeof step.Name) {
            step.NameSize = static_cast<uint8_t>(b->Name.size());
            std::memcpy(step.Name, b->Name.data(), b->Name.size());
        }
    }
    FLoadPlanned = true;
}

void TRule::LoadBindings(const IReteToken& token, TIEContext& context, int32_t reusable) {
    if (!FLoadPlanned) PlanLoad();
    const IFact* notOrTest = FEngine->NotOrTestFact().get();
    TBindings& bindings = context.Bindings();
    // A fresh context takes the names in order without searching for them first.
    const bool append = FLoadNamesUnique && context.BindingCount() == reusable;
    // The names the last firing left are taken in order while they are this load's names;
    // from the first that is not, the rest are dropped and bound anew.
    int32_t made = 0;
    const auto bind = [&](std::string_view name, TRefPtr<IIEValue> value) {
        if (made < reusable) {
            TBinding& kept = *bindings.Item(made);
            if (SameName(kept.Name, name)) {
                kept.Value = std::move(value);
                ++made;
                return;
            }
            bindings.Truncate(made);
            reusable = made;
        }
        BindLocally(context, name, std::move(value), append);
        ++made;
    };
    const int32_t factCount = token.FactCount();
    for (TLoadStep& step : FLoadPlan) {
        const int32_t at = step.TokenIndex;
        if (at < 0 || at >= factCount) continue;
        TRefPtr<IFact> factHold; // only for a token that cannot lend its facts
        const TMatchCut* cut = nullptr;
        const IFact* fact = token.BorrowFactCut(at, cut);
        if (!fact) {
            factHold = token.GetFact(at);
            fact = factHold.get();
        }
        if (!fact || fact == notOrTest) continue;
        TRefPtr<IIEValue> value;
        if (step.WholeFact) {
            TIEValue* spare = step.Spare.get();
            // The address names this fact only, whatever a reset numbers later.
            const uint32_t round = FEngine->NumberingRound();
            if (spare && spare->RefCount() == 1 && !spare->IsConstant() && !spare->GetOnChange())
                spare->SetAsFactAddress(fact->GetFactId(), round);
            else
                step.Spare = TIEValue::CreateFactAddress(fact->GetFactId(), round);
            value = step.Spare;
        } else {
            TRefPtr<IIEValue> hold;
            // The value stored where the step found the slot last, else the binding looks.
            const IIEValue* slotValue = nullptr;
            if (typeid(*fact) == typeid(TFact)) {
                const auto& f = static_cast<const TFact&>(*fact);
                const TFactTemplate* t = f.Template();
                if (t && step.Position.Template == t && step.Position.Layout == t->Layout())
                    slotValue = f.StoredValueAt(step.Position.Index, step.Position.Layout);
            }
            if (!slotValue) {
                TBinding& b = *step.Binding;
                slotValue = BorrowSlotValue(*fact, b, hold);
                step.Position = b.Position;
            }
            const int32_t sub = step.SubIndex;
            if (cut && step.Position.Index >= 0 && TMatchCut::CutsSlot(cut, step.Position.Index)) {
                // A slot a split cut: the element of the cut list, made of the fact's own list.
                TRefPtr<IIEValue> cutHold;
                const IIEValue* element =
                    TMatchCut::Element(cut, slotValue, step.Position.Index, sub, cutHold);
                value = element ? TRefPtr<IIEValue>(const_cast<IIEValue*>(element)) : IEEmptyAtom();
            } else if (sub == -1) {
                value = TRefPtr<IIEValue>(const_cast<IIEValue*>(slotValue));
            } else if (const IValueVector* own = OwnList(slotValue);
                       own && sub >= 0 && sub < own->Count()) {
                // An ordered fact's field, read in the engine's own list.
                value = static_cast<const TValueVector*>(own)->begin()[sub];
            } else {
                TRefPtr<IValueVector> listHold;
                const IValueVector* list = nullptr;
                if (slotValue && slotValue->GetDType() == dtList)
                    list = BorrowList(*slotValue, listHold);
                else if (slotValue)
                    list = (listHold = slotValue->AsList()).get();
                value = list && sub < list->Count() ? list->GetItem(sub) : IEEmptyAtom();
            }
        }
        bind(step.StepName(), std::move(value));
    }
    if (!FRuleNameValue) FRuleNameValue = TIEValue::CreateText(dtString, FRuleName);
    bind(RuleVariableName, FRuleNameValue);
    if (made < reusable) bindings.Truncate(made); // names this match leaves unbound
}

namespace {

// Firing contexts between firings, kept for the next firing with the names their last load
// bound (without values), which a load of the same names in the same order sets in place. The
// first rules to fire keep one each, up to MaxRuleSpares in the process (one per rule would
// cost a program of many rules a context and its bindings for every rule that fired); the other
// rules take theirs from the few this thread keeps, where the names are often the same too
// (the fact, the rule variable).
constexpr int32_t MaxRuleSpares = 64;
std::atomic<int32_t> RuleSpares{0};

struct TFiringSpares {
    static constexpr size_t MaxSpare = 8;
    static inline thread_local bool Gone = false;
    std::vector<std::unique_ptr<TIEContext>> Spare;
    ~TFiringSpares() { Gone = true; }
    static TFiringSpares* Get() noexcept {
        static thread_local TFiringSpares spares;
        return Gone ? nullptr : &spares;
    }
};

} // namespace

void TRule::ReleaseSpareSlot() noexcept {
    FOwnsSpare = false;
    RuleSpares.fetch_sub(1, std::memory_order_relaxed);
}

std::unique_ptr<TIEContext> TRule::TakeFiringContext() {
    TIEContext* root = FEngine->RootContext();
    if (FSpareContext) {
        if (FSpareContext->Parent() == root) return std::move(FSpareContext);
        FSpareContext = nullptr;
    }
    if (TFiringSpares* spares = TFiringSpares::Get(); spares && !spares->Spare.empty()) {
        std::unique_ptr<TIEContext> context = std::move(spares->Spare.back());
        spares->Spare.pop_back();
        // One left by another engine's firing is of no use here.
        if (context->Parent() == root && context->Engine() == root->Engine()) return context;
    }
    return root->CreateChild();
}

void TRule::KeepFiringContext(std::unique_ptr<TIEContext> context) noexcept {
    if (!FSpareContext) {
        if (!FOwnsSpare && !FNoSpareSlot) {
            if (RuleSpares.load(std::memory_order_relaxed) < MaxRuleSpares) {
                RuleSpares.fetch_add(1, std::memory_order_relaxed);
                FOwnsSpare = true;
            } else {
                FNoSpareSlot = true;
            }
        }
        if (FOwnsSpare) {
            FSpareContext = std::move(context);
            return;
        }
    }
    // A rule without a slot of its own, or a nested firing's context.
    TFiringSpares* spares = TFiringSpares::Get();
    if (!spares || spares->Spare.size() >= TFiringSpares::MaxSpare) return;
    try {
        spares->Spare.push_back(std::move(context));
    } catch (...) {
        // The context is freed instead.
    }
}

void TRule::Fire(const TRefPtr<IReteToken>& token) {
    if (!FEngine) RaiseIE(imUnknownEngine);
    // The rule's own spare, the common case, without a call.
    std::unique_ptr<TIEContext> context =
        FSpareContext && FSpareContext->Parent() == FEngine->RootContext()
            ? std::move(FSpareContext)
            : TakeFiringContext();
    // The names the last firing in this context loaded, without their values.
    const int32_t kept = context->BindingCount();
    // However the firing ends, the context lets go of the match and the values and waits for
    // the next firing (a firing nested in this one takes another), keeping the loaded names.
    struct TRecycle {
        TRule& Rule;
        std::unique_ptr<TIEContext>& Context;
        int32_t Loaded = 0;
        ~TRecycle() {
            Context->Recycle(Loaded);
            if (Rule.FOwnsSpare && !Rule.FSpareContext)
                Rule.FSpareContext = std::move(Context);
            else
                Rule.KeepFiringContext(std::move(Context));
        }
    } recycle{*this, context};
    if (token) {
        context->SetToken(token);
        LoadBindings(*token, *context, kept);
        recycle.Loaded = context->BindingCount();
    } else if (kept > 0) {
        context->Bindings().Truncate(0);
    }
    FFired = true;
    if (OnFire) OnFire(this, context.get());
    if (context->ReturnFlag()) return;
    for (const auto& action : FActions) {
        if (action) action->Evaluate(context.get());
        if (context->ReturnFlag()) break;
    }
}

void TRule::Assign(const TPersistent* source) {
    auto* src = dynamic_cast<const TRule*>(source);
    if (!src) return TComponent::Assign(source);
    if (src == this) return;
    if (src->FEngine != FEngine) {
        // Rules of another engine travel as text through this engine's reader, which belongs
        // to the engine component.
        if (!FEngine) RaiseIE(imUnknownEngine);
    }
    BeginUpdate();
    FRuleName = src->FRuleName;
    FRuleNameValue = nullptr;
    FEnabled = src->FEnabled;
    FComment = src->FComment;
    FOneShot = src->FOneShot;
    BindingsChanged();
    FBindings.clear();
    FPatterns.clear();
    for (int32_t i = 0; i < src->PatternCount(); ++i) {
        // The partner of a goal pattern is made again when the goal pattern is added.
        if (i > 0 && src->GetPattern(i - 1)->IsGoal()) continue;
        AddPattern(src->GetPattern(i)->CopyForRule(this));
    }
    FActions = src->FActions;
    FSalience = src->FSalience;
    SetSalienceExpression(src->FSalienceExpression);
    EndUpdate();
}

} // namespace ie
