// The filtering edit's character filter and the list box's horizontal range.
#include <gtest/gtest.h>

#include "editors/logic/EditFilter.h"
#include "editors/logic/ListExtent.h"

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

} // namespace
} // namespace ie
