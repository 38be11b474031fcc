// Contexts and their binding tables: per-thread reuse of binding and context blocks, lookup,
// binding and rebinding, argument splicing, and slot positions resolved for reading bound facts.
//
// Invariant: a table's name index exists exactly while the table is above IndexThreshold, and is
// rebuilt whenever a truncation leaves it there, so a lookup never reads a stale index; only
// plain value bindings are recycled, cleared of value and position, so a reused binding never
// carries the previous firing's data; a cached slot position is trusted only while its
// template and layout number are unchanged.
#include "engine/model/IEContext.h"

#include <algorithm>
#include <atomic>
#include <typeinfo>

#include "engine/model/IEFacts.h"
#include "platform/Sanitizers.h"

namespace ie {

// ---------------------------------------------------------------------------------------------
// Block reuse

namespace {

#if defined(IE_ADDRESS_SANITIZER)
constexpr bool ReuseBlocks = false; // let the sanitizer see every object's lifetime
#else
constexpr bool ReuseBlocks = true;
#endif

// Per-thread free list of blocks of one size, over the engine's block pool (a rule's bindings
// are blocks without the general allocator's header). Objects freed after the list is gone (at
// the end of the thread) go straight to the pool: the flag is trivially destructible, so it
// stays readable until the very end.
template <size_t Size> struct TFreeBlocks {
    static constexpr size_t MaxFree = 1024;
    static inline thread_local bool Gone = false;
    std::vector<void*> Free;
    ~TFreeBlocks() {
        Gone = true;
        for (void* p : Free)
            FreeBlock(p, Size);
    }
    static TFreeBlocks* Get() noexcept {
        static thread_local TFreeBlocks blocks;
        return Gone ? nullptr : &blocks;
    }
    static void* Take(size_t size) {
        if constexpr (ReuseBlocks) {
            TFreeBlocks* blocks = size == Size ? Get() : nullptr;
            if (blocks && !blocks->Free.empty()) {
                void* p = blocks->Free.back();
                blocks->Free.pop_back();
                return p;
            }
        }
        return AllocateBlock(size);
    }
    static void Give(void* p, size_t size) noexcept {
        if constexpr (ReuseBlocks) {
            TFreeBlocks* blocks = size == Size ? Get() : nullptr;
            if (blocks && blocks->Free.size() < MaxFree) {
                try {
                    blocks->Free.push_back(p);
                    return;
                } catch (...) {
                }
            }
        }
        FreeBlock(p, size);
    }
};

} // namespace

void* TBinding::operator new(size_t size) {
    return TFreeBlocks<sizeof(TBinding)>::Take(size);
}

void TBinding::operator delete(void* p, size_t size) noexcept {
    TFreeBlocks<sizeof(TBinding)>::Give(p, size);
}

void* TIEContext::operator new(size_t size) {
    return TFreeBlocks<sizeof(TIEContext)>::Take(size);
}

void TIEContext::operator delete(void* p, size_t size) noexcept {
    TFreeBlocks<sizeof(TIEContext)>::Give(p, size);
}

// ---------------------------------------------------------------------------------------------
// TBindingInfo / TBinding

void TBindingInfo::Assign(const TPersistent* source) {
    if (source == this) return;
    if (auto* info = dynamic_cast<const TBindingInfo*>(source)) {
        FactIndex = info->FactIndex;
        SubIndex = info->SubIndex;
        SlotName = info->SlotName;
        FixedSerial = 0;
        return;
    }
    TPersistent::Assign(source);
}

std::string TBindingInfo::GetText() const {
    std::string r = Format("FactIdx=%d SlotIdx=%s", FactIndex, SlotName);
    if (SubIndex != -1) r += Format(" SubIdx=%d", SubIndex);
    return r;
}

bool TBindingInfo::Equals(const TObject* other) const {
    auto* info = dynamic_cast<const TBindingInfo*>(other);
    return info && info->FactIndex == FactIndex && info->SubIndex == SubIndex &&
           info->SlotName == SlotName;
}

void TBinding::Assign(const TPersistent* source) {
    if (source == this) return;
    TBindingInfo::Assign(source);
    if (auto* b = dynamic_cast<const TBinding*>(source)) {
        Name = b->Name;
        Value = b->Value;
    }
}

std::string TBinding::GetText() const {
    std::string r = "name=" + Name;
    if (Value) r += " value=" + Value->GetText();
    return r + " " + TBindingInfo::GetText();
}

bool TBinding::Equals(const TObject* other) const {
    auto* b = dynamic_cast<const TBinding*>(other);
    if (!b || !TBindingInfo::Equals(other) || b->Name != Name) return false;
    if (Value == b->Value) return true;
    return Value && b->Value && Value->Equals(b->Value.get());
}

// ---------------------------------------------------------------------------------------------
// TBindings

uint64_t TBindings::Stamp() const noexcept {
    static std::atomic<uint64_t> next{1};
    if (FStamp == 0) FStamp = next.fetch_add(1, std::memory_order_relaxed);
    return FStamp;
}

TBinding* TBindings::Find(std::string_view name) const noexcept {
    TBinding* b = FindSlot(name);
    return b && Visible(*b) ? b : nullptr;
}

TBinding* TBindings::FindSlot(std::string_view name) const noexcept {
    if (!MayHold(name)) return nullptr;
    if (!FIndex.empty()) {
        auto it = FIndex.find(name);
        return it == FIndex.end() ? nullptr : it->second;
    }
    for (const auto& b : FItems)
        if (SameName(b->Name, name)) return b.get();
    return nullptr;
}

void TBindings::RemarkNames() noexcept {
    FNameMarks = 0;
    for (const auto& b : FItems)
        FNameMarks |= NameMark(b->Name);
}

void TBindings::BuildIndex() {
    FIndex.clear();
    FIndex.reserve(FItems.size() * 2);
    for (const auto& b : FItems)
        FIndex.emplace(b->Name, b.get());
}

TBinding* TBindings::Put(std::unique_ptr<TBinding> binding) {
    Remove(binding->Name);
    return Insert(std::move(binding));
}

TBinding* TBindings::Insert(std::unique_ptr<TBinding> binding) {
    TBinding* result = binding.get();
    FNameMarks |= NameMark(result->Name);
    FItems.push_back(std::move(binding));
    FStamp = 0;
    if (!FIndex.empty())
        FIndex.emplace(result->Name, result);
    else if (FItems.size() > IndexThreshold)
        BuildIndex();
    return result;
}

bool TBindings::Remove(std::string_view name) {
    if (!MayHold(name)) return false;
    auto it = std::find_if(FItems.begin(), FItems.end(), [&](const std::unique_ptr<TBinding>& b) {
        return SameName(b->Name, name);
    });
    if (it == FItems.end()) return false;
    if (!FIndex.empty()) FIndex.erase((*it)->Name);
    FItems.erase(it);
    RemarkNames();
    FStamp = 0;
    FFrameSlots = 0; // the slots no longer stand at their positions
    return true;
}

TBinding* TBindings::Append(std::string_view name, TRefPtr<IIEValue> value) {
    std::unique_ptr<TBinding> binding;
    if (FSpare.empty()) {
        binding = std::make_unique<TBinding>(name, std::move(value));
    } else {
        binding = std::move(FSpare.back());
        FSpare.pop_back();
        binding->Name = name;
        binding->Value = std::move(value);
    }
    return Insert(std::move(binding));
}

void TBindings::Recycle(int32_t keep) {
    size_t kept = 0;
    if (FIndex.empty())
        for (; kept < FItems.size() && static_cast<int32_t>(kept) < keep; ++kept) {
            TBinding& b = *FItems[kept];
            if (typeid(b) != typeid(TBinding)) break;
            Blank(b);
        }
    FFrameSlots = 0;
    if (kept < FItems.size()) Truncate(static_cast<int32_t>(kept));
    if (FOwner) FOwner->BindingsCleared();
}

void TBindings::Truncate(int32_t count) {
    const size_t keep = count < 0 ? 0 : static_cast<size_t>(count);
    if (keep >= FItems.size()) return;
    if (count < FFrameSlots) FFrameSlots = 0;
    FIndex.clear();
    for (size_t i = keep; i < FItems.size(); ++i) {
        std::unique_ptr<TBinding>& b = FItems[i];
        // Only a plain value binding comes back as it was made; anything else is let go.
        if (typeid(*b) != typeid(TBinding)) continue;
        Blank(*b);
        FSpare.push_back(std::move(b));
    }
    FItems.resize(keep);
    RemarkNames();
    FStamp = 0;
    if (FItems.size() > IndexThreshold) BuildIndex();
}

void TBindings::Shape(const TFrameLayout& layout) {
    Truncate(0);
    FFrameSlots = 0;
    const int32_t n = static_cast<int32_t>(layout.Names.size());
    for (int32_t i = 0; i < n; ++i)
        Append(layout.Names[static_cast<size_t>(i)], nullptr)->FrameLocal =
            i >= layout.ParameterCount;
    FFrameSlots = n;
}

void TBindings::Clear() {
    FIndex.clear();
    FItems.clear();
    FNameMarks = 0;
    FStamp = 0;
    FFrameSlots = 0;
    if (FOwner) FOwner->BindingsCleared();
}

// ---------------------------------------------------------------------------------------------
// TIEContext

TIEContext::TIEContext(TIEContext* parent, IReasoner* engine)
    : FEngine(engine), FBindings(this), FParent(parent) {}

TIEContext::~TIEContext() = default;

std::unique_ptr<TIEContext> TIEContext::CreateChild() {
    return std::make_unique<TIEContext>(this, FEngine);
}

namespace {

// Contexts kept on this thread for reuse, of one kind (the tag); none once the thread's end
// has destroyed the list.
template <class TTag> struct TSpares {
    static constexpr size_t MaxSpare = 64;
    static inline thread_local bool Gone = false;
    std::vector<std::unique_ptr<TIEContext>> Spare;
    ~TSpares() { Gone = true; }
    static TSpares* Get() noexcept {
        static thread_local TSpares spare;
        return Gone ? nullptr : &spare;
    }
};
// What GiveBack kept, each with its binding objects.
using TSpareContexts = TSpares<struct TContextsTag>;
// What GiveBackFrame kept, each shaped for its layout.
using TSpareFrames = TSpares<struct TFramesTag>;

} // namespace

std::unique_ptr<TIEContext> TIEContext::TakeChild() {
    TSpareContexts* spare = TSpareContexts::Get();
    if (!spare || spare->Spare.empty()) return CreateChild();
    std::unique_ptr<TIEContext> child = std::move(spare->Spare.back());
    spare->Spare.pop_back();
    child->FParent = this;
    child->FEngine = FEngine;
    // GiveBack emptied its bindings.
    return child;
}

void TIEContext::GiveBack(std::unique_ptr<TIEContext> context) noexcept {
    if (!context) return;
    try {
        context->Recycle();
        TSpareContexts* spare = TSpareContexts::Get();
        if (!spare || spare->Spare.size() >= TSpareContexts::MaxSpare) return;
        context->FParent = nullptr;
        spare->Spare.push_back(std::move(context));
    } catch (...) {
        // The context is freed instead (by its owner, as it leaves this scope).
    }
}

std::unique_ptr<TIEContext> TIEContext::TakeFrame(TIEContext* parent, const TFrameLayout& layout) {
    std::unique_ptr<TIEContext> frame;
    if (TSpareFrames* spare = TSpareFrames::Get(); spare && !spare->Spare.empty()) {
        // The frame given back last is most often the one wanted (a function called in a loop).
        auto& list = spare->Spare;
        size_t i = list.size();
        while (i > 0 && list[i - 1]->FFrameId != layout.Id)
            --i;
        // None of this layout: functions that call each other by turns each keep a frame, and
        // only a full list gives up its oldest to be shaped anew.
        if (i == 0 && list.size() >= TSpareFrames::MaxSpare / 2) i = 1;
        if (i > 0) {
            frame = std::move(list[i - 1]);
            list.erase(list.begin() + static_cast<ptrdiff_t>(i - 1));
        }
    }
    if (!frame) frame = std::make_unique<TIEContext>(parent, parent ? parent->FEngine : nullptr);
    frame->FParent = parent;
    frame->FEngine = parent ? parent->FEngine : nullptr;
    if (frame->FFrameId != layout.Id || layout.Id == 0) {
        frame->FFrameId = 0;
        frame->FBindings.Shape(layout);
        frame->FFrameId = layout.Id;
    }
    return frame;
}

void TIEContext::GiveBackFrame(std::unique_ptr<TIEContext> frame) noexcept {
    if (!frame) return;
    try {
        TBindings& bindings = frame->FBindings;
        const int32_t slots = bindings.FFrameSlots;
        if (slots > 0) {
            for (int32_t i = 0; i < slots; ++i)
                bindings.FItems[static_cast<size_t>(i)]->Value = nullptr;
            if (bindings.Count() > slots) bindings.Truncate(slots);
        } else {
            frame->FFrameId = 0;
            bindings.Truncate(0);
        }
        frame->FToken = nullptr;
        frame->FFact = nullptr;
        frame->FMatchToken = nullptr;
        frame->FMatchFact = nullptr;
        frame->ClearReturn();
        TSpareFrames* spare = TSpareFrames::Get();
        if (!spare || spare->Spare.size() >= TSpareFrames::MaxSpare) return;
        frame->FParent = nullptr;
        spare->Spare.push_back(std::move(frame));
    } catch (...) {
        // The frame is freed instead (by its owner, as it leaves this scope).
    }
}

TIEContext* TIEContext::Root() noexcept {
    TIEContext* c = this;
    while (c->FParent)
        c = c->FParent;
    return c;
}

void TIEContext::SetReturnValue(TRefPtr<IIEValue> value) {
    FReturnValue = std::move(value);
    FReturnFlag = true;
}

void TIEContext::ClearReturn() noexcept {
    FReturnFlag = false;
    FReturnValue = nullptr;
}

TIEContext* TIEContext::PropagateReturn() {
    if (!FParent) return this;
    FParent->FReturnFlag = FReturnFlag;
    FParent->FReturnValue = FReturnValue;
    return FParent;
}

TBinding* TIEContext::FindBinding(std::string_view name) const noexcept {
    const TIEContext* owner = nullptr;
    return FindBinding(name, owner);
}

TBinding* TIEContext::FindBinding(std::string_view name, const TIEContext*& owner) const noexcept {
    for (const TIEContext* c = this; c; c = c->FParent) {
        if (TBinding* b = c->FBindings.Find(name)) {
            owner = c;
            return b;
        }
    }
    owner = nullptr;
    return nullptr;
}

TBinding* TIEContext::OwnSlot(std::string_view name, uint16_t& hint) const noexcept {
    const auto& items = FBindings.FItems;
    const size_t count = items.size();
    if (const size_t at = hint & ~RootHint; at < count) {
        TBinding* b = items[at].get();
        if (SameName(b->Name, name)) return b;
    }
    if (!FBindings.MayHold(name)) return nullptr;
    // A table's names are distinct, so the first binding of the name is the one Find gives.
    if (count > 64) return FBindings.FindSlot(name);
    for (size_t i = 0; i < count; ++i) {
        TBinding* b = items[i].get();
        if (SameName(b->Name, name)) {
            hint = static_cast<uint16_t>(i);
            return b;
        }
    }
    return nullptr;
}

TBinding* TIEContext::FindBinding(std::string_view name, const TIEContext*& owner,
                                  uint16_t& hint) const noexcept {
    // The hint serves the context that holds the name, so that a global read in a rule or a
    // deffunction finds its binding in the root at once too.
    for (const TIEContext* c = this; c; c = c->FParent)
        if (TBinding* b = c->OwnSlot(name, hint); b && TBindings::Visible(*b)) {
            owner = c;
            if (!c->FParent) hint |= RootHint;
            return b;
        }
    owner = nullptr;
    return nullptr;
}

TBinding* TIEContext::RootBindingAt(uint16_t hint, std::string_view name,
                                    const TIEContext*& owner) const noexcept {
    const TIEContext* c = this;
    for (; c->FParent; c = c->FParent)
        if (c->FBindings.MayHold(name)) return nullptr;
    owner = c;
    return c->BindingAt(hint, name);
}

TBinding* TIEContext::FindGlobalBinding(std::string_view name) const noexcept {
    const TIEContext* c = this;
    while (c->FParent)
        c = c->FParent;
    return c->FBindings.Find(name);
}

TBinding* TIEContext::AddBinding(std::string_view name, TRefPtr<IIEValue> value) {
    // As Put: a binding of the same name goes first; the new one may reuse a recycled object.
    FBindings.Remove(name);
    return FBindings.Append(name, std::move(value));
}

TBinding* TIEContext::AddPatternBinding(std::string_view name, int32_t factIndex,
                                        std::string_view slotName, int32_t subIndex) {
    auto binding = std::make_unique<TBinding>(name, factIndex, slotName, subIndex);
    // The variable resolves by evaluating a value that holds its position record.
    auto position = TIEValue::Create();
    position->SetAsOwnedObject(new TBindingInfo(factIndex, slotName, subIndex));
    binding->Value = position;
    return FBindings.Put(std::move(binding));
}

TBinding* TIEContext::SetBinding(std::string_view name, TRefPtr<IIEValue> value) {
    // A frame slot takes the value even without one: what a deffunction binds is its own.
    if (TBinding* own = FBindings.FindSlot(name); own && own->FrameLocal) {
        own->Value = std::move(value);
        return own;
    }
    if (TBinding* b = FindBinding(name)) {
        b->Value = std::move(value);
        return b;
    }
    return FBindings.Append(name, std::move(value));
}

TBinding* TIEContext::SetBindingApart(std::string_view name, TRefPtr<IIEValue> value,
                                      uint16_t& hint, TBinding* own) {
    if (!own) own = OwnSlot(name, hint);
    if (own && (own->FrameLocal || TBindings::Visible(*own))) {
        own->Value = std::move(value);
        return own;
    }
    // Not bound here: a binding up the chain takes the value, else this context binds it.
    const TIEContext* holder = nullptr;
    if (FParent)
        if (TBinding* up = FParent->FindBinding(name, holder, hint)) {
            up->Value = std::move(value);
            return up;
        }
    return FBindings.Append(name, std::move(value));
}

TBinding* TIEContext::SetLocalBinding(std::string_view name, TRefPtr<IIEValue> value) {
    if (TBinding* b = FBindings.Find(name)) {
        b->Value = std::move(value);
        return b;
    }
    return SetBinding(name, std::move(value));
}

TBinding* TIEContext::SetGlobalBinding(std::string_view name, TRefPtr<IIEValue> value) {
    TIEContext* root = Root();
    if (TBinding* b = root->FBindings.Find(name)) {
        b->Value = std::move(value);
        return b;
    }
    return root->AddBinding(name, std::move(value));
}

void TIEContext::SpliceInto(const IIEValue* value, TValueVector& values, int depth, int32_t after) {
    if (value && value->GetDType() == dtList) {
        // Read in place: the list is only read here, so a shared one is not copied (AsList). It
        // is held only before an element is evaluated (which may rebind the variable it came
        // from) or when it had to be made.
        TRefPtr<IValueVector> hold;
        const IValueVector* list;
        if (typeid(*value) == typeid(TIEValue)) {
            list = static_cast<const TIEValue*>(value)->ListPayload();
        } else {
            hold = value->AsList();
            list = hold.get();
        }
        if (!list) return;
        // Elements are nearly always literals, their own values: taken as they stand, read in
        // place from the engine's own list.
        const auto* items = typeid(*list) == typeid(TValueVector)
                                ? static_cast<const TValueVector*>(list)
                                : nullptr;
        // The list may become a fact's slot, where spare room would stay for the fact's life:
        // room for this list's elements and one for each argument still to come, no more (a
        // list of the elements' own lists or a later list argument grows it as it comes).
        if (depth == 0) values.Reserve(values.Count() + list->Count() + after);
        for (int32_t i = 0; i < (items ? items->Count() : list->Count()); ++i) {
            const TRefPtr<IIEValue>& element = items ? items->begin()[i] : list->GetItem(i);
            const IIEValue* e = element.get();
            if (!e) continue; // an empty element contributes nothing
            if (typeid(*e) == typeid(TIEValue)) {
                const auto* literal = static_cast<const TIEValue*>(e);
                if (literal->DType() != dtList && literal->EvaluatesToItself()) {
                    values.Add(element);
                    continue;
                }
            }
            if (!hold) hold = TRefPtr<IValueVector>(const_cast<IValueVector*>(list));
            SpliceInto(element->Evaluate(this).get(), values, depth + 1, 0);
        }
        return;
    }
    values.Add(TRefPtr<IIEValue>(const_cast<IIEValue*>(value)));
}

void TIEContext::EvaluateArgumentInto(const TRefPtr<IIEValue>& argument, TValueVector& values,
                                      int32_t after) {
    if (!argument) return;
    if (typeid(*argument) == typeid(TIEValue)) {
        const auto* v = static_cast<const TIEValue*>(argument.get());
        // A literal is its own value; a variable's value is read where it is bound, without a
        // counted reference (the splice holds a list it reads).
        if (v->DType() != dtList && v->EvaluatesToItself()) {
            values.Add(argument);
            return;
        }
        const TIEType kind = v->DType();
        if (kind == dtVariable || kind == dtMultiVariable || kind == dtObject) {
            TRefPtr<IIEValue> hold;
            const IIEValue* bound = v->BorrowVariable(this, hold);
            // An object that is no position stands for itself, as Evaluate gives it.
            SpliceInto(bound ? bound : v, values, 0, after);
            return;
        }
    }
    SpliceInto(argument->Evaluate(this).get(), values, 0, after);
}

TRefPtr<TValueVector> TIEContext::EvaluateArguments(const IValueVector& arguments) {
    auto values = MakeRef<TValueVector>();
    values->Reserve(arguments.Count());
    // The engine's own list is read in place, and a literal (nearly every element of a list
    // evaluated again, such as a slot's) is taken as it stands, in line.
    if (&typeid(arguments) == &typeid(TValueVector)) {
        const auto& items = static_cast<const TValueVector&>(arguments);
        for (int32_t i = 0; i < items.Count(); ++i) {
            const TRefPtr<IIEValue>& argument = items.begin()[i];
            const IIEValue* a = argument.get();
            if (a && &typeid(*a) == &typeid(TIEValue)) {
                const auto* v = static_cast<const TIEValue*>(a);
                if (v->DType() != dtList && v->EvaluatesToItself()) {
                    values->Add(argument);
                    continue;
                }
            }
            EvaluateArgumentInto(argument, *values, items.Count() - i - 1);
        }
        return values;
    }
    for (int32_t i = 0; i < arguments.Count(); ++i)
        EvaluateArgumentInto(arguments.GetItem(i), *values, arguments.Count() - i - 1);
    return values;
}

void TIEContext::Recycle(int32_t keepNames) {
    FBindings.Recycle(keepNames);
    FToken = nullptr;
    FFact = nullptr;
    FMatchToken = nullptr;
    FMatchFact = nullptr;
    ClearReturn();
}

void TIEContext::Assign(const TIEContext& source) {
    if (&source == this) return;
    FReturnFlag = source.FReturnFlag;
    FReturnValue = source.FReturnValue ? source.FReturnValue->CloneValue() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Cuts of multifield splits

namespace {

// The cut list the chain's cuts of the slot make of the base list, the oldest cut applied first.
TRefPtr<IValueVector> CutList(const TMatchCut* cut, const IValueVector& base, int32_t slot) {
    std::vector<const TMatchCut*> chain;
    for (; cut; cut = cut->Outer.get())
        if (cut->Slot == slot) chain.push_back(cut);
    TRefPtr<IValueVector> list(const_cast<IValueVector*>(&base));
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        list = TListView::Cut(std::move(list), (*it)->Start, (*it)->Length);
    return list;
}

} // namespace

bool TMatchCut::SameCuts(const TMatchCut* a, const TMatchCut* b) noexcept {
    for (;;) {
        if (a == b) return true;
        if (!a || !b || a->Slot != b->Slot || a->Start != b->Start || a->Length != b->Length)
            return false;
        a = a->Outer.get();
        b = b->Outer.get();
    }
}

int32_t TMatchCut::CutCount(const TMatchCut* cut, int32_t slot, int32_t count) noexcept {
    for (; cut; cut = cut->Outer.get())
        if (cut->Slot == slot) count -= cut->Length - 1;
    return count;
}

const IIEValue* TMatchCut::Element(const TMatchCut* cut, const IIEValue* slotValue, int32_t slot,
                                   int32_t sub, TRefPtr<IIEValue>& hold) {
    if (!slotValue || slotValue->GetDType() != dtList) return nullptr;
    TRefPtr<IValueVector> listHold;
    const IValueVector* base = BorrowList(*slotValue, listHold);
    if (!base) return nullptr;
    if (sub < 0) {
        hold = TIEValue::CreateList(CutList(cut, *base, slot));
        return hold.get();
    }
    // From the newest cut back: an element after a run moves by the run's length less one.
    int32_t k = sub;
    for (; cut; cut = cut->Outer.get()) {
        if (cut->Slot != slot || k < cut->Start) continue;
        if (k == cut->Start) return cut->Run(*slotValue, *base, slot, hold);
        k += cut->Length - 1;
    }
    if (k >= base->Count()) return nullptr;
    const IIEValue* item = base->GetItem(k).get();
    if (listHold) hold = TRefPtr<IIEValue>(const_cast<IIEValue*>(item));
    return item;
}

const IIEValue* TMatchCut::Run(const IIEValue& slotValue, const IValueVector& base, int32_t slot,
                               TRefPtr<IIEValue>& hold) const {
    // Where the run starts in the base list: past the earlier runs before it. Splits cut a slot
    // from left to right, so a run never holds an earlier one; one that did would be read from
    // the cut list the earlier cuts make.
    int32_t start = Start;
    bool plain = true;
    for (const TMatchCut* c = Outer.get(); c; c = c->Outer.get()) {
        if (c->Slot != slot) continue;
        if (c->Start < start)
            start += c->Length - 1;
        else if (c->Start < start + Length)
            plain = false;
    }
    // A run of the whole list is the slot's own value: no list is made.
    if (plain && start == 0 && Length == base.Count()) return &slotValue;
    if (plain)
        hold = TIEValue::CreateList(TListView::Slice(
            TRefPtr<IValueVector>(const_cast<IValueVector*>(&base)), start, Length));
    else
        hold =
            TIEValue::CreateList(TListView::Slice(CutList(Outer.get(), base, slot), Start, Length));
    return hold.get();
}

// ---------------------------------------------------------------------------------------------
// Resolving positions

const IIEValue* BorrowSlotValue(const IFact& fact, const TBindingInfo& info,
                                TRefPtr<IIEValue>& hold) {
    if (typeid(fact) == typeid(TFact)) {
        const TFact& f = static_cast<const TFact&>(fact);
        if (const TFactTemplate* t = f.Template()) {
            TSlotPosition& at = info.Position;
            if (at.Template != t || at.Layout != t->Layout())
                at = {t, t->Layout(), t->IndexOfSlot(info.SlotName)};
            // Stored in the layout the position was found in: read without a call.
            if (const IIEValue* stored = f.StoredValueAt(at.Index, at.Layout)) return stored;
            if (at.Index >= 0) return f.ValueAt(at.Index).get();
        }
    }
    if (!FindSlotValueAt(fact, info.SlotName, info.Position, hold))
        hold = fact.GetSlotValue(info.SlotName); // the template's own error
    return hold.get();
}

namespace {

// Element `sub` of the slot at `slot` (whose value is `slotValue`) as the cut chain makes it
// (the whole slot for a negative `sub`) where the slot holds it already: an element of the slot's
// list, or the run of a `$?` variable that spans the whole list alone. Null for what
// TMatchCut::Element would have to make or fails to find; for a run it would have to make, the
// run's length goes to `run` when asked for.
template <bool Run>
const IIEValue* ReadCutInPlace(const TMatchCut* cut, const IIEValue* slotValue, int32_t slot,
                               int32_t sub, [[maybe_unused]] int32_t* run) {
    if (sub < 0) return sub == -1 && !TMatchCut::CutsSlot(cut, slot) ? slotValue : nullptr;
    if (!slotValue || typeid(*slotValue) != typeid(TIEValue)) return nullptr;
    const IValueVector* list = static_cast<const TIEValue*>(slotValue)->ListPayload();
    if (!list) return nullptr;
    // As TMatchCut::Element counts: from the newest cut back, an element after a run moves by
    // the run's length less one.
    int32_t k = sub;
    for (; cut; cut = cut->Outer.get()) {
        if (cut->Slot != slot || k < cut->Start) continue;
        if (k == cut->Start) {
            // (The engine's own list is counted without a virtual call.)
            const int32_t count = &typeid(*list) == &typeid(TValueVector)
                                      ? static_cast<const TValueVector*>(list)->Count()
                                      : list->Count();
            if (cut->Start != 0 || cut->Length != count ||
                TMatchCut::CutsSlot(cut->Outer.get(), slot)) {
                if constexpr (Run) *run = cut->Length;
                return nullptr;
            }
            return slotValue;
        }
        k += cut->Length - 1;
    }
    return k < list->Count() ? list->GetItem(k).get() : nullptr;
}

template <bool Run = false>
inline const IIEValue* ReadSlotInPlace(const TBindingInfo& info, const TIEContext& context,
                                       int32_t* run = nullptr) {
    const IFact* fact = context.MatchFact();
    const TMatchCut* cut = nullptr;
    if (const IReteToken* token = context.MatchToken()) {
        const int32_t fixed = context.FixedTokenFacts();
        const int32_t n = fixed >= 0 ? fixed : token->FactCount();
        if (info.FactIndex != n || !fact) {
            if (info.FactIndex < 0 || info.FactIndex >= n) return nullptr;
            fact = token->BorrowFactCut(info.FactIndex, cut);
        }
    } else if (info.FactIndex != 0) {
        return nullptr;
    }
    if (!fact || typeid(*fact) != typeid(TFact)) return nullptr;
    const TFact& f = static_cast<const TFact&>(*fact);
    const TFactTemplate* t = f.Template();
    const TSlotPosition& at = info.Position;
    if (!t || at.Template != t || at.Layout != t->Layout() || at.Index < 0) return nullptr;
    const IIEValue* value = f.ValueAt(at.Index).get();
    if (!cut) {
        if (info.SubIndex == -1) [[likely]]
            return value;
        // An ordered fact's field, in line (the addresses of the type information tell the
        // classes here; ReadCutInPlace reads whatever they do not tell).
        if (info.SubIndex >= 0 && value && &typeid(*value) == &typeid(TIEValue))
            if (const IValueVector* list = static_cast<const TIEValue*>(value)->ListPayload();
                list && &typeid(*list) == &typeid(TValueVector)) {
                const auto& items = static_cast<const TValueVector&>(*list);
                if (info.SubIndex < items.Count()) return items.begin()[info.SubIndex].get();
            }
    }
    return ReadCutInPlace<Run>(cut, value, at.Index, info.SubIndex, run);
}

} // namespace

void TFixedLeft::Mark(TIEContext& context, const IReteToken& token) noexcept {
    FContext = &context;
    FToken = context.FFixedToken;
    FFacts = context.FFixedFacts;
    FSerial = context.FFixedSerial;
    // Serials are drawn per thread from blocks of 2^32 that no other thread draws from, so that
    // marking a stretch takes no lock and no serial is given twice.
    static std::atomic<uint64_t> blocks{0};
    thread_local uint64_t next = 0;
    if (next == 0 || static_cast<uint32_t>(next + 1) == 0)
        next = (blocks.fetch_add(1, std::memory_order_relaxed) + 1) << 32;
    FContext->FFixedToken = &token;
    FContext->FFixedFacts = static_cast<uint32_t>(token.FactCount());
    FContext->FFixedSerial = ++next;
}

const IIEValue* ReadMatchedSlot(const TBindingInfo& info, const TIEContext& context) {
    return ReadSlotInPlace(info, context);
}

const IIEValue* ReadMatchedSlotOrRun(const TBindingInfo& info, const TIEContext& context,
                                     int32_t& runLength) {
    return ReadSlotInPlace<true>(info, context, &runLength);
}

const IIEValue* BorrowBindingInfo(const TBindingInfo& info, const TIEContext& context,
                                  std::string_view variableName, TRefPtr<IIEValue>& hold) {
    if (const IIEValue* value = ReadSlotInPlace(info, context)) return value;
    return BorrowBindingInfoApart(info, context, variableName, hold);
}

const IIEValue* BorrowBindingInfoApart(const TBindingInfo& info, const TIEContext& context,
                                       std::string_view variableName, TRefPtr<IIEValue>& hold) {
    // The position may name the fact being matched right now (one past the token's facts) or a
    // fact of the token; anything else is a binding that no longer fits the match.
    const TIEContext* c = &context;
    while (c && !c->MatchToken() && !c->MatchFact())
        c = c->Parent();
    if (!c) RaiseIE(imCorruptedBinding, variableName);
    const IReteToken* token = c->MatchToken();
    const int32_t tokenFacts = token ? token->FactCount() : 0;
    const IFact* fact = nullptr;
    TRefPtr<IFact> factHold; // only for a token that cannot lend its facts
    const TMatchCut* cut = nullptr;
    if (info.FactIndex == tokenFacts && c->MatchFact()) {
        fact = c->MatchFact();
    } else if (token && info.FactIndex >= 0 && info.FactIndex < tokenFacts) {
        fact = token->BorrowFactCut(info.FactIndex, cut);
        if (!fact) {
            factHold = token->GetFact(info.FactIndex);
            fact = factHold.get();
        }
    }
    if (!fact) RaiseIE(imCorruptedBinding, variableName);
    if (info.SlotName.empty()) {
        hold = TIEValue::CreateInteger(dtFactId, fact->GetFactId());
        return hold.get();
    }
    TRefPtr<IIEValue> valueHold;
    TRefPtr<IValueVector> listHold;
    const IIEValue* value = BorrowSlotValue(*fact, info, valueHold);
    // A fact of the token that a split cut is read through its cuts.
    if (cut && info.Position.Index >= 0 && TMatchCut::CutsSlot(cut, info.Position.Index)) {
        TRefPtr<IIEValue> cutHold;
        value = TMatchCut::Element(cut, value, info.Position.Index, info.SubIndex, cutHold);
        if (!value) RaiseIE(imCorruptedBinding, variableName);
        if (factHold || valueHold || cutHold)
            hold = TRefPtr<IIEValue>(const_cast<IIEValue*>(value));
        return value;
    }
    if (info.SubIndex != -1) {
        if (!value || value->GetDType() != dtList) RaiseIE(imCorruptedBinding, variableName);
        const IValueVector* list = BorrowList(*value, listHold);
        if (!list || info.SubIndex < 0 || info.SubIndex >= list->Count())
            RaiseIE(imCorruptedBinding, variableName);
        value = list->GetItem(info.SubIndex).get();
    }
    // What only this call held must outlive it.
    if (factHold || valueHold || listHold) hold = TRefPtr<IIEValue>(const_cast<IIEValue*>(value));
    return value;
}

TRefPtr<IIEValue> ResolveBindingInfo(const TBindingInfo& info, const TIEContext& context,
                                     std::string_view variableName) {
    TRefPtr<IIEValue> hold;
    const IIEValue* value = BorrowBindingInfo(info, context, variableName, hold);
    return hold ? hold : TRefPtr<IIEValue>(const_cast<IIEValue*>(value));
}

} // namespace ie
