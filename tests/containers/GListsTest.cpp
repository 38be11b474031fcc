#include "containers/GLists.h"

#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/TestSupport.h"

namespace ie {
namespace {

template <class F> std::string ListMessageOf(F&& f) {
    return test::MessageOf<EListError>(std::forward<F>(f));
}

int A = 1, B = 2, C = 3, D = 4;

std::vector<void*> Items(const TGCustomLinkedList& list) {
    std::vector<void*> out;
    for (TSQNode* n : list)
        out.push_back(n->Item());
    return out;
}

TEST(LinkedListTest, AddRemoveAndIndexedAccess) {
    TGCustomLinkedList list;
    int changes = 0;
    list.OnChange = [&](TGCustomLinkedList&) { ++changes; };
    TSQNode* a = list.AddItem(&A);
    TSQNode* b = list.AddItem(&B);
    TSQNode* c = list.AddItem(&C);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(list.Items(1), b);
    EXPECT_EQ(list.Items(2), c); // from the cursor
    EXPECT_EQ(list.Items(0), a); // before the cursor: from the head
    EXPECT_EQ(ListMessageOf([&] { list.Items(3); }), "Invalid Index");

    list.InsertBefore(new TSQNode(&D), b);
    EXPECT_EQ(Items(list), (std::vector<void*>{&A, &D, &B, &C}));
    EXPECT_EQ(list.Items(2), b);

    list.Remove(c); // the tail: the new tail is b
    list.AddItem(&C);
    EXPECT_EQ(Items(list), (std::vector<void*>{&A, &D, &B, &C}));
    EXPECT_EQ(list.FindPredecessor(a), nullptr);
    EXPECT_EQ(list.FindPredecessor(b)->Item(), &D);

    TSQNode stranger(&A);
    EXPECT_EQ(ListMessageOf([&] { list.Remove(&stranger); }), "Cannot find node within list");
    EXPECT_EQ(ListMessageOf([&] { list.Remove(nullptr); }), "Invalid Index");
    EXPECT_EQ(list.Count(), 4);
    list.Clear();
    EXPECT_EQ(ListMessageOf([&] { list.FindPredecessor(&stranger); }), "List is empty");
}

TEST(LinkedListTest, ReplacingTheLastNodeThenAppending) {
    TGCustomLinkedList list;
    list.AddItem(&A);
    list.AddItem(&B);
    TSQNode* replacement = new TSQNode(&C);
    list.SetNode(1, replacement);
    EXPECT_EQ(list.Tail(), replacement);
    list.AddItem(&D);
    EXPECT_EQ(Items(list), (std::vector<void*>{&A, &C, &D}));
    list.SetNode(0, list.Items(0)); // by itself: nothing
    EXPECT_EQ(list.Count(), 3);
}

TEST(LinkedListTest, AssignCopiesNodes) {
    TGCustomLinkedList source;
    for (int* p : {&A, &B, &C})
        source.AddItem(p);
    TGCustomLinkedList target;
    target.AddItem(&D);
    int changes = 0;
    target.OnChange = [&](TGCustomLinkedList&) { ++changes; };
    target.Assign(source);
    EXPECT_EQ(changes, 1); // one update
    EXPECT_EQ(Items(target), Items(source));
    EXPECT_NE(target.Head(), source.Head());
    target.Assign(target);
    EXPECT_EQ(target.Count(), 3);
    void* pointers[] = {&D, &A};
    target.Assign(pointers);
    EXPECT_EQ(Items(target), (std::vector<void*>{&D, &A}));
}

TEST(PointerQueueTest, QueueAndStackOrder) {
    TQQueue queue;
    TQStack stack;
    for (int* p : {&A, &B, &C}) {
        queue.Push(p);
        stack.Push(p);
    }
    EXPECT_EQ(queue.Peek(), &A);
    EXPECT_EQ(stack.Peek(), &C);
    std::vector<void*> fromQueue, fromStack;
    while (!queue.IsEmpty())
        fromQueue.push_back(queue.Pop());
    while (!stack.IsEmpty())
        fromStack.push_back(stack.Pop());
    EXPECT_EQ(fromQueue, (std::vector<void*>{&A, &B, &C}));
    EXPECT_EQ(fromStack, (std::vector<void*>{&C, &B, &A}));
    EXPECT_EQ(ListMessageOf([&] { queue.Pop(); }), "List is empty");
    EXPECT_EQ(ListMessageOf([&] { stack.Peek(); }), "List is empty");
}

TEST(PointerQueueTest, AssignFromALinkedList) {
    TGCustomLinkedList list;
    for (int* p : {&A, &B, &C})
        list.AddItem(p);
    TQQueue queue;
    queue.Push(&D);
    queue.Assign(list);
    ASSERT_EQ(queue.Count(), 3);
    EXPECT_EQ(queue.Items(0), &A);
    EXPECT_EQ(queue.Items(2), &C);
    TQStack stack;
    stack.Assign(list);
    EXPECT_EQ(stack.Pop(), &C);
    EXPECT_EQ(ListMessageOf([&] { stack.Assign(static_cast<const TGCustomLinkedList*>(nullptr)); }),
              "Error assigning nil to TQStack");
}

} // namespace
} // namespace ie
