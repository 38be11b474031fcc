#include <gtest/gtest.h>

#include "FunctionPackagesScript.h"
#include "packages/StringPackage.h"
#include "platform/FloatMath.h"

using namespace ie;
using ie::test::FunctionPackagesTest;

using StringPackageTest = FunctionPackagesTest;

TEST_F(StringPackageTest, CaseConversionKeepsTheKind) {
    EXPECT_EQ(Lexeme("(lowcase ABC)"), "atom:abc");
    EXPECT_EQ(Lexeme("(upcase \"abc\")"), "string:ABC");
    EXPECT_EQ(Lexeme("(upcase \"a-b_1 z\")"), "string:A-B_1 Z");
    EXPECT_EQ(Error("(lowcase 5)"), "Value and type mismatch");
    EXPECT_EQ(Error("(upcase 2.5)"), "Value and type mismatch");
}

TEST_F(StringPackageTest, Concatenation) {
    EXPECT_EQ(Lexeme("(str-cat a 1 2.5)"), "string:a12.5000");
    EXPECT_EQ(Lexeme("(sym-cat a 1 2.5)"), "atom:a12.5000");
    EXPECT_EQ(Lexeme("(str-cat)"), "string:");
    EXPECT_EQ(Lexeme("(str-cat \"x y\" z)"), "string:x yz");
}

TEST_F(StringPackageTest, ComparisonGivesTheDifference) {
    EXPECT_EQ(Integer("(str-compare abc abd)"), -1);
    EXPECT_EQ(Integer("(str-compare abc ab)"), 1);
    EXPECT_EQ(Integer("(str-compare a a)"), 0);
    EXPECT_EQ(Integer("(str-compare b a)"), 1);
    EXPECT_EQ(Integer("(str-compare a abcd)"), -3);
    EXPECT_EQ(Integer("(str-compare A a)"), -32); // case-sensitive
}

TEST_F(StringPackageTest, IndexAndLength) {
    EXPECT_EQ(Integer("(str-index lo hello)"), 4);
    EXPECT_EQ(Lexeme("(str-index x hello)"), "atom:FALSE");
    EXPECT_EQ(Lexeme("(str-index \"\" hello)"), "atom:FALSE");
    EXPECT_EQ(Integer("(str-index l hello)"), 3);
    EXPECT_EQ(Integer("(str-length hello)"), 5);
    EXPECT_EQ(Integer("(str-length \"\")"), 0);
    EXPECT_EQ(Integer("(str-length 12.5)"), 7); // "12.5000"
    // A text of 2^31 characters has a length beyond the engine's integers: an overflow.
    EXPECT_EQ(TextCountValue(2147483647u)->AsInteger(), 2147483647);
    EXPECT_THROW(TextCountValue(2147483648u), EIntOverflow);
}

TEST_F(StringPackageTest, SubStringPositionsCountFromOne) {
    EXPECT_EQ(Lexeme("(sub-string 2 3 hello)"), "string:el");
    EXPECT_EQ(Lexeme("(sub-string 2 99 hello)"), "string:ello");
    EXPECT_EQ(Lexeme("(sub-string 3 2 hello)"), "string:");
    EXPECT_EQ(Lexeme("(sub-string 5 5 hello)"), "string:o");
    EXPECT_EQ(Error("(sub-string 0 2 hello)"), "Invalid substring parameters: 0, 2");
    EXPECT_EQ(Error("(sub-string 6 7 hello)"), "Invalid substring parameters: 6, 7");
    EXPECT_EQ(Error("(sub-string 3 1 hello)"), "Invalid substring parameters: 3, 1");
    EXPECT_EQ(Error("(sub-string 1 1 \"\")"), "Invalid substring parameters: 1, 1");
    // The count of extreme positions must not wrap into a valid one.
    EXPECT_EQ(Error("(sub-string 2 (- 0 2147483647 1) hello)"),
              "Invalid substring parameters: 2, -2147483648");
}

TEST_F(StringPackageTest, StrFormatUsesTheEnginesFormat) {
    EXPECT_EQ(Lexeme("(str-format \"%d-%s\" 3 abc)"), "string:3-abc");
    EXPECT_EQ(Error("(str-format \"x\")"), "Too few arguments for str-format");
    auto f = Engine.FindUserFunction("str-format");
    EXPECT_EQ(f->GetArgumentString(), "<string-expression> <expression>+");
    EXPECT_EQ(f->GetMinArgumentCount(), 2);
    EXPECT_EQ(f->GetMaxArgumentCount(), 2147483647);
}

TEST_F(StringPackageTest, RegistersItsFunctionsInOrder) {
    const char* names[] = {"lowcase",    "str-cat", "str-compare", "str-index", "str-length",
                           "sub-string", "sym-cat", "upcase",      "str-format"};
    ASSERT_EQ(String->Functions().Count(), 9);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(String->Functions().Item(i)->GetFunctionName(), names[i]);
        EXPECT_TRUE(Engine.FindUserFunction(names[i])) << names[i];
    }
    EXPECT_EQ(Engine.FindUserFunction("sub-string")->GetArgumentString(),
              " <start-integer-expression> <end-integer-expression> <lexeme-expression>");
    EXPECT_EQ(Engine.FindUserFunction("lowcase")->GetArgumentString(),
              " <string-or-symbol-expression>");
}
