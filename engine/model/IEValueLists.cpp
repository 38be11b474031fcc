// The list classes of values: TValueVector, TListView and TSingletonsVector, and the side tags.
//
// Invariant: nested lists are walked without recursion, so a deep list cannot overflow the stack.
#include "engine/model/IEValueLists.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include <boost/unordered/unordered_flat_map.hpp>

#include "engine/model/IEValue.h"

namespace ie {

namespace {

struct TSideTags {
    std::mutex Lock;
    boost::unordered_flat_map<const void*, intptr_t> Items;
};

TSideTags& SideTags() {
    // Never destroyed: tagged objects held by static objects may outlive every other static.
    static TSideTags* tags = new TSideTags();
    return *tags;
}

} // namespace

intptr_t SideTag(const void* owner) noexcept {
    TSideTags& tags = SideTags();
    std::lock_guard lock(tags.Lock);
    auto it = tags.Items.find(owner);
    return it == tags.Items.end() ? 0 : it->second;
}

void SetSideTag(const void* owner, intptr_t tag) {
    TSideTags& tags = SideTags();
    std::lock_guard lock(tags.Lock);
    if (tag == 0)
        tags.Items.erase(owner);
    else
        tags.Items[owner] = tag;
}

void TValueVector::SetTag(intptr_t tag) {
    if (tag == 0 && !FHasTag) return;
    SetSideTag(this, tag);
    FHasTag = tag != 0;
}

TValueVector::~TValueVector() {
    if (FHasTag) SetSideTag(this, 0);
    // A list nested n deep would be released by n nested destructor calls, which overflow the
    // stack when the nesting is deep enough: the elements whose lists go with them are taken
    // apart here, one level after the other.
    TItems pending;
    pending.swap(FItems);
    while (!pending.empty()) {
        TRefPtr<IIEValue> value = std::move(pending.back());
        pending.pop_back();
        if (!value || value->RefCount() != 1 || typeid(*value) != typeid(TIEValue)) continue;
        const IValueVector* inner = static_cast<const TIEValue*>(value.get())->ListPayload();
        // Held by the value alone: it goes with the value.
        if (!inner || inner->RefCount() != 1 || typeid(*inner) != typeid(TValueVector)) continue;
        auto& items = const_cast<TValueVector*>(static_cast<const TValueVector*>(inner))->FItems;
        for (TRefPtr<IIEValue>& item : items)
            pending.push_back(std::move(item));
        items.clear();
    }
}

void TValueVector::CheckChangeable() const {
    if (FConstant) throw EIEException("Invalid attempt to change the constant value ()");
}

void TValueVector::CheckIndex(int32_t index, int32_t limit) const {
    if (index < 0 || index >= limit)
        throw EListError(Format("List index out of bounds (%d)", index));
}

void TValueVector::AssignFrom(const IInterface* source) {
    if (auto* v = dynamic_cast<const IValueVector*>(source)) {
        Assign(v);
        return;
    }
    throw EIEException(
        Format("Cannot assign a %s to a %s", source ? "TObject" : "nil", "TValueVector"));
}

namespace {

// A list of its own holding the elements of `list` (shared, not copied).
TRefPtr<IValueVector> CopyOfList(const IValueVector& list) {
    auto copy = MakeRef<TValueVector>();
    copy->Assign(&list);
    return copy;
}

// Element by element; an absent element equals only an absent one. Templated on the first list
// so that a list of a final class reads its elements without a virtual call.
template <class L> bool ElementsEqual(const L& a, const IValueVector& b) {
    const int32_t n = a.Count();
    if (n != b.Count()) return false;
    for (int32_t i = 0; i < n; ++i) {
        const TRefPtr<IIEValue>& x = a.GetItem(i);
        const TRefPtr<IIEValue>& y = b.GetItem(i);
        if (!x || !y) {
            if (x || y) return false;
            continue;
        }
        if (!x->Equals(y.get())) return false;
    }
    return true;
}

} // namespace

TRefPtr<ICloneable> TValueVector::Clone() const {
    return CloneVector();
}

TRefPtr<IValueVector> TValueVector::CloneVector() const {
    return CopyOfList(*this);
}

bool TValueVector::Equals(const IInterface* other) const {
    auto* v = dynamic_cast<const IValueVector*>(other);
    return v && Equals(v);
}

bool TValueVector::Equals(const IValueVector* other) const {
    return other && (other == this || ElementsEqual(*this, *other));
}

void TValueVector::Assign(const IValueVector* other) {
    if (other == this) return;
    CheckChangeable();
    TItems items;
    if (other) {
        items.reserve(static_cast<size_t>(other->Count()));
        for (int32_t i = 0; i < other->Count(); ++i) {
            const TRefPtr<IIEValue>& v = other->GetItem(i);
            // The elements are copied; the lists inside them are shared, not copied level by
            // level (a list nested n deep would cost n copies at every copy of it).
            if (v && typeid(*v) == typeid(TIEValue))
                items.push_back(static_cast<const TIEValue*>(v.get())->SharingClone());
            else
                items.push_back(v ? v->CloneValue() : nullptr);
        }
        SetTag(other->GetTag());
    }
    FItems.swap(items);
}

const TRefPtr<IIEValue>& TValueVector::GetItem(int32_t index) const {
    CheckIndex(index, Count());
    return FItems[static_cast<size_t>(index)];
}

void TValueVector::SetItem(int32_t index, TRefPtr<IIEValue> value) {
    CheckChangeable();
    CheckIndex(index, Count());
    FItems[static_cast<size_t>(index)] = std::move(value);
}

void TValueVector::Clear() {
    CheckChangeable();
    FItems.clear();
}

const TRefPtr<IIEValue>& TValueVector::First() const {
    return GetItem(0);
}
const TRefPtr<IIEValue>& TValueVector::Last() const {
    return GetItem(Count() - 1);
}

int32_t TValueVector::IndexOf(const IIEValue* value) const noexcept {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == value) return static_cast<int32_t>(i);
    return -1;
}

void TValueVector::Insert(int32_t index, TRefPtr<IIEValue> value) {
    CheckChangeable();
    CheckIndex(index, Count() + 1);
    FItems.insert(FItems.begin() + index, std::move(value));
}

void TValueVector::Delete(int32_t index) {
    CheckChangeable();
    CheckIndex(index, Count());
    FItems.erase(FItems.begin() + index);
}

void TValueVector::AddAll(const IValueVector* other) {
    CheckChangeable();
    if (!other) return;
    const int32_t n = other->Count(); // fixed first: the other list may be this one
    FItems.reserve(FItems.size() + static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i)
        FItems.push_back(other->GetItem(i));
}

int32_t TValueVector::Remove(const IIEValue* value) {
    CheckChangeable();
    const int32_t i = IndexOf(value);
    if (i >= 0) FItems.erase(FItems.begin() + i);
    return i;
}

namespace {

// The list of an element that is itself one of these lists, else null.
const TValueVector* NestedList(const TRefPtr<IIEValue>& element) {
    if (!element || typeid(*element) != typeid(TIEValue)) return nullptr;
    // Read as it stands: the element keeps the list alive while it is walked.
    const IValueVector* list = static_cast<const TIEValue*>(element.get())->ListPayload();
    if (!list || typeid(*list) != typeid(TValueVector)) return nullptr;
    return static_cast<const TValueVector*>(list);
}

// Walks the elements of a list and of the lists nested in it without recursion (a list may
// nest deeper than the stack would allow): `leaf` for each element that is not such a list,
// `end` after the elements of each nested list.
template <class Leaf, class End> void WalkNested(const TValueVector& root, Leaf&& leaf, End&& end) {
    struct TFrame {
        const TValueVector* List;
        int32_t Next;
    };
    std::vector<TFrame> stack{{&root, 0}};
    while (!stack.empty()) {
        TFrame& top = stack.back();
        if (top.Next >= top.List->Count()) {
            stack.pop_back();
            if (!stack.empty()) end();
            continue;
        }
        const TRefPtr<IIEValue>& element = top.List->GetItem(top.Next++);
        if (const TValueVector* inner = NestedList(element))
            stack.push_back({inner, 0});
        else
            leaf(element);
    }
}

} // namespace

std::string TValueVector::GetText() const {
    // Each element's print form followed by a blank; a nested list's print form is its own
    // elements' in turn.
    std::string r;
    WalkNested(
        *this,
        [&r](const TRefPtr<IIEValue>& v) {
            if (v) r += v->GetText();
            r += ' ';
        },
        [&r] { r += ' '; });
    return r;
}

int32_t TValueVector::GetHashCode() const {
    // The sum of the elements' hash codes, a nested list's being the sum of its own.
    uint32_t h = 0;
    WalkNested(
        *this,
        [&h](const TRefPtr<IIEValue>& v) {
            if (v) h += static_cast<uint32_t>(v->GetHashCode());
        },
        [] {});
    return static_cast<int32_t>(h);
}

// ---------------------------------------------------------------------------------------------
// TListView

TRefPtr<TListView> TListView::Slice(TRefPtr<IValueVector> base, int32_t start, int32_t count) {
    auto view = MakeRef<TListView>();
    view->FBase = std::move(base);
    view->FStart = start;
    view->FCount = count;
    return view;
}

TRefPtr<TListView> TListView::Splice(TRefPtr<IValueVector> base, int32_t start, int32_t count,
                                     TRefPtr<IIEValue> element) {
    auto view = Slice(std::move(base), start, count);
    view->FElement = std::move(element);
    view->FSplice = true;
    return view;
}

TRefPtr<TListView> TListView::Cut(TRefPtr<IValueVector> base, int32_t start, int32_t count) {
    auto view = Slice(std::move(base), start, count);
    view->FSplice = true;
    view->FCut = true;
    return view;
}

TValueVector& TListView::Own() {
    if (!FOwn) {
        auto own = MakeRef<TValueVector>();
        const int32_t n = Count();
        own->Reserve(n);
        for (int32_t i = 0; i < n; ++i)
            own->Add(GetItem(i));
        own->SetTag(FTag);
        FOwn = std::move(own);
        FBase = nullptr;
        FElement = nullptr;
    }
    return *FOwn;
}

void TListView::AssignFrom(const IInterface* source) {
    Own().AssignFrom(source);
}

TRefPtr<ICloneable> TListView::Clone() const {
    return CloneVector();
}

TRefPtr<IValueVector> TListView::CloneVector() const {
    return CopyOfList(*this);
}

bool TListView::Equals(const IInterface* other) const {
    auto* v = dynamic_cast<const IValueVector*>(other);
    return v && Equals(v);
}

int32_t TListView::Count() const noexcept {
    if (FOwn) return FOwn->Count();
    return FSplice ? FBase->Count() - FCount + 1 : FCount;
}

const TRefPtr<IIEValue>& TListView::GetItem(int32_t index) const {
    if (FOwn) return FOwn->GetItem(index);
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    if (!FSplice) return FBase->GetItem(FStart + index);
    if (index < FStart) return FBase->GetItem(index);
    if (index == FStart) {
        if (!FElement && FCut) FElement = TIEValue::CreateList(Slice(FBase, FStart, FCount));
        return FElement;
    }
    return FBase->GetItem(index + FCount - 1);
}

void TListView::SetItem(int32_t index, TRefPtr<IIEValue> value) {
    Own().SetItem(index, std::move(value));
}

bool TListView::SameCut(const IValueVector* a, const IValueVector* b) noexcept {
    if (a == b) return true;
    if (!a || !b || typeid(*a) != typeid(TListView) || typeid(*b) != typeid(TListView))
        return false;
    const auto& va = static_cast<const TListView&>(*a);
    const auto& vb = static_cast<const TListView&>(*b);
    if (va.FOwn || vb.FOwn || va.FSplice != vb.FSplice || va.FStart != vb.FStart ||
        va.FCount != vb.FCount || !SameCut(va.FBase.get(), vb.FBase.get()))
        return false;
    // Two cuts of the same lists at the same places hold equal runs, read or not.
    if (va.FCut && vb.FCut) return true;
    if (va.FCut != vb.FCut) return false;
    if (va.FElement == vb.FElement) return true;
    const auto* ea = dynamic_cast<const TIEValue*>(va.FElement.get());
    const auto* eb = dynamic_cast<const TIEValue*>(vb.FElement.get());
    return ea && eb && ea->ListPayload() && SameCut(ea->ListPayload(), eb->ListPayload());
}

bool TListView::Equals(const IValueVector* other) const {
    if (!other) return false;
    return other == this || SameCut(this, other) || ElementsEqual(*this, *other);
}

void TListView::Assign(const IValueVector* other) {
    if (other == this) return;
    Own().Assign(other);
}

int32_t TListView::Add(TRefPtr<IIEValue> value) {
    return Own().Add(std::move(value));
}

void TListView::Clear() {
    Own().Clear();
}

const TRefPtr<IIEValue>& TListView::First() const {
    return GetItem(0);
}

const TRefPtr<IIEValue>& TListView::Last() const {
    return GetItem(Count() - 1);
}

int32_t TListView::IndexOf(const IIEValue* value) const noexcept {
    const int32_t n = Count();
    for (int32_t i = 0; i < n; ++i)
        if (GetItem(i).get() == value) return i;
    return -1;
}

void TListView::Insert(int32_t index, TRefPtr<IIEValue> value) {
    Own().Insert(index, std::move(value));
}

void TListView::Delete(int32_t index) {
    Own().Delete(index);
}

void TListView::AddAll(const IValueVector* other) {
    if (other == this) {
        // The elements are read before the view becomes a list of its own.
        TValueVector& own = Own();
        own.AddAll(&own);
        return;
    }
    Own().AddAll(other);
}

int32_t TListView::Remove(const IIEValue* value) {
    return Own().Remove(value);
}

std::string TListView::GetText() const {
    std::string r;
    const int32_t n = Count();
    for (int32_t i = 0; i < n; ++i) {
        if (const TRefPtr<IIEValue>& v = GetItem(i)) r += v->GetText();
        r += ' ';
    }
    return r;
}

int32_t TListView::GetHashCode() const {
    uint32_t h = 0;
    const int32_t n = Count();
    for (int32_t i = 0; i < n; ++i)
        if (const TRefPtr<IIEValue>& v = GetItem(i)) h += static_cast<uint32_t>(v->GetHashCode());
    return static_cast<int32_t>(h);
}

// ---------------------------------------------------------------------------------------------
// TSingletonsVector

void TSingletonsVector::Add(TRefPtr<IIEValue> value, TRefPtr<IIEValue> membership) {
    FValues.Add(std::move(value));
    FMemberships.Add(std::move(membership));
}

const TRefPtr<IIEValue>& TSingletonsVector::GetValue(int32_t index) const {
    return FValues.GetItem(index);
}

const TRefPtr<IIEValue>& TSingletonsVector::GetMembership(int32_t index) const {
    return FMemberships.GetItem(index);
}

void TSingletonsVector::Clear() {
    FValues.Clear();
    FMemberships.Clear();
}

void TSingletonsVector::AssignFrom(const IInterface* source) {
    auto* other = dynamic_cast<const ISingletonsVector*>(source);
    if (other == this) return;
    if (!other)
        throw EIEException(
            Format("Cannot assign a %s to a %s", source ? "TObject" : "nil", "TSingletonsVector"));
    TValueVector values, memberships;
    for (int32_t i = 0; i < other->Count(); ++i) {
        const auto& v = other->GetValue(i);
        const auto& m = other->GetMembership(i);
        values.Add(v ? v->CloneValue() : nullptr);
        memberships.Add(m ? m->CloneValue() : nullptr);
    }
    FValues.Clear();
    FValues.AddAll(&values);
    FMemberships.Clear();
    FMemberships.AddAll(&memberships);
    FParser = other->GetParser();
    FTag = other->GetTag();
}

TRefPtr<ICloneable> TSingletonsVector::Clone() const {
    return CloneSingletons();
}

TRefPtr<ISingletonsVector> TSingletonsVector::CloneSingletons() const {
    auto copy = MakeRef<TSingletonsVector>(FParser);
    copy->AssignFrom(this);
    return copy;
}

bool TSingletonsVector::Equals(const IInterface* other) const {
    if (auto* s = dynamic_cast<const ISingletonsVector*>(other)) return Equals(s);
    // A singletons value compares by its payload.
    if (auto* v = dynamic_cast<const IIEValue*>(other))
        if (v->GetDType() == dtSingletons) return Equals(v->AsSingletons().get());
    return false;
}

bool TSingletonsVector::Equals(const ISingletonsVector* other) const {
    if (!other) return false;
    if (other == this) return true;
    if (Count() != other->Count()) return false;
    auto same = [](const TRefPtr<IIEValue>& a, const TRefPtr<IIEValue>& b) {
        return (!a && !b) || (a && b && a->Equals(b.get()));
    };
    for (int32_t i = 0; i < Count(); ++i)
        if (!same(FValues.GetItem(i), other->GetValue(i)) ||
            !same(FMemberships.GetItem(i), other->GetMembership(i)))
            return false;
    return true;
}

std::string TSingletonsVector::GetText() const {
    if (FParser) return FParser->SingletonsText(*this);
    std::string r;
    for (int32_t i = 0; i < Count(); ++i) {
        const auto& v = FValues.GetItem(i);
        const auto& m = FMemberships.GetItem(i);
        r += '(';
        if (v) r += v->GetText();
        r += ' ';
        if (m) r += m->GetText();
        r += ") ";
    }
    return r;
}

int32_t TSingletonsVector::GetHashCode() const {
    return static_cast<int32_t>(static_cast<uint32_t>(FValues.GetHashCode()) +
                                static_cast<uint32_t>(FMemberships.GetHashCode()));
}

} // namespace ie
