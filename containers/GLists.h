// Pointer containers: a singly linked list of nodes with a cached index cursor, and the FIFO
// queue and LIFO stack of pointers that the graph's walks use.
//
// The linked list owns its nodes (removing or clearing frees them) but never the items the
// nodes point at. Its cursor (index and node) only caches the last indexed access; every change
// drops it, so it can never point at a freed node.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

namespace ie {

class TGCustomLinkedList;

// One node of a linked list: the item and the next node.
class TSQNode {
public:
    TSQNode() = default;
    explicit TSQNode(void* item) : FItem(item) {}
    TSQNode(const TSQNode&) = delete;
    TSQNode& operator=(const TSQNode&) = delete;
    virtual ~TSQNode() = default;

    // Copies what a node carries (the item); never the link.
    virtual void Assign(const TSQNode& source) { FItem = source.FItem; }

    void* Item() const { return FItem; }
    void SetItem(void* item) { FItem = item; }
    TSQNode* Next() const { return FNext; }

private:
    friend class TGCustomLinkedList;
    void* FItem = nullptr;
    TSQNode* FNext = nullptr;
};

class TGCustomLinkedList {
public:
    using TChangeEvent = std::function<void(TGCustomLinkedList& sender)>;

    TGCustomLinkedList() = default;
    TGCustomLinkedList(const TGCustomLinkedList&) = delete;
    TGCustomLinkedList& operator=(const TGCustomLinkedList&) = delete;
    virtual ~TGCustomLinkedList();

    int32_t Count() const { return FCount; }
    bool IsEmpty() const { return FCount == 0; }
    TSQNode* Head() const { return FHead; }
    TSQNode* Tail() const { return FTail; }

    // The node at `index` (0..Count-1, else "Invalid Index"). Sequential access is O(1) per
    // step thanks to the cursor.
    TSQNode* Items(int32_t index);
    // Replaces the node at `index` by `node`, which takes its place and successor; the old node
    // is freed. `node` must not be linked into a list yet.
    virtual void SetNode(int32_t index, TSQNode* node);

    // Appends copies of every node of `source` (CreateNode + TSQNode::Assign).
    virtual void CopyFrom(const TGCustomLinkedList& source);
    // Clears, then copies `source` (a no-op when assigning a list to itself).
    void Assign(const TGCustomLinkedList& source);
    // Clears, then appends one node per pointer.
    void Assign(std::span<void* const> items);

    virtual void BeginUpdate();
    virtual void EndUpdate();
    virtual void Clear();

    // Appends a node (taking ownership) and returns it.
    virtual TSQNode* Add(TSQNode* node);
    TSQNode* AddItem(void* item) { return Add(CreateNode(item)); }
    // Unlinks and frees `node` ("Invalid Index" when null, "Cannot find node within list" when
    // it is not in this list).
    virtual void Remove(TSQNode* node);
    // The node before `node`, nullptr for the head.
    virtual TSQNode* FindPredecessor(const TSQNode* node) const;
    // Links `node` in front of `before`, or appends it when `before` is null.
    virtual void InsertBefore(TSQNode* node, TSQNode* before);
    virtual TSQNode* CreateNode(void* item = nullptr) const { return new TSQNode(item); }

    TChangeEvent OnChange;

    // Forward walk over the nodes: for (TSQNode* n : list).
    class TIterator {
    public:
        explicit TIterator(TSQNode* n) : FNode(n) {}
        TSQNode* operator*() const { return FNode; }
        TIterator& operator++() {
            FNode = FNode->Next();
            return *this;
        }
        bool operator==(const TIterator&) const = default;

    private:
        TSQNode* FNode;
    };
    TIterator begin() const { return TIterator(FHead); }
    TIterator end() const { return TIterator(nullptr); }

protected:
    // Drops the cursor and, outside an update, fires OnChange.
    void Changed();

private:
    void DropCursor() {
        FCursorIndex = -1;
        FCursorNode = nullptr;
    }
    int32_t FCursorIndex = -1;
    TSQNode* FCursorNode = nullptr;
    int32_t FCount = 0;
    TSQNode* FHead = nullptr;
    TSQNode* FTail = nullptr;
    int32_t FUpdateCount = 0;
};

// A FIFO of pointers: Push appends, Pop and Peek take the first ("List is empty" when empty).
class TQQueue {
public:
    TQQueue() = default;
    virtual ~TQQueue() = default;

    int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
    bool IsEmpty() const { return FItems.empty(); }
    void Clear() { FItems.clear(); }
    // The item at `index` counted from the first pushed ("List index out of bounds (%d)").
    void* Items(int32_t index) const;

    void Push(void* p) { FItems.push_back(p); }
    virtual void* Pop();
    virtual void* Peek() const;

    // Clears, then pushes each pointer (or node item, from the head) in order.
    void Assign(std::span<void* const> items);
    void Assign(const TGCustomLinkedList& source);
    // "Error assigning nil to TQQueue" for a null source.
    void Assign(const TGCustomLinkedList* source);
    void Assign(const TQQueue& source);

    virtual std::string_view ClassName() const { return "TQQueue"; }

protected:
    std::deque<void*> FItems;
};

// A LIFO of pointers: Push appends, Pop and Peek take the last.
class TQStack : public TQQueue {
public:
    void* Pop() override;
    void* Peek() const override;
    std::string_view ClassName() const override { return "TQStack"; }
};

} // namespace ie
