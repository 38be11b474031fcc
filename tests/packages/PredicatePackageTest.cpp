#include <gtest/gtest.h>

#include "FunctionPackagesScript.h"
#include "platform/ClassRegistry.h"
#include "platform/StoredProperties.h"
#include "platform/Streams.h"

using namespace ie;
using ie::test::FunctionPackagesTest;

using PredicatePackageTest = FunctionPackagesTest;

TEST_F(PredicatePackageTest, TypePredicatesLookAtTheValuesOwnKind) {
    EXPECT_EQ(Truth("(numberp 3)"), "atom:TRUE");
    EXPECT_EQ(Truth("(numberp 3.5)"), "atom:TRUE");
    EXPECT_EQ(Truth("(numberp \"3\")"), "atom:FALSE");
    EXPECT_EQ(Truth("(lexemep a)"), "atom:TRUE");
    EXPECT_EQ(Truth("(lexemep \"a\")"), "atom:TRUE");
    EXPECT_EQ(Truth("(lexemep 1)"), "atom:FALSE");
    EXPECT_EQ(Truth("(integerp 1.0)"), "atom:FALSE");
    EXPECT_EQ(Truth("(floatp 1)"), "atom:FALSE");
    EXPECT_EQ(Truth("(floatp 1.0)"), "atom:TRUE");
    EXPECT_EQ(Truth("(stringp \"a\")"), "atom:TRUE");
    EXPECT_EQ(Truth("(symbolp \"a\")"), "atom:FALSE");
    EXPECT_EQ(Truth("(symbolp a)"), "atom:TRUE");
    EXPECT_EQ(Truth("(multifieldp (create$ 1 2))"), "atom:TRUE");
    EXPECT_EQ(Truth("(multifieldp a)"), "atom:FALSE");
    EXPECT_EQ(Truth("(fuzzyp 1.0)"), "atom:FALSE");
    EXPECT_EQ(Truth("(objectp a)"), "atom:FALSE");
    EXPECT_EQ(Truth("(external-addressp 1)"), "atom:FALSE");
}

TEST_F(PredicatePackageTest, ParityReadsTheArgumentAsAnInteger) {
    EXPECT_EQ(Truth("(evenp 0)"), "atom:TRUE");
    EXPECT_EQ(Truth("(evenp -4)"), "atom:TRUE");
    EXPECT_EQ(Truth("(evenp 3)"), "atom:FALSE");
    EXPECT_EQ(Truth("(oddp -3)"), "atom:TRUE");
    EXPECT_EQ(Truth("(oddp 2)"), "atom:FALSE");
    EXPECT_EQ(Truth("(evenp 2.9)"), "atom:TRUE"); // 2.9 truncates to 2
    EXPECT_EQ(Error("(evenp abc)"), "Not a integer type.  Value (abc) is a dtAtom type");
}

TEST_F(PredicatePackageTest, GetTypeNamesTheKindAsAnAtom) {
    EXPECT_EQ(Lexeme("(get-type 1)"), "atom:dtInteger");
    EXPECT_EQ(Lexeme("(get-type 1.5)"), "atom:dtFloat");
    EXPECT_EQ(Lexeme("(get-type \"s\")"), "atom:dtString");
    EXPECT_EQ(Lexeme("(get-type s)"), "atom:dtAtom");
    EXPECT_EQ(Lexeme("(get-type (create$ 1 2))"), "atom:dtList");
}

TEST_F(PredicatePackageTest, CountsAreCheckedBeforeTheBody) {
    EXPECT_EQ(Error("(numberp)"), "Too few arguments for numberp");
    EXPECT_EQ(Error("(numberp 1 2)"), "Too many arguments for numberp");
    EXPECT_EQ(Error("(evenp 1 2)"), "Too many arguments for evenp");
}

TEST_F(PredicatePackageTest, TypePredicateCommentsNameTheirKinds) {
    auto numberp = Engine.FindUserFunction("numberp");
    EXPECT_EQ(numberp->GetComment(),
              "Returns TRUE if the argument is of the following type(s): Integer, Float.  If the "
              "argument is any other type, FALSE is returned");
    EXPECT_EQ(numberp->GetArgumentString(), " <expression>");
    EXPECT_EQ(Engine.FindUserFunction("get-type")->GetArgumentString(), " <expression> ");
    EXPECT_EQ(Engine.FindUserFunction("evenp")->GetComment(),
              "Returns TRUE if the argument is an even integer, FALSE otherwise");

    auto none = TVerifyTypePFunction::CreateWithTypes("nonep", TIETypes{});
    EXPECT_EQ(none->GetComment(),
              "Returns TRUE if the argument is of the following type(s): NONE.  If the argument "
              "is any other type, FALSE is returned");
    EXPECT_EQ(none->GetMinArgumentCount(), 1);
    EXPECT_EQ(none->GetMaxArgumentCount(), 1);
}

TEST_F(PredicatePackageTest, HelpFormatShapesEveryComment) {
    const std::string saved = HelpFormat();
    HelpFormat() = "%s [%s]";
    TPredicatePackage* package = NewPackage<TPredicatePackage>(nullptr);
    EXPECT_EQ(package->Functions().Find("evenp")->GetComment(),
              "Returns TRUE if the argument is an even integer, FALSE otherwise [evenp]");
    EXPECT_EQ(package->Functions().Find("symbolp")->GetComment(),
              "Returns TRUE if the argument is of the following type(s): Atom.  If the argument "
              "is any other type, FALSE is returned [symbolp]");
    HelpFormat() = saved;
    package->Free();
}

TEST_F(PredicatePackageTest, TypesTravelWithAssignAndStoredData) {
    auto original = TVerifyTypePFunction::CreateWithTypes("textp", TIETypes{dtAtom, dtString});

    const TClassInfo* cls = GetClass("TVerifyTypePFunction");
    ASSERT_TRUE(cls);
    TRefPtr<TVerifyTypePFunction> copy(dynamic_cast<TVerifyTypePFunction*>(cls->Create()));
    ASSERT_TRUE(copy);
    copy->Assign(original.get());
    EXPECT_EQ(copy->GetFunctionName(), "textp");
    EXPECT_EQ(copy->Types(), (TIETypes{dtAtom, dtString}));
    EXPECT_EQ(copy->GetComment(), original->GetComment());

    TMemoryStream stream;
    {
        TWriter writer(stream);
        original->SaveToWriter(writer);
    }
    stream.Seek(0, soFromBeginning);
    auto loaded = MakeRef<TVerifyTypePFunction>();
    {
        TReader reader(stream);
        loaded->LoadFromReader(reader);
    }
    EXPECT_EQ(loaded->GetFunctionName(), "textp");
    EXPECT_EQ(loaded->Types().Bits(), 6u);
    EXPECT_EQ(loaded->GetComment(), original->GetComment());
}

TEST_F(PredicatePackageTest, RegistersItsFunctionsInOrder) {
    const char* names[] = {
        "evenp",    "oddp",    "get-type", "lexemep",     "numberp",           "floatp", "fuzzyp",
        "integerp", "stringp", "symbolp",  "multifieldp", "external-addressp", "objectp"};
    const uint64_t bits[] = {6, 72, 64, 32768, 8, 4, 2, 512, 8192, 2048};
    ASSERT_EQ(Predicate->Functions().Count(), 13);
    for (int i = 0; i < 13; ++i) {
        const auto& f = Predicate->Functions().Item(i);
        EXPECT_EQ(f->GetFunctionName(), names[i]);
        EXPECT_TRUE(Engine.FindUserFunction(names[i])) << names[i];
        if (i >= 3) {
            auto* p = dynamic_cast<TVerifyTypePFunction*>(f.get());
            ASSERT_TRUE(p) << names[i];
            EXPECT_EQ(p->Types().Bits(), bits[i - 3]) << names[i];
        }
    }
}
