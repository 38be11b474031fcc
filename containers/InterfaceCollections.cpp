// The interface list's errors, the interface string list's own operations and the list iterator.
// An interface being replaced is released only after its item holds the new one, and the backward
// walk holds each item's interface while the action runs, so a release or an action that deletes
// items never leaves the list half changed.
#include "containers/InterfaceCollections.h"

#include "platform/Exceptions.h"
#include "platform/Format.h"

namespace ie {

// ---------------------------------------------------------------- interface list errors

void TInterfaceListErrors::Index(int32_t index) {
    throw EListError(Format("List index out of bounds (%d)", index));
}

void TInterfaceListErrors::CountOutOfBounds(int32_t count) {
    throw EListError(Format("List count out of bounds (%d)", count));
}

void TInterfaceListErrors::CapacityOutOfBounds(int32_t capacity) {
    throw EListError(Format("List capacity out of bounds (%d)", capacity));
}

void TInterfaceListErrors::Empty() {
    throw EListError("list is empty");
}

void TInterfaceListErrors::CannotAssign(std::string_view source, std::string_view target) {
    throw EConvertError(Format("Cannot assign a %s to a %s", source, target));
}

// ---------------------------------------------------------------- TIStringList

void TIStringList::PutInterface(int32_t index, TRefPtr<IInterface> intf) {
    TGStringItem& item = Item(index);
    Changing();
    // Released after the item holds the new one, so a release that re-enters sees a whole list.
    TRefPtr<IInterface> old = std::exchange(item.FIntf, std::move(intf));
    Changed();
}

int32_t TIStringList::AddInterface(std::string_view s, TRefPtr<IInterface> intf, TObject* object) {
    int32_t existing = -1;
    int32_t index = AddPosition(s, existing);
    if (index < 0) return existing;
    InsertItem(index, TGStringItem{std::string(s), object, 0, std::move(intf)});
    return index;
}

int32_t TIStringList::IndexOfInterface(const IInterface* intf) const {
    for (int32_t i = 0; i < Count(); ++i)
        if (FItems[static_cast<size_t>(i)].FIntf.get() == intf) return i;
    return -1;
}

void TIStringList::ForEach(const TForEachAction& action, const TForEachFilter& filter) {
    for (int32_t i = Count() - 1; i >= 0; --i) {
        if (i >= Count()) continue;
        // Hold the interface: the action may delete the item.
        TRefPtr<IInterface> intf = FItems[static_cast<size_t>(i)].FIntf;
        const std::string s = FItems[static_cast<size_t>(i)].FString;
        TObject* object = FItems[static_cast<size_t>(i)].FObject;
        if (filter && !filter(*this, i, s, intf, object)) continue;
        if (action) action(*this, i, s, intf, object);
    }
}

void TIStringList::Assign(const TStrings& source) {
    if (&source == this) return;
    if (auto* same = dynamic_cast<const TIStringList*>(&source)) {
        AssignItems(*same);
        return;
    }
    TStrings::Assign(source);
}

// ---------------------------------------------------------------- TListIterator

void* TListIterator::Current() const {
    if (FCursor < 0 || FCursor >= FCount())
        throw EListError(Format("List index out of bounds (%d)", FCursor));
    return FItem(FCursor);
}

void* TListIterator::Next() {
    if (FCursor + 1 >= FCount())
        throw EListError(Format("List index out of bounds (%d)", FCursor + 1));
    return FItem(++FCursor);
}

} // namespace ie
