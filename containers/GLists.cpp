// The linked list with its index cursor, and the pointer queue and stack over it. Every change
// goes through Changed, which drops the cursor before telling OnChange, so a handler that indexes
// the list never walks from a node already freed.
#include "containers/GLists.h"

#include "platform/Component.h"
#include "platform/Exceptions.h"
#include "platform/Format.h"

namespace ie {

namespace {
[[noreturn]] void InvalidIndex() {
    throw EListError("Invalid Index");
}
[[noreturn]] void ListIsEmpty() {
    throw EListError("List is empty");
}
} // namespace

// ---------------------------------------------------------------- TGCustomLinkedList

TGCustomLinkedList::~TGCustomLinkedList() {
    OnChange = nullptr;
    TSQNode* n = FHead;
    while (n) {
        TSQNode* next = n->FNext;
        delete n;
        n = next;
    }
}

void TGCustomLinkedList::Changed() {
    DropCursor();
    if (FUpdateCount <= 0 && OnChange) OnChange(*this);
}

void TGCustomLinkedList::BeginUpdate() {
    ++FUpdateCount;
}

void TGCustomLinkedList::EndUpdate() {
    if (FUpdateCount > 0) --FUpdateCount;
    if (FUpdateCount == 0) Changed();
}

TSQNode* TGCustomLinkedList::Items(int32_t index) {
    if (index < 0 || index >= FCount) InvalidIndex();
    int32_t i = 0;
    TSQNode* n = FHead;
    if (FCursorNode && FCursorIndex >= 0 && index >= FCursorIndex) {
        i = FCursorIndex;
        n = FCursorNode;
    }
    for (; i < index; ++i)
        n = n->FNext;
    FCursorIndex = index;
    FCursorNode = n;
    return n;
}

void TGCustomLinkedList::SetNode(int32_t index, TSQNode* node) {
    if (!node) InvalidIndex();
    TSQNode* old = Items(index);
    if (old == node) return;
    TSQNode* prev = index == 0 ? nullptr : Items(index - 1);
    node->FNext = old->FNext;
    if (prev)
        prev->FNext = node;
    else
        FHead = node;
    if (FTail == old) FTail = node;
    delete old;
    Changed();
}

void TGCustomLinkedList::CopyFrom(const TGCustomLinkedList& source) {
    if (&source == this) return;
    WithinUpdate(*this, [&] {
        for (TSQNode* n : source) {
            TSQNode* copy = CreateNode();
            copy->Assign(*n);
            Add(copy);
        }
    });
}

void TGCustomLinkedList::Assign(const TGCustomLinkedList& source) {
    if (&source == this) return;
    BeginUpdate();
    Clear();
    try {
        CopyFrom(source);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TGCustomLinkedList::Assign(std::span<void* const> items) {
    BeginUpdate();
    Clear();
    try {
        for (void* p : items)
            AddItem(p);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TGCustomLinkedList::Clear() {
    TSQNode* n = FHead;
    while (n) {
        TSQNode* next = n->FNext;
        delete n;
        n = next;
    }
    FHead = FTail = nullptr;
    FCount = 0;
    Changed();
}

TSQNode* TGCustomLinkedList::Add(TSQNode* node) {
    InsertBefore(node, nullptr);
    return node;
}

void TGCustomLinkedList::InsertBefore(TSQNode* node, TSQNode* before) {
    if (!node) InvalidIndex();
    if (!before) {
        node->FNext = nullptr;
        if (FTail)
            FTail->FNext = node;
        else
            FHead = node;
        FTail = node;
    } else {
        TSQNode* prev = FindPredecessor(before);
        node->FNext = before;
        if (prev)
            prev->FNext = node;
        else
            FHead = node;
    }
    ++FCount;
    Changed();
}

TSQNode* TGCustomLinkedList::FindPredecessor(const TSQNode* node) const {
    if (!FHead) ListIsEmpty();
    if (!node) InvalidIndex();
    if (node == FHead) return nullptr;
    for (TSQNode* n = FHead; n->FNext; n = n->FNext)
        if (n->FNext == node) return n;
    throw EListError("Cannot find node within list");
}

void TGCustomLinkedList::Remove(TSQNode* node) {
    if (!node) InvalidIndex();
    TSQNode* prev = FindPredecessor(node);
    if (prev)
        prev->FNext = node->FNext;
    else
        FHead = node->FNext;
    if (FTail == node) FTail = prev;
    delete node;
    --FCount;
    Changed();
}

// ---------------------------------------------------------------- TQQueue / TQStack

void* TQQueue::Items(int32_t index) const {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    return FItems[static_cast<size_t>(index)];
}

void* TQQueue::Pop() {
    if (FItems.empty()) ListIsEmpty();
    void* p = FItems.front();
    FItems.pop_front();
    return p;
}

void* TQQueue::Peek() const {
    if (FItems.empty()) ListIsEmpty();
    return FItems.front();
}

void TQQueue::Assign(std::span<void* const> items) {
    FItems.assign(items.begin(), items.end());
}

void TQQueue::Assign(const TGCustomLinkedList& source) {
    FItems.clear();
    for (TSQNode* n : source)
        FItems.push_back(n->Item());
}

void TQQueue::Assign(const TGCustomLinkedList* source) {
    if (!source) throw EListError(Format("Error assigning %s to %s", "nil", ClassName()));
    Assign(*source);
}

void TQQueue::Assign(const TQQueue& source) {
    if (&source == this) return;
    FItems = source.FItems;
}

void* TQStack::Pop() {
    if (FItems.empty()) ListIsEmpty();
    void* p = FItems.back();
    FItems.pop_back();
    return p;
}

void* TQStack::Peek() const {
    if (FItems.empty()) ListIsEmpty();
    return FItems.back();
}

} // namespace ie
