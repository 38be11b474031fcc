#include "packages/MiscPackage.h"

#include <gtest/gtest.h>

#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "engine/model/IEContext.h"
#include "engine/model/IEValue.h"
#include "platform/ClassRegistry.h"
#include "platform/DateTime.h"
#include "platform/DialogService.h"
#include "tests/support/IETestValues.h"

using namespace ie;
using namespace ie::test;

namespace {

// Calls the package's functions directly, without an engine: a call binds to the package's
// function object of its name, nested calls are arguments made with Nest.
class MiscPackageTest : public ::testing::Test {
protected:
    MiscPackageTest() : Package(NewPackage<TMiscPackage>(nullptr)), Context(nullptr, nullptr) {}
    ~MiscPackageTest() override { Package->Free(); }

    TRefPtr<IUserFunction> Function(std::string_view name) {
        TRefPtr<IUserFunction> f = Package->Functions().Find(name);
        EXPECT_TRUE(f) << name;
        return f;
    }
    TRefPtr<TFunctionCall> Call(std::string_view name,
                                std::initializer_list<TRefPtr<IIEValue>> args = {}) {
        TRefPtr<TFunctionCall> call = TFunctionCall::Create(nullptr, name);
        call->SetFunction(Function(name));
        for (const auto& a : args)
            call->AddArgument(a);
        return call;
    }
    TRefPtr<IIEValue> Nest(std::string_view name,
                           std::initializer_list<TRefPtr<IIEValue>> args = {}) {
        return TIEValue::CreateFunCall(Call(name, args));
    }
    TRefPtr<IIEValue> Run(std::string_view name,
                          std::initializer_list<TRefPtr<IIEValue>> args = {}) {
        return Call(name, args)->Evaluate(&Context);
    }
    std::string ErrorOf(std::string_view name, std::initializer_list<TRefPtr<IIEValue>> args) {
        try {
            Run(name, args);
        } catch (const EException& e) {
            return e.Message();
        }
        return "no error";
    }

    TMiscPackage* Package;
    TIEContext Context;
};

// A fixed clock for the whole test.
class ScopedClock {
public:
    explicit ScopedClock(TDateTime now) {
        SetDateTimeClock([now] { return now; });
    }
    ~ScopedClock() { SetDateTimeClock(nullptr); }
};

// Answers dialogs from a script and records what was shown.
class TScriptedDialogs : public IDialogService {
public:
    TScriptedDialogs() : FPrevious(SetDialogService(this)) {}
    ~TScriptedDialogs() override { SetDialogService(FPrevious); }

    void ShowMessage(std::string_view text) override { Shown.emplace_back(text); }
    int MessageBox(std::string_view text, std::string_view, unsigned) override {
        Shown.emplace_back(text);
        return Next();
    }
    TModalResult MessageDlg(std::string_view text, TMsgDlgType type, TMsgDlgButtons buttons,
                            int helpContext) override {
        Shown.emplace_back(text);
        LastType = type;
        LastButtons = buttons;
        LastHelpContext = helpContext;
        return Next();
    }
    std::string InputBox(std::string_view caption, std::string_view prompt,
                         std::string_view defaultText) override {
        Shown.push_back(std::string(caption) + "|" + std::string(prompt));
        if (Answers.empty()) return std::string(defaultText);
        std::string answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    bool InputQuery(std::string_view caption, std::string_view prompt,
                    std::string& value) override {
        Shown.push_back(std::string(caption) + "|" + std::string(prompt) + "|" + value);
        if (Answers.empty()) return false;
        value = Answers.front();
        Answers.pop_front();
        return true;
    }

    std::deque<int> Results;
    std::deque<std::string> Answers;
    std::vector<std::string> Shown;
    TMsgDlgType LastType = TMsgDlgType::mtCustom;
    TMsgDlgButtons LastButtons;
    int LastHelpContext = -1;

private:
    int Next() {
        if (Results.empty()) return mrNone;
        int r = Results.front();
        Results.pop_front();
        return r;
    }
    IDialogService* FPrevious;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Dates and times

TEST_F(MiscPackageTest, EncodeDateDefaultsMonthAndDayToOne) {
    // 1 January 2004 is day 37987 after 30 December 1899.
    EXPECT_DOUBLE_EQ(Run("encode-date", {Int(2004)})->AsFloat(), 37987.0);
    EXPECT_DOUBLE_EQ(Run("encode-date", {Int(2004), Int(7), Int(15)})->AsFloat(), 38183.0);
    EXPECT_EQ(Run("encode-date", {Int(2004)})->GetDType(), dtFloat);
    EXPECT_EQ(Run("decode-month", {Nest("encode-date", {Int(2004), Int(7), Int(15)})})->AsInteger(),
              7);
}

TEST_F(MiscPackageTest, DecodeSplitsDateAndTime) {
    EXPECT_DOUBLE_EQ(Run("encode-time", {Int(12)})->AsFloat(), 0.5);
    EXPECT_EQ(Run("decode-hour", {Flt(0.75)})->AsInteger(), 18);
    EXPECT_EQ(Run("decode-hour", {Flt(0.75)})->GetDType(), dtInteger);
    EXPECT_EQ(Run("decode-year", {Int(0)})->AsInteger(), 1899);
    EXPECT_EQ(Run("decode-month", {Int(0)})->AsInteger(), 12);
    EXPECT_EQ(Run("decode-day", {Int(0)})->AsInteger(), 30);
    // 38183.75 is 15 July 2004 at 18:00.
    EXPECT_EQ(Run("decode-year", {Flt(38183.75)})->AsInteger(), 2004);
    EXPECT_EQ(Run("decode-day", {Flt(38183.75)})->AsInteger(), 15);
    EXPECT_EQ(Run("decode-minute", {Flt(38183.75)})->AsInteger(), 0);
}

// Decoding a time rounds to whole milliseconds first: truncating the float would give 59.999
// seconds back for some encoded times, and the millisecond one less than encoded.
TEST_F(MiscPackageTest, EveryEncodedMillisecondDecodesToItself) {
    for (int ms = 0; ms < 1000; ++ms) {
        auto t = Nest("encode-time", {Int(23), Int(59), Int(59), Int(ms)});
        ASSERT_EQ(Run("decode-millisecond", {t})->AsInteger(), ms) << ms;
        ASSERT_EQ(Run("decode-second", {t})->AsInteger(), 59) << ms;
        ASSERT_EQ(Run("decode-minute", {t})->AsInteger(), 59) << ms;
    }
    for (int minute = 0; minute < 60; ++minute) {
        auto t = Nest("encode-time", {Int(7), Int(minute)});
        ASSERT_EQ(Run("decode-minute", {t})->AsInteger(), minute);
        ASSERT_EQ(Run("decode-second", {t})->AsInteger(), 0);
        ASSERT_EQ(Run("decode-hour", {t})->AsInteger(), 7);
    }
}

TEST_F(MiscPackageTest, DateAndTimeTogetherDecodeToTheirFields) {
    // 15 July 2004 plus a time of day: the day count leaves fewer bits for the fraction, so the
    // fields come back only when decoding rounds.
    for (int ms = 0; ms < 1000; ++ms) {
        const TDateTime value = 38183.0 + EncodeTime(13, 5, 9, ms);
        ASSERT_EQ(Run("decode-millisecond", {Flt(value)})->AsInteger(), ms) << ms;
        ASSERT_EQ(Run("decode-second", {Flt(value)})->AsInteger(), 9) << ms;
        ASSERT_EQ(Run("decode-minute", {Flt(value)})->AsInteger(), 5) << ms;
        ASSERT_EQ(Run("decode-hour", {Flt(value)})->AsInteger(), 13) << ms;
        ASSERT_EQ(Run("decode-day", {Flt(value)})->AsInteger(), 15) << ms;
    }
}

TEST_F(MiscPackageTest, DatesOutsideTheCalendarDecodeToZero) {
    EXPECT_EQ(Run("decode-year", {Flt(1e300)})->AsInteger(), 0);
    EXPECT_EQ(Run("decode-hour", {Flt(-1e300)})->AsInteger(), 0);
    EXPECT_NO_THROW(Run("date-str", {Flt(1e300)}));
    EXPECT_NO_THROW(Run("datetime-str-format", {Flt(-1e300), Str("yyyy")}));
}

TEST_F(MiscPackageTest, EncodingOutOfRangeRaises) {
    EXPECT_THROW(Run("encode-date", {Int(2004), Int(13)}), EConvertError);
    EXPECT_THROW(Run("encode-date", {Int(2003), Int(2), Int(29)}), EConvertError);
    EXPECT_THROW(Run("encode-time", {Int(24)}), EConvertError);
    EXPECT_THROW(Run("encode-time", {Int(1), Int(60)}), EConvertError);
    EXPECT_NO_THROW(Run("encode-date", {Int(2004), Int(2), Int(29)}));
}

TEST_F(MiscPackageTest, ArgumentCountsAndTypesAreChecked) {
    EXPECT_EQ(ErrorOf("decode-year", {}), "Too few arguments for decode-year");
    EXPECT_EQ(ErrorOf("encode-date", {Int(1), Int(2), Int(3), Int(4)}),
              "Too many arguments for encode-date");
    EXPECT_EQ(ErrorOf("encode-time", {Int(1), Int(2), Int(3), Int(4), Int(5)}),
              "Too many arguments for encode-time");
    EXPECT_EQ(ErrorOf("system-date", {Int(1)}), "Too many arguments for system-date");
    EXPECT_EQ(ErrorOf("datetime-str-format", {Int(1), Str("d"), Str("d")}),
              "Too many arguments for datetime-str-format");
    EXPECT_THROW(Run("decode-year", {Atom("yesterday")}), EException);
    EXPECT_THROW(Run("encode-date", {Atom("twenty")}), EException);
}

TEST_F(MiscPackageTest, SystemDateAndTimeFollowTheClock) {
    ScopedClock clock(38183.75);
    EXPECT_DOUBLE_EQ(Run("system-datetime")->AsFloat(), 38183.75);
    EXPECT_DOUBLE_EQ(Run("system-date")->AsFloat(), 38183.0);
    EXPECT_DOUBLE_EQ(Run("system-time")->AsFloat(), 0.75);
    EXPECT_DOUBLE_EQ(Run("time")->AsFloat(), 64800.0);
    EXPECT_EQ(Run("time")->GetDType(), dtFloat);
}

TEST_F(MiscPackageTest, TextConversionsUseTheProcessFormats) {
    EXPECT_DOUBLE_EQ(Run("str-date", {Str("7/15/2004")})->AsFloat(), 38183.0);
    EXPECT_DOUBLE_EQ(Run("str-time", {Str("6:00:00 PM")})->AsFloat(), 0.75);
    EXPECT_DOUBLE_EQ(Run("str-datetime", {Str("7/15/2004 6:00:00 PM")})->AsFloat(), 38183.75);
    EXPECT_EQ(Run("date-str", {Flt(38183.75)})->AsString(), "7/15/2004");
    EXPECT_EQ(Run("time-str", {Flt(38183.75)})->AsString(), "6:00:00 PM");
    EXPECT_EQ(Run("datetime-str", {Flt(38183.75)})->AsString(), "7/15/2004 6:00:00 PM");
    EXPECT_EQ(Run("date-str", {Int(38183)})->GetDType(), dtString);

    TFormatSettings saved = FormatSettings();
    FormatSettings().LongTimeFormat = "h:mm:ss.zzz AMPM";
    EXPECT_EQ(
        Run("time-str", {Nest("encode-time", {Int(13), Int(5), Int(9), Int(42)})})->AsString(),
        "1:05:09.042 PM");
    FormatSettings() = saved;
}

TEST_F(MiscPackageTest, InvalidDateTextRaisesConversionError) {
    EXPECT_THROW(Run("str-date", {Str("not a date")}), EConvertError);
    EXPECT_THROW(Run("str-time", {Str("25:99")}), EConvertError);
    EXPECT_THROW(Run("str-datetime", {Str("")}), EConvertError);
}

TEST_F(MiscPackageTest, DateTimeStrFormatStripsOnePairOfQuotes) {
    auto jan2 = Nest("encode-date", {Int(2004), Int(1), Int(2)});
    EXPECT_EQ(Run("datetime-str-format", {jan2, Str("yyyy")})->AsString(), "2004");
    EXPECT_EQ(Run("datetime-str-format", {jan2, Str("\"yyyy\"")})->AsString(), "2004");
    EXPECT_EQ(Run("datetime-str-format", {Flt(38183.75), Str("yyyy-mm-dd hh:nn:ss")})->AsString(),
              "2004-07-15 18:00:00");
    // Without a format: the short date and the long time.
    EXPECT_EQ(Run("datetime-str-format", {Flt(38183.75)})->AsString(), "7/15/2004 6:00:00 PM");
}

// ---------------------------------------------------------------------------------------------
// Variant classes

TEST(MiscVariantTest, NameAndSelectorAgree) {
    TRefPtr<TDecodeDateTimeFunction> f = MakeRef<TDecodeDateTimeFunction>();
    EXPECT_EQ(f->GetFunctionName(), "decode-year");
    f->SetFunctionName("decode-second");
    EXPECT_EQ(f->Decode(), ddtSecond);
    EXPECT_EQ(f->GetComment(), "Returns the second value from a system time");
    f->SetDecode(ddtMonth);
    EXPECT_EQ(f->GetFunctionName(), "decode-month");
    // A name of no variant changes only the name.
    f->SetFunctionName("my-decode");
    EXPECT_EQ(f->Decode(), ddtMonth);
    EXPECT_EQ(f->GetComment(), "Returns the month value from a system date");

    TRefPtr<TEncodeDateTimeFunction> e = MakeRef<TEncodeDateTimeFunction>();
    e->SetFunctionName("encode-time");
    EXPECT_EQ(e->Encode(), edtTime);
    EXPECT_EQ(e->GetMinArgumentCount(), 1);
    EXPECT_EQ(e->GetMaxArgumentCount(), 4);
    e->SetEncode(edtDate);
    EXPECT_EQ(e->GetMaxArgumentCount(), 3);
    EXPECT_EQ(e->GetArgumentString(),
              " <year-integer-expression> [<month-integer-expression> [<day-integer-expression>]]");

    TRefPtr<TSystemDateTimeFunction> s = MakeRef<TSystemDateTimeFunction>();
    s->SetFunctionName("system-time");
    EXPECT_EQ(s->DateTimeType(), sdtTime);
    EXPECT_EQ(s->GetMaxArgumentCount(), 0);

    TRefPtr<TDateTimeStringFunction> d = MakeRef<TDateTimeStringFunction>();
    d->SetFunctionName("datetime-str-format");
    EXPECT_EQ(d->Conversion(), dtsDateTimeStrFormat);
    EXPECT_EQ(d->GetArgumentString(), " <numeric-expression> <format-string-expression>");
    EXPECT_EQ(d->GetMaxArgumentCount(), 2);
}

TEST(MiscVariantTest, HelpFormatBuildsComments) {
    const std::string saved = HelpFormat();
    HelpFormat() = "%s [%s]";
    TMiscPackage* package = NewPackage<TMiscPackage>(nullptr);
    HelpFormat() = saved;
    EXPECT_EQ(package->Functions().Find("decode-day")->GetComment(),
              "Returns the day value from a system date [decode-day]");
    EXPECT_EQ(package->Functions().Find("show-message")->GetComment(),
              "Displays a message box with an OK button [show-message]");
    package->Free();
}

TEST(MiscVariantTest, ClassesAreRegisteredByName) {
    const TClassInfo& info = FindClass("TDateTimeStringFunction");
    std::unique_ptr<TObject> object(info.Create());
    auto* f = dynamic_cast<TDateTimeStringFunction*>(object.get());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->GetFunctionName(), "str-datetime");
    EXPECT_NE(GetClass("TMessageDlgFunction"), nullptr);
    EXPECT_EQ(GetClass("TMiscPackage"), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Dialogs

TEST_F(MiscPackageTest, MessageDlgReturnsTheButtonPressed) {
    TScriptedDialogs dialogs;
    dialogs.Results = {mrOk, mrNo, 0, 42};
    auto result = Run("message-dlg", {Str("Go on?"), Atom("mtConfirmation"), Str("[mbOK]")});
    EXPECT_EQ(result->GetDType(), dtAtom);
    EXPECT_EQ(result->AsString(), "mrOk");
    EXPECT_EQ(dialogs.LastType, TMsgDlgType::mtConfirmation);
    EXPECT_EQ(dialogs.LastButtons, TMsgDlgButtons{TMsgDlgBtn::mbOK});
    EXPECT_EQ(dialogs.LastHelpContext, 0);

    EXPECT_EQ(Run("message-dlg",
                  {Str("Sure?"), Atom("mtWarning"), Str("[mbYes, mbNo, mbCancel]"), Int(17)})
                  ->AsString(),
              "mrNo");
    EXPECT_EQ(dialogs.LastHelpContext, 17);
    EXPECT_EQ(dialogs.LastButtons,
              (TMsgDlgButtons{TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbCancel}));
    // Any result without a button name of its own is mrHelp.
    EXPECT_EQ(Run("message-dlg", {Str("x"), Atom("mtError"), Str("[]")})->AsString(), "mrHelp");
    EXPECT_EQ(Run("message-dlg", {Str("x"), Atom("mtInformation"), Str("[mbAll]")})->AsString(),
              "mrHelp");
    EXPECT_EQ(dialogs.Shown, (std::vector<std::string>{"Go on?", "Sure?", "x", "x"}));
}

TEST_F(MiscPackageTest, MessageDlgRefusesUnknownNamesBeforeShowing) {
    TScriptedDialogs dialogs;
    EXPECT_EQ(ErrorOf("message-dlg", {Str("x"), Atom("mtQuestion"), Str("[mbOK]")}),
              "Bad Argument: mtQuestion");
    EXPECT_EQ(ErrorOf("message-dlg", {Str("x"), Atom("mtError"), Str("[mbOK, mbMaybe]")}),
              "Bad Argument: [mbOK, mbMaybe]");
    EXPECT_EQ(ErrorOf("message-dlg", {Str("x")}), "Too few arguments for message-dlg");
    EXPECT_TRUE(dialogs.Shown.empty());
}

TEST_F(MiscPackageTest, InputBoxReturnsTheTextOrTheDefault) {
    TScriptedDialogs dialogs;
    dialogs.Answers = {"42"};
    auto typed = Run("input-box", {Str("Caption"), Str("Prompt"), Str("7")});
    EXPECT_EQ(typed->GetDType(), dtString);
    EXPECT_EQ(typed->AsString(), "42");
    EXPECT_EQ(Run("input-box", {Str("Caption"), Str("Prompt"), Str("7")})->AsString(), "7");
    EXPECT_EQ(Run("input-box")->AsString(), "");
    EXPECT_EQ(dialogs.Shown, (std::vector<std::string>{"Caption|Prompt", "Caption|Prompt", "|"}));
}

TEST_F(MiscPackageTest, InputQueryReturnsFalseWhenCancelled) {
    TScriptedDialogs dialogs;
    dialogs.Answers = {"yes"};
    EXPECT_EQ(Run("input-query", {Str("C"), Str("P"), Str("D")})->AsString(), "yes");
    auto cancelled = Run("input-query", {Str("C"), Str("P"), Str("D")});
    EXPECT_TRUE(cancelled->Equals(IEFalseValue().get()));
    // The default is the text the dialog starts with.
    EXPECT_EQ(dialogs.Shown, (std::vector<std::string>{"C|P|D", "C|P|D"}));
    EXPECT_EQ(ErrorOf("input-query", {Str("a"), Str("b"), Str("c"), Str("d")}),
              "Too many arguments for input-query");
}

TEST_F(MiscPackageTest, ShowMessageShowsTheText) {
    TScriptedDialogs dialogs;
    EXPECT_TRUE(Run("show-message", {Str("Hello")})->Equals(IETrueValue().get()));
    EXPECT_EQ(dialogs.Shown, std::vector<std::string>{"Hello"});
}

// ---------------------------------------------------------------------------------------------
// Functions that need an engine

TEST_F(MiscPackageTest, EngineCommandsNeedAnEngine) {
    for (const char* name : {"agenda", "facts", "list-defrules", "get-static-constraint-checking"})
        EXPECT_EQ(ErrorOf(name, {}), "Invalid class typecast") << name;
    EXPECT_EQ(ErrorOf("undefrule", {Atom("r")}), "Invalid class typecast");
    EXPECT_EQ(ErrorOf("ppdefrule", {}), "Too few arguments for ppdefrule");
    EXPECT_EQ(ErrorOf("facts", {Int(1), Int(2), Int(3), Int(4)}), "Too many arguments for facts");
}

TEST(MiscPackageListTest, FunctionsInCreationOrder) {
    TMiscPackage* package = NewPackage<TMiscPackage>(nullptr);
    const std::vector<std::string> expected = {"decode-year",
                                               "decode-month",
                                               "decode-day",
                                               "decode-hour",
                                               "decode-minute",
                                               "decode-second",
                                               "decode-millisecond",
                                               "encode-date",
                                               "encode-time",
                                               "system-datetime",
                                               "system-date",
                                               "system-time",
                                               "str-datetime",
                                               "str-date",
                                               "str-time",
                                               "datetime-str",
                                               "date-str",
                                               "time-str",
                                               "datetime-str-format",
                                               "guard",
                                               "parse",
                                               "time",
                                               "agenda",
                                               "get-dynamic-constraint-checking",
                                               "get-static-constraint-checking",
                                               "input-box",
                                               "input-query",
                                               "message-dlg",
                                               "show-message",
                                               "list-defrules",
                                               "list-deftypes",
                                               "list-deffacts",
                                               "list-deffunctions",
                                               "list-deftemplates",
                                               "ppdeffacts",
                                               "ppdeffunction",
                                               "ppdeftemplate",
                                               "ppdefrule",
                                               "ppdeftype",
                                               "set-reset-globals",
                                               "setgen",
                                               "set-dynamic-constraint-checking",
                                               "set-static-constraint-checking",
                                               "facts",
                                               "rules",
                                               "undeffacts",
                                               "undeffunction",
                                               "undefrule",
                                               "undeftemplate",
                                               "undeftype"};
    std::vector<std::string> names;
    for (const auto& f : package->Functions().Items())
        names.push_back(f->GetFunctionName());
    EXPECT_EQ(names, expected);
    const auto pp = package->Functions().Find("ppdeftype");
    EXPECT_EQ(pp->GetComment(), "Displays a formatted representation of the defined type "
                                "specified by the name, which is suitable for parsing");
    EXPECT_EQ(dynamic_cast<TPrettyPrintFunction*>(pp.get())->PrettyPrint(), ppfDefType);
    package->Free();
}

TEST(MiscPackageListTest, NameListingSortsIgnoringCase) {
    std::vector<std::string> names = {"beta", "Alpha", "gamma", "ALPHA2"};
    EXPECT_EQ(NameListingText(names, " rules."),
              "Alpha\r\nALPHA2\r\nbeta\r\ngamma\r\nfor a total of 4 rules.");
    std::vector<std::string> none;
    EXPECT_EQ(NameListingText(none, " deftypes."), "for a total of 0 deftypes.");
}
