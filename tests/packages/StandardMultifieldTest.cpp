#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ScriptEngine.h"
#include "engine/model/IEValue.h"
#include "packages/StandardPackage.h"

using namespace ie;
using ie::test::TScriptEngine;

TEST(StandardMultifield, CreateNestsListArguments) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(create$ a (create$ b c))"), "(a (b c))");
    EXPECT_EQ(e.Text("(length$ (create$ a (create$ b c)))"), "2");
    EXPECT_EQ(e.Text("(create$)"), "()");
}

TEST(StandardMultifield, DeleteAndTheRangeError) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(delete$ (create$ a b c) 1 1)"), "(a c)");
    EXPECT_EQ(e.Text("(delete$ (create$ a b c) 5 9)"), "(a b c)");
    EXPECT_EQ(e.Error("(delete$ (create$ a b c) 2 1)"),
              "Invalid multifield begin and end parameters: 2, 1");
    EXPECT_EQ(e.Error("(delete$ a 0 1)"), "Not a list type.  Value (a) is a dtAtom type");
    EXPECT_EQ(e.Error("(delete$ (create$ a) x 1)"),
              "Not a integer type.  Value (x) is a dtAtom type");
}

TEST(StandardMultifield, ExplodeMakesAtomsOnly) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(explode$ \"  a  12 b \")"), "(a 12 b)");
    EXPECT_EQ(e.Eval("(nth$ 1 (explode$ \"a 12\"))")->GetDType(), dtAtom);
    EXPECT_EQ(e.Text("(length$ (explode$ \"   \"))"), "0");
    EXPECT_EQ(e.Text("(length$ (explode$ \"\"))"), "0");
}

TEST(StandardMultifield, FirstImplodeLength) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(first$ (create$))"), "");
    EXPECT_EQ(e.Text("(first$ (create$ x y))"), "x");
    const TRefPtr<IIEValue> s = e.Eval("(implode$ (create$ a \"x y\" 3))");
    EXPECT_EQ(s->GetDType(), dtString);
    EXPECT_EQ(s->AsString(), "a x y 3");
    EXPECT_EQ(e.Eval("(implode$ (create$))")->AsString(), "");
    EXPECT_EQ(e.Error("(length$ 5)"), "Not a list type.  Value (5) is a dtInteger type");
}

TEST(StandardMultifield, InsertPutsEveryValueAtTheSameIndex) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(insert$ (create$ a b) 1 x y)"), "(a y x b)");
    EXPECT_EQ(e.Text("(insert$ (create$ a b) 2 z)"), "(a b z)");
    EXPECT_EQ(e.Error("(insert$ (create$ a b) 3 z)"), "List index out of bounds (3)");
}

TEST(StandardMultifield, MemberAndMemberMF) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(member b a b c)"), "1");
    EXPECT_EQ(e.Text("(member d a b c)"), "FALSE");
    EXPECT_EQ(e.Text("(member$ b (create$ a b c))"), "1");
    EXPECT_EQ(e.Text("(member$ d (create$ a b c))"), "FALSE");
    EXPECT_EQ(e.Text("(member$ 1 (create$ 1.0 1))"), "1");
}

TEST(StandardMultifield, NthAndItsIndexError) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(nth$ 0 (create$ a b))"), "a");
    EXPECT_EQ(e.Error("(nth$ 2 (create$ a b))"), "List index out of bounds (2)");
    EXPECT_EQ(e.Error("(nth$ 0 (create$))"), "List index out of bounds (0)");
}

TEST(StandardMultifield, ReplaceInsertsInReverse) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(replace$ (create$ a b c) 1 1 x y)"), "(a y x c)");
    EXPECT_EQ(e.Text("(replace$ (create$ a b c) 0 2)"), "()");
    EXPECT_EQ(e.Error("(replace$ (create$ a b c) 1 0 x)"),
              "Invalid multifield begin and end parameters: 1, 0");
}

TEST(StandardMultifield, RestAndSubseq) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(rest$ (create$ a b c))"), "(b c)");
    EXPECT_EQ(e.Error("(rest$ (create$))"), "List index out of bounds (0)");
    EXPECT_EQ(e.Text("(subseq$ (create$ a b c d) 1 2)"), "(b c)");
    EXPECT_EQ(e.Error("(subseq$ (create$ a b) 1 2)"), "List index out of bounds (2)");
    EXPECT_EQ(e.Error("(subseq$ (create$ a b) 1 0)"),
              "Invalid multifield begin and end parameters: 1, 0");
}

TEST(StandardMultifield, Subsetp) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(subsetp (create$ b c) (create$ a b c))"), "TRUE");
    EXPECT_EQ(e.Text("(subsetp (create$ c b) (create$ a b c))"), "FALSE");
    EXPECT_EQ(e.Text("(subsetp (create$ c d) (create$ a b c))"), "FALSE");
    EXPECT_EQ(e.Text("(subsetp b (create$ a b c))"), "TRUE");
    EXPECT_EQ(e.Text("(subsetp b (create$))"), "FALSE");
    // The empty list lies inside every list.
    EXPECT_EQ(e.Text("(subsetp (create$) (create$ a))"), "TRUE");
    EXPECT_EQ(e.Text("(subsetp (create$) (create$))"), "TRUE");
}

// Mended: every function that returns an edited multifield builds a new list; the list of the
// argument (here a variable's value) stays exactly as it was.
TEST(StandardMultifield, EditedListsNeverChangeTheArgument) {
    TScriptEngine e;
    e.Eval("(bind ?l (create$ a b c))");
    const TRefPtr<IIEValue> before = e.Eval("?l");
    const TRefPtr<IValueVector> list = before->AsList();
    const std::string shown = TScriptEngine::Show(before.get());
    e.Eval("(insert$ ?l 0 x) (rest$ ?l) (delete$ ?l 0 1) (replace$ ?l 0 0 y) (subseq$ ?l 0 1)");
    EXPECT_EQ(TScriptEngine::Show(e.Eval("?l").get()), shown);
    EXPECT_EQ(e.Eval("?l")->AsList().get(), list.get());
    EXPECT_EQ(list->Count(), 3);
    // A returned list shares no element object with its source.
    const TRefPtr<IIEValue> rest = e.Eval("(rest$ ?l)");
    EXPECT_NE(rest->AsList()->GetItem(0).get(), list->GetItem(1).get());
}

TEST(StandardMultifield, EditingTheEmptyListConstantIsSafe) {
    TScriptEngine e;
    e.Root.AddBinding("empty", IEEmptyList());
    EXPECT_EQ(e.Text("(insert$ ?empty 0 a)"), "(a)");
    EXPECT_EQ(e.Text("(replace$ ?empty 0 0 a)"), "(a)");
    EXPECT_EQ(IEEmptyList()->AsList()->Count(), 0);
}

// Files: remove and rename work on files only and never overwrite.
class StandardFiles : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = std::filesystem::temp_directory_path() /
              ("ie_std_files_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(Dir);
        std::filesystem::create_directories(Dir);
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }
    std::string PathOf(const std::string& name) const { return (Dir / name).string(); }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(PathOf(name), std::ios::binary) << text;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(PathOf(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::filesystem::path Dir;
    TScriptEngine E;
};

TEST_F(StandardFiles, RemoveDeletesFilesOnly) {
    Write("a.txt", "x");
    EXPECT_EQ(E.Text("(remove \"" + PathOf("a.txt") + "\")"), "TRUE");
    EXPECT_FALSE(std::filesystem::exists(PathOf("a.txt")));
    EXPECT_EQ(E.Text("(remove \"" + PathOf("a.txt") + "\")"), "FALSE");
    EXPECT_EQ(E.Text("(remove \"" + Dir.string() + "\")"), "FALSE");
    EXPECT_TRUE(std::filesystem::exists(Dir));
}

// Mended: renaming onto an existing file fails and leaves both files as they were.
TEST_F(StandardFiles, RenameNeverOverwrites) {
    Write("old.txt", "old");
    Write("new.txt", "new");
    EXPECT_EQ(E.Text("(rename \"" + PathOf("old.txt") + "\" \"" + PathOf("new.txt") + "\")"),
              "FALSE");
    EXPECT_EQ(Read("old.txt"), "old");
    EXPECT_EQ(Read("new.txt"), "new");
    EXPECT_EQ(E.Text("(rename \"" + PathOf("old.txt") + "\" \"" + PathOf("moved.txt") + "\")"),
              "TRUE");
    EXPECT_EQ(Read("moved.txt"), "old");
    EXPECT_FALSE(std::filesystem::exists(PathOf("old.txt")));
    EXPECT_EQ(E.Text("(rename \"" + PathOf("missing") + "\" \"" + PathOf("x") + "\")"), "FALSE");
}
