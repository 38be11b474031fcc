// The defined-type frame's logic and the shape clicks on its chart. A named type is never edited
// in place (unless non-implicit editing is enabled): the first edit clones it into an implicit
// type, so cancelling leaves the named type untouched. Terms are re-read from their expressions
// when the range changes, since a term is always cut to its variable's range.
#include "editors/logic/TypeFrameEditor.h"

#include <algorithm>
#include <charconv>

#include "editors/logic/EngineReading.h"
#include "engine/InferenceEngine.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEValue.h"
#include "platform/Format.h"

namespace ie {
namespace {

template <class T> TRefPtr<T> CloneAs(const ICloneable& item) {
    TRefPtr<ICloneable> copy = item.Clone();
    return TRefPtr<T>(dynamic_cast<T*>(copy.get()));
}

template <class N> bool ParseWhole(const std::string& text, N& value) {
    const std::string t = Trimmed(text);
    if (t.empty()) return false;
    const char* begin = t.data();
    if (*begin == '+') ++begin;
    const auto [end, error] = std::from_chars(begin, t.data() + t.size(), value);
    return error == std::errc() && end == t.data() + t.size();
}

constexpr TIETypes FrameKinds{dtAtom,       dtString, dtInteger, dtFactId,         dtFloat,
                              dtDescriptor, dtObject, dtClass,   dtExternalAddress};

TRefPtr<IFuzzySet> DefaultEvaluate(TInferenceEngine* engine, IIEDefinedType& type,
                                   const std::string& text) {
    if (!engine) RaiseIE(imUnknownEngine);
    return engine->ParseFuzzyText(type.GetFuzzyVariable().get(), text);
}

} // namespace

const std::vector<TIEType>& FrameBaseKinds() {
    static const std::vector<TIEType> kinds = [] {
        std::vector<TIEType> k;
        for (int i = 0; i < IETypeCount; ++i)
            if (FrameKinds.Contains(static_cast<TIEType>(i))) k.push_back(static_cast<TIEType>(i));
        std::sort(k.begin(), k.end(),
                  [](TIEType a, TIEType b) { return BaseKindName(a) < BaseKindName(b); });
        return k;
    }();
    return kinds;
}

std::string BaseKindName(TIEType kind) {
    std::string_view name = IETypeName(kind);
    if (name.starts_with("dt")) name.remove_prefix(2);
    return std::string(name);
}

std::string TypeKeepComplaint(const IIEDefinedType& type) {
    if (!type.GetBaseTypes().Contains(dtFuzzy)) return {};
    const TRefPtr<IFuzzyVariable> variable = type.GetFuzzyVariable();
    for (int i = 0; variable && i < variable->Count(); ++i) {
        const TRefPtr<IFuzzySet> term = variable->GetSet(i);
        if (term && term->Count() == 0)
            return Format(EmptyFuzzyTermMessage, term->GetName(), type.GetName());
    }
    return {};
}

std::string EngineTypesKeepComplaint(TInferenceEngine& engine) {
    for (const auto& entry : engine.DefinedTypes())
        if (const auto* type = dynamic_cast<const IIEDefinedType*>(entry.Intf().get()))
            if (std::string complaint = TypeKeepComplaint(*type); !complaint.empty())
                return complaint;
    auto names = engine.FactTemplates().Keys();
    while (names->HasNext()) {
        const TRefPtr<IFactTemplate> t = engine.FactTemplates().Find(names->NextString());
        for (int32_t i = 0; t && i < t->SlotCount(); ++i)
            if (const TRefPtr<IIEDefinedType> type = t->SlotAt(i)->GetExtendedTypeInfo())
                if (std::string complaint = TypeKeepComplaint(*type); !complaint.empty())
                    return "Slot " + t->GetName() + "." + t->SlotAt(i)->GetName() + ": " +
                           complaint;
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// TFuzzyShapeClicks

std::string TFuzzyShapeClicks::StartText(int mode, const std::string& currentExpression) {
    switch (mode) {
    case 1:
        return "(tri ";
    case 2:
        return "(z ";
    case 3:
        return "(pi ";
    case 4:
        return "(beta ";
    case 5:
        return "(s ";
    default:
        return currentExpression;
    }
}

int TFuzzyShapeClicks::ClicksNeeded() const noexcept {
    return FMode == 1 ? 3 : (FMode == 0 ? 0 : 2);
}

std::string TFuzzyShapeClicks::Choose(int mode, const std::string& currentExpression) {
    FMode = std::clamp(mode, 0, 5);
    FCount = 0;
    FExpression = currentExpression;
    FText = StartText(FMode, currentExpression);
    return FText;
}

std::string TFuzzyShapeClicks::LastPart(double x) const {
    // PI and beta take a centre and a width: the second click gives the distance.
    if (FMode == 3 || FMode == 4) return Format("%.4f", x - FFirstX) + ")";
    return Format("%.4f", x) + " )";
}

std::string TFuzzyShapeClicks::Click(double x, bool& complete) {
    complete = false;
    if (FMode == 0) {
        FLastX = x;
        return FText;
    }
    if (FCount == 0) FText = StartText(FMode, FExpression);
    ++FCount;
    if (FCount == 1) FFirstX = x;
    if (FCount < ClicksNeeded()) {
        FText += Format("%.4f", x) + " ";
    } else {
        if (FMode == 3 || FMode == 4)
            FText += Format("%.4f", x - FFirstX) + ")";
        else
            FText += Format("%.4f", x) + " )";
        complete = true;
        FCount = 0;
    }
    FLastX = x;
    return FText;
}

std::string TFuzzyShapeClicks::Preview(double x) const {
    if (FMode == 0 || FCount != ClicksNeeded() - 1) return {};
    return FText + LastPart(x);
}

// ---------------------------------------------------------------------------------------------
// TTypeFrameEditor

TTypeFrameEditor::TTypeFrameEditor(TInferenceEngine* engine) : FEngine(engine) {}

void TTypeFrameEditor::Changed() {
    if (OnChanged) OnChanged();
}

void TTypeFrameEditor::SetType(const TRefPtr<IIEDefinedType>& type) {
    TRefPtr<IIEDefinedType> t = type;
    if (!t) {
        t = TIEDefinedType::Create(FEngine);
    } else if (!EnableNonImplicitEditing && !t->GetImplicit()) {
        t = CloneAs<IIEDefinedType>(*t);
    }
    FType = t;
}

void TTypeFrameEditor::SetSlotType(const IFactSlot& slot) {
    if (TRefPtr<IIEDefinedType> own = slot.GetExtendedTypeInfo()) {
        FType = CloneAs<IIEDefinedType>(*own);
        return;
    }
    TRefPtr<TIEDefinedType> t = TIEDefinedType::Create(FEngine);
    const TIETypes kinds = slot.GetSlotType();
    t->SetBaseTypes(kinds.Contains(dtFuzzy) ? TIETypes{dtFuzzy} : kinds & FrameKinds);
    FType = t;
}

IIEDefinedType& TTypeFrameEditor::Editable() {
    if (!FType) SetType(nullptr);
    if (!EnableNonImplicitEditing && !FType->GetImplicit()) {
        TRefPtr<IIEDefinedType> copy = CloneAs<IIEDefinedType>(*FType);
        copy->SetImplicit(true);
        copy->SetName(ImplicitTypeName);
        FType = copy;
    }
    return *FType;
}

bool TTypeFrameEditor::Fuzzy() const {
    return FType && FType->GetBaseTypes().Contains(dtFuzzy);
}

void TTypeFrameEditor::SetFuzzy(bool fuzzy, TIETypes checkedBaseKinds) {
    Editable().SetBaseTypes(fuzzy ? TIETypes{dtFuzzy} : (checkedBaseKinds & FrameKinds));
    Changed();
}

void TTypeFrameEditor::SetBaseKinds(TIETypes kinds) {
    Editable().SetBaseTypes(kinds & FrameKinds);
    Changed();
}

void TTypeFrameEditor::SelectAll() {
    SetBaseKinds(FrameKinds);
}

void TTypeFrameEditor::SelectNone() {
    SetBaseKinds({});
}

void TTypeFrameEditor::SetUnits(const std::string& text) {
    Editable().SetUnits(text);
    Changed();
}

void TTypeFrameEditor::SetComment(const std::string& text) {
    Editable().SetComment(text);
    Changed();
}

void TTypeFrameEditor::Rename(const std::string& name) {
    if (!FType) SetType(nullptr);
    FType->SetName(name);
    Changed();
}

bool TTypeFrameEditor::ChooseAncestor(const std::string& name) {
    if (!FEngine || !FType || name == FType->GetName()) return false;
    TRefPtr<IIEDefinedType> other = FEngine->DefinedTypes().Find(name);
    if (!other) return false;
    IIEDefinedType& t = Editable();
    const std::string keep = t.GetName();
    t.AssignFrom(other.get());
    t.SetName(keep);
    Changed();
    return true;
}

bool TTypeFrameEditor::IsIntegerText(const std::string& text) {
    int32_t v = 0;
    return ParseWhole(text, v);
}

bool TTypeFrameEditor::IsNumberText(const std::string& text) {
    double v = 0;
    return ParseWhole(text, v);
}

void TTypeFrameEditor::SetCardinalityLimited(bool value) {
    Editable().SetCardinalityLimited(value);
    Changed();
}

void TTypeFrameEditor::SetRangeLimited(bool value) {
    Editable().SetRangeLimited(value);
    ReevaluateTerms();
    Changed();
}

// Parses the text as N and, when it reads, stores it through the setter and reports the change.
template <class N>
bool TTypeFrameEditor::StoreParsed(const std::string& text, void (IIEDefinedType::*setter)(N)) {
    N v = 0;
    if (!ParseWhole(text, v)) return false;
    (Editable().*setter)(v);
    Changed();
    return true;
}

bool TTypeFrameEditor::StoreMinCardinality(const std::string& text) {
    return StoreParsed<int32_t>(text, &IIEDefinedType::SetMinCardinality);
}

bool TTypeFrameEditor::StoreMaxCardinality(const std::string& text) {
    return StoreParsed<int32_t>(Trimmed(text).empty() ? std::to_string(UnlimitedCardinality) : text,
                                &IIEDefinedType::SetMaxCardinality);
}

bool TTypeFrameEditor::StoreMinRange(const std::string& text) {
    return StoreRange(Trimmed(text).empty() ? Format("%.1f", UnlimitedRangeMin) : text,
                      &IIEDefinedType::SetMinRange);
}

bool TTypeFrameEditor::StoreMaxRange(const std::string& text) {
    return StoreRange(Trimmed(text).empty() ? Format("%.1f", UnlimitedRangeMax) : text,
                      &IIEDefinedType::SetMaxRange);
}

bool TTypeFrameEditor::StoreRange(const std::string& text, void (IIEDefinedType::*setter)(double)) {
    double v = 0;
    if (!ParseWhole(text, v)) return false;
    (Editable().*setter)(v);
    ReevaluateTerms();
    Changed();
    return true;
}

void TTypeFrameEditor::ReevaluateTerms() {
    // A term is read within its variable's range: one typed before the range was set was cut
    // to the old range. Read again from its expression, it reaches as far as the new one lets.
    for (const std::string& name : TermNames()) {
        const TRefPtr<IFuzzySet> set = Term(name);
        if (!set || set->GetExpression().empty()) continue;
        const std::string expression = set->GetExpression();
        try {
            if (const TRefPtr<IFuzzySet> result = Evaluate(expression)) {
                set->AssignValues(*result);
                set->SetExpression(expression);
            }
        } catch (const EException&) {
            // An expression the new range cannot take keeps the set it had.
        }
    }
}

std::string TTypeFrameEditor::RangeText(double value) {
    // The type's bounds when no range was given stand for "no limit", not for numbers.
    if (value <= UnlimitedRangeMin || value >= UnlimitedRangeMax) return {};
    return Format("%.4f", value);
}

std::string TTypeFrameEditor::MaxCardinalityText(int32_t value) {
    return value == UnlimitedCardinality ? std::string() : std::to_string(value);
}

bool TTypeFrameEditor::RangePageShown() const {
    if (!FType) return false;
    const TIETypes k = FType->GetBaseTypes();
    return k.Contains(dtInteger) || k.Contains(dtFloat) || k.Contains(dtFuzzy);
}

bool TTypeFrameEditor::AllowedPageShown() const {
    if (!FType) return false;
    const TIETypes k = FType->GetBaseTypes();
    return k.Contains(dtAtom) || k.Contains(dtString) || k.Contains(dtInteger) ||
           k.Contains(dtFloat);
}

bool TTypeFrameEditor::AllowedTabShown(TAllowedTab tab) const {
    if (!FType) return false;
    const TIETypes k = FType->GetBaseTypes();
    switch (tab) {
    case atAny:
        return AllowedPageShown();
    case atSymbols:
        return k.Contains(dtAtom);
    case atStrings:
        return k.Contains(dtString);
    case atIntegers:
        return k.Contains(dtInteger);
    case atFloats:
        return k.Contains(dtFloat);
    }
    return false;
}

TRefPtr<IIEValue> TTypeFrameEditor::ValueFromText(const std::string& text) {
    if (text.empty()) return nullptr;
    int32_t i = 0;
    if (ParseWhole(text, i)) return TIEValue::CreateInteger(dtInteger, i);
    double f = 0;
    if (ParseWhole(text, f)) return TIEValue::CreateFloat(f);
    if (text.find(' ') != std::string::npos) return TIEValue::CreateText(dtString, text);
    return TIEValue::CreateText(dtAtom, text);
}

bool TTypeFrameEditor::CanAdd(TAllowedTab tab, const std::string& text) const {
    TRefPtr<IIEValue> value = ValueFromText(text);
    if (!value || !FType) return false;
    const TIETypes kinds = FType->GetBaseTypes();
    const TIEType kind = value->GetDType();
    switch (tab) {
    case atAny:
        return kinds.Contains(kind) || (kind == dtAtom && kinds.Contains(dtString)) ||
               ((kind == dtInteger || kind == dtFloat) && kinds.Contains(dtFloat));
    case atSymbols:
        return kind != dtString;
    case atStrings:
        return true;
    case atIntegers:
        return kind == dtInteger;
    case atFloats:
        return kind == dtInteger || kind == dtFloat;
    }
    return false;
}

void TTypeFrameEditor::AddAllowed(TAllowedTab tab, const std::string& text) {
    if (!CanAdd(tab, text)) return;
    TRefPtr<IIEValue> value = ValueFromText(text);
    TValueConstraint kind = vcAtom;
    switch (tab) {
    case atAny:
        switch (value->GetDType()) {
        case dtInteger:
            kind = vcInteger;
            break;
        case dtFloat:
            kind = vcFloat;
            break;
        case dtString:
            kind = vcString;
            break;
        default:
            // An atom where the type takes strings but no atoms is kept as a string.
            if (!FType->GetBaseTypes().Contains(dtAtom)) {
                value = TIEValue::CreateText(dtString, text);
                kind = vcString;
            }
            break;
        }
        break;
    case atSymbols:
        value = TIEValue::CreateText(dtAtom, text);
        break;
    case atStrings:
        value = TIEValue::CreateText(dtString, text);
        kind = vcString;
        break;
    case atIntegers:
        kind = vcInteger;
        break;
    case atFloats:
        value = TIEValue::CreateFloat(value->AsFloat());
        kind = vcFloat;
        break;
    }
    IIEDefinedType& t = Editable();
    if (!t.GetConstraints().Contains(kind))
        t.SetConstraints(t.GetConstraints() | TValueConstraints{kind});
    t.AddAllowedValue(value);
    Changed();
}

std::vector<std::string> TTypeFrameEditor::AllowedLines(TAllowedTab tab) const {
    std::vector<std::string> lines;
    if (!FType) return lines;
    const TValueConstraints has = FType->GetConstraints();
    if ((tab == atAny || tab == atSymbols) && has.Contains(vcAtom))
        for (int32_t i = 0; i < FType->AllowedAtomCount(); ++i)
            lines.push_back(FType->GetAllowedAtom(i));
    if ((tab == atAny || tab == atStrings) && has.Contains(vcString))
        for (int32_t i = 0; i < FType->AllowedStringCount(); ++i)
            lines.push_back(FType->GetAllowedString(i));
    if ((tab == atAny || tab == atIntegers) && has.Contains(vcInteger))
        for (int32_t i = 0; i < FType->AllowedIntegerCount(); ++i)
            lines.push_back(std::to_string(FType->GetAllowedInteger(i)));
    if ((tab == atAny || tab == atFloats) && has.Contains(vcFloat))
        for (int32_t i = 0; i < FType->AllowedFloatCount(); ++i)
            lines.push_back(Format("%.4f", FType->GetAllowedFloat(i)));
    return lines;
}

void TTypeFrameEditor::DeleteAllowed(TAllowedTab tab, int32_t index, const std::string& line) {
    (void)line;
    if (!FType || index < 0) return;
    IIEDefinedType& t = Editable();
    const TValueConstraints has = t.GetConstraints();
    auto count = [&](TValueConstraint k) -> int32_t {
        if (!has.Contains(k)) return 0;
        switch (k) {
        case vcAtom:
            return t.AllowedAtomCount();
        case vcString:
            return t.AllowedStringCount();
        case vcInteger:
            return t.AllowedIntegerCount();
        case vcFloat:
            return t.AllowedFloatCount();
        }
        return 0;
    };
    // The Any tab lists atoms, strings, integers and floats in that order: the line's position
    // tells its kind, so a string that reads like an atom or a number is still found.
    static constexpr TValueConstraint Order[] = {vcAtom, vcString, vcInteger, vcFloat};
    TValueConstraint kind = vcAtom;
    switch (tab) {
    case atAny:
        for (TValueConstraint k : Order) {
            if (index < count(k)) {
                kind = k;
                break;
            }
            index -= count(k);
            if (k == vcFloat) return;
        }
        break;
    case atSymbols:
        kind = vcAtom;
        break;
    case atStrings:
        kind = vcString;
        break;
    case atIntegers:
        kind = vcInteger;
        break;
    case atFloats:
        kind = vcFloat;
        break;
    }
    if (index >= count(kind)) return;
    t.DeleteAllowedValue(index, kind);
    Changed();
}

void TTypeFrameEditor::ClearAllowed(TAllowedTab tab) {
    if (!FType) return;
    IIEDefinedType& t = Editable();
    switch (tab) {
    case atAny:
        t.ClearConstraints();
        break;
    case atSymbols:
        t.RemoveConstraints({vcAtom});
        break;
    case atStrings:
        t.RemoveConstraints({vcString});
        break;
    case atIntegers:
        t.RemoveConstraints({vcInteger});
        break;
    case atFloats:
        t.RemoveConstraints({vcFloat});
        break;
    }
    Changed();
}

TRefPtr<IFuzzyVariable> TTypeFrameEditor::Variable() const {
    return FType ? FType->GetFuzzyVariable() : nullptr;
}

std::vector<std::string> TTypeFrameEditor::TermNames() const {
    std::vector<std::string> names;
    TRefPtr<IFuzzyVariable> v = Variable();
    for (int i = 0; v && i < v->Count(); ++i)
        names.push_back(v->GetSet(i)->GetName());
    std::sort(names.begin(), names.end());
    return names;
}

std::string TTypeFrameEditor::NewTermName() const {
    TRefPtr<IFuzzyVariable> v = Variable();
    for (int n = 1;; ++n) {
        std::string name = "Term" + std::to_string(n);
        TRefPtr<IFuzzySet> found;
        if (!v || !v->Find(name, found)) return name;
    }
}

std::string TTypeFrameEditor::NewTerm(const std::string& name) {
    Editable();
    TRefPtr<IFuzzyVariable> v = Variable();
    if (!v) return {};
    std::string term = name.empty() ? NewTermName() : name;
    v->CreateSet(term);
    Changed();
    return term;
}

void TTypeFrameEditor::RenameTerm(const std::string& oldName, const std::string& newName) {
    if (oldName == newName || newName.empty()) return;
    Editable();
    TRefPtr<IFuzzyVariable> v = Variable();
    TRefPtr<IFuzzySet> set = Term(oldName);
    if (!v || !set || Term(newName)) return;
    // The variable files its terms by name: the renamed term is filed anew.
    TRefPtr<IFuzzySet> renamed = v->CreateSet(newName);
    renamed->AssignValues(*set);
    renamed->SetExpression(set->GetExpression());
    v->RemoveSet(set.get());
    Changed();
}

void TTypeFrameEditor::RemoveTerm(const std::string& name) {
    Editable();
    TRefPtr<IFuzzyVariable> v = Variable();
    TRefPtr<IFuzzySet> set = Term(name);
    if (!v || !set) return;
    v->RemoveSet(set.get());
    Changed();
}

TRefPtr<IFuzzySet> TTypeFrameEditor::Term(const std::string& name) const {
    TRefPtr<IFuzzyVariable> v = Variable();
    TRefPtr<IFuzzySet> set;
    if (v && v->Find(name, set)) return set;
    return nullptr;
}

std::string TTypeFrameEditor::TermExpression(const std::string& name) const {
    TRefPtr<IFuzzySet> set = Term(name);
    if (!set) return {};
    if (!set->GetExpression().empty()) return set->GetExpression();
    return set->ValuesAsString();
}

TRefPtr<IFuzzySet> TTypeFrameEditor::Evaluate(const std::string& text) const {
    if (!FType) RaiseIE(imUnknownEngine);
    return Evaluator ? Evaluator(*FType, text) : DefaultEvaluate(FEngine, *FType, text);
}

bool TTypeFrameEditor::SetTermExpression(const std::string& name, const std::string& text,
                                         bool raise) {
    TRefPtr<IFuzzySet> result;
    try {
        result = Evaluate(text);
        if (!result) RaiseIE(imNotAType, "Fuzzy", text, IETypeName(dtNone));
    } catch (const EException& e) {
        // The reader's own words name what it missed, not how a set is written.
        if (raise) throw EIEException(e.what() + std::string(FuzzyExpressionHint));
        return false;
    }
    Editable();
    TRefPtr<IFuzzySet> set = Term(name);
    if (!set) return false;
    set->AssignValues(*result);
    set->SetExpression(text);
    Changed();
    return true;
}

void TTypeFrameEditor::AddTermPoint(const std::string& name, double x, double y) {
    Editable();
    TRefPtr<IFuzzySet> set = Term(name);
    if (!set) return;
    set->Add(x, std::clamp(y, 0.0, 1.0));
    Changed();
}

} // namespace ie
