#include "containers/Structures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace ie {
namespace {

using test::MessageOf;

// An object that writes its name to a log when freed.
class TTracked : public TObject {
public:
    TTracked(std::vector<std::string>& log, std::string name) : FLog(log), FName(std::move(name)) {}
    ~TTracked() override { FLog.push_back(FName); }

private:
    std::vector<std::string>& FLog;
    std::string FName;
};

std::vector<std::string> Strings(const TStrings& list) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < list.Count(); ++i)
        out.push_back(list.Get(i));
    return out;
}

TEST(StringListTest, FindOnDuplicatesAcceptReturnsTheFirstEqual) {
    TGStringList list;
    list.SetDuplicates(dupAccept);
    list.SetSorted(true);
    for (const char* s : {"b", "a", "c", "b", "d", "b", "e"})
        list.Add(s);
    int32_t index = -1;
    ASSERT_TRUE(list.Find("b", index));
    EXPECT_EQ(index, 1);
    EXPECT_EQ(list.Get(1), "b");
    EXPECT_EQ(list.Get(3), "b");
    EXPECT_EQ(list.Get(4), "c");
    EXPECT_FALSE(list.Find("bb", index));
    EXPECT_EQ(index, 4); // insert position
}

TEST(StringListTest, SortedDuplicatesIgnoreAndError) {
    TGStringList list;
    list.SetSorted(true);
    EXPECT_EQ(list.Add("m"), 0);
    EXPECT_EQ(list.Add("a"), 0);
    EXPECT_EQ(list.Add("M"), 1); // equal to "m" under the default rule: ignored
    EXPECT_EQ(list.Count(), 2);

    list.SetDuplicates(dupError);
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.Add("A"); }),
              "String list does not allow duplicates");
    EXPECT_EQ(Strings(list), (std::vector<std::string>{"a", "m"}));
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.Insert(0, "z"); }),
              "Operation not allowed on sorted list");
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.Put(0, "z"); }),
              "Operation not allowed on sorted list");
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.Get(2); }), "List index out of bounds (2)");
    EXPECT_EQ(MessageOf<EStringListError>([&] { list.Delete(-1); }),
              "List index out of bounds (-1)");
}

TEST(StringListTest, CompareModes) {
    TGStringList list;
    EXPECT_EQ(list.CompareMode(), gcmLocaleIgnoreCase);
    EXPECT_EQ(list.CompareStrings("ABC", "abc"), 0);
    list.SetCompareMode(gcmOrdinal);
    EXPECT_NE(list.CompareStrings("ABC", "abc"), 0);
    EXPECT_LT(list.CompareStrings("B", "a"), 0); // by character code
    list.SetCompareMode(gcmOrdinalIgnoreCase);
    EXPECT_EQ(list.CompareStrings("ABC", "abc"), 0);
    EXPECT_GT(list.CompareStrings("_", "a"), 0); // '_' after the capitals

    // Dictionary order: punctuation, digits, letters; a lower-case letter before its capital.
    list.SetCompareMode(gcmLocale);
    for (const char* s : {"B", "a", "b", "1", "_x", "A"})
        list.Add(s);
    list.Sort();
    EXPECT_EQ(Strings(list), (std::vector<std::string>{"_x", "1", "a", "A", "b", "B"}));
}

TEST(StringListTest, IndexOfUsesTheCompareRule) {
    TGStringList list;
    list.Add("Alpha");
    list.Add("beta");
    EXPECT_EQ(list.IndexOf("BETA"), 1);
    list.SetCompareMode(gcmOrdinal);
    EXPECT_EQ(list.IndexOf("BETA"), -1);
    EXPECT_EQ(list.IndexOf("beta"), 1);
}

TEST(StringListTest, ForEachWalksBackwardsAndMayDeleteTheCurrentItem) {
    TGStringList list;
    for (const char* s : {"a", "b", "c", "d"})
        list.Add(s);
    std::vector<int32_t> visited;
    list.ForEach(
        [&](TGStringList& l, int32_t index, const std::string& s, intptr_t, TObject*) {
            visited.push_back(index);
            if (s == "b" || s == "d") l.Delete(index);
        },
        [](TGStringList&, int32_t, const std::string&, intptr_t, TObject*) { return true; });
    EXPECT_EQ(visited, (std::vector<int32_t>{3, 2, 1, 0}));
    EXPECT_EQ(Strings(list), (std::vector<std::string>{"a", "c"}));

    visited.clear();
    list.ForEach(
        [&](TGStringList&, int32_t index, const std::string&, intptr_t, TObject*) {
            visited.push_back(index);
        },
        [](TGStringList&, int32_t, const std::string& s, intptr_t, TObject*) { return s != "c"; });
    EXPECT_EQ(visited, (std::vector<int32_t>{0}));
}

TEST(StringListTest, OwnershipFreesDataBeforeObject) {
    std::vector<std::string> log;
    {
        TGStringList list;
        list.SetOwnsData(true);
        list.SetOwnsObjects(true);
        int32_t i = list.AddObject("x", new TTracked(log, "object1"));
        list.PutDataObject(i, new TTracked(log, "data1"));
        list.AddItem("y", new TTracked(log, "object2"),
                     reinterpret_cast<intptr_t>(static_cast<TObject*>(new TTracked(log, "data2"))));
        list.Delete(0);
        EXPECT_EQ(log, (std::vector<std::string>{"data1", "object1"}));
        log.clear();
        // Replacing frees the previous object, but putting the same one again must not.
        TObject* same = list.GetObject(0);
        list.PutObject(0, same);
        EXPECT_TRUE(log.empty());
        list.PutObject(0, new TTracked(log, "object3"));
        EXPECT_EQ(log, (std::vector<std::string>{"object2"}));
        log.clear();
    }
    EXPECT_EQ(log, (std::vector<std::string>{"data2", "object3"}));
}

TEST(StringListTest, SortRespectsSortedFlagAndExchangesWholeItems) {
    TGStringList list;
    int changes = 0;
    list.OnChange = [&](TGCustomStringList&) { ++changes; };
    list.AddItem("c", nullptr, 3);
    list.AddItem("a", nullptr, 1);
    list.AddItem("b", nullptr, 2);
    changes = 0;
    list.Sort();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(Strings(list), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(list.GetData(0), 1);
    EXPECT_EQ(list.GetData(2), 3);

    list.SetSorted(true);
    changes = 0;
    list.Sort(); // already sorted: nothing happens
    EXPECT_EQ(changes, 0);
}

TEST(StringListTest, ChangingTheCompareModeOfASortedListSortsAgain) {
    TGStringList list;
    list.SetSorted(true);
    list.Add("a");
    list.Add("B");
    ASSERT_EQ(Strings(list), (std::vector<std::string>{"a", "B"}));
    list.SetCompareMode(gcmOrdinal);
    EXPECT_EQ(Strings(list), (std::vector<std::string>{"B", "a"}));
    int32_t index;
    EXPECT_TRUE(list.Find("a", index));
    EXPECT_EQ(index, 1);
}

TEST(StringListTest, AssignIntoASortedListKeepsDataWithItsString) {
    TGStringList source;
    source.AddItem("zebra", nullptr, 26);
    source.AddItem("apple", nullptr, 1);
    source.AddItem("mango", nullptr, 13);
    TGStringList target;
    target.SetSorted(true);
    target.Assign(source);
    ASSERT_EQ(Strings(target), (std::vector<std::string>{"apple", "mango", "zebra"}));
    EXPECT_EQ(target.GetData(0), 1);
    EXPECT_EQ(target.GetData(1), 13);
    EXPECT_EQ(target.GetData(2), 26);
}

TEST(StringListTest, AssignToItselfIsANoOp) {
    TGStringList list;
    list.AddItem("a", nullptr, 7);
    list.AddItem("b", nullptr, 8);
    list.Assign(list);
    EXPECT_EQ(Strings(list), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(list.GetData(1), 8);
}

class TRecordingOwner : public IStringsOwner {
public:
    std::vector<std::string> Calls;
    void StringsChanged(TStrings&) override { Calls.push_back("changed"); }
    void StringsChanging(TStrings&) override { Calls.push_back("changing"); }
    void BeforePutString(TStrings&, int32_t i, std::string_view s) override {
        Calls.push_back("put " + std::to_string(i) + " " + std::string(s));
    }
    void BeforeDelete(TStrings&, int32_t i) override {
        Calls.push_back("delete " + std::to_string(i));
    }
    void BeforeClear(TStrings&) override { Calls.push_back("clear"); }
};

TEST(StringListTest, ChangeProtocolAndUpdates) {
    TGStringList list;
    TRecordingOwner owner;
    list.SetOwner(&owner);
    std::vector<std::string> events;
    list.OnChanging = [&](TGCustomStringList&) { events.push_back("OnChanging"); };
    list.OnChange = [&](TGCustomStringList&) { events.push_back("OnChange"); };
    list.Add("a");
    list.Put(0, "b");
    list.Delete(0);
    EXPECT_EQ(owner.Calls,
              (std::vector<std::string>{"changing", "changed", "put 0 b", "changing", "changed",
                                        "delete 0", "changing", "changed"}));
    owner.Calls.clear();
    events.clear();
    list.BeginUpdate();
    list.Add("x");
    list.Add("y");
    list.Clear();
    list.EndUpdate();
    EXPECT_EQ(owner.Calls, (std::vector<std::string>{"changing", "clear", "changed"}));
    EXPECT_EQ(events, (std::vector<std::string>{"OnChanging", "OnChange"}));
}

TEST(StringListTest, CapacityGrowthAndClear) {
    TGStringList list;
    std::vector<int32_t> capacities;
    for (int i = 0; i < 80; ++i) {
        int32_t before = list.Capacity();
        list.Add(std::to_string(i));
        if (list.Capacity() != before) capacities.push_back(list.Capacity());
    }
    EXPECT_EQ(capacities, (std::vector<int32_t>{4, 8, 12, 28, 44, 60, 76, 95}));
    list.Clear();
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_EQ(list.Count(), 0);
}

TEST(StringListTest, CollectionAssignsDisplayNamesWithItems) {
    TGCollection collection;
    TGCollectionItem* first = collection.Add(std::make_unique<TGCollectionItem>("first"));
    collection.Add(std::make_unique<TGCollectionItem>("second"));
    TGStringList list;
    list.Add("old");
    collection.AssignTo(list);
    EXPECT_EQ(Strings(list), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(list.GetObject(0), first);
    EXPECT_EQ(list.Text(), "first\r\nsecond\r\n");
}

} // namespace
} // namespace ie
