#include "containers/InterfaceCollections.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace ie {
namespace {

using test::MessageOf;

class TNamed : public virtual TRefCounted {
public:
    TNamed(std::string name, int* alive = nullptr) : Name(std::move(name)), FAlive(alive) {
        if (FAlive) ++*FAlive;
    }
    ~TNamed() override {
        if (FAlive) --*FAlive;
    }
    std::string Name;

private:
    int* FAlive;
};

TEST(InterfaceListTest, StackAndQueueOrder) {
    auto a = MakeRef<TNamed>("a"), b = MakeRef<TNamed>("b"), c = MakeRef<TNamed>("c");
    auto stack = MakeRef<TIStack<TNamed>>();
    auto queue = MakeRef<TIQueue<TNamed>>();
    for (auto& x : {a, b, c}) {
        stack->Push(x);
        queue->Push(x);
    }
    std::string fromStack, fromQueue;
    while (!stack->IsEmpty())
        fromStack += stack->Pop()->Name;
    while (!queue->IsEmpty())
        fromQueue += queue->Pop()->Name;
    EXPECT_EQ(fromStack, "cba");
    EXPECT_EQ(fromQueue, "abc");
    EXPECT_EQ(MessageOf<EListError>([&] { stack->Pop(); }), "list is empty");
    EXPECT_EQ(MessageOf<EListError>([&] { queue->Peek(); }), "list is empty");
}

TEST(InterfaceListTest, RetainsItemsAndRemoveOfAMissingItem) {
    int alive = 0;
    auto list = MakeRef<TIList<TNamed>>();
    list->Add(MakeRef<TNamed>("a", &alive));
    list->Add(MakeRef<TNamed>("b", &alive));
    auto stranger = MakeRef<TNamed>("x", &alive);
    EXPECT_EQ(alive, 3);
    EXPECT_EQ(list->Remove(stranger.get()), -1);
    EXPECT_EQ(list->Count(), 2);
    const TNamed* b = list->Get(1).get();
    EXPECT_EQ(list->Remove(b), 1);
    EXPECT_EQ(alive, 2);
    list->Put(0, nullptr);
    EXPECT_EQ(alive, 1);
    list->Insert(1, stranger);
    EXPECT_EQ(list->IndexOf(stranger.get()), 1);
    EXPECT_EQ(list->First(), nullptr);
    EXPECT_EQ(list->Last(), stranger);
    EXPECT_EQ(MessageOf<EListError>([&] { list->Get(2); }), "List index out of bounds (2)");
    EXPECT_EQ(MessageOf<EListError>([&] { list->Insert(3, stranger); }),
              "List index out of bounds (3)");
    list->Clear();
    EXPECT_EQ(list->Capacity(), 0);
}

TEST(InterfaceListTest, CountAndCapacityBounds) {
    auto list = MakeRef<TIList<>>();
    list->SetCount(3);
    EXPECT_EQ(list->Count(), 3);
    EXPECT_EQ(list->Get(2), nullptr);
    EXPECT_EQ(MessageOf<EListError>([&] { list->SetCount(-1); }), "List count out of bounds (-1)");
    EXPECT_EQ(MessageOf<EListError>([&] { list->SetCount(134217728); }),
              "List count out of bounds (134217728)");
    EXPECT_EQ(MessageOf<EListError>([&] { list->SetCapacity(2); }),
              "List capacity out of bounds (2)");
    list->SetCount(1);
    EXPECT_EQ(list->Count(), 1);
}

class TRecordingList : public TIList<> {
public:
    std::vector<std::string> Log;

protected:
    void Notify(const TItem& item, TListNotification action) override {
        Log.push_back(std::string(action == lnAdded ? "+" : "-") +
                      dynamic_cast<TNamed*>(item.get())->Name);
    }
};

TEST(InterfaceListTest, NotifyOnAddPutAndDelete) {
    auto list = MakeRef<TRecordingList>();
    list->Add(MakeRef<TNamed>("a"));
    list->Add(nullptr); // empty items are not announced
    list->Put(0, MakeRef<TNamed>("b"));
    list->Delete(0);
    EXPECT_EQ(list->Log, (std::vector<std::string>{"+a", "-a", "+b", "-b"}));
}

TEST(InterfaceListTest, AssignCloneAndAssignTo) {
    auto a = MakeRef<TNamed>("a"), b = MakeRef<TNamed>("b");
    auto stack = MakeRef<TIStack<TNamed>>();
    stack->Push(a);
    stack->Push(b);
    TRefPtr<TIList<TNamed>> copy = stack->Clone();
    ASSERT_NE(dynamic_cast<TIStack<TNamed>*>(copy.get()), nullptr);
    EXPECT_EQ(copy->Get(0), a); // shared, not cloned
    EXPECT_EQ(copy->Get(1), b);
    copy->Assign(*copy);
    EXPECT_EQ(copy->Count(), 2);

    auto queue = MakeRef<TIQueue<TNamed>>();
    EXPECT_EQ(MessageOf<EConvertError>([&] { queue->Assign(nullptr); }),
              "Cannot assign a nil to a TIQueue");
    EXPECT_EQ(MessageOf<EConvertError>([&] { stack->AssignTo(*queue); }),
              "Cannot assign a TIStack to a TIQueue");
}

TEST(IStringListTest, InterfacesFollowTheirItems) {
    int alive = 0;
    TIStringList list;
    list.SetSorted(true);
    list.AddInterface("b", MakeRef<TNamed>("B", &alive));
    list.AddInterface("a", MakeRef<TNamed>("A", &alive));
    EXPECT_EQ(list.AddInterface("A", MakeRef<TNamed>("dup", &alive)), 0); // ignored, released
    EXPECT_EQ(alive, 2);
    EXPECT_EQ(list.GetInterfaceAs<TNamed>(0)->Name, "A");

    TIStringList copy;
    copy.SetSorted(true);
    copy.SetCompareMode(gcmOrdinal);
    copy.Assign(list);
    EXPECT_EQ(copy.CompareMode(), gcmLocaleIgnoreCase);
    EXPECT_EQ(copy.GetInterfaceAs<TNamed>(1)->Name, "B");
    EXPECT_EQ(copy.IndexOfInterface(list.GetInterface(1).get()), 1);

    list.Delete(0);
    copy.Clear();
    EXPECT_EQ(alive, 1);
    std::vector<std::string> seen;
    list.ForEach([&](TIStringList& l, int32_t i, const std::string& s, const TRefPtr<IInterface>&,
                     TObject*) {
        seen.push_back(s);
        l.Delete(i);
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"b"}));
    EXPECT_EQ(alive, 0);
}

TEST(IStringListTest, CustomSortKeepsInterfacesWithStrings) {
    TIStringList list;
    list.AddInterface("x", MakeRef<TNamed>("3"));
    list.AddInterface("y", MakeRef<TNamed>("1"));
    list.AddInterface("z", MakeRef<TNamed>("2"));
    list.CustomSort([](TGCustomStringList& l, int32_t i1, int32_t i2) {
        auto& self = static_cast<TIStringList&>(l);
        return self.GetInterfaceAs<TNamed>(i1)->Name.compare(self.GetInterfaceAs<TNamed>(i2)->Name);
    });
    EXPECT_EQ(list.Get(0), "y");
    EXPECT_EQ(list.Get(1), "z");
    EXPECT_EQ(list.Get(2), "x");
}

TEST(IteratorsTest, StringsAndPointerLists) {
    TGStringList strings;
    strings.Add("p");
    strings.Add("q");
    auto it = MakeRef<TStringsIterator>(strings);
    std::vector<std::string> seen;
    while (it->HasNext())
        seen.push_back(it->NextString());
    EXPECT_EQ(seen, (std::vector<std::string>{"p", "q"}));
    EXPECT_EQ(it->Remaining(), 0);
    it->Reset();
    EXPECT_EQ(it->Remaining(), 2);
    EXPECT_EQ(it->Next(), nullptr);
    EXPECT_EQ(it->CurrentString(), "p");

    int x = 0, y = 0;
    std::vector<void*> pointers{&x, &y};
    auto pit = MakeRef<TListIterator>(pointers);
    EXPECT_EQ(pit->Next(), &x);
    EXPECT_EQ(pit->Current(), &x);
    EXPECT_EQ(pit->Remaining(), 1);
    EXPECT_EQ(pit->Next(), &y);
    EXPECT_FALSE(pit->HasNext());
    EXPECT_EQ(MessageOf<EListError>([&] { pit->Next(); }), "List index out of bounds (2)");
}

} // namespace
} // namespace ie
