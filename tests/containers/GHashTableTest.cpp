#include "containers/GHashTable.h"
#include "containers/GLists.h"
#include "containers/Structures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace ie {
namespace {

using test::MessageOf;

void* P(intptr_t v) {
    return reinterpret_cast<void*>(v);
}

std::vector<int32_t> EnumeratedKeys(const TGHashtable& t) {
    std::vector<int32_t> keys;
    for (const TGHashtableEntry& e : t)
        keys.push_back(e.IntKey());
    return keys;
}

std::vector<int32_t> IndexedKeys(const TGHashtable& t) {
    std::vector<int32_t> keys;
    for (int32_t i = 0; i < t.Count(); ++i)
        keys.push_back(t.KeyAt(i));
    return keys;
}

TEST(HashMethodsTest, IntegerMethods) {
    EXPECT_EQ(TGCustomHashtable::Division(205, 101), 3u);
    EXPECT_EQ(TGCustomHashtable::Division(-5, 101), 2147483643u % 101);
    EXPECT_EQ(TGCustomHashtable::Truncation(123456, 101), 52u); // last 3 digits "456"
    EXPECT_EQ(TGCustomHashtable::Truncation(-5, 101), 37u);     // 2147483643 -> "643"
    EXPECT_EQ(TGCustomHashtable::Truncation(42, 1009), 42u);
    EXPECT_EQ(TGCustomHashtable::MidSquare(1234, 101), 1522756u % 101); // too short: all digits
    EXPECT_EQ(TGCustomHashtable::MidSquare(123456, 101), 32u);          // "208998400" -> "840"
    EXPECT_EQ(TGCustomHashtable::Folding(123456789, 101), 1134579u % 101);
    EXPECT_EQ(TGCustomHashtable::Folding(7, 101), 77u);
}

TEST(HashMethodsTest, TextHash) {
    EXPECT_EQ(TGCustomStringHashtable::HashText("abc"), 136518u);
    // 15 characters: every one, multiplier 37; 16: characters 1, 3, ..., 15, multiplier 39.
    EXPECT_EQ(TGCustomStringHashtable::HashText("abcdefghijklmno"), 4048783896u);
    EXPECT_EQ(TGCustomStringHashtable::HashText("abcdefghijklmnop"), 2534668456u);
    // Only the sampled characters count: changing an unsampled one keeps the hash.
    EXPECT_EQ(TGCustomStringHashtable::HashText("aXcdefghijklmnop"),
              TGCustomStringHashtable::HashText("abcdefghijklmnop"));
    EXPECT_NE(TGCustomStringHashtable::HashText("abXdefghijklmnop"),
              TGCustomStringHashtable::HashText("abcdefghijklmnop"));
}

TEST(HashtableTest, NullKeyAndEmptyTable) {
    TGHashtable t;
    EXPECT_EQ(t.Buckets(), nullptr); // an empty table allocates nothing
    EXPECT_EQ(MessageOf<EGHashtableError>([&] { t.Put(0, P(1)); }), "Argument is null");
    EXPECT_EQ(MessageOf<EGHashtableError>([&] { t.Remove(0); }), "Table is empty");
    EXPECT_EQ(MessageOf<EGHashtableError>([&] { t.Get(3); }), "Table is empty");
    EXPECT_FALSE(t.ContainsKey(3));
    EXPECT_EQ(t.Buckets(), nullptr);
    t.Put(3, P(30));
    EXPECT_EQ(MessageOf<EGHashtableError>([&] { t.Get(4); }), "No such element");
    EXPECT_EQ(MessageOf<EGHashtableError>([&] { t.Remove(4); }), "No such element");
    EXPECT_EQ(MessageOf<EGHashtableError>([&] { t.Remove(0); }), "Argument is null");
    EXPECT_EQ(t.Get(3), P(30));
    EXPECT_EQ(t.Count(), 1);
}

TEST(HashtableTest, GrowthAtTheLoadFactorThreshold) {
    TGHashtable t(101, 0.75f);
    for (int32_t k = 1; k <= 76; ++k)
        t.Put(k, P(k));
    EXPECT_EQ(t.Capacity(), 101u);
    EXPECT_EQ(t.Put(5, P(500)), P(5)); // replacing never grows
    EXPECT_EQ(t.Capacity(), 101u);
    t.Put(77, P(77));
    EXPECT_EQ(t.Capacity(), 203u);
    EXPECT_EQ(t.Count(), 77);
    for (int32_t k = 1; k <= 77; ++k)
        EXPECT_EQ(t.Get(k), P(k == 5 ? 500 : k));
}

TEST(HashtableTest, ThresholdRoundsHalfToEven) {
    // 5 * 0.5 = 2.5 rounds to 2: the third key grows the table to 11 buckets.
    TGHashtable t(5, 0.5f);
    t.Put(1, P(1));
    t.Put(2, P(2));
    EXPECT_EQ(t.Capacity(), 5u);
    t.Put(3, P(3));
    EXPECT_EQ(t.Capacity(), 11u);
}

TEST(HashtableTest, EnumerationAndIndexOrder) {
    TGHashtable t(101, 0.75f);
    for (int32_t k : {1, 100, 102, 5, 203})
        t.Put(k, P(k)); // 1, 102, 203 share bucket 1
    EXPECT_EQ(EnumeratedKeys(t), (std::vector<int32_t>{100, 5, 203, 102, 1}));
    EXPECT_EQ(IndexedKeys(t), (std::vector<int32_t>{203, 102, 1, 5, 100}));
    std::vector<int32_t> backwards;
    for (int32_t i = t.Count() - 1; i >= 0; --i)
        backwards.push_back(t.KeyAt(i));
    EXPECT_EQ(backwards, (std::vector<int32_t>{100, 5, 1, 102, 203}));
    EXPECT_EQ(t.KeyAt(1), 102);
    EXPECT_EQ(t.KeyAt(4), 100);
    EXPECT_EQ(t.KeyAt(0), 203);
    EXPECT_EQ(MessageOf<EListError>([&] { t.KeyAt(5); }), "List index out of bounds (5)");

    TRefPtr<IIterator> keys = t.Keys();
    std::vector<int32_t> walked;
    EXPECT_EQ(keys->Remaining(), 5);
    while (keys->HasNext())
        walked.push_back(static_cast<int32_t>(reinterpret_cast<intptr_t>(keys->Next())));
    EXPECT_EQ(walked, EnumeratedKeys(t));
    EXPECT_EQ(keys->Remaining(), 0);
    EXPECT_EQ(MessageOf<EGHashtableError>([&] { keys->Next(); }), "No such element");
}

TEST(HashtableTest, InsertingIntoTheCursorBucketDropsTheCursor) {
    TGHashtable t(101, 0.75f);
    t.Put(1, P(1));
    t.Put(5, P(5));
    ASSERT_EQ(t.KeyAt(1), 5); // the cursor now lies in bucket 5
    t.Put(106, P(106));       // new head of bucket 5: index 1 is now 106
    EXPECT_EQ(t.KeyAt(1), 106);
    EXPECT_EQ(t.KeyAt(2), 5);
}

TEST(HashtableTest, RemovingWhileWalkingBackwards) {
    TGHashtable t(7, 0.75f);
    for (int32_t k = 1; k <= 5; ++k)
        t.Put(k * 7 + k % 3, P(k));
    std::vector<int32_t> expected = IndexedKeys(t);
    std::vector<int32_t> removed;
    for (int32_t i = t.Count() - 1; i >= 0; --i) {
        int32_t key = t.KeyAt(i);
        removed.push_back(key);
        t.Remove(key);
        if (i > 0) {
            EXPECT_EQ(t.KeyAt(i - 1), expected[static_cast<size_t>(i - 1)]);
        }
    }
    EXPECT_EQ(removed, std::vector<int32_t>(expected.rbegin(), expected.rend()));
    EXPECT_TRUE(t.IsEmpty());
}

TEST(HashtableTest, HashTypeOnlyChangesWhenEmpty) {
    TGHashtable t(101, 0.75f);
    t.SetHashType(htFolding);
    t.Put(123456789, P(1));
    EXPECT_EQ(t.EntryAt(0).Bucket(), 46u);
    EXPECT_EQ(MessageOf<EGHashtableError>([&] { t.SetHashType(htDivision); }),
              "Cannot perform this operation with non-empty table");
    t.SetHashType(htFolding); // the same method is fine
    t.Clear();
    t.SetHashType(htDivision);
    EXPECT_EQ(t.HashType(), htDivision);
}

TEST(HashtableTest, CapacityZeroReleasesEntriesAndLaterPutsWork) {
    TGStringHashtable t(11, 0.75f);
    t.Put("alpha", P(1));
    t.Put("beta", P(2));
    t.SetCapacity(0); // frees the entries (the leak checker would catch a lost one)
    EXPECT_EQ(t.Count(), 0);
    EXPECT_EQ(t.Capacity(), 0u);
    EXPECT_FALSE(t.ContainsKey("alpha"));
    EXPECT_EQ(t.Put("gamma", P(3)), nullptr);
    EXPECT_EQ(t.Capacity(), 1u);
    EXPECT_EQ(t.Get("gamma"), P(3));
}

TEST(HashtableTest, ZeroLoadFactorDoesNotGrowForever) {
    TGHashtable t(3, 0.0f);
    for (int32_t k = 1; k <= 10; ++k)
        t.Put(k, P(k));
    EXPECT_EQ(t.Count(), 10);
    EXPECT_EQ(t.Capacity(), 3u);
    EXPECT_EQ(t.Get(10), P(10));
}

TEST(StringHashtableTest, LookupsAndMessages) {
    TGStringHashtable t(101, 0.75f);
    EXPECT_EQ(t.Put("one", P(1)), nullptr);
    EXPECT_EQ(t.Put("two", P(2)), nullptr);
    EXPECT_EQ(t.Put("one", P(11)), P(1));
    EXPECT_EQ(t.Count(), 2);
    void* v = nullptr;
    EXPECT_TRUE(t.Find("one", v));
    EXPECT_EQ(v, P(11));
    EXPECT_FALSE(t.Find("ONE", v)); // keys are case-sensitive
    EXPECT_FALSE(t.ContainsKey(""));
    EXPECT_EQ(MessageOf<EGHashtableError>([&] { t.Put("", P(1)); }), "Argument is null");
    EXPECT_EQ(MessageOf<EGHashtableError>([&] { t.Get("three"); }), "No such element");
    EXPECT_TRUE(t.ContainsValue(P(2)));
    EXPECT_EQ(t.Remove("two"), P(2));
    EXPECT_FALSE(t.ContainsValue(P(2)));
    // A non-empty text whose hash is 0 is a key like any other, not a null key.
    const std::string zeroHash(1, '\0');
    ASSERT_EQ(TGCustomStringHashtable::HashText(zeroHash), 0u);
    EXPECT_EQ(t.Put(zeroHash, P(7)), nullptr);
    EXPECT_EQ(t.Get(zeroHash), P(7));
    EXPECT_EQ(t.Remove(zeroHash), P(7));
    // The key's bucket is the text hash under the integer method.
    EXPECT_EQ(t.EntryAt(0).Bucket(), TGCustomStringHashtable::HashText("one") % 101);
}

TEST(StringHashtableTest, KeysAndElementsEnumerators) {
    TGStringHashtable t(5, 0.75f);
    for (const char* k : {"a", "b", "c", "f"})
        t.Put(k, P(k[0]));
    std::vector<std::string> order;
    for (const TGStringHashtableEntry& e : t)
        order.push_back(e.Key());
    // "a" (97) and "f" (102) share bucket 2; buckets run from the last, newest first.
    EXPECT_EQ(order, (std::vector<std::string>{"c", "b", "f", "a"}));

    TRefPtr<IStringIterator> keys = t.Keys();
    std::vector<std::string> walked;
    while (keys->HasNext())
        walked.push_back(keys->NextString());
    EXPECT_EQ(walked, order);
    keys->Reset();
    EXPECT_EQ(keys->NextString(), "c");

    TRefPtr<IIterator> values = t.Elements();
    EXPECT_EQ(values->Next(), P('c'));
    auto* asStrings = dynamic_cast<IStringIterator*>(values.get());
    ASSERT_NE(asStrings, nullptr);
    EXPECT_EQ(MessageOf<EGHashtableError>([&] { asStrings->NextString(); }),
              "Illegal NextElement Call, must be iterating over the keys");
}

TEST(StringHashtableTest, AssignCopiesShapeAndEntries) {
    TGStringHashtable source(7, 0.5f);
    for (const char* k : {"x", "y", "z", "w"})
        source.Put(k, P(k[0]));
    TGStringHashtable target(101, 0.75f);
    target.Put("old", P(1));
    target.Assign(source);
    EXPECT_EQ(target.Capacity(), source.Capacity());
    EXPECT_EQ(target.LoadFactor(), 0.5f);
    EXPECT_EQ(target.Count(), 4);
    EXPECT_FALSE(target.ContainsKey("old"));
    for (const char* k : {"x", "y", "z", "w"})
        EXPECT_EQ(target.Get(k), P(k[0]));
    target.Assign(target);
    EXPECT_EQ(target.Count(), 4);

    TGStringList list;
    target.AssignTo(list);
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Get(0), target.begin()->Key());
    TGStringHashtable back(11, 0.75f);
    back.Assign(list);
    EXPECT_EQ(back.Count(), 4);

    TGCustomLinkedList keys;
    target.AssignTo(keys);
    EXPECT_EQ(*static_cast<std::string*>(keys.Head()->Item()), target.begin()->Key());
}

class TRecordingTableOwner : public IHashTableOwner {
public:
    std::vector<std::string> Calls;
    void HashTableChanged(TGCustomHashtable&) override { Calls.push_back("changed"); }
    void BeforePut(TGCustomHashtable&, const TGHashKey& key, const void*) override {
        Calls.push_back("put " + std::string(key.Text));
    }
    void BeforeRemove(TGCustomHashtable&, const TGHashKey& key) override {
        Calls.push_back("remove " + std::string(key.Text));
    }
    void BeforeClear(TGCustomHashtable&) override { Calls.push_back("clear"); }
};

TEST(StringHashtableTest, OwnerAndChangeEvents) {
    TGStringHashtable t(11, 0.75f);
    TRecordingTableOwner owner;
    t.SetOwner(&owner);
    int changes = 0;
    t.OnChange = [&](TGCustomHashtable&) { ++changes; };
    t.Put("a", P(1));
    t.Remove("a");
    t.Clear(); // empty: nothing
    EXPECT_EQ(owner.Calls, (std::vector<std::string>{"put a", "changed", "remove a", "changed"}));
    EXPECT_EQ(changes, 2);
    owner.Calls.clear();
    t.BeginUpdate();
    t.Put("b", P(1));
    t.Put("c", P(1));
    t.Clear();
    t.EndUpdate();
    EXPECT_EQ(owner.Calls, (std::vector<std::string>{"put b", "put c", "clear", "changed"}));
    EXPECT_EQ(changes, 3);
}

class TCounted : public virtual TRefCounted {
public:
    explicit TCounted(int& alive) : FAlive(alive) { ++FAlive; }
    ~TCounted() override { --FAlive; }

private:
    int& FAlive;
};

TEST(IStringHashTableTest, RetainsAndReleasesInterfaces) {
    int alive = 0;
    {
        TIStringHashTable t(11, 0.75f);
        t.Add("a", MakeRef<TCounted>(alive));
        t.Add("b", MakeRef<TCounted>(alive));
        EXPECT_EQ(alive, 2);
        TRefPtr<IInterface> old;
        t.Put("a", MakeRef<TCounted>(alive), old);
        EXPECT_NE(old, nullptr);
        old = nullptr;
        EXPECT_EQ(alive, 2);
        TRefPtr<IInterface> removed = t.Remove("b");
        EXPECT_EQ(alive, 2);
        removed = nullptr;
        EXPECT_EQ(alive, 1);
        EXPECT_EQ(MessageOf<EGHashtableError>([&] { t.Get("zz"); }), "No such element: zz");
        EXPECT_EQ(MessageOf<EGHashtableError>([&] { t.Remove("zz"); }), "No such element: zz");
        EXPECT_NE(t.FindAs<TCounted>("a"), nullptr);
        EXPECT_EQ(t.FindPtr("zz"), nullptr);
    }
    EXPECT_EQ(alive, 0);
}

TEST(IStringHashTableTest, AssignFromATableWithAnotherHashTypeIntoANonEmptyTable) {
    int alive = 0;
    TIStringHashTable source(13, 0.75f);
    source.SetHashType(htMidSquare);
    source.Add("k1", MakeRef<TCounted>(alive));
    source.Add("k2", MakeRef<TCounted>(alive));
    TIStringHashTable target(101, 0.75f);
    target.Add("old", MakeRef<TCounted>(alive));
    target.Assign(source);
    EXPECT_EQ(target.HashType(), htMidSquare);
    EXPECT_EQ(target.Count(), 2);
    EXPECT_EQ(target.Get("k1"), source.Get("k1"));
    EXPECT_FALSE(target.ContainsKey("old"));
    EXPECT_EQ(alive, 2);
}

TEST(IStringHashTableTest, Enumerator) {
    int alive = 0;
    TIStringHashTable t(5, 0.75f);
    t.Add("a", MakeRef<TCounted>(alive));
    t.Add("f", MakeRef<TCounted>(alive)); // same bucket as "a"
    TRefPtr<TIStringHashtableEnumerator> e = t.Keys();
    EXPECT_EQ(MessageOf<EGHashtableError>([&] { e->CurrentString(); }), "No such element");
    EXPECT_EQ(e->NextString(), "f");
    EXPECT_EQ(e->CurrentInterface(), t.Get("f"));
    EXPECT_EQ(e->NextInterface(), t.Get("a"));
    EXPECT_FALSE(e->HasNext());
    EXPECT_EQ(MessageOf<EGHashtableError>([&] { e->NextString(); }), "No such element");
}

} // namespace
} // namespace ie
