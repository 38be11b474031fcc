// Rules (defrule): a name, a salience, patterns (the left-hand side) and actions (the
// right-hand side). When one of its activations fires, a rule binds the variables of the matched
// facts in a fresh child of the engine's root context and evaluates its actions in order.
//
// Invariants: every pattern of the rule points back at it and sits at the index its bindings
// name; a binding is recorded once (AddBinding returns the equal existing one); the salience
// that the agenda reads is the last value of the salience expression.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <boost/container/small_vector.hpp>

#include "engine/match/IESlotTest.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEInterfaces.h"
#include "platform/Component.h"

namespace ie {

class TRule;

// What the engine is doing while it evaluates user code in the middle of its own structures:
// commands that would change those structures under it are refused meanwhile.
enum TEngineActivity : uint8_t { eaIdle, eaMatching, eaSalience, eaResetting };

// What rules, patterns and the network need of their engine. The engine component implements
// it; tests drive rules and the network through a small fixture.
class IRuleEngine {
public:
    // The function table through which calls are created by name.
    virtual IReasoner* Reasoner() = 0;
    // The prefix followed by the next symbol number (the symbol counter then counts up).
    virtual std::string GenSym(std::string_view prefix) = 0;
    // The next rule number (post-incremented).
    virtual int32_t NextRuleIndex() = 0;
    virtual TIEContext* RootContext() = 0;
    // The pattern on the implied template "Initial-Fact" put in front of rules that need it.
    virtual TIEPattern* InitialFactPattern() = 0;
    // The unasserted placeholder fact of negated joins.
    virtual const TRefPtr<IFact>& NotOrTestFact() = 0;
    virtual TRefPtr<IFactTemplate> FindFactTemplate(std::string_view name) = 0;
    // Asserts a backward-chaining goal fact (queued while a token is in flight).
    virtual void AssertGoalFact(const TRefPtr<IFact>& fact) = 0;
    // True when the name is a global variable of the engine.
    virtual bool IsGlobalVariable(std::string_view name) = 0;
    // The round of the fact numbering that the addresses of matched facts carry; 0 makes
    // addresses that name whatever fact has their identifier.
    virtual uint32_t NumberingRound() const noexcept { return 0; }
    // Whether a fact that a pattern on the template matches may have the slot: the template or
    // one that extends it (whose facts the pattern matches too) has it.
    virtual bool SlotInTemplateOrHeir(const IFactTemplate& factTemplate, std::string_view slot) {
        return factTemplate.IndexOfSlot(slot) >= 0;
    }
    // Calls `visit` for every fact of the fact list, in list order (priming a new rule).
    virtual void ForEachFact(const std::function<void(const TRefPtr<IFact>&)>& visit) = 0;
    // What renders the fuzzy sets that fuzzy joins make (the engine); none leaves them without.
    virtual IFuzzyParser* FuzzyParser() { return nullptr; }
    // Sets what the engine is doing and returns what it did before (TActivityScope).
    virtual TEngineActivity SwapActivity(TEngineActivity activity) {
        (void)activity;
        return eaIdle;
    }

    // The rule table.
    virtual void RuleEngineAttached(TRule& rule) = 0;
    virtual void RuleEngineDetached(TRule& rule) = 0;
    virtual void RuleRenamed(TRule& rule, std::string_view oldName) = 0;
    virtual void RuleChanged(TRule& rule) = 0;

protected:
    ~IRuleEngine() = default;
};

// Marks the engine busy with an activity for the length of a scope.
class TActivityScope {
public:
    TActivityScope(IRuleEngine* engine, TEngineActivity activity)
        : FEngine(engine), FFormer(engine ? engine->SwapActivity(activity) : eaIdle) {}
    ~TActivityScope() {
        if (FEngine) FEngine->SwapActivity(FFormer);
    }
    TActivityScope(const TActivityScope&) = delete;
    TActivityScope& operator=(const TActivityScope&) = delete;

private:
    IRuleEngine* FEngine;
    TEngineActivity FFormer;
};

using TRuleFireEvent = TRareEvent<void(TRule* sender, TIEContext* context)>;

class TRule : public TComponent {
    // What an activation and a firing read of the rule comes first and together, beside the
    // firing event: in a program of many rules each firing finds its rule out of the cache, and
    // these fields then cost two or three cache lines instead of five or six.

    // How a firing binds one variable: the rule's binding and where its fact lies in the token.
    // What a firing reads of the binding is copied into the step (the name, the sub-index and
    // where the slot was last found), so that the binding itself is read only when its slot is
    // looked for again.
    struct TLoadStep {
        TBinding* Binding;
        // The fact identifier value the step made last (WholeFact): when the firing that took
        // it is over and nothing else holds it, the next firing sets it instead of making one.
        TRefPtr<TIEValue> Spare;
        TSlotPosition Position;
        int32_t TokenIndex;
        int32_t SubIndex;
        bool WholeFact;
        // A short name (most are) is kept here; a longer one is read in the binding.
        static constexpr uint8_t LongName = 0xFF;
        uint8_t NameSize;
        char Name[6];
        std::string_view StepName() const noexcept {
            return NameSize == LongName ? std::string_view(Binding->Name)
                                        : std::string_view(Name, NameSize);
        }
    };
    IRuleEngine* FEngine = nullptr;
    // A rule has a few actions and binds a few variables: the first ones are kept in place.
    boost::container::small_vector<TRefPtr<IFunCall>, 2> FActions;
    // Compiled from the bindings before a firing needs it: every variable in binding order.
    boost::container::small_vector<TLoadStep, 2> FLoadPlan;
    // A firing context this rule keeps for its next firing, so that binding costs no allocation
    // and its names stay in place. Only the first rules to fire keep one each (FOwnsSpare; see
    // TakeFiringContext): the others share the thread's few spare contexts.
    std::unique_ptr<TIEContext> FSpareContext;
    // The value of the rule variable, made once per name.
    TRefPtr<IIEValue> FRuleNameValue;
    int32_t FSalience = 0;
    bool FOneShot = false;
    bool FFired = false;
    bool FEnabled = true;
    // The salience expression is a number that FSalience holds already: the agenda asks for the
    // salience at every activation, and only a dynamic salience needs evaluating.
    bool FSalienceFixed = true; // no expression: FSalience is the salience
    bool FLoadPlanned = false;
    bool FLoadNamesUnique = false; // no two steps bind one name
    bool FOwnsSpare = false;
    bool FNoSpareSlot = false; // the slots were all taken when the rule first kept a context

public:
    explicit TRule(TComponent* owner, IRuleEngine* engine = nullptr);
    ~TRule() override;

    std::string_view ClassName() const override { return "TRule"; }
    void Assign(const TPersistent* source) override;

    // Appends the pattern (running AddPattern on it) and returns it.
    TIEPattern* AddPattern(std::unique_ptr<TIEPattern> pattern);
    // A new pattern of this rule, not yet added.
    std::unique_ptr<TIEPattern> NewPattern(std::string_view name,
                                           TRefPtr<IFactTemplate> factTemplate,
                                           int32_t negatedCount = 0);
    void AddAction(TRefPtr<IFunCall> action);
    void ClearPatterns();
    void ClearActions();

    void Changed();
    void BeginUpdate() noexcept { ++FUpdateCount; }
    void EndUpdate();

    TBinding* AddBinding(std::string_view name, int32_t patternIndex, std::string_view slotName,
                         int32_t subIndex);
    int32_t BindingCount() const noexcept { return static_cast<int32_t>(FBindings.size()); }
    TBinding* GetBinding(int32_t i) const { return FBindings.at(i).get(); }
    int32_t IndexOfBinding(std::string_view name) const noexcept;
    TBinding* FindBinding(std::string_view name) const noexcept;
    // The binding of the name that pattern `patternIndex` sees: one made by that pattern itself
    // or by a positive pattern before it. A variable first written in a not or exists element
    // belongs to that element alone; the same name elsewhere is a variable of its own.
    TBinding* FindBinding(std::string_view name, int32_t patternIndex) const noexcept;
    // True when the variable was first bound in a negated pattern.
    bool IsNegatedBinding(const TBinding& binding) const;
    // The number of pattern `patternIndex` among the elements the rule's text wrote (from 1):
    // the initial-fact element put in front and the partners of goal patterns are not counted.
    int32_t ElementNumber(int32_t patternIndex) const;
    // The first variable that an action reads before anything binds it: no pattern of the rule
    // (outside not and exists elements), no earlier bind or foreach of the actions, no variable
    // of the top level or global. Empty when there is none, or when an action names the
    // variable it binds through an expression (which only the firing knows).
    std::string FirstUnboundActionVariable() const;
    // The first variable written as a field value in an element (outside not and exists) before
    // the later element that binds it to its matched fact; `patternIndex` receives the earlier
    // element. Empty when there is none.
    std::string FirstFieldBeforeAddress(int32_t& patternIndex) const;
    // The message of the first action that fails whatever the facts are (an if without then,
    // a modify or duplicate of a pattern's fact naming a slot its template lacks); empty when
    // there is none.
    std::string FirstActionFault() const;

    void EvaluateSalience();
    void LoadBindings(const IReteToken& token, TIEContext& context) {
        LoadBindings(token, context, 0);
    }
    void Fire(const TRefPtr<IReteToken>& token);
    void Reset() noexcept { FFired = false; }

    // Properties
    int32_t RuleNumber() const noexcept { return FRuleNumber; }
    int32_t Salience() const noexcept { return FSalience; }
    void SetSalience(int32_t value);
    // Null when the rule declares none (the salience is then 0, or what SetSalience set).
    const TRefPtr<IIEValue>& SalienceExpression() const noexcept { return FSalienceExpression; }
    void SetSalienceExpression(TRefPtr<IIEValue> value);
    const std::string& Comment() const noexcept { return FComment; }
    void SetComment(std::string_view comment) { FComment = comment; }
    const std::string& RuleName() const noexcept { return FRuleName->Text(); }
    void SetRuleName(std::string_view name);
    IRuleEngine* Engine() const noexcept { return FEngine; }
    void SetEngine(IRuleEngine* engine);
    bool OneShot() const noexcept { return FOneShot; }
    void SetOneShot(bool value) { FOneShot = value; }
    bool Fired() const noexcept { return FFired; }
    // A copy of a rule that fired elsewhere counts as fired too (a one-shot rule waits for the
    // next reset).
    void MarkFired() noexcept { FFired = true; }
    bool Enabled() const noexcept { return FEnabled; }
    void SetEnabled(bool value) { FEnabled = value; }

    int32_t PatternCount() const noexcept { return static_cast<int32_t>(FPatterns.size()); }
    TIEPattern* GetPattern(int32_t i) const { return FPatterns.at(i).get(); }
    int32_t IndexOfPattern(const TIEPattern* pattern) const noexcept;
    // The position in a matching token of the fact of pattern `patternIndex`: test elements
    // match no fact, so they take no position.
    int32_t TokenIndexOf(int32_t patternIndex) const noexcept;
    int32_t ActionCount() const noexcept { return static_cast<int32_t>(FActions.size()); }
    const TRefPtr<IFunCall>& GetAction(int32_t i) const { return FActions.at(i); }

    TRuleFireEvent OnFire;
    TRareEvent<void(TObject* sender)> OnChange;
    // The network's compilation trace of this rule ("name: +1+1+2+t").
    std::string CompilationTrace;

private:
    void RunAddPattern(TIEPattern* pattern);
    void CheckName(std::string_view name) const;
    // Forgets the load plan; the next firing makes it again from the bindings and patterns.
    void BindingsChanged() noexcept { FLoadPlanned = false; }
    void PlanLoad();
    // A child of the engine's root context to fire in, with the names a firing before left in it:
    // the rule's own spare, one of the thread's, or a new one.
    std::unique_ptr<TIEContext> TakeFiringContext();
    // Keeps the recycled context for a later firing: as the rule's own spare while the rule has
    // (or can get) one of the process's slots, else among the thread's spares, else frees it.
    void KeepFiringContext(std::unique_ptr<TIEContext> context) noexcept;
    void ReleaseSpareSlot() noexcept;
    // `reusable`: the context's bindings are that many names an earlier load made, without
    // values (TIEContext::Recycle keeping names); they take this match's values in place.
    void LoadBindings(const IReteToken& token, TIEContext& context, int32_t reusable);

    std::string FComment;
    // Interned (never null): the rule variable's value shares it, and the rule is the smaller.
    TRefPtr<TIEText> FRuleName = TIEText::Empty();
    // None for a rule that declares no salience (most): FSalience holds its 0.
    TRefPtr<IIEValue> FSalienceExpression;
    // Short arrays of the engine's pool, as every rule has them.
    std::vector<std::unique_ptr<TIEPattern>, TBlockAllocator<std::unique_ptr<TIEPattern>>>
        FPatterns;
    std::vector<std::unique_ptr<TBinding>, TBlockAllocator<std::unique_ptr<TBinding>>> FBindings;
    int32_t FRuleNumber = 0;
    int32_t FUpdateCount = 0;
};

} // namespace ie
