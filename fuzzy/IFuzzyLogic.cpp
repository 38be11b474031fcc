// The counted fuzzy set, a variable's terms table and the fuzzy variable. A term refers to its
// variable by plain pointer, any other set by counted reference, and a set that leaves a
// variable's terms holds itself while it does, so a release during the move frees nothing early;
// a set of another implementation is copied into a TIFuzzySet before it is combined with one.
#include "fuzzy/IFuzzyLogic.h"

#include "platform/Format.h"

#include <algorithm>

namespace ie {

// ---------------------------------------------------------------------------------------------
// TIFuzzySet

TIFuzzySet::TIFuzzySet(IFuzzyVariable* variable, std::string_view name)
    : FVariable(variable), FVariableRef(variable) {
    TFuzzySet::SetName(name);
}

TIFuzzySet::~TIFuzzySet() = default;

TRefPtr<TIFuzzySet> TIFuzzySet::CreateSet(IFuzzyVariable* variable, std::string_view name) const {
    return MakeRef<TIFuzzySet>(variable, name);
}

TRefPtr<TFuzzySet> TIFuzzySet::CreateLike() const {
    TRefPtr<TIFuzzySet> set = CreateSet(FVariable, "");
    set->FParser = FParser;
    return set;
}

TFzyFloat TIFuzzySet::GetXRange(int index) const {
    if (!FVariable) return TFuzzySet::GetXRange(index);
    if (index == 0) return FVariable->GetMaximum();
    if (index == 1) return FVariable->GetMinimum();
    throw EFzyException(Format(SFuzzyInvalidXRangeIndex, index));
}

bool TIFuzzySet::MatchThreshold(TFzyFloat& threshold) const {
    if (!FVariable) return false;
    threshold = FVariable->GetThreshold();
    return true;
}

void TIFuzzySet::Assign(const TFuzzySet& source) {
    if (&source == this) return;
    // The variable first: it is the universe the copied points are held in.
    if (auto* set = dynamic_cast<const TIFuzzySet*>(&source)) {
        SetFuzzyVariable(set->FVariable);
        FParser = set->FParser;
    }
    TFuzzySet::Assign(source);
}

void TIFuzzySet::AssignFrom(const IInterface* source) {
    auto* other = dynamic_cast<const IFuzzySet*>(source);
    if (!other || other == this) return;
    SetFuzzyVariable(other->GetFuzzyVariable());
    auto points = other->Points();
    ReplacePoints(std::vector<TFuzzySetValue>(points.begin(), points.end()));
    StoreSetType(other->GetSetType());
    StoreCurveParameter(other->GetCurveParameter());
    SetExpressionText(other->GetExpression());
    FParser = other->GetParser();
    Changed();
}

TRefPtr<ICloneable> TIFuzzySet::Clone() const {
    TRefPtr<TIFuzzySet> copy = CreateSet(FVariable, Name());
    copy->Assign(*this);
    return copy;
}

bool TIFuzzySet::Equals(const IInterface* other) const {
    auto* set = dynamic_cast<const IFuzzySet*>(other);
    return set && CompareWith(*set);
}

TFzyFloat TIFuzzySet::GetXMax() const {
    if (FVariable) return FVariable->GetMaximum();
    return TFuzzySet::Count() == 0 ? FuzzyDefaultMaximum : TFuzzySet::Points().back().X;
}

TFzyFloat TIFuzzySet::GetXMin() const {
    if (FVariable) return FVariable->GetMinimum();
    return TFuzzySet::Count() == 0 ? FuzzyDefaultMinimum : TFuzzySet::Points().front().X;
}

std::string TIFuzzySet::AsString() const {
    if (FParser) return FParser->FuzzySetText(*this, false);
    std::string text = "(";
    text += Name();
    text += ' ';
    for (const auto& p : TFuzzySet::Points())
        text += Format("(%.4f %.4f) ", p.X, p.Y);
    text += ')';
    return text;
}

std::string TIFuzzySet::ValuesAsString() const {
    std::string text = "(";
    for (const auto& p : TFuzzySet::Points())
        text += Format("(%.4f %.4f) ", p.X, p.Y);
    text += ')';
    return text;
}

void TIFuzzySet::SetFuzzyVariable(IFuzzyVariable* variable) {
    if (variable == FVariable) return;
    // Leaving the old variable's terms may release the last other reference to this set.
    TRefPtr<TIFuzzySet> self(this);
    if (FVariable) {
        TRefPtr<IFuzzySet> term;
        if (FVariable->Find(Name(), term) && term.get() == static_cast<IFuzzySet*>(this))
            FVariable->RemoveSet(this);
    }
    FVariable = variable;
    FVariableRef.reset(variable);
}

void TIFuzzySet::BecomeTermOf(IFuzzyVariable* variable) {
    FVariable = variable;
    FVariableRef = nullptr;
}

void TIFuzzySet::LeaveTerms() {
    if (FVariable) FVariableRef.reset(FVariable);
}

void TIFuzzySet::LoseVariable() {
    FVariable = nullptr;
    FVariableRef = nullptr;
}

void TIFuzzySet::PointChanged() {
    TFuzzySet::PointChanged();
    if (FVariable) FVariable->SetChanged(this);
}

void TIFuzzySet::PointsChanged() {
    TFuzzySet::PointsChanged();
    if (FVariable) FVariable->SetChanged(this);
}

const TFuzzySet& TIFuzzySet::AsFuzzySet(const IFuzzySet& set, TRefPtr<TFuzzySet>& holder) {
    if (auto* own = dynamic_cast<const TFuzzySet*>(&set)) return *own;
    TRefPtr<TIFuzzySet> copy = MakeRef<TIFuzzySet>(nullptr, set.GetName());
    copy->TFuzzySet::AssignValues(set.Points());
    copy->SetExpressionText(set.GetExpression());
    holder = copy;
    return *holder;
}

TRefPtr<IFuzzySet> TIFuzzySet::AsInterface(TRefPtr<TFuzzySet> set) {
    return TRefPtr<IFuzzySet>(dynamic_cast<TIFuzzySet*>(set.get()));
}

void TIFuzzySet::AddValues(const IFuzzySet& other) {
    TFuzzySet::AddValues(other.Points(), 0, other.Count());
}

void TIFuzzySet::AddValues(const IFuzzySet& other, int start, int count) {
    TFuzzySet::AddValues(other.Points(), start, count);
}

void TIFuzzySet::AssignValues(const IFuzzySet& other) {
    if (&other == this) return;
    TFuzzySet::AssignValues(other.Points());
}

TFzyFloat TIFuzzySet::MatchDegree(const IFuzzySet& other) const {
    TRefPtr<TFuzzySet> holder;
    return TFuzzySet::MatchDegree(AsFuzzySet(other, holder));
}

bool TIFuzzySet::Match(const IFuzzySet& other) const {
    TRefPtr<TFuzzySet> holder;
    return TFuzzySet::Match(AsFuzzySet(other, holder));
}

TRefPtr<IFuzzySet> TIFuzzySet::Correlate(bool product, TFzyFloat strength) {
    TFuzzySet::Correlate(product, strength);
    return TRefPtr<IFuzzySet>(this);
}

TRefPtr<IFuzzySet> TIFuzzySet::Aggregate(const IFuzzySet& other, TFuzzyInferenceMethod method,
                                         bool andFlag) const {
    TRefPtr<TFuzzySet> holder;
    return AsInterface(TFuzzySet::Aggregate(AsFuzzySet(other, holder), method, andFlag));
}

TFzyFloat TIFuzzySet::MatchDegreeOf(const IInterface* other) const {
    auto* set = dynamic_cast<const IFuzzySet*>(other);
    return set ? MatchDegree(*set) : 0.0;
}

TRefPtr<IFuzzySet> TIFuzzySet::Hedge(int hedge) {
    ApplyHedge(hedge);
    return TRefPtr<IFuzzySet>(this);
}

TRefPtr<IFuzzySet> TIFuzzySet::Arithmetic(int op, bool onY, TFzyFloat value) {
    ApplyArithmetic(op, onY, value);
    return TRefPtr<IFuzzySet>(this);
}

bool TIFuzzySet::CompareWith(const IFuzzySet& other) const {
    TRefPtr<TFuzzySet> holder;
    return SamePoints(AsFuzzySet(other, holder));
}

TRefPtr<IFuzzySet> TIFuzzySet::And(const IFuzzySet& other) const {
    return Intersection(other, foZadeh);
}

TRefPtr<IFuzzySet> TIFuzzySet::Intersection(const IFuzzySet& other, TFuzzyOperation op) const {
    TRefPtr<TFuzzySet> holder;
    return AsInterface(TFuzzySet::Intersection(AsFuzzySet(other, holder), op));
}

TRefPtr<IFuzzySet> TIFuzzySet::Or(const IFuzzySet& other) const {
    return Union(other, foZadeh);
}

TRefPtr<IFuzzySet> TIFuzzySet::Union(const IFuzzySet& other, TFuzzyOperation op) const {
    TRefPtr<TFuzzySet> holder;
    return AsInterface(TFuzzySet::Union(AsFuzzySet(other, holder), op));
}

TRefPtr<IFuzzySet> TIFuzzySet::Normalize() {
    TFuzzySet::Normalize();
    return TRefPtr<IFuzzySet>(this);
}

bool TIFuzzySet::WalkWith(const IFuzzySet& other, const TFuzzyWalkFunc& callback) const {
    TRefPtr<TFuzzySet> holder;
    return TFuzzySet::WalkWith(AsFuzzySet(other, holder), callback);
}

TRefPtr<IFuzzySet> TIFuzzySet::Combine(const IFuzzySet& other, std::string_view word,
                                       TFuzzyCombinator combinator) const {
    TRefPtr<TFuzzySet> holder;
    return AsInterface(TFuzzySet::Combine(AsFuzzySet(other, holder), word, combinator));
}

TRefPtr<IFuzzySet> TIFuzzySet::AlphaCut(bool strict, TFzyFloat alpha) const {
    TRefPtr<IFuzzySet> result = AsInterface(TFuzzySet::AlphaCut(strict, alpha));
    auto* set = static_cast<TIFuzzySet*>(result.get());
    set->StoreName(Name() + " (alpha=" + Format(FuzzyFloatFormat, std::clamp(alpha, 0.0, 1.0)) +
                   ")");
    return result;
}

TRefPtr<IFuzzySet> TIFuzzySet::CrispAndOr(bool isOr, TFzyFloat level) const {
    return AsInterface(TFuzzySet::CrispAndOr(isOr, level));
}

TRefPtr<IFuzzySet> TIFuzzySet::CloneFor(IFuzzyVariable* variable) const {
    TRefPtr<TIFuzzySet> copy = CreateSet(variable, Name());
    copy->FParser = FParser;
    copy->TFuzzySet::AssignValues(TFuzzySet::Points());
    return copy;
}

// ---------------------------------------------------------------------------------------------
// TIFuzzySets

TIFuzzySets::~TIFuzzySets() {
    Detach(true);
}

const TRefPtr<IFuzzySet>& TIFuzzySets::Get(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    return FOrder[size_t(index)];
}

IFuzzySet* TIFuzzySets::Find(std::string_view name) const {
    auto it = FByName.find(name);
    return it == FByName.end() ? nullptr : it->second.get();
}

void TIFuzzySets::Release(IFuzzySet* set) {
    auto it = std::find_if(FOrder.begin(), FOrder.end(),
                           [set](const TRefPtr<IFuzzySet>& p) { return p.get() == set; });
    if (it != FOrder.end()) FOrder.erase(it);
    auto* term = dynamic_cast<TIFuzzySet*>(set);
    if (term && term->FVariable == &FOwner && !FOwner.FDestroying) term->LeaveTerms();
}

void TIFuzzySets::Detach(bool destroying) {
    for (const auto& set : FOrder) {
        auto* term = dynamic_cast<TIFuzzySet*>(set.get());
        if (!term || term->FVariable != &FOwner) continue;
        if (destroying)
            term->LoseVariable();
        else
            term->LeaveTerms();
    }
}

void TIFuzzySets::Add(const TRefPtr<IFuzzySet>& set) {
    if (!set) return;
    // Attaching the set may drop the last other reference to the variable.
    TRefPtr<IFuzzyVariable> keep(&FOwner);
    TRefPtr<IFuzzySet> held(set);
    auto* term = dynamic_cast<TIFuzzySet*>(held.get());
    if (term && term->FVariable != &FOwner) term->SetFuzzyVariable(&FOwner);
    std::string name = held->GetName();
    auto it = FByName.find(name);
    if (it != FByName.end()) {
        TRefPtr<IFuzzySet> old = std::move(it->second);
        FByName.erase(it);
        Release(old.get());
    }
    FByName.emplace(name, held);
    FOrder.push_back(held);
    if (term) term->BecomeTermOf(&FOwner);
    held->SetTermOrder(++FNextTermOrder);
    FOwner.SetAdded(*held);
}

TRefPtr<IFuzzySet> TIFuzzySets::Create(std::string_view name) {
    TRefPtr<TIFuzzySet> set = FOwner.CreateTerm(name);
    if (name != FuzzyEmptySetName) set->SetRegistered();
    Add(set);
    return set;
}

bool TIFuzzySets::Remove(const IFuzzySet* set) {
    if (!set) return false;
    auto it = FByName.find(set->GetName());
    if (it == FByName.end() || it->second.get() != set) return false;
    TRefPtr<IFuzzyVariable> keep(&FOwner);
    TRefPtr<IFuzzySet> held = std::move(it->second);
    FByName.erase(it);
    Release(held.get());
    FOwner.SetDeleted(*held);
    return true;
}

void TIFuzzySets::Clear() {
    TRefPtr<IFuzzyVariable> keep(&FOwner);
    Detach(false);
    FByName.clear();
    FOrder.clear();
    FNextTermOrder = 0;
    FOwner.Changed();
}

void TIFuzzySets::Assign(const TIFuzzySets& source) {
    if (&source == this) return;
    ReplaceWithCopies(source.Count(), [&](int i) { return source.FOrder[size_t(i)]; });
}

void TIFuzzySets::CopyFrom(const IFuzzyVariable& source) {
    if (&source == static_cast<IFuzzyVariable*>(&FOwner)) return;
    if (auto* variable = dynamic_cast<const TIFuzzyVariable*>(&source)) {
        Assign(variable->FItems);
        return;
    }
    ReplaceWithCopies(source.Count(), [&](int i) { return source.GetSet(i); });
}

template <class GetSet> void TIFuzzySets::ReplaceWithCopies(int count, GetSet&& getSet) {
    TRefPtr<IFuzzyVariable> keep(&FOwner);
    // Copies first: the source may hold the only references to what it lists.
    std::vector<TRefPtr<IFuzzySet>> copies;
    copies.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        const TRefPtr<IFuzzySet> set = getSet(i);
        TRefPtr<IFuzzySet> copy = set->CloneFor(&FOwner);
        // A copied term stays protected from in-place hedges as its source was.
        if (set->GetRegistered()) copy->SetRegistered();
        copies.push_back(std::move(copy));
    }
    FOwner.BeginUpdate();
    Clear();
    for (const auto& copy : copies)
        Add(copy);
    FOwner.EndUpdate();
}

// ---------------------------------------------------------------------------------------------
// TIFuzzyVariable

TIFuzzyVariable::TIFuzzyVariable(std::string_view name) : FName(name) {}

TIFuzzyVariable::~TIFuzzyVariable() {
    FDestroying = true;
    FParser = nullptr;
    FOnChange = nullptr;
    FOnVariableChange = nullptr;
    FOnFuzzySetChange = nullptr;
    FOnFuzzySetAdded = nullptr;
    FOnFuzzySetDeleted = nullptr;
    // Terms held elsewhere are left without a variable before the table lets them go.
    FItems.Detach(true);
    FItems.FByName.clear();
    FItems.FOrder.clear();
}

TRefPtr<TIFuzzyVariable> TIFuzzyVariable::CreateVariable(std::string_view name) const {
    return MakeRef<TIFuzzyVariable>(name);
}

TRefPtr<TIFuzzySet> TIFuzzyVariable::CreateTerm(std::string_view name) {
    TRefPtr<TIFuzzySet> set = MakeRef<TIFuzzySet>(this, name);
    set->SetParser(FParser);
    return set;
}

void TIFuzzyVariable::Assign(const TIFuzzyVariable& source) {
    if (&source == this) return;
    BeginUpdate();
    FMethod = source.FMethod;
    FMaximum = source.FMaximum;
    FMinimum = source.FMinimum;
    FName = source.FName;
    FUnits = source.FUnits;
    FNumFunctionValues = source.FNumFunctionValues;
    FTag = source.FTag;
    FParser = source.FParser;
    FItems.Assign(source.FItems);
    Changed();
    EndUpdate();
}

void TIFuzzyVariable::AssignFrom(const IInterface* source) {
    auto* other = dynamic_cast<const IFuzzyVariable*>(source);
    if (!other || other == this) return;
    if (auto* variable = dynamic_cast<const TIFuzzyVariable*>(other)) {
        Assign(*variable);
        return;
    }
    BeginUpdate();
    FMethod = other->GetDefuzzificationMethod();
    FMaximum = other->GetMaximum();
    FMinimum = other->GetMinimum();
    FName = other->GetName();
    FUnits = other->GetUnits();
    FNumFunctionValues = other->GetNumFunctionValues();
    FTag = other->GetTag();
    FParser = other->GetParser();
    FItems.CopyFrom(*other);
    Changed();
    EndUpdate();
}

TRefPtr<ICloneable> TIFuzzyVariable::Clone() const {
    TRefPtr<TIFuzzyVariable> copy = CreateVariable(FName);
    copy->Assign(*this);
    return copy;
}

bool TIFuzzyVariable::Equals(const IInterface* other) const {
    auto* variable = dynamic_cast<const IFuzzyVariable*>(other);
    if (!variable) return false;
    if (variable->GetName() != FName || variable->GetMaximum() != FMaximum ||
        variable->GetMinimum() != FMinimum || variable->GetUnits() != FUnits)
        return false;
    for (const auto& term : FItems.FOrder) {
        TRefPtr<IFuzzySet> found;
        if (term->GetRegistered() && !variable->Find(term->GetName(), found)) return false;
    }
    return true;
}

std::string TIFuzzyVariable::AsString() const {
    return FParser ? FParser->FuzzyVariableText(*this) : FName;
}

void TIFuzzyVariable::SetOnFuzzySetAdded(TIFuzzySetEvent handler) {
    FOnFuzzySetAdded = std::move(handler);
}

void TIFuzzyVariable::SetOnFuzzySetDeleted(TIFuzzySetEvent handler) {
    FOnFuzzySetDeleted = std::move(handler);
}

void TIFuzzyVariable::SetOnChange(TIFuzzyVariableEvent handler) {
    FOnChange = std::move(handler);
}

void TIFuzzyVariable::SetOnVariableChange(TIFuzzyVariableEvent handler) {
    FOnVariableChange = std::move(handler);
}

void TIFuzzyVariable::SetOnFuzzySetChange(TIFuzzySetEvent handler) {
    FOnFuzzySetChange = std::move(handler);
}

void TIFuzzyVariable::SetParser(IFuzzyParser* parser) {
    FParser = parser;
    for (const auto& term : FItems.FOrder)
        term->SetParser(parser);
}

void TIFuzzyVariable::SetMaximum(TFzyFloat value) {
    CheckFuzzyFloat(value);
    if (value == FMaximum) return;
    FMaximum = value;
    if (FMinimum > FMaximum) FMinimum = FMaximum;
    Changed();
}

void TIFuzzyVariable::SetMinimum(TFzyFloat value) {
    CheckFuzzyFloat(value);
    if (value == FMinimum) return;
    FMinimum = value;
    if (FMinimum > FMaximum) FMaximum = FMinimum;
    Changed();
}

void TIFuzzyVariable::SetName(std::string_view name) {
    if (name == FName) return;
    FName = name;
    Changed();
}

void TIFuzzyVariable::SetNumFunctionValues(int32_t count) {
    if (count == FNumFunctionValues) return;
    FNumFunctionValues = count;
    Changed();
}

void TIFuzzyVariable::SetThreshold(TFzyFloat value) {
    CheckFuzzyFloat(value);
    if (value == FThreshold) return;
    FThreshold = std::clamp(value, 0.0, 1.0);
}

TRefPtr<IFuzzySet> TIFuzzyVariable::Infer(const IFuzzySet& a, const IFuzzySet& b,
                                          const IFuzzySet& x, const IFuzzySet* c) {
    const TFzyFloat degree = a.MatchDegree(x);
    if (degree < FThreshold) return nullptr;
    TRefPtr<IFuzzySet> clipped = RefCast<IFuzzySet>(b.Clone());
    clipped->Correlate(false, degree);
    if (!c) return clipped;
    return c->Aggregate(*clipped, fimMinMax, false);
}

TRefPtr<IFuzzySet> TIFuzzyVariable::GetSet(std::string_view name) const {
    return TRefPtr<IFuzzySet>(FItems.Find(name));
}

void TIFuzzyVariable::AddSet(const TRefPtr<IFuzzySet>& set) {
    FItems.Add(set);
}

TRefPtr<IFuzzySet> TIFuzzyVariable::CreateSet(std::string_view name) {
    return FItems.Create(name);
}

void TIFuzzyVariable::CopySets(const IFuzzyVariable& other) {
    FItems.CopyFrom(other);
}

void TIFuzzyVariable::Clear() {
    FItems.Clear();
}

bool TIFuzzyVariable::Find(std::string_view name, TRefPtr<IFuzzySet>& set) const {
    IFuzzySet* found = FItems.Find(name);
    if (!found) return false;
    set.reset(found);
    return true;
}

void TIFuzzyVariable::RemoveSet(const IFuzzySet* set) {
    FItems.Remove(set);
}

void TIFuzzyVariable::EndUpdate() {
    if (FUpdateCount <= 0 || --FUpdateCount > 0) return;
    if (FChangePending) Changed();
}

void TIFuzzyVariable::SetChanged(IFuzzySet* set) {
    if (FOnFuzzySetChange && set && !FDestroying) FOnFuzzySetChange(*this, *set);
}

void TIFuzzyVariable::Changed() {
    if (FDestroying) return;
    if (FUpdateCount > 0) {
        FChangePending = true;
        return;
    }
    FChangePending = false;
    if (FOnChange) FOnChange(*this);
    if (FOnVariableChange) FOnVariableChange(*this);
}

void TIFuzzyVariable::SetAdded(IFuzzySet& set) {
    if (FOnFuzzySetAdded) FOnFuzzySetAdded(*this, set);
    Changed();
}

void TIFuzzyVariable::SetDeleted(IFuzzySet& set) {
    if (FOnFuzzySetDeleted) FOnFuzzySetDeleted(*this, set);
    Changed();
}

} // namespace ie
