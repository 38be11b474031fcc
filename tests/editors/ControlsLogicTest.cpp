// The filtering edit's character filter and the list box's horizontal range.
#include <gtest/gtest.h>

#include "editors/logic/ConsoleEditor.h"
#include "editors/logic/EditFilter.h"
#include "editors/logic/FileFilter.h"
#include "editors/logic/ListExtent.h"
#include "tests/support/TestSupport.h"

#include <filesystem>
#include <fstream>

namespace ie {
namespace {

TEST(EditFilter, RefusedCharactersAreDroppedWithABeepEach) {
    TEditFilter f;
    int beeps = 0;
    f.OnBeep = [&] { ++beeps; };
    f.SetFilterChars(" ");
    EXPECT_EQ(f.Refilter("a b c"), "a b c") << "inactive while efNone";
    f.SetFiltering(efBeep);
    EXPECT_EQ(f.FilterChar(' '), '\0');
    EXPECT_EQ(f.FilterChar('x'), 'x');
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(f.Refilter("pasted text with blanks"), "pastedtextwithblanks");
    EXPECT_EQ(beeps, 4);
}

TEST(EditFilter, ExceptionModeRaisesTheEditError) {
    TEditFilter f;
    f.SetFilterChars(std::string(NameFilterChars));
    f.SetFiltering(efException);
    try {
        f.FilterChar('(');
        FAIL() << "no error";
    } catch (const EEditError& e) {
        EXPECT_STREQ(e.what(), "Invalid input value.  Use escape key to abandon changes");
    }
    EXPECT_EQ(f.FilterChar('a'), 'a');
}

TEST(EditFilter, SilentModeAndNameCharacters) {
    TEditFilter f;
    f.SetFilterChars(std::string(NameFilterChars));
    f.SetFiltering(efSilent);
    EXPECT_EQ(f.Refilter("my rule(\"x\")?;<>$&#[]:'"), "myrulex");
}

// Widths of one pixel per character make the extents easy to follow.
TEST(ListExtent, DeletingTheOnlyWidestLineShrinksToTheNextWidest) {
    TListExtent x([](const std::string& s) { return static_cast<int32_t>(s.size()); });
    std::vector<std::string> lines{"aaaa", "aaaaaaaaaa", "aaaaaa"};
    for (const auto& l : lines)
        x.Added(l);
    EXPECT_EQ(x.Widest(), 60);
    EXPECT_EQ(x.WidestCount(), 1);
    EXPECT_TRUE(x.Deleting(lines, 1));
    lines.erase(lines.begin() + 1);
    EXPECT_EQ(x.Widest(), 56);
    EXPECT_FALSE(x.Deleting(lines, 7)) << "an index out of range measures 0";
    EXPECT_EQ(x.Widest(), 56);
}

TEST(ListExtent, EqualWidestLinesAreCountedAndTheBarFollowsTheWidth) {
    TListExtent x([](const std::string& s) { return static_cast<int32_t>(s.size()); });
    std::vector<std::string> lines{"abc", "xyz"};
    x.Added(lines[0]);
    x.Added(lines[1]);
    EXPECT_EQ(x.WidestCount(), 2);
    EXPECT_FALSE(x.Deleting(lines, 0)) << "another line still has the widest extent";
    EXPECT_EQ(x.Widest(), 53);
    EXPECT_TRUE(x.BarVisible(true, 52));
    EXPECT_FALSE(x.BarVisible(true, 53));
    EXPECT_FALSE(x.BarVisible(false, 10));
    x.Cleared();
    EXPECT_EQ(x.Widest(), 0);
}

// A list emptied line by line must not measure the remaining lines again and again; a counter
// of measurements shows it.
TEST(ListExtent, DeletingMeasuresOnlyTheGoingLine) {
    int measured = 0;
    TListExtent x([&](const std::string& s) {
        ++measured;
        return static_cast<int32_t>(s.size());
    });
    std::vector<std::string> lines;
    for (int i = 0; i < 2000; ++i)
        lines.push_back(std::string(static_cast<size_t>(2000 - i), 'a'));
    for (const auto& l : lines)
        x.Added(l);
    measured = 0;
    // Widest first: every deletion removes the widest line.
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(x.Deleted(lines[i]));
        const int32_t next =
            i + 1 < lines.size() ? static_cast<int32_t>(lines[i + 1].size()) + 50 : 0;
        ASSERT_EQ(x.Widest(), next);
    }
    EXPECT_EQ(measured, 2000) << "one measurement per deleted line";
    EXPECT_EQ(x.WidestCount(), 0);
}

TEST(FileFilter, PairsBecomeTheDialogsEntriesWithEveryPattern) {
    EXPECT_EQ(DialogNameFilters(ConsoleFileFilter),
              (std::vector<std::string>{"Inference Engine and CLIPS Files (*.ie *.clp)",
                                        "Inference Engine Files (*.ie)", "CLIPS Files (*.clp)",
                                        "All Files (*)"}));
    // No two entries of one name.
    const std::vector<std::string> console = DialogNameFilters(ConsoleFileFilter);
    for (size_t i = 0; i < console.size(); ++i)
        for (size_t j = i + 1; j < console.size(); ++j)
            EXPECT_NE(console[i].substr(0, console[i].find(" (")),
                      console[j].substr(0, console[j].find(" (")));
    const std::vector<std::string> facts = DialogNameFilters(FactsFileFilter);
    ASSERT_EQ(facts.size(), 5u) << "the last entry keeps its pattern";
    EXPECT_EQ(facts.front(), "Inference Engine Facts File (*.ief)");
    EXPECT_EQ(facts.back(), "Any File (*)");
    EXPECT_EQ(DialogFilterText("A|*.a; *.b|B (*.x)|*.y|Broken"), "A (*.a *.b);;B (*.y)")
        << "a name's own parentheses give way to its patterns; a name alone is dropped";
    EXPECT_EQ(DialogNameFilters(RulesFileFilter).front(), "Inference Engine Rules File (*.ier)");
    EXPECT_EQ(DialogNameFilters(TypesFileFilter).front(),
              "Inference Engine Defined Types File (*.ied)");
    EXPECT_EQ(DialogNameFilters(FactTemplatesSaveFilter).front(),
              "Inference Engine Fact Template File (*.iet)");
}

TEST(FileFilter, DefaultSuffixDropsTheWildcardAndTheDot) {
    EXPECT_EQ(DefaultSuffix("*.ie"), "ie");
    EXPECT_EQ(DefaultSuffix(".clp"), "clp");
    EXPECT_EQ(DefaultSuffix("ief"), "ief");
    EXPECT_EQ(DefaultSuffix(""), "");
}

// An open dialog with the default suffix "ie" appends it to "expert system", which does not
// exist: the file as typed, which does, is the one meant. A name with the suffix that exists,
// and a name that exists in neither form, stay as they are.
TEST(FileFilter, AFileWithoutAnExtensionOpensByItsName) {
    const std::filesystem::path dir = test::UniqueTempPath("open-dialog");
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "expert system") << "; rules";
    std::ofstream(dir / "other.ie") << "; rules";
    const std::string plain = (dir / "expert system").string();
    EXPECT_EQ(ExistingFileName(plain + ".ie", "ie"), plain);
    EXPECT_EQ(ExistingFileName((dir / "other.ie").string(), "ie"), (dir / "other.ie").string());
    EXPECT_EQ(ExistingFileName((dir / "missing.ie").string(), "ie"), (dir / "missing.ie").string());
    EXPECT_EQ(ExistingFileName(plain + ".ie", ""), plain + ".ie");
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace ie
