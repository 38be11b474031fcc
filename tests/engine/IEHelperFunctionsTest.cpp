#include <gtest/gtest.h>

#include <any>
#include <functional>
#include <string>
#include <vector>

#include "engine/model/IEFuzzyLogic.h"
#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEValue.h"
#include "platform/PropertyInfo.h"
#include "tests/support/IETestValues.h"

using namespace ie;
using namespace ie::test;

namespace {

TRefPtr<TValueVector> Args(std::initializer_list<TRefPtr<IIEValue>> items) {
    auto v = TValueVector::Create();
    for (const auto& i : items)
        v->Add(i);
    return v;
}

} // namespace

TEST(IEHelperFunctions, HashString) {
    EXPECT_EQ(HashString(""), 0);
    EXPECT_EQ(HashString("abc"), 96354);
    // 16 characters and more: every (length div 8)-th character from the first.
    const std::string text = "abcdefghijklmnopqr"; // 18 characters: step 2
    uint32_t h = 0;
    for (size_t i = 0; i < text.size(); i += 2)
        h = h * 31 + static_cast<unsigned char>(text[i]);
    EXPECT_EQ(HashString(text), static_cast<int32_t>(h));
    EXPECT_EQ(HashStringStep("abc", 0), 96354);
    EXPECT_EQ(HashStringStep("abc", 2), 97 * 31 + 99);
}

TEST(IEHelperFunctions, FormatConversionsAndLineEnds) {
    EXPECT_EQ(IEFormat("x=%d%ny=%s", *Args({Int(3), Str("a")})), "x=3\r\ny=\"a\"");
    EXPECT_EQ(IEFormat("", *Args({Int(5), Atom("b")})), " 5 b");
    EXPECT_EQ(IEFormat("%5.2f|%-4d|%x", *Args({TIEValue::CreateFloat(3.14159), Int(7), Int(255)})),
              " 3.14|7   |FF");
    // Leftover arguments: strings bare, fact identifiers as numbers, lists in parentheses.
    auto list = TValueVector::Create();
    list->Add(Atom("p"));
    EXPECT_EQ(IEFormat("v", *Args({Str("s"), TIEValue::CreateInteger(dtFactId, 4),
                                   TIEValue::CreateList(list)})),
              "v s 4 (p )");
    // Directives without an argument stay, but "%n" still becomes a line end.
    EXPECT_EQ(IEFormat("%d and %s%n", *Args({Int(1)})), "1 and %s\r\n");
}

TEST(IEHelperFunctions, FormatReadsTheControlTextOnce) {
    // A "%" in an argument's text is printed as it is, never read as a directive.
    EXPECT_EQ(IEFormat("%s then %d", *Args({Atom("100%d"), Int(5)})), "100%d then 5");
    EXPECT_EQ(IEFormat("%s%s", *Args({Atom("%n"), Atom("b")})), "%nb");
    // "%%" is one percent sign wherever it stands, and takes no argument.
    EXPECT_EQ(IEFormat("%d%% of %d%%", *Args({Int(5), Int(10)})), "5% of 10%");
}

TEST(IEHelperFunctions, FormatErrorsPassThrough) {
    EXPECT_THROW(IEFormat("%d", *Args({Atom("abc")})), EIEException);
}

TEST(IEHelperFunctions, SameFloat) {
    EXPECT_TRUE(SameFloat(1.0, 1.0001, 1.0e-4));
    EXPECT_FALSE(SameFloat(1.0, 1.0002, 1.0e-4));
    EXPECT_TRUE(SameExtended(2.0L, 2.00005L));
}

TEST(IEHelperFunctions, SetTextsAndTokens) {
    EXPECT_EQ(SetToText({dtAtom, dtVariable, dtMultiVariable}, ", "),
              "Atom, Variable, MultiVariable");
    EXPECT_EQ(SetToText({dtInteger}, ",", true), "[Integer]");
    EXPECT_EQ(TextToSet("[dtAtom, dtFloat]", IETypeNames()), TIETypes({dtAtom, dtFloat}).Bits());
    try {
        TextToSet("[dtAtom, dtBogus]", IETypeNames());
        FAIL();
    } catch (const EIEException& e) {
        EXPECT_STREQ(e.what(), "Invalid item for set: dtBogus");
    }
    std::string token;
    EXPECT_EQ(NextToken(", ", "ab, cd", token), 4u);
    EXPECT_EQ(token, "ab");
    EXPECT_EQ(NextToken(",", "abc", token), 3u);
    EXPECT_EQ(token, "abc");
}

TEST(IEHelperFunctions, SmallTextUtilities) {
    EXPECT_EQ(StripQuotes("\""), "\"");
    EXPECT_EQ(StripQuotes("\"ab\""), "ab");
    EXPECT_EQ(StripQuotes("\"ab"), "\"ab");
    EXPECT_EQ(FirstCharOf("name", IEInvalidNameChars), 0);
    EXPECT_EQ(FirstCharOf("na?me", IEInvalidNameChars), 3);
}

TEST(IEHelperFunctions, FunctionSyntaxText) {
    EXPECT_EQ(FunctionSyntaxText(" <a> <b>", 1, 2, 5), "<a>[ <b>]");
    EXPECT_EQ(FunctionSyntaxText(" <a>", 0, 2, 5), "[ <a>[ <expression>]]");
    EXPECT_EQ(FunctionSyntaxText(" <a>", 2, 1, 5), "");
    EXPECT_EQ(FunctionSyntaxText(" <a>", 0, 0, 5), "");
    EXPECT_EQ(FunctionSyntaxText(" <a> <b> <c>", 3, 3, 5), "<a> <b> <c>");
}

TEST(IEFuzzyGlue, NumbersMatchByMembershipAgainstThreshold) {
    auto var = NewIEFuzzyVariable("t");
    var->SetMaximum(10);
    auto set = var->CreateSet("warm");
    set->Add(0, 0);
    set->Add(10, 1);
    auto* ie = dynamic_cast<TIEFuzzySet*>(set.get());
    ASSERT_NE(ie, nullptr);
    EXPECT_NEAR(ie->MatchDegree(*TIEValue::CreateFloat(5.0)), 0.5, 1e-9);
    var->SetThreshold(0.5);
    EXPECT_FALSE(ie->Match(*TIEValue::CreateFloat(5.0))); // strictly above the threshold
    EXPECT_TRUE(ie->Match(*Int(6)));
    EXPECT_NEAR(ie->LastMatchDegree(), 0.6, 1e-9);
    EXPECT_FALSE(ie->Match(*Atom("x")));
    EXPECT_EQ(ie->LastMatchDegree(), 0.0);
    EXPECT_NEAR(ie->MatchDegreeOf(Int(2).get()), 0.2, 1e-9);
}

TEST(IEFuzzyGlue, SetWithoutVariableUsesThresholdZero) {
    auto set = MakeRef<TIEFuzzySet>(nullptr, "free");
    set->Add(0, 0);
    set->Add(1, 1);
    EXPECT_TRUE(set->Match(*TIEValue::CreateFloat(0.1)));
    EXPECT_FALSE(set->Match(*TIEValue::CreateFloat(0.0)));
}

namespace {

using TNotify = std::function<int()>;
using TOther = std::function<std::string()>;

// Two classes that publish some events alike: both have OnChange and OnClick of the same type,
// only the first has OnOwn, OnMismatch is a TNotify on one and a TOther on the other, and Count
// is a setting, never exchanged.
struct TEventHost : public TObject {
    std::string_view ClassName() const override { return "TEventHost"; }
    TNotify OnChange, OnClick, OnOwn, OnMismatch;
    int64_t Count = 0;
};
struct TEventGuest : public TObject {
    std::string_view ClassName() const override { return "TEventGuest"; }
    TNotify OnChange, OnClick;
    TOther OnMismatch;
    int64_t Count = 0;
};

template <class T, class H> TPropertyInfo Event(std::string name, std::string type, H T::*field) {
    return {std::move(name),
            tkMethod,
            std::move(type),
            {},
            [field](const TObject& o) -> TPropertyValue {
                return std::any(static_cast<const T&>(o).*field);
            },
            [field](TObject& o, const TPropertyValue& v) {
                static_cast<T&>(o).*field = std::any_cast<H>(std::get<std::any>(v));
            }};
}

template <class T> TPropertyInfo Count() {
    return {"Count",
            tkInteger,
            "Integer",
            {},
            [](const TObject& o) -> TPropertyValue { return static_cast<const T&>(o).Count; },
            [](TObject& o, const TPropertyValue& v) {
                static_cast<T&>(o).Count = std::get<int64_t>(v);
            }};
}

void PublishEventClasses() {
    static const bool done = [] {
        TPropertyTable& host = PropertyTableOf<TEventHost>("TEventHost");
        host.Add(Event("OnChange", "TNotify", &TEventHost::OnChange));
        host.Add(Event("OnClick", "TNotify", &TEventHost::OnClick));
        host.Add(Event("OnOwn", "TNotify", &TEventHost::OnOwn));
        host.Add(Event("OnMismatch", "TNotify", &TEventHost::OnMismatch));
        host.Add(Count<TEventHost>());
        TPropertyTable& guest = PropertyTableOf<TEventGuest>("TEventGuest");
        guest.Add(Event("onchange", "TNotify", &TEventGuest::OnChange));
        guest.Add(Event("OnClick", "TNotify", &TEventGuest::OnClick));
        guest.Add(Event("OnMismatch", "TOther", &TEventGuest::OnMismatch));
        guest.Add(Count<TEventGuest>());
        return true;
    }();
    (void)done;
}

} // namespace

TEST(SwapPublishedProperties, ExchangesTheEventsBothPublishAndNothingElse) {
    PublishEventClasses();
    TEventHost host;
    TEventGuest guest;
    host.OnChange = [] { return 1; };
    host.OnOwn = [] { return 3; };
    host.OnMismatch = [] { return 4; };
    host.Count = 10;
    guest.OnClick = [] { return 2; };
    guest.OnMismatch = [] { return std::string("guest"); };
    guest.Count = 20;
    SwapPublishedProperties(host, guest);
    ASSERT_TRUE(guest.OnChange) << "names match ignoring letter case";
    EXPECT_EQ(guest.OnChange(), 1);
    EXPECT_FALSE(host.OnChange);
    ASSERT_TRUE(host.OnClick);
    EXPECT_EQ(host.OnClick(), 2);
    EXPECT_FALSE(guest.OnClick);
    ASSERT_TRUE(host.OnOwn) << "an event the other does not publish stays";
    EXPECT_EQ(host.OnOwn(), 3);
    ASSERT_TRUE(host.OnMismatch) << "events of different types are not exchanged";
    EXPECT_EQ(host.OnMismatch(), 4);
    EXPECT_EQ(guest.OnMismatch(), "guest");
    EXPECT_EQ(host.Count, 10) << "settings are not events";
    EXPECT_EQ(guest.Count, 20);
    // Swapping again gives every handler back.
    SwapPublishedProperties(guest, host);
    ASSERT_TRUE(host.OnChange);
    EXPECT_EQ(host.OnChange(), 1);
    ASSERT_TRUE(guest.OnClick);
    EXPECT_EQ(guest.OnClick(), 2);
}

TEST(SwapPublishedProperties, ObjectsWithoutTypeInformationAreLeftAlone) {
    PublishEventClasses();
    struct TPlain : public TObject {
        std::string_view ClassName() const override { return "TPlain"; }
    } plain;
    TEventHost host;
    host.OnChange = [] { return 1; };
    SwapPublishedProperties(host, plain);
    SwapPublishedProperties(plain, host);
    ASSERT_TRUE(host.OnChange);
    EXPECT_EQ(host.OnChange(), 1);
}

TEST(HasVisibleMenuItems, OnlyAVisibleItemThatIsNoSeparatorCounts) {
    struct TItem {
        bool Visible;
        bool Separator;
    };
    const auto visible = [](const TItem& i) { return i.Visible; };
    const auto separator = [](const TItem& i) { return i.Separator; };
    EXPECT_FALSE(HasVisibleMenuItems(std::vector<TItem>{}, visible, separator));
    EXPECT_FALSE(HasVisibleMenuItems(std::vector<TItem>{{true, true}, {false, false}, {true, true}},
                                     visible, separator));
    EXPECT_TRUE(HasVisibleMenuItems(std::vector<TItem>{{true, true}, {false, false}, {true, false}},
                                    visible, separator));
}
