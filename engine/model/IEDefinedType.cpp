// Defined types: copying and comparing them, their allowed-value lists, validation, default
// values, and their descriptions and rule-language text.
//
// Invariant: setting an ancestor that leads back to the type is refused, so walking the chain
// always ends; numbers compare by number in the allowed lists, so an integer matches the float
// of the same value; a default is the first allowed value or the limited range's bound, and a
// default that cannot be made (a bound beyond 32 bits, too many elements) is an error, not a
// silently wrong value.
#include "engine/model/IEDefinedType.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/model/IEFuzzyLogic.h"
#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEValue.h"
#include "fuzzy/FuzzyInterfaces.h"

namespace ie {

namespace {

constexpr double DefaultMaxRange = 2147483647.0;
constexpr double DefaultMinRange = -2147483648.0;
constexpr std::string_view ConstraintWords[] = {"Atom", "String", "Integer", "Float"};
constexpr std::string_view EmptyTermName = "__Empty";

char FoldChar(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

std::string Fold(std::string_view text) {
    std::string r(text);
    for (char& c : r)
        c = FoldChar(c);
    return r;
}

bool SameTextIgnoreCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldChar(a[i]) != FoldChar(b[i])) return false;
    return true;
}

// The text of a text-kind value without copying when the value is a TIEValue.
std::string_view ValueTextOf(const IIEValue& value, std::string& buffer) {
    if (auto* v = dynamic_cast<const TIEValue*>(&value); v && v->TextBlock())
        return v->TextBlock()->Text();
    buffer = value.AsString();
    return buffer;
}

// A string's print form: backslashes doubled, double quotes escaped, enclosed in quotes.
void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

TIEType KindOf(const IIEValue* value) noexcept {
    return value ? value->GetDType() : dtNone;
}

std::string PrintForm(const IIEValue* value) {
    return value ? value->GetText() : std::string();
}

// Kinds that every non-fuzzy type accepts whatever its BaseTypes.
constexpr TIETypes AlwaysAccepted{dtNone, dtVariable, dtFunCall, dtMultiVariable};
// Kinds that a fuzzy type accepts and makes into fuzzy values later.
constexpr TIETypes FuzzyConvertible{dtAtom,  dtString,  dtInteger,    dtVariable,
                                    dtFloat, dtFunCall, dtSingletons, dtMultiVariable};

bool IsWholeFloat(double d) noexcept {
    return std::isfinite(d) && d >= -2147483648.0 && d <= 2147483647.0 && std::trunc(d) == d;
}

} // namespace

TIETypes DefaultDefinedBaseTypes() noexcept {
    TIETypes t;
    for (int k = dtAtom; k <= dtExternalAddress; ++k)
        if (k != dtList) t.Include(static_cast<TIEType>(k));
    return t;
}

// ---------------------------------------------------------------------------------------------
// TTextList

const std::string& TIEDefinedType::TTextList::Item(int32_t index) const {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    return FItems[static_cast<size_t>(index)];
}

bool TIEDefinedType::TTextList::Contains(std::string_view text) const {
    if (FItems.size() <= 8) {
        for (const std::string& s : FItems)
            if (SameTextIgnoreCase(s, text)) return true;
        return false;
    }
    return FFolded.contains(Fold(text));
}

int32_t TIEDefinedType::TTextList::IndexOf(std::string_view text) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (SameTextIgnoreCase(FItems[i], text)) return static_cast<int32_t>(i);
    return -1;
}

void TIEDefinedType::TTextList::Add(std::string_view text) {
    FItems.emplace_back(text);
    ++FFolded[Fold(text)];
}

void TIEDefinedType::TTextList::Delete(int32_t index) {
    const std::string& s = Item(index);
    auto it = FFolded.find(Fold(s));
    if (it != FFolded.end() && --it->second == 0) FFolded.erase(it);
    FItems.erase(FItems.begin() + index);
}

void TIEDefinedType::TTextList::Clear() noexcept {
    FItems.clear();
    FFolded.clear();
}

// ---------------------------------------------------------------------------------------------
// Construction, copying, comparison

TIEDefinedType::TIEDefinedType(IReasoner* owner)
    : FBaseTypes(DefaultDefinedBaseTypes()), FName(ImplicitTypeName), FOwner(owner) {}

TIEDefinedType::~TIEDefinedType() {
    FOnChange = nullptr;
    if (FFuzzyVariable) FFuzzyVariable->SetParser(nullptr);
    FFuzzyVariable = nullptr;
    FOwner = nullptr;
}

void TIEDefinedType::Assign(const TPersistent* source) {
    if (source == this) return;
    const auto* src = dynamic_cast<const TIEDefinedType*>(source);
    if (!src) {
        TPersistent::Assign(source);
        return;
    }
    BeginUpdate();
    try {
        // An ancestor of another engine means nothing in this one.
        if (src->FOwner == FOwner)
            FAncestor = src->FAncestor;
        else
            FAncestor = nullptr;
        FBaseTypes = src->FBaseTypes;
        FName = src->FName;
        FComment = src->FComment;
        FRangeLimited = src->FRangeLimited;
        FMaxRange = src->FMaxRange;
        FMinRange = src->FMinRange;
        FCardinalityLimited = src->FCardinalityLimited;
        FMaxCardinality = src->FMaxCardinality;
        FMinCardinality = src->FMinCardinality;
        FImplicit = src->FImplicit;
        if (src->FFuzzyVariable) {
            SetFuzzyVariable(RefCast<IFuzzyVariable>(src->FFuzzyVariable->Clone()));
        } else if (FFuzzyVariable) {
            FFuzzyVariable->SetParser(nullptr);
            FFuzzyVariable = nullptr;
        }
        FTag = src->FTag;
        FUnits = src->FUnits;
        SetConstraints(src->FConstraints);
        FAtoms = src->FAtoms;
        FStrings = src->FStrings;
        FIntegers = src->FIntegers;
        FFloats = src->FFloats;
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TIEDefinedType::AssignFrom(const IInterface* source) {
    const auto* src = dynamic_cast<const IIEDefinedType*>(source);
    if (!src || src == this) return;
    BeginUpdate();
    try {
        FAncestor = src->GetOwner() == FOwner ? src->GetAncestor() : nullptr;
        FBaseTypes = src->GetBaseTypes();
        FName = src->GetName();
        FComment = src->GetComment();
        FRangeLimited = src->GetRangeLimited();
        FMaxRange = src->GetMaxRange();
        FMinRange = src->GetMinRange();
        FCardinalityLimited = src->GetCardinalityLimited();
        FMaxCardinality = src->GetMaxCardinality();
        FMinCardinality = src->GetMinCardinality();
        FImplicit = src->GetImplicit();
        if (auto v = src->GetFuzzyVariable()) {
            SetFuzzyVariable(RefCast<IFuzzyVariable>(v->Clone()));
        } else if (FFuzzyVariable) {
            FFuzzyVariable->SetParser(nullptr);
            FFuzzyVariable = nullptr;
        }
        FTag = src->GetTag();
        FUnits = src->GetUnits();
        SetConstraints(src->GetConstraints());
        // Kinds that stay in force keep their earlier values; the other's are appended.
        for (int32_t i = 0; i < src->AllowedAtomCount(); ++i)
            FAtoms.Add(src->GetAllowedAtom(i));
        for (int32_t i = 0; i < src->AllowedStringCount(); ++i)
            FStrings.Add(src->GetAllowedString(i));
        for (int32_t i = 0; i < src->AllowedIntegerCount(); ++i)
            FIntegers.push_back(src->GetAllowedInteger(i));
        for (int32_t i = 0; i < src->AllowedFloatCount(); ++i)
            FFloats.push_back(src->GetAllowedFloat(i));
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

TRefPtr<ICloneable> TIEDefinedType::Clone() const {
    TRefPtr<TIEDefinedType> copy = NewInstance();
    copy->Assign(this);
    return copy;
}

bool TIEDefinedType::Equals(const IInterface* other) const {
    const auto* o = dynamic_cast<const IIEDefinedType*>(other);
    if (!o) return false;
    if (o == this) return true;
    if (FName != o->GetName() || FBaseTypes != o->GetBaseTypes()) return false;
    if (FFuzzyVariable) {
        auto v = o->GetFuzzyVariable();
        return v && FFuzzyVariable->Equals(v.get());
    }
    if (!SameFloat(FMaxRange, o->GetMaxRange()) || !SameFloat(FMinRange, o->GetMinRange()))
        return false;
    if (FMaxCardinality != o->GetMaxCardinality() || FMinCardinality != o->GetMinCardinality())
        return false;
    if (FConstraints != o->GetConstraints() || FRangeLimited != o->GetRangeLimited() ||
        FCardinalityLimited != o->GetCardinalityLimited())
        return false;
    if (FConstraints.Contains(vcAtom)) {
        if (FAtoms.Count() != o->AllowedAtomCount()) return false;
        for (int32_t i = 0; i < FAtoms.Count(); ++i)
            if (FAtoms.Item(i) != o->GetAllowedAtom(i)) return false;
    }
    if (FConstraints.Contains(vcString)) {
        if (FStrings.Count() != o->AllowedStringCount()) return false;
        for (int32_t i = 0; i < FStrings.Count(); ++i)
            if (FStrings.Item(i) != o->GetAllowedString(i)) return false;
    }
    if (FConstraints.Contains(vcInteger)) {
        if (AllowedIntegerCount() != o->AllowedIntegerCount()) return false;
        for (int32_t i = 0; i < AllowedIntegerCount(); ++i)
            if (FIntegers[static_cast<size_t>(i)] != o->GetAllowedInteger(i)) return false;
    }
    if (FConstraints.Contains(vcFloat)) {
        if (AllowedFloatCount() != o->AllowedFloatCount()) return false;
        for (int32_t i = 0; i < AllowedFloatCount(); ++i)
            if (!SameFloat(FFloats[static_cast<size_t>(i)], o->GetAllowedFloat(i))) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Setters

void TIEDefinedType::Changed() {
    if (FOnChange) FOnChange(this);
}

void TIEDefinedType::BeginUpdate() {
    if (FUpdateCount++ == 0) SetUpdateState(true);
}

void TIEDefinedType::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0) SetUpdateState(false);
}

void TIEDefinedType::SetUpdateState(bool updating) {
    if (!updating) Changed();
}

void TIEDefinedType::GiveParser(IFuzzyVariable* variable) const {
    if (variable) variable->SetParser(dynamic_cast<IFuzzyParser*>(FOwner));
}

void TIEDefinedType::SetAncestor(const TRefPtr<IIEDefinedType>& ancestor) {
    if (ancestor == FAncestor) return;
    for (const IIEDefinedType* t = ancestor.get(); t;) {
        if (t == this) RaiseIE(imTypeInheritanceLoop, FName);
        TRefPtr<IIEDefinedType> next = t->GetAncestor();
        t = next.get();
    }
    FAncestor = ancestor;
    if (FAncestor) FImplicit = false;
    Changed();
}

void TIEDefinedType::SetUnits(std::string_view units) {
    if (FUnits == units) return;
    FUnits = units;
    if (FFuzzyVariable) FFuzzyVariable->SetUnits(units);
    Changed();
}

void TIEDefinedType::SetBaseTypes(TIETypes types) {
    if (types.Contains(dtFuzzy) && types != TIETypes{dtFuzzy}) RaiseIE(imCannotMixFuzzyType);
    if (types == FBaseTypes) return;
    const bool wasFuzzy = FBaseTypes.Contains(dtFuzzy);
    FBaseTypes = types;
    if (types.Contains(dtFuzzy) && !wasFuzzy) {
        FFuzzyVariable = NewIEFuzzyVariable(FName);
        GiveParser(FFuzzyVariable.get());
    } else if (!types.Contains(dtFuzzy) && FFuzzyVariable) {
        FFuzzyVariable->SetParser(nullptr);
        FFuzzyVariable = nullptr;
    }
    Changed();
}

void TIEDefinedType::SetComment(std::string_view comment) {
    if (FComment == comment) return;
    FComment = comment;
    Changed();
}

void TIEDefinedType::FreeList(TValueConstraint kind) {
    switch (kind) {
    case vcAtom:
        FAtoms.Clear();
        break;
    case vcString:
        FStrings.Clear();
        break;
    case vcInteger:
        FIntegers.clear();
        break;
    case vcFloat:
        FFloats.clear();
        break;
    }
    Changed();
}

void TIEDefinedType::SetConstraints(TValueConstraints constraints) {
    if (constraints == FConstraints) return;
    for (TValueConstraint k : {vcAtom, vcString, vcInteger, vcFloat})
        if (FConstraints.Contains(k) && !constraints.Contains(k)) FreeList(k);
    FConstraints = constraints;
    Changed();
}

void TIEDefinedType::SetFuzzyVariable(const TRefPtr<IFuzzyVariable>& variable) {
    if (variable == FFuzzyVariable) return;
    if (FFuzzyVariable) FFuzzyVariable->SetParser(nullptr);
    FFuzzyVariable = variable;
    if (variable) {
        FBaseTypes = TIETypes{dtFuzzy};
        FMinRange = variable->GetMinimum();
        FMaxRange = variable->GetMaximum();
        FUnits = variable->GetUnits();
        GiveParser(variable.get());
    }
    Changed();
}

void TIEDefinedType::SetMaxCardinality(int32_t value) {
    value = std::max(value, 0);
    if (value == FMaxCardinality) return;
    FMaxCardinality = value;
    if (FMinCardinality > value) FMinCardinality = value;
    Changed();
}

void TIEDefinedType::SetMinCardinality(int32_t value) {
    value = std::max(value, 0);
    if (value == FMinCardinality) return;
    FMinCardinality = value;
    if (FMaxCardinality < value) FMaxCardinality = value;
    Changed();
}

void TIEDefinedType::SetMaxRange(double value) {
    if (value == FMaxRange) return;
    FMaxRange = value;
    if (FMinRange > value) FMinRange = value;
    if (FFuzzyVariable) FFuzzyVariable->SetMaximum(value);
    Changed();
}

void TIEDefinedType::SetMinRange(double value) {
    if (value == FMinRange) return;
    FMinRange = value;
    if (FMaxRange < value) FMaxRange = value;
    if (FFuzzyVariable) FFuzzyVariable->SetMinimum(value);
    Changed();
}

void TIEDefinedType::SetName(std::string_view name) {
    if (FName == name) return;
    FName = name;
    Changed();
}

void TIEDefinedType::SetOwner(IReasoner* owner) {
    if (owner == FOwner) return;
    FOwner = owner;
    GiveParser(FFuzzyVariable.get());
    Changed();
}

void TIEDefinedType::SetCardinalityLimited(bool value) {
    if (value == FCardinalityLimited) return;
    FCardinalityLimited = value;
    Changed();
}

void TIEDefinedType::SetRangeLimited(bool value) {
    if (value == FRangeLimited) return;
    FRangeLimited = value;
    Changed();
}

// ---------------------------------------------------------------------------------------------
// Allowed values

TValueConstraint TIEDefinedType::ConstraintKind(const IIEValue& value) const {
    switch (value.GetDType()) {
    case dtAtom:
        return vcAtom;
    case dtString:
        return vcString;
    case dtInteger:
        if (!FConstraints.Contains(vcInteger) && FConstraints.Contains(vcFloat)) return vcFloat;
        return vcInteger;
    case dtFloat:
        if (!FConstraints.Contains(vcFloat) && FConstraints.Contains(vcInteger) &&
            IsWholeFloat(value.AsFloat()))
            return vcInteger;
        return vcFloat;
    default: {
        const std::string_view name = IETypeName(value.GetDType());
        RaiseIE(imCannotContainConstraint, FName, name.substr(std::min<size_t>(2, name.size())));
    }
    }
}

void TIEDefinedType::RaiseNoConstraint(TValueConstraint kind) const {
    RaiseIE(imNoSuchConstraint, FName, ConstraintWords[kind]);
}

void TIEDefinedType::CheckConstraint(TValueConstraint kind) const {
    if (!FConstraints.Contains(kind)) RaiseNoConstraint(kind);
}

const std::string& TIEDefinedType::GetAllowedAtom(int32_t index) const {
    CheckConstraint(vcAtom);
    return FAtoms.Item(index);
}

const std::string& TIEDefinedType::GetAllowedString(int32_t index) const {
    CheckConstraint(vcString);
    return FStrings.Item(index);
}

int32_t TIEDefinedType::GetAllowedInteger(int32_t index) const {
    CheckConstraint(vcInteger);
    if (index < 0 || index >= AllowedIntegerCount())
        throw EListError(Format("List index out of bounds (%d)", index));
    return FIntegers[static_cast<size_t>(index)];
}

double TIEDefinedType::GetAllowedFloat(int32_t index) const {
    CheckConstraint(vcFloat);
    if (index < 0 || index >= AllowedFloatCount())
        throw EListError(Format("List index out of bounds (%d)", index));
    return FFloats[static_cast<size_t>(index)];
}

// Whether the list of `kind` holds the value. Numbers compare by number, so an integer that
// falls to the float list matches the float of the same number.
bool TIEDefinedType::ListHolds(const IIEValue& value, TValueConstraint kind) const {
    std::string buffer;
    switch (kind) {
    case vcAtom:
        return FAtoms.Contains(ValueTextOf(value, buffer));
    case vcString:
        return FStrings.Contains(ValueTextOf(value, buffer));
    case vcInteger: {
        const int32_t n = value.AsInteger();
        return std::find(FIntegers.begin(), FIntegers.end(), n) != FIntegers.end();
    }
    case vcFloat: {
        const double d = value.AsFloat();
        return std::find(FFloats.begin(), FFloats.end(), d) != FFloats.end();
    }
    }
    return false;
}

bool TIEDefinedType::InAllowed(const IIEValue* value, TValueConstraint& kind) const {
    const TIEType t = KindOf(value);
    if (t != dtAtom && t != dtString && t != dtInteger && t != dtFloat) return false;
    kind = ConstraintKind(*value);
    return FConstraints.Contains(kind) && ListHolds(*value, kind);
}

void TIEDefinedType::AddAllowedValue(const TRefPtr<IIEValue>& value) {
    if (!value) return;
    const TValueConstraint kind = ConstraintKind(*value);
    if (!FConstraints.Contains(kind)) {
        const std::string_view name = IETypeName(value->GetDType());
        RaiseIE(imCannotContainConstraint, FName, name.substr(std::min<size_t>(2, name.size())));
    }
    if (ListHolds(*value, kind)) return;
    std::string buffer;
    switch (kind) {
    case vcAtom:
        FAtoms.Add(ValueTextOf(*value, buffer));
        break;
    case vcString:
        FStrings.Add(ValueTextOf(*value, buffer));
        break;
    case vcInteger:
        FIntegers.push_back(value->AsInteger());
        break;
    case vcFloat:
        FFloats.push_back(value->AsFloat());
        break;
    }
    Changed();
}

void TIEDefinedType::RemoveAllowedValue(const IIEValue* value) {
    const TIEType t = KindOf(value);
    if (t != dtAtom && t != dtString && t != dtInteger && t != dtFloat) return;
    const TValueConstraint kind = ConstraintKind(*value);
    if (!FConstraints.Contains(kind)) return;
    std::string buffer;
    switch (kind) {
    case vcAtom: {
        const int32_t i = FAtoms.IndexOf(ValueTextOf(*value, buffer));
        if (i < 0) return;
        FAtoms.Delete(i);
        break;
    }
    case vcString: {
        const int32_t i = FStrings.IndexOf(ValueTextOf(*value, buffer));
        if (i < 0) return;
        FStrings.Delete(i);
        break;
    }
    case vcInteger: {
        auto it = std::find(FIntegers.begin(), FIntegers.end(), value->AsInteger());
        if (it == FIntegers.end()) return;
        FIntegers.erase(it);
        break;
    }
    case vcFloat: {
        auto it = std::find(FFloats.begin(), FFloats.end(), value->AsFloat());
        if (it == FFloats.end()) return;
        FFloats.erase(it);
        break;
    }
    }
    Changed();
}

void TIEDefinedType::DeleteAllowedValue(int32_t index, TValueConstraint kind) {
    CheckConstraint(kind);
    auto checkIndex = [index](size_t count) {
        if (index < 0 || static_cast<size_t>(index) >= count)
            throw EListError(Format("List index out of bounds (%d)", index));
    };
    switch (kind) {
    case vcAtom:
        FAtoms.Delete(index);
        break;
    case vcString:
        FStrings.Delete(index);
        break;
    case vcInteger:
        checkIndex(FIntegers.size());
        FIntegers.erase(FIntegers.begin() + index);
        break;
    case vcFloat:
        checkIndex(FFloats.size());
        FFloats.erase(FFloats.begin() + index);
        break;
    }
}

void TIEDefinedType::ClearConstraints() {
    if (FConstraints.Empty()) return;
    for (TValueConstraint k : {vcAtom, vcString, vcInteger, vcFloat})
        if (FConstraints.Contains(k)) FreeList(k);
    FConstraints = {};
    Changed();
}

void TIEDefinedType::RemoveConstraints(TValueConstraints kinds) {
    if (FConstraints.Empty()) return;
    for (TValueConstraint k : {vcAtom, vcString, vcInteger, vcFloat})
        if (kinds.Contains(k) && FConstraints.Contains(k)) {
            FreeList(k);
            FConstraints.Exclude(k);
        }
    Changed();
}

// ---------------------------------------------------------------------------------------------
// Validation

std::string TIEDefinedType::Reason(const IIEValue* value) const {
    const TIEType kind = KindOf(value);
    if (kind == dtList) {
        const TRefPtr<IValueVector> list = value->AsList();
        const int32_t n = list ? list->Count() : 0;
        if (FCardinalityLimited && (n < FMinCardinality || n > FMaxCardinality))
            return Format(IEMessage(imMultislotCardinality), FMinCardinality, FMaxCardinality);
        for (int32_t i = 0; i < n; ++i) {
            std::string element = ValidationError(list->GetItem(i).get());
            if (!element.empty()) return element;
        }
        return {};
    }
    if (FBaseTypes.Contains(dtFuzzy)) {
        if (kind == dtFuzzy) {
            const TRefPtr<IFuzzySet> set = value->AsFuzzy();
            if (FFuzzyVariable && set && set->GetFuzzyVariable() == FFuzzyVariable.get()) return {};
        } else if (FuzzyConvertible.Contains(kind)) {
            return {};
        }
        return std::string(IEMessage(imInvalidFuzzyValue));
    }
    if (!FBaseTypes.Contains(kind) && !AlwaysAccepted.Contains(kind))
        return Format(IEMessage(imNotAType), UpperCase(SetToText(FBaseTypes, ", ")),
                      PrintForm(value), IETypeName(kind));
    if (kind == dtAtom || kind == dtString || kind == dtInteger || kind == dtFloat) {
        const TValueConstraint ck = ConstraintKind(*value);
        if (FConstraints.Contains(ck) && !ListHolds(*value, ck))
            return std::string(IEMessage(imNotInAllowedValues));
        if (FRangeLimited && (kind == dtInteger || kind == dtFloat)) {
            const double x = value->AsFloat();
            if (!(FMinRange <= x && x <= FMaxRange))
                return Format(IEMessage(imRangeMustBeBetween), FMinRange, FMaxRange);
        }
    }
    return {};
}

bool TIEDefinedType::IsValid(const IIEValue* value) const {
    const TIEType kind = KindOf(value);
    if (kind == dtList) {
        const TRefPtr<IValueVector> list = value->AsList();
        const int32_t n = list ? list->Count() : 0;
        if (FCardinalityLimited && (n < FMinCardinality || n > FMaxCardinality)) return false;
        for (int32_t i = 0; i < n; ++i)
            if (!IsValid(list->GetItem(i).get())) return false;
        return true;
    }
    // The common single-value case needs no text.
    if (!FBaseTypes.Contains(dtFuzzy) && FConstraints.Empty() && !FRangeLimited)
        return FBaseTypes.Contains(kind) || AlwaysAccepted.Contains(kind);
    return Reason(value).empty();
}

std::string TIEDefinedType::ValidationError(const IIEValue* value) const {
    std::string reason = Reason(value);
    if (reason.empty()) return reason;
    return Format(IEMessage(imValueNotValid), PrintForm(value), reason);
}

// ---------------------------------------------------------------------------------------------
// Defaults

double OpenRangeBound(TIETypes baseTypes, bool maximum) noexcept {
    if (baseTypes.Contains(dtFloat))
        return maximum ? std::numeric_limits<double>::max() : -std::numeric_limits<double>::max();
    return maximum ? DefaultMaxRange : DefaultMinRange;
}

bool IsOpenRangeBound(const IIEDefinedType& type, double bound, bool maximum) noexcept {
    return bound == OpenRangeBound(type.GetBaseTypes(), maximum) ||
           bound == OpenRangeBound(TIETypes{dtFloat}, maximum);
}

TRefPtr<IIEValue> TIEDefinedType::SingleDefault() const {
    // Either open bound counts, whatever the kinds: a range left at its defaults is open too.
    const bool openMin =
        FMinRange == DefaultMinRange || FMinRange == OpenRangeBound({dtFloat}, false);
    const bool fullRange =
        openMin && (FMaxRange == DefaultMaxRange || FMaxRange == OpenRangeBound({dtFloat}, true));
    const double bound = !openMin ? FMinRange : FMaxRange;
    if (FBaseTypes.Contains(dtAtom)) {
        if (FConstraints.Contains(vcAtom) && FAtoms.Count() > 0)
            return TIEValue::CreateText(dtAtom, FAtoms.Item(0));
        return TIEValue::CreateText(dtAtom, "");
    }
    if (FBaseTypes.Contains(dtString)) {
        if (FConstraints.Contains(vcString) && FStrings.Count() > 0)
            return TIEValue::CreateText(dtString, FStrings.Item(0));
        return TIEValue::CreateText(dtString, "");
    }
    if (FBaseTypes.Contains(dtInteger)) {
        if (FConstraints.Contains(vcInteger) && !FIntegers.empty())
            return TIEValue::CreateInteger(dtInteger, FIntegers.front());
        if (FRangeLimited && !fullRange) {
            const double t = std::trunc(bound);
            if (!(t >= -2147483648.0 && t <= 2147483647.0))
                throw EIEException(Format(DefaultRangeTooLargeMessage, FName, bound));
            return TIEValue::CreateInteger(dtInteger, static_cast<int32_t>(t));
        }
        return TIEValue::CreateInteger(dtInteger, 0);
    }
    if (FBaseTypes.Contains(dtFloat)) {
        if (FConstraints.Contains(vcFloat) && !FFloats.empty())
            return TIEValue::CreateFloat(FFloats.front());
        if (FRangeLimited && !fullRange) return TIEValue::CreateFloat(bound);
        return TIEValue::CreateFloat(0.0);
    }
    if (FBaseTypes.Contains(dtObject)) {
        auto v = TIEValue::Create();
        v->SetAsObject(nullptr);
        return v;
    }
    if (FBaseTypes.Contains(dtExternalAddress)) return TIEValue::CreateExternalAddress(0);
    if (FBaseTypes.Contains(dtFuzzy)) {
        if (!FFuzzyVariable) return IEEmptyAtom();
        TRefPtr<IFuzzySet> term = FFuzzyVariable->GetSet(EmptyTermName);
        if (!term) term = FFuzzyVariable->CreateSet(EmptyTermName);
        return TIEValue::CreateFuzzy(term);
    }
    if (FBaseTypes.Contains(dtFactId)) return TIEValue::CreateInteger(dtFactId, 0);
    if (FBaseTypes.Contains(dtFact)) return TIEValue::CreateFact(nullptr);
    if (FBaseTypes.Contains(dtDescriptor)) return TIEValue::CreateInteger(dtDescriptor, 0);
    if (FBaseTypes.Contains(dtClass)) {
        auto v = TIEValue::Create();
        v->SetAsClass(nullptr);
        return v;
    }
    return TIEValue::Create();
}

TRefPtr<IIEValue> TIEDefinedType::DefaultValue(bool isMultislot) const {
    if (!isMultislot) return SingleDefault();
    if (FCardinalityLimited && FMinCardinality > 0) {
        if (FMinCardinality > IEMaxDefaultCardinality)
            throw EIEException(Format(DefaultCardinalityTooLargeMessage, FName, FMinCardinality,
                                      IEMaxDefaultCardinality));
        auto list = TValueVector::Create();
        list->Reserve(FMinCardinality);
        for (int32_t i = 0; i < FMinCardinality; ++i)
            list->Add(SingleDefault());
        return TIEValue::CreateList(list);
    }
    return IEEmptyList()->CloneValue();
}

// ---------------------------------------------------------------------------------------------
// Texts

std::string TIEDefinedType::GetText() const {
    if (FOwner) return FOwner->DefinedTypeText(*this);
    return DefinedTypeText(*this);
}

std::string TIEDefinedType::ValueText(const IIEValue* value) const {
    return PrintForm(value);
}

std::string TIEDefinedType::ConstraintsText() const {
    const bool atoms = FConstraints.Contains(vcAtom);
    const bool strings = FConstraints.Contains(vcString);
    const bool integers = FConstraints.Contains(vcInteger);
    const bool floats = FConstraints.Contains(vcFloat);
    auto addAtoms = [this](std::string& r) {
        for (const std::string& s : FAtoms.Items()) {
            r += s;
            r += ' ';
        }
    };
    // Strings are written in their print form so that the text reads back to the same strings.
    auto addStrings = [this](std::string& r) {
        for (const std::string& s : FStrings.Items()) {
            AppendQuoted(r, s);
            r += ' ';
        }
    };
    auto addIntegers = [this](std::string& r) {
        for (int32_t n : FIntegers) {
            r += IntToStr(n);
            r += ' ';
        }
    };
    auto addFloats = [this](std::string& r) {
        for (double d : FFloats) {
            r += Format("%.4f", d);
            r += ' ';
        }
    };
    std::string r;
    if (atoms && strings && integers && floats) {
        r += IEIndent;
        r += "(allowed-values ";
        addAtoms(r);
        addStrings(r);
        addIntegers(r);
        addFloats(r);
        r += ')';
        r += IELineEnd;
        return r;
    }
    if (integers || floats) {
        r += IEIndent;
        r += integers && floats ? "(allowed-numbers "
             : integers         ? "(allowed-integers "
                                : "(allowed-floats ";
        if (integers) addIntegers(r);
        if (floats) addFloats(r);
        r += ") ";
        r += IELineEnd;
    }
    if (atoms || strings) {
        r += IEIndent;
        r += atoms && strings ? "(allowed-lexemes "
             : atoms          ? "(allowed-symbols "
                              : "(allowed-strings ";
        if (atoms) addAtoms(r);
        if (strings) addStrings(r);
        r += ')';
        r += IELineEnd;
    }
    return r;
}

std::vector<TDefinedTypeLine> TIEDefinedType::Description() const {
    std::vector<TDefinedTypeLine> lines;
    auto add = [&lines](std::string text) { lines.push_back({std::move(text), {}}); };
    if (FAncestor) add("Ancestor Type: " + FAncestor->GetName());
    add("Primitive Types: " + SetToText(FBaseTypes, ", "));
    if (!FComment.empty()) add("Comment: " + FComment);
    if (!FUnits.empty()) add("Units: " + FUnits);
    if (FCardinalityLimited)
        add("Cardinality: " + IntToStr(FMinCardinality) + "-" + IntToStr(FMaxCardinality));
    if (FRangeLimited || FFuzzyVariable) add("Range: " + Format("%.4f-%.4f", FMinRange, FMaxRange));
    if (!FConstraints.Empty()) add("Allowed: " + ConstraintsText());
    if (FFuzzyVariable) {
        TDefinedTypeLine terms{"Fuzzy Terms: ", {}};
        for (int i = 0; i < FFuzzyVariable->Count(); ++i)
            if (auto set = FFuzzyVariable->GetSet(i)) terms.Children.push_back(set->AsString());
        lines.push_back(std::move(terms));
    }
    return lines;
}

// ---------------------------------------------------------------------------------------------
// The rule-language text

namespace {

// Kind names as type words: without "dt", upper case, blank separated, leaving out the kinds
// every type accepts anyway.
std::string KindWords(TIETypes types) {
    types = types - TIETypes{dtNone, dtVariable, dtFunCall, dtMultiVariable};
    return UpperCase(SetToText(types, " "));
}

std::string RangeClause(const IIEDefinedType& t) {
    if (!t.GetRangeLimited()) return {};
    auto bound = [&t](double d, bool maximum) {
        if (IsOpenRangeBound(t, d, maximum)) return std::string("?VARIABLE");
        return Format("%.0f", std::trunc(d) + 0.0);
    };
    return std::string(IEIndent) + "(range " + bound(t.GetMinRange(), false) + " " +
           bound(t.GetMaxRange(), true) + ") " + std::string(IELineEnd);
}

std::string UnitsClause(const IIEDefinedType& t) {
    const std::string& u = t.GetUnits();
    if (u.empty()) return {};
    std::string r = std::string(IEIndent) + "(units ";
    if (u.find(' ') != std::string::npos)
        r += '"' + u + '"';
    else
        r += u;
    return r + ")" + std::string(IELineEnd);
}

std::string CardinalityClause(const IIEDefinedType& t) {
    if (!t.GetCardinalityLimited()) return {};
    const int32_t lo = t.GetMinCardinality(), hi = t.GetMaxCardinality();
    return std::string(IEIndent) + "(cardinality " + (lo < 0 ? "?VARIABLE" : IntToStr(lo)) + " " +
           (hi == 2147483647 ? "?VARIABLE" : IntToStr(hi)) + ") " + std::string(IELineEnd);
}

std::string AllowedClause(const IIEDefinedType& t) {
    if (auto* d = dynamic_cast<const TIEDefinedType*>(&t)) return d->ConstraintsText();
    return {};
}

} // namespace

std::string DefinedTypeText(const IIEDefinedType& type) {
    std::string r;
    if (type.GetImplicit()) {
        r = "(type " + KindWords(type.GetBaseTypes()) + ")" + std::string(IELineEnd);
    } else {
        r = "(deftype " + type.GetName() + " ";
        if (!type.GetComment().empty())
            r += std::string(IELineEnd) + std::string(IEIndent) + '"' + type.GetComment() + '"' +
                 std::string(IELineEnd) + std::string(IEIndent);
        r += "extends (type ";
        if (auto a = type.GetAncestor())
            r += a->GetName() + " " + KindWords(type.GetBaseTypes() - a->GetBaseTypes());
        else
            r += KindWords(type.GetBaseTypes());
        r += ")" + std::string(IELineEnd);
    }
    const TRefPtr<IFuzzyVariable> variable = type.GetFuzzyVariable();
    if (variable) {
        r += variable->AsString();
    } else {
        const TRefPtr<IIEDefinedType> ancestor = type.GetAncestor();
        for (auto clause : {RangeClause, UnitsClause, CardinalityClause, AllowedClause}) {
            const std::string text = clause(type);
            if (text.empty()) continue;
            if (ancestor && clause(*ancestor) == text) continue;
            r += IEIndent;
            r += text;
        }
    }
    if (!type.GetImplicit()) r += ')';
    return r;
}

} // namespace ie
