// The working memory: asserting, retracting and modifying facts, the queues of changes requested
// while a token propagates, fuzzy facts absorbing their equals, the evaluation of a fact's slot
// values, and the fact list (TFacts) with its duplicate index.
//
// Invariant: while a token is in flight (Propagating() > 0) the fact list and the network are
// changed by nobody but that propagation; every change requested meanwhile is queued and carried
// out, in request order, by the outermost change before it returns. A stored fact is in the list
// and the duplicate index exactly once, under the identifier it was numbered with; positions
// count live facts only, and a fact counts as present only when an equal fact is stored (never
// by hash alone). Changes that make facts come and go (Add, Delete, Clear) go through the
// working memory, which propagates them; the fact list's own writing paths only store and index.
#include "engine/WorkingMemory.h"

#include <algorithm>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "engine/InferenceEngine.h"
#include "engine/RunControl.h"
#include "engine/match/FuzzyExpression.h"
#include "engine/model/FlatTables.h"
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
        if (TActivation* firing = FRun->Firing()) ScaleByFiringStrength(*fact, firing->Strength());
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

// ---------------------------------------------------------------------------------------------
// TFacts

TFacts::TFacts(TWorkingMemory* memory)
    : FMemory(memory), FEngine(memory ? &memory->Engine() : nullptr) {}

bool TFacts::IsFuzzy(const IFact* fact) {
    // The exact class first: no counted reference to the template, no dynamic cast.
    if (typeid(*fact) == typeid(TFact)) {
        const TFactTemplate* t = static_cast<const TFact*>(fact)->Template();
        return t && t->TFactTemplate::IsFuzzy();
    }
    TRefPtr<IFactTemplate> t = fact->GetTemplate();
    return t && t->IsFuzzy();
}

// --- Slots, positions and the Fenwick tree ---

void TFacts::TreeAdd(size_t slot, int32_t delta) {
    for (size_t i = slot + 1; i <= FTree.size(); i += i & (~i + 1))
        FTree[i - 1] += delta;
}

int32_t TFacts::TreePrefix(size_t count) const {
    int32_t sum = 0;
    for (size_t i = count; i > 0; i -= i & (~i + 1))
        sum += FTree[i - 1];
    return sum;
}

void TFacts::TreeAppend() {
    // The new node covers the slots (i - lowbit(i), i]: its own live flag plus the live slots
    // before it in that range.
    const size_t i = FTree.size() + 1;
    const size_t low = i & (~i + 1);
    int32_t live = 1;
    if (FSlots.size() == static_cast<size_t>(FLive) + 1) {
        live = static_cast<int32_t>(low); // no tombstone: the whole range is live
    } else {
        // The nodes that tile (i - low, i - 1]: the walk of a prefix sum, stopped at the range.
        for (size_t j = i - 1; j > i - low; j -= j & (~j + 1))
            live += FTree[j - 1];
    }
    FTree.push_back(live);
}

size_t TFacts::SlotOf(int32_t index) const {
    if (FSlots.size() == static_cast<size_t>(FLive)) return static_cast<size_t>(index);
    // The slot where the count of live slots reaches index + 1.
    size_t pos = 0;
    int32_t rest = index + 1;
    size_t step = 1;
    while (step * 2 <= FTree.size())
        step *= 2;
    for (; step > 0; step /= 2)
        if (pos + step <= FTree.size() && FTree[pos + step - 1] < rest) {
            pos += step;
            rest -= FTree[pos - 1];
        }
    return pos;
}

int32_t TFacts::PositionOf(size_t slot) const {
    if (FSlots.size() == static_cast<size_t>(FLive)) return static_cast<int32_t>(slot);
    return TreePrefix(slot);
}

size_t TFacts::SlotOfFact(const IFact* fact) const {
    if (!fact) return std::string::npos;
    if (fact->GetFactId() != -1) {
        const size_t slot = SlotOfId(fact->GetFactId());
        if (slot != std::string::npos && FSlots[slot].get() == fact) return slot;
    }
    // Not stored under its identifier: by identity.
    for (size_t i = 0; i < FSlots.size(); ++i)
        if (FSlots[i].get() == fact) return i;
    return std::string::npos;
}

size_t TFacts::SlotOfId(int32_t id) const {
    // A modify or retract asks for the same identifier two or three times in a row.
    if (FLastKnown && id == FLastId) return FLastSlot;
    const size_t slot = FindSlotOfId(id);
    if (slot != std::string::npos) {
        FLastKnown = true;
        FLastId = id;
        FLastSlot = slot;
    }
    return slot;
}

size_t TFacts::FindSlotOfId(int32_t id) const {
    if (FIdsInTable) {
        auto it = FSlotById.find(id);
        return it == FSlotById.end() ? std::string::npos : it->second;
    }
    const size_t n = FIds.size();
    if (n == 0 || id > FIds.back()) return std::string::npos;
    // The identifiers ascend by at least one per slot, so the slot of `id` lies no further from
    // the end than `id` from the last identifier. They are dense at the end (a removed fact keeps
    // its tombstone until the list is compacted), where the facts most often modified or
    // retracted are (a firing works on what the last ones made): that slot is tried first.
    const auto back = static_cast<size_t>(static_cast<int64_t>(FIds.back()) - id);
    size_t low = 0;
    if (back < n) {
        const size_t guess = n - 1 - back;
        if (FIds[guess] == id) return FSlots[guess] ? guess : std::string::npos;
        low = guess + 1;
    }
    // Otherwise the range is narrowed from the end by doubling steps first.
    size_t high = n;
    size_t step = 1;
    while (step <= n - low && FIds[n - step] > id) {
        high = n - step;
        step *= 2;
    }
    if (step <= n - low) low = n - step;
    auto it = std::lower_bound(FIds.begin() + static_cast<ptrdiff_t>(low),
                               FIds.begin() + static_cast<ptrdiff_t>(high), id);
    if (it == FIds.end() || *it != id) return std::string::npos;
    const auto slot = static_cast<size_t>(it - FIds.begin());
    return FSlots[slot] ? slot : std::string::npos;
}

void TFacts::FileIdsInTable() const {
    if (FIdsInTable) return;
    ForgetLastId();
    FSlotById.clear();
    FSlotById.reserve(static_cast<size_t>(FLive));
    for (size_t slot = 0; slot < FIds.size(); ++slot)
        if (FSlots[slot]) FSlotById[FIds[slot]] = static_cast<uint32_t>(slot);
    FIds.clear();
    FIds.shrink_to_fit();
    FIdsInTable = true;
}

void TFacts::Compact() const {
    if (FSlots.size() == static_cast<size_t>(FLive)) return;
    ForgetLastId();
    size_t to = 0;
    for (size_t from = 0; from < FSlots.size(); ++from) {
        if (!FSlots[from]) continue;
        if (to != from) {
            FSlots[to] = std::move(FSlots[from]);
            FHashes[to] = FHashes[from];
        }
        // The identifiers are filed again as the facts carry them now.
        const int32_t id = FSlots[to]->GetFactId();
        if (!FIdsInTable) {
            if (to == 0 || id > FIds[to - 1]) {
                FIds[to] = id;
            } else {
                // Out of order: the slots compacted so far go to the table with this one.
                FIds.resize(to);
                FileIdsInTable();
            }
        }
        if (FIdsInTable) FSlotById[id] = static_cast<uint32_t>(to);
        ++to;
    }
    FSlots.resize(to);
    FHashes.resize(to);
    if (!FIdsInTable) FIds.resize(to);
    // Without tombstones every node covers only live slots: its value is its range's length.
    FTree.resize(to);
    for (size_t i = 1; i <= to; ++i)
        FTree[i - 1] = static_cast<int32_t>(i & (~i + 1));
}

const TRefPtr<IFact>& TFacts::Item(int32_t index) const {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    return FSlots[SlotOf(index)];
}

const std::vector<TRefPtr<IFact>>& TFacts::Items() const {
    Compact();
    return FSlots;
}

// --- The duplicate index ---

void TFacts::SetIndexed(bool value) {
    if (value == FIndexed) return;
    FIndexed = value;
    FIndex.Clear();
    FFuzzyFacts.clear();
    if (!value) return;
    for (size_t i = 0; i < FSlots.size(); ++i)
        if (FSlots[i]) FHashes[i] = IndexFact(FSlots[i]);
}

size_t TFacts::IndexFact(const TRefPtr<IFact>& fact) {
    if (!IsFuzzy(fact.get())) return FIndex.Add(fact);
    FFuzzyFacts.push_back(fact.get());
    return 0;
}

void TFacts::UnindexFact(const IFact* fact, size_t hash) {
    if (IsFuzzy(fact)) {
        std::erase(FFuzzyFacts, fact);
        return;
    }
    // The very object leaves its bucket; an equal fact under the same hash stays.
    FIndex.Remove(*fact, hash);
}

int32_t TFacts::IndexOfFact(const IFact* fact) const {
    const IFact* equal = FindEqual(fact);
    return equal ? IndexOf(equal) : -1;
}

const IFact* TFacts::FindEqual(const IFact* fact) const {
    if (!fact) return nullptr;
    if (!FIndexed) {
        for (const auto& f : FSlots)
            if (f && f->Equals(fact)) return f.get();
        return nullptr;
    }
    if (IsFuzzy(fact)) {
        for (const IFact* f : FFuzzyFacts)
            if (f->Equals(fact)) return f;
        return nullptr;
    }
    // A shared hash code is no proof: the index only answers with an equal fact.
    return FIndex.FindEqual(*fact);
}

int32_t TFacts::IndexOfID(int32_t id) const {
    const size_t slot = SlotOfId(id);
    return slot == std::string::npos ? -1 : PositionOf(slot);
}

const IFact* TFacts::FindID(int32_t id) const {
    const size_t slot = SlotOfId(id);
    return slot == std::string::npos ? nullptr : FSlots[slot].get();
}

int32_t TFacts::IndexOf(const IFact* fact) const {
    const size_t slot = SlotOfFact(fact);
    return slot == std::string::npos ? -1 : PositionOf(slot);
}

// --- Changes ---

int32_t TFacts::Add(const TRefPtr<IFact>& fact) {
    if (!FMemory) {
        Append(fact);
        return fact->GetFactId();
    }
    const int32_t id = fact ? fact->GetFactId() : -1;
    if (!KeepIdentifiers || id == -1 || SlotOfId(id) != std::string::npos) {
        if (fact) fact->SetFactId(-1);
        return FMemory->Assert(fact, false);
    }
    return FMemory->AssertKeepingId(fact, id);
}

void TFacts::Delete(int32_t index) {
    if (FMemory)
        FMemory->RetractAt(index);
    else
        Extract(index);
}

void TFacts::Assign(const TFacts& source) {
    if (&source == this) return;
    Clear();
    AddFrom(source);
}

void TFacts::AddFrom(const TFacts& source) {
    if (&source == this) return;
    // A handler of this engine may change the source list: walk a snapshot.
    for (const auto& fact : std::vector<TRefPtr<IFact>>(source.Items())) {
        TRefPtr<IFactTemplate> theirs = fact->GetTemplate();
        TRefPtr<IFactTemplate> mine = theirs;
        if (FEngine && source.Engine() != FEngine && theirs) {
            mine = FEngine->FactTemplates().Find(theirs->GetName());
            // An ordered fact needs no declaration: this engine makes its own implied template.
            if (!mine && theirs->GetImplied()) mine = FEngine->ImpliedTemplate(theirs->GetName());
            if (mine && !mine->Equals(theirs.get()))
                RaiseIE(imCannotAssignSlotValues, mine->GetName(), theirs->GetName());
        }
        TRefPtr<ICloneable> clone = fact->Clone();
        TRefPtr<IFact> copy(dynamic_cast<IFact*>(clone.get()));
        if (!copy) continue;
        // The copy carries the source fact's identifier, which Add keeps only when asked to.
        copy->SetFactId(fact->GetFactId());
        // A template this engine lacks leaves the fact without one, which the assertion
        // refuses.
        if (mine != theirs) copy->SetTemplate(mine);
        if (FEngine)
            Add(copy);
        else
            Append(copy);
    }
}

void TFacts::Append(const TRefPtr<IFact>& fact) {
    const int32_t id = fact->GetFactId();
    if (FLastKnown && id == FLastId) ForgetLastId(); // filed again under a second slot
    if (!FIdsInTable && !FIds.empty() && id <= FIds.back()) FileIdsInTable();
    FSlots.push_back(fact);
    FHashes.push_back(FIndexed ? IndexFact(fact) : 0);
    TreeAppend();
    ++FLive;
    if (FIdsInTable) {
        MakeRoomToInsert(FSlotById);
        FSlotById[id] = static_cast<uint32_t>(FSlots.size() - 1);
    } else {
        FIds.push_back(id);
    }
    FHighestID = std::max(FHighestID, id);
}

void TFacts::RemoveSlot(size_t slot) {
    ForgetLastId();
    TRefPtr<IFact> fact = std::move(FSlots[slot]);
    if (FIndexed) UnindexFact(fact.get(), FHashes[slot]);
    if (FIdsInTable) {
        auto it = FSlotById.find(fact->GetFactId());
        if (it != FSlotById.end() && it->second == slot) FSlotById.erase(it);
    }
    --FLive;
    if (slot + 1 == FSlots.size()) {
        // The last slot simply goes (and any tombstones before it).
        FSlots.pop_back();
        FHashes.pop_back();
        FTree.pop_back();
        while (!FSlots.empty() && !FSlots.back()) {
            FSlots.pop_back();
            FHashes.pop_back();
            FTree.pop_back();
        }
        if (!FIdsInTable) FIds.resize(FSlots.size());
        return;
    }
    TreeAdd(slot, -1);
    const size_t dead = FSlots.size() - static_cast<size_t>(FLive);
    if (dead > 64 && dead > static_cast<size_t>(FLive)) Compact();
}

TRefPtr<IFact> TFacts::Extract(int32_t index) {
    TRefPtr<IFact> fact = Item(index);
    RemoveSlot(SlotOf(index));
    return fact;
}

bool TFacts::Remove(const IFact* fact) {
    const size_t slot = SlotOfFact(fact);
    if (slot == std::string::npos) return false;
    TRefPtr<IFact> keep = FSlots[slot];
    RemoveSlot(slot);
    return true;
}

void TFacts::ClearItems() {
    ForgetLastId();
    FIndex.Clear();
    FFuzzyFacts.clear();
    FSlots.clear();
    FHashes.clear();
    FTree.clear();
    FIds.clear();
    FIdsInTable = false;
    FSlotById.clear();
    FLive = 0;
    FHighestID = 0;
}

void TFacts::Clear() {
    ClearItems();
    if (FMemory) FMemory->ClearFacts();
}

namespace {

// The texts of the live facts, each as `text` gives it, separated by CR LF.
template <class TText>
std::string JoinedFacts(const std::vector<TRefPtr<IFact>>& slots, TText text) {
    std::string joined;
    bool first = true;
    for (const auto& f : slots) {
        if (!f) continue;
        if (!first) joined += IELineEnd;
        first = false;
        joined += text(*f);
    }
    return joined;
}

} // namespace

std::string TFacts::GetText() const {
    return JoinedFacts(FSlots, [](const IFact& f) { return f.GetText(); });
}

std::string TFacts::GetLabelledText() const {
    return JoinedFacts(FSlots, [](const IFact& f) { return f.GetLabel(); });
}

} // namespace ie
