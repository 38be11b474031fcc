// The working memory: asserting, retracting and modifying facts, the queues of changes requested
// while a token propagates, fuzzy facts absorbing their equals, and the evaluation of a fact's
// slot values.
//
// Invariant: while a token is in flight (Propagating() > 0) the fact list and the network are
// changed by nobody but that propagation; every change requested meanwhile is queued and carried
// out, in request order, by the outermost change before it returns. A stored fact is in the list
// and the duplicate index exactly once, under the identifier it was numbered with.
#include "engine/WorkingMemory.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "engine/InferenceEngine.h"
#include "engine/match/FuzzyExpression.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEValue.h"
#include "fuzzy/FuzzyConsts.h"
#include "platform/Assert.h"
#include "platform/Restore.h"

namespace ie {

TWorkingMemory::TWorkingMemory(TInferenceEngine& engine)
    : FEngine(engine), FFacts(std::make_unique<TFacts>(this)) {
    // Without duplication equal facts are refused: the duplicate index is on from the start.
    FFacts->SetIndexed(!FFactDuplication);
}

TWorkingMemory::~TWorkingMemory() = default;

void TWorkingMemory::SetFactDuplication(bool value) {
    if (value == FFactDuplication) return;
    FFactDuplication = value;
    FFacts->SetIndexed(!value);
}

void TWorkingMemory::Release() noexcept {
    FFacts.reset();
    ClearQueues();
}

// ---------------------------------------------------------------------------------------------
// Assert and retract

int32_t TWorkingMemory::AssertWithInference(const TRefPtr<IFact>& fact,
                                            TFuzzyInferenceMethod method, bool flag) {
    if (method == FInference) return Assert(fact, flag);
    TRestore<TFuzzyInferenceMethod> restore(FInference, method);
    return Assert(fact, flag);
}

namespace {

[[noreturn, gnu::noinline]] void RaiseWithdrawn(const TFactTemplate& factTemplate) {
    throw EIEException(Format("Fact template %s is no longer defined: its facts cannot be asserted",
                              factTemplate.GetName()));
}

// Whether the fact has a template, and whether that is fuzzy; the engine's own fact class is
// asked without a counted reference to its template (every assertion asks), and one of a
// template the engine removed is refused.
bool FactTemplateKind(const IFact* fact, bool& fuzzy) {
    if (!fact) return false;
    if (typeid(*fact) == typeid(TFact)) {
        const TFactTemplate* t = static_cast<const TFact*>(fact)->Template();
        if (t && typeid(*t) == typeid(TFactTemplate)) {
            if (t->Withdrawn()) [[unlikely]]
                RaiseWithdrawn(*t);
            fuzzy = t->TFactTemplate::IsFuzzy();
            return true;
        }
    }
    const TRefPtr<IFactTemplate> t = fact->GetTemplate();
    if (t) fuzzy = t->IsFuzzy();
    return t != nullptr;
}

} // namespace

int32_t TWorkingMemory::Assert(const TRefPtr<IFact>& fact, bool flag) {
    bool fuzzy = false;
    if (!FactTemplateKind(fact.get(), fuzzy)) RaiseIE(imFactTemplateMissing);
    // Requested while a token propagates: carried out right after that propagation.
    if (FPropagating > 0) {
        Queue(fact, true);
        return -1;
    }
    if (fuzzy) {
        // Concluded by a rule: only as strong as the activation that concluded it.
        if (TActivation* firing = FEngine.FiringActivation())
            ScaleByFiringStrength(*fact, firing->Strength());
        // An equal fuzzy fact is absorbed: the new fact takes both, the old one goes.
        const int32_t existing = FFacts->IndexOfFact(fact.get());
        if (existing >= 0) {
            CombineFuzzyFacts(*fact, *FFacts->Item(existing), !flag);
            RetractAt(existing);
        }
    } else if (!FFactDuplication && FFacts->FindEqual(fact.get())) {
        return -1;
    }
    const int32_t id = FNextFactId++;
    fact->SetFactId(id);
    FFacts->Append(fact);
    if (FEngine.Tracing(cwFact))
        FEngine.PrintOut("", " ==> " + fact->GetLabel() + std::string(IELineEnd));
    if (IEngineNetwork* network = FEngine.Network()) {
        TRestore<int32_t> propagating(FPropagating, FPropagating + 1);
        network->AssertToken(taAdd, fact);
    }
    if (StructureChecks()) FEngine.CheckStructures();
    ProcessPending();
    if (FEngine.OnAssertion) FEngine.OnAssertion(&FEngine, fact.get());
    return id;
}

TWorkingMemory::TDuplicateAnswer
TWorkingMemory::AskDuplicate(const TFactTemplate& factTemplate,
                             std::span<const IIEValue* const> values, size_t& hash) const {
    // Assert's duplicate test: not while a token propagates (the fact waits in the queue and is
    // tested when its turn comes), and only through the index of facts of the engine's class.
    if (FFactDuplication || FPropagating > 0 || !FFacts || !FFacts->Indexed() ||
        factTemplate.TFactTemplate::IsFuzzy() ||
        static_cast<int32_t>(values.size()) != factTemplate.SlotCount())
        return dupUnknown;
    bool unsure = false;
    if (FFacts->DuplicateIndex().FindEqualValues(factTemplate, values, hash, unsure))
        return dupRefused;
    return unsure ? dupUnknown : dupNew;
}

void TWorkingMemory::NoteNewFact(const TRefPtr<IFact>& fact, size_t hash) const noexcept {
    if (FFacts) FFacts->DuplicateIndex().NoteMadeOfValues(fact, hash);
}

int32_t TWorkingMemory::AssertKeepingId(const TRefPtr<IFact>& fact, int32_t id) {
    const int32_t next = FNextFactId;
    FNextFactId = id;
    const TOnExit restore([&] { FNextFactId = std::max(next, FFacts->HighestID() + 1); });
    return Assert(fact, false);
}

void TWorkingMemory::RetractAt(int32_t index) {
    RetractStored(FFacts->Item(index));
}

void TWorkingMemory::RetractStored(TRefPtr<IFact> fact) {
    if (FPropagating > 0) {
        Queue(fact, false);
        return;
    }
    if (FEngine.OnRetraction) FEngine.OnRetraction(&FEngine, fact.get());
    if (IEngineNetwork* network = FEngine.Network()) {
        TRestore<int32_t> propagating(FPropagating, FPropagating + 1);
        network->AssertToken(taRemove, fact);
    }
    if (FEngine.Tracing(cwFact))
        FEngine.PrintOut("", " <== " + fact->GetLabel() + std::string(IELineEnd));
    // The handler or the network may have moved the fact: find it again by identity.
    FFacts->Remove(fact.get());
    if (StructureChecks()) FEngine.CheckStructures();
    ProcessPending();
}

int32_t TWorkingMemory::Retract(const IFact* fact) {
    const int32_t index = FFacts->IndexOfFact(fact);
    if (index < 0) return index;
    RetractAt(index);
    return index;
}

int32_t TWorkingMemory::RetractByID(const IFact* fact) {
    const int32_t index = FFacts->IndexOf(fact);
    // The fact itself, not its position: no second walk from the position back to the slot.
    if (index >= 0) RetractStored(TRefPtr<IFact>(const_cast<IFact*>(fact)));
    return index;
}

int32_t TWorkingMemory::Queue(const TRefPtr<IFact>& fact, bool assert) {
    auto& queue = assert ? FPendingAssertions : FPendingRetractions;
    queue.push_back(fact);
    return static_cast<int32_t>(queue.size()) - 1;
}

void TWorkingMemory::ProcessPending() {
    // A change that is itself propagating leaves the queues to the outermost change.
    if (FPropagating > 0) return;
    while (!FPendingAssertions.empty()) {
        TRefPtr<IFact> f = std::move(FPendingAssertions.front());
        FPendingAssertions.pop_front();
        Assert(f, false);
    }
    while (!FPendingRetractions.empty()) {
        TRefPtr<IFact> f = std::move(FPendingRetractions.front());
        FPendingRetractions.pop_front();
        Retract(f.get());
    }
}

void TWorkingMemory::ClearFacts() {
    if (IEngineNetwork* network = FEngine.Network()) network->AssertToken(taClear, nullptr);
    if (FEngine.OnClearFacts) FEngine.OnClearFacts(&FEngine);
}

void TWorkingMemory::ClearQueues() noexcept {
    FPendingAssertions.clear();
    FPendingRetractions.clear();
}

void TWorkingMemory::RetractFactsOf(const IFactTemplate* factTemplate,
                                    const std::function<void(const TRefPtr<IFact>&)>& before) {
    auto sameTemplate = [factTemplate](const TRefPtr<IFact>& f) {
        return f->GetTemplate().get() == factTemplate;
    };
    std::erase_if(FPendingAssertions, sameTemplate);
    std::erase_if(FPendingRetractions, sameTemplate);
    for (int32_t i = FFacts->Count() - 1; i >= 0; --i) {
        if (i >= FFacts->Count()) continue;
        TRefPtr<IFact> fact = FFacts->Item(i);
        if (!sameTemplate(fact)) continue;
        if (before) before(fact);
        RetractAt(i);
    }
}

void TWorkingMemory::ForEachFact(const std::function<void(const TRefPtr<IFact>&)>& visit) const {
    // A copy: priming may assert goal facts, which are queued, but stay safe regardless.
    const std::vector<TRefPtr<IFact>> facts = FFacts->Items();
    for (const auto& f : facts)
        visit(f);
}

// ---------------------------------------------------------------------------------------------
// Fuzzy facts

void TWorkingMemory::ScaleByFiringStrength(IFact& fact, float strength) {
    if (strength == 1.0f) return;
    if (FEngine.OnFuzzyCorrelation) {
        bool handled = false;
        float s = strength;
        FEngine.OnFuzzyCorrelation(&FEngine, &fact, handled, s);
        if (handled) return;
    }
    TRefPtr<IFactTemplate> t = fact.GetTemplate();
    if (!t || !t->IsFuzzy()) RaiseIE(imNotFuzzyFact);
    const bool product = FCorrelation == fcmProduct;
    // Each set is scaled on a copy: a slot may hold a term of its variable itself.
    auto scaled = [&](const TRefPtr<IIEValue>& value) -> TRefPtr<IIEValue> {
        if (!value || value->GetDType() != dtFuzzy) return value;
        TRefPtr<IFuzzySet> set = value->AsFuzzy();
        TRefPtr<IFuzzySet> copy = CloneSet(*set);
        copy->Correlate(product, strength);
        return FuzzyValueOf(copy, *set);
    };
    for (int32_t i = 0, n = t->SlotCount(); i < n; ++i) {
        TRefPtr<IFactSlot> slot = t->SlotAt(i);
        if (!slot->IsFuzzy()) continue;
        TRefPtr<IIEValue> value;
        if (!fact.FindSlotValue(slot->GetName(), value) || !value) continue;
        if (value->GetDType() == dtList) {
            TRefPtr<IValueVector> list = value->AsList();
            auto out = TValueVector::Create();
            for (int32_t j = 0; j < list->Count(); ++j)
                out->Add(scaled(list->GetItem(j)));
            fact.SetSlotValue(slot->GetName(), TIEValue::CreateList(std::move(out)));
        } else {
            fact.SetSlotValue(slot->GetName(), scaled(value));
        }
    }
}

void TWorkingMemory::CombineFuzzyFacts(IFact& newFact, const IFact& existingFact, bool useUnion) {
    TRefPtr<IFactTemplate> t = newFact.GetTemplate();
    TRefPtr<IFactTemplate> other = existingFact.GetTemplate();
    if (t.get() != other.get())
        RaiseIE(imCannotUnionFacts, t ? t->GetName() : std::string(),
                other ? other->GetName() : std::string());
    if (!t || !t->IsFuzzy()) RaiseIE(imNotFuzzyFact);
    const TFuzzyOperation op = FuzzyInferenceOperation(FInference);
    // Under these operations the union with the empty value is the other value itself, which
    // keeps its own name instead of one that joins it with the empty term's.
    const bool emptyIsNeutral = useUnion && (op == foZadeh || op == foSum || op == foBoundedSum);
    auto isEmpty = [](const IFuzzySet& set) {
        if (set.GetName() != FuzzyEmptySetName) return false;
        for (int i = 0; i < set.Count(); ++i)
            if (set.GetY(i) > 0.0) return false;
        return true;
    };
    auto combine = [&](const TRefPtr<IIEValue>& a, const TRefPtr<IIEValue>& b) {
        if (!a || !b || a->GetDType() != dtFuzzy || b->GetDType() != dtFuzzy) return a;
        TRefPtr<IFuzzySet> sa = a->AsFuzzy();
        TRefPtr<IFuzzySet> sb = b->AsFuzzy();
        if (emptyIsNeutral && isEmpty(*sb)) return a;
        if (emptyIsNeutral && isEmpty(*sa)) return b->CloneValue();
        return FuzzyValueOf(useUnion ? sa->Union(*sb, op) : sa->Intersection(*sb, op), *sa);
    };
    // Every slot is combined before any is stored, so a failure leaves the fact as it was.
    std::vector<std::pair<std::string, TRefPtr<IIEValue>>> results;
    for (int32_t i = 0, n = t->SlotCount(); i < n; ++i) {
        TRefPtr<IFactSlot> slot = t->SlotAt(i);
        if (!slot->IsFuzzy()) continue;
        TRefPtr<IIEValue> a, b;
        newFact.FindSlotValue(slot->GetName(), a);
        existingFact.FindSlotValue(slot->GetName(), b);
        if (!a || !b) continue;
        if (a->GetDType() == dtList && b->GetDType() == dtList) {
            TRefPtr<IValueVector> la = a->AsList(), lb = b->AsList();
            auto out = TValueVector::Create();
            for (int32_t j = 0; j < la->Count(); ++j)
                out->Add(j < lb->Count() ? combine(la->GetItem(j), lb->GetItem(j))
                                         : la->GetItem(j));
            results.emplace_back(slot->GetName(), TIEValue::CreateList(std::move(out)));
        } else {
            results.emplace_back(slot->GetName(), combine(a, b));
        }
    }
    for (auto& [name, value] : results)
        newFact.SetSlotValue(name, value);
}

void TWorkingMemory::FuzzyInference(IFact& newFact, const IFact& existingFact) {
    bool handled = false;
    if (FEngine.OnFuzzyInference)
        FEngine.OnFuzzyInference(&FEngine, &newFact, handled, const_cast<IFact*>(&existingFact));
    if (!handled) CombineFuzzyFacts(newFact, existingFact, true);
}

// ---------------------------------------------------------------------------------------------
// Evaluating facts

TRefPtr<IIEValue> TWorkingMemory::EvaluateSlotValue(const IFactSlot& slot,
                                                    const TRefPtr<IIEValue>& value,
                                                    TIEContext* context) {
    TIEContext* in = context ? context : FEngine.RootContext();
    if (!value) return value;
    TRefPtr<IIEValue> result = value->Evaluate(in);
    if (!result) return result;
    if (slot.GetSlotType().Contains(dtFuzzy)) {
        const bool fuzzy = result->GetDType() == dtFuzzy;
        bool oneFuzzy = false;
        if (result->GetDType() == dtList) {
            TRefPtr<IValueVector> list = result->AsList();
            oneFuzzy =
                list->Count() == 1 && list->GetItem(0) && list->GetItem(0)->GetDType() == dtFuzzy;
        }
        if (!fuzzy && !oneFuzzy) {
            TRefPtr<IIEDefinedType> type = slot.GetExtendedTypeInfo();
            TRefPtr<IFuzzyVariable> variable = type ? type->GetFuzzyVariable() : nullptr;
            return FEngine.EvaluateFuzzyExpression(variable.get(), result, in);
        }
        return result;
    }
    if (result->GetDType() == dtList) {
        TRefPtr<IValueVector> list = result->AsList();
        return TIEValue::CreateList(in->EvaluateArguments(*list));
    }
    if (slot.IsMultiSlot()) {
        auto list = TValueVector::Create();
        list->Add(result);
        return TIEValue::CreateList(std::move(list));
    }
    return result;
}

IFact& TWorkingMemory::EvaluateFact(IFact& fact, TIEContext* context) {
    TRefPtr<IFactTemplate> t = fact.GetTemplate();
    if (!t) return fact;
    for (int32_t i = 0, n = t->SlotCount(); i < n; ++i) {
        TRefPtr<IFactSlot> slot = t->SlotAt(i);
        TRefPtr<IIEValue> value;
        if (!fact.FindSlotValue(slot->GetName(), value) || !value) continue;
        fact.SetSlotValue(slot->GetName(), EvaluateSlotValue(*slot, value, context));
    }
    return fact;
}

} // namespace ie
