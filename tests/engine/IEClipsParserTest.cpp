#include "engine/lang/IEClipsParser.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "engine/model/IEContext.h"
#include "engine/model/IEValue.h"
#include "platform/Streams.h"

using namespace ie;

namespace {

// A call that records what the parser put in it; evaluating "+" adds its integer arguments,
// "fail" raises an engine error, anything else gives the atom "done".
class TTestCall final : public IFunCall {
public:
    explicit TTestCall(std::string_view name) : FName(name) {}

    void AssignFrom(const IInterface*) override {}
    TRefPtr<ICloneable> Clone() const override { return nullptr; }
    bool Equals(const IInterface* other) const override { return other == this; }
    intptr_t GetTag() const override { return 0; }
    void SetTag(intptr_t) override {}

    void AddArgument(TRefPtr<IIEValue> value) override { FArgs.push_back(std::move(value)); }
    void ClearArguments() override { FArgs.clear(); }
    void DeleteArgument(int32_t index) override { FArgs.erase(FArgs.begin() + index); }
    bool SameCall(const IFunCall* other) const override { return other == this; }
    const TRefPtr<IIEValue>& GetArgument(int32_t index) const override {
        return FArgs.at(static_cast<size_t>(index));
    }
    void SetArgument(int32_t index, TRefPtr<IIEValue> value) override {
        FArgs.at(static_cast<size_t>(index)) = std::move(value);
    }
    int32_t ArgumentCount() const noexcept override { return static_cast<int32_t>(FArgs.size()); }
    TRefPtr<IUserFunction> GetFunction() const override { return nullptr; }
    TRefPtr<IIEValue> Evaluate(TIEContext* context) override {
        if (FName == "fail") RaiseIE(imFunctionUnimplemented, FName);
        if (FName != "+") return TIEValue::CreateText(dtAtom, "done");
        int32_t sum = 0;
        for (auto& a : FArgs)
            sum += a->Evaluate(context)->AsInteger();
        return TIEValue::CreateInteger(dtInteger, sum);
    }
    std::string GetText() const override {
        std::string text = "(" + FName;
        for (auto& a : FArgs)
            text += " " + a->GetText();
        return text + ")";
    }
    int32_t GetHashCode() const override { return 0; }
    IReasoner* GetReasoner() const noexcept override { return nullptr; }
    const std::string& GetFunctionName() const noexcept override { return FName; }
    const std::string& GetComment() const noexcept override { return FComment; }
    void SetFunction(TRefPtr<IUserFunction>) override {}
    void SetComment(std::string_view comment) override { FComment = comment; }

private:
    std::string FName;
    std::string FComment;
    std::vector<TRefPtr<IIEValue>> FArgs;
};

class TTestEngine final : public IParserEngine {
public:
    TTestEngine() : Root(nullptr, nullptr) {}
    std::string GenerateSymbol(std::string_view prefix) override {
        return std::string(prefix) + IntToStr(Counter++);
    }
    TIEContext* RootContext() override { return &Root; }
    TRefPtr<IFunCall> CreateFunCall(std::string_view name) override {
        return MakeRef<TTestCall>(name);
    }
    void PrintOut(const std::string& name, const std::string& text) override {
        EXPECT_EQ(name, "");
        Output += text;
    }

    TIEContext Root;
    std::string Output;
    int Counter = 0;
};

// A parser with its engine over one text.
struct Reader {
    explicit Reader(std::string_view text)
        : Source(std::make_unique<TStringStream>(text)),
          Stream(std::make_unique<TIEClipsStream>(Source.get())), Parser(&Engine, Stream.get()) {
        Stream->SetEngine(&Engine);
    }
    // The message of the error that parsing the whole text raises ("" when none).
    std::string ParseError(bool execute = true) {
        try {
            Parser.Parse(execute);
        } catch (const EIEException& e) {
            return e.what();
        }
        return "";
    }
    TTestEngine Engine;
    std::unique_ptr<TStringStream> Source;
    std::unique_ptr<TIEClipsStream> Stream;
    TIEClipsParser Parser;
};

std::string Decorated(const std::string& message, const std::string& routine, int line,
                      const std::string& history) {
    return "Parsing Error, " + message + " in " + routine + " at line " + std::to_string(line) +
           ": " + history;
}

} // namespace

TEST(IEClipsParserTest, TopLevelValuesAreEchoed) {
    Reader r("a 12 2.5 \"nope\"");
    EXPECT_EQ(r.ParseError(),
              Decorated("Unexpected symbol, expected a \"(\", constant, or global variable: "
                        "\\\"nope\"\\",
                        "GetConstructType", 1, "\"nope\" "));
    EXPECT_EQ(r.Engine.Output, "a\r\n12\r\n2.5000\r\n");
}

TEST(IEClipsParserTest, EmptyTextReportsTheEndOnce) {
    Reader r("");
    std::vector<TParsedType> kinds;
    r.Parser.OnParse = [&](TIEParser*, TParsedType kind, void*, IInterface*) {
        kinds.push_back(kind);
    };
    EXPECT_TRUE(r.Parser.Parse(true));
    EXPECT_EQ(r.Engine.Output, "");
    ASSERT_EQ(kinds.size(), 1u);
    EXPECT_EQ(kinds[0], ptEndOfInput);
}

TEST(IEClipsParserTest, GlobalVariablesAreLookedUp) {
    Reader r("?*x* ?*missing*");
    r.Engine.Root.AddBinding("*x*", TIEValue::CreateInteger(dtInteger, 7));
    r.Parser.ErrorHandling = ehRaiseAllAtEnd;
    const std::string error = r.ParseError();
    EXPECT_EQ(r.Engine.Output, "7\r\n");
    EXPECT_EQ(error,
              Decorated("Unknown variable name: *missing*", "Parse", 1, "?*missing* ") + "\r\n");
}

TEST(IEClipsParserTest, CallsAreEvaluatedOrKept) {
    Reader run("(+ 1 (+ 2 3))");
    EXPECT_TRUE(run.Parser.Parse(true));
    EXPECT_EQ(run.Engine.Output, "6\r\n");

    Reader keep("(+ 1 (+ 2 3))");
    TParsedType kind = ptNone;
    keep.Parser.OnParse = [&](TIEParser*, TParsedType k, void*, IInterface*) {
        if (k != ptEndOfInput) kind = k;
    };
    EXPECT_TRUE(keep.Parser.Parse(false));
    EXPECT_EQ(kind, ptFunCall);
    EXPECT_EQ(keep.Engine.Output, "(+ 1 (+ 2 3))\r\n");
}

TEST(IEClipsParserTest, CallArguments) {
    Reader r("  ; note\n (f a \"s\" 1 2.5 ?v $?m [ = & | ~ ] ((1 0) (2 1)) (g))");
    TRefPtr<IFunCall> call = r.Parser.ParseFunCall();
    EXPECT_EQ(call->GetFunctionName(), "f");
    EXPECT_EQ(call->GetComment(), "; note");
    const char* texts[] = {"a",     "\"s\"", "1",     "2.5000", "?v",    "$?m",
                           "\"[\"", "\"=\"", "\"&\"", "\"|\"",  "\"~\"", "\"]\""};
    ASSERT_EQ(call->ArgumentCount(), 14);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(call->GetArgument(i)->GetText(), texts[i]) << i;
    EXPECT_EQ(call->GetArgument(6)->GetDType(), dtString);
    EXPECT_EQ(call->GetArgument(12)->GetDType(), dtSingletons);
    EXPECT_EQ(call->GetArgument(12)->AsSingletons()->Count(), 2);
    EXPECT_EQ(call->GetArgument(13)->GetDType(), dtFunCall);
    EXPECT_EQ(call->GetArgument(13)->AsFunCall()->GetFunctionName(), "g");
}

TEST(IEClipsParserTest, VariableInTheNamePlace) {
    Reader r("(?x 1 2)");
    TRefPtr<IFunCall> call = r.Parser.ParseFunCall();
    EXPECT_EQ(call->GetFunctionName(), "__get-var");
    ASSERT_EQ(call->ArgumentCount(), 3);
    EXPECT_EQ(call->GetArgument(0)->GetText(), "?x");
}

TEST(IEClipsParserTest, SlotFunctionArgumentsArePairs) {
    Reader r("(modify ?f (x 3) (tags a b))");
    TRefPtr<IFunCall> call = r.Parser.ParseFunCall();
    ASSERT_EQ(call->ArgumentCount(), 3);
    auto pair = call->GetArgument(1);
    ASSERT_EQ(pair->GetDType(), dtList);
    EXPECT_EQ(pair->AsList()->Count(), 2);
    EXPECT_EQ(pair->GetText(), "x 3 ");
    EXPECT_EQ(call->GetArgument(2)->GetText(), "tags a b  ");

    // Outside Low..High a parenthesised argument is a call again.
    r.Parser.SetSlotFunctionHigh("modify", 1);
    Reader again("(modify (x 3) (y 4))");
    again.Parser.Assign(r.Parser);
    again.Parser.SetStream(again.Stream.get());
    call = again.Parser.ParseFunCall();
    EXPECT_EQ(call->GetArgument(0)->GetDType(), dtList);
    EXPECT_EQ(call->GetArgument(1)->GetDType(), dtFunCall);
}

TEST(IEClipsParserTest, SlotFunctionLimits) {
    Reader r("");
    r.Parser.SetSlotFunctionHigh("modify", 0);
    const TSlotFunction* f = r.Parser.FindSlotFunction("MODIFY");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->High, 1);
    EXPECT_EQ(f->Low, 1);
    r.Parser.SetSlotFunctionLow("modify", 5);
    EXPECT_EQ(f->High, 5);
    EXPECT_EQ(r.Parser.FindSlotFunction("assert")->Low, 0);
}

TEST(IEClipsParserTest, ValuesAndLists) {
    Reader one("a )");
    EXPECT_EQ(one.Parser.ParseValue()->GetText(), "a");
    EXPECT_TRUE(one.Stream->NextToken()->Is(')'));

    // A value list ends at "=": a and b.
    Reader upTo("a b = c");
    auto v = upTo.Parser.ParseValue();
    ASSERT_EQ(v->GetDType(), dtList);
    EXPECT_EQ(v->AsList()->Count(), 2);
    EXPECT_TRUE(upTo.Stream->NextToken()->Is('='));

    Reader bad("= c");
    try {
        bad.Parser.ParseValue();
        FAIL();
    } catch (const EIEParseException& e) {
        EXPECT_EQ(std::string(e.what()), Decorated("Bad Argument: =", "ParseValue", 1, "= "));
    }

    Reader list("x [ nil TRUE =(g) (h) ((0 1))");
    auto l = list.Parser.ParseList()->AsList();
    ASSERT_EQ(l->Count(), 7);
    EXPECT_EQ(l->GetItem(1)->GetText(), "[");
    EXPECT_EQ(l->GetItem(2), IEEmptyAtom());
    EXPECT_EQ(l->GetItem(3), IETrueValue());
    EXPECT_EQ(l->GetItem(4)->GetDType(), dtFunCall);
    EXPECT_EQ(l->GetItem(5)->GetDType(), dtFunCall);
    EXPECT_EQ(l->GetItem(6)->GetDType(), dtSingletons);

    Reader eq("= x");
    try {
        eq.Parser.ParseList();
        FAIL();
    } catch (const EIEParseException& e) {
        EXPECT_NE(std::string(e.what()).find("\"=\" cannot appear as an atom within a fact"),
                  std::string::npos);
    }
}

TEST(IEClipsParserTest, ValuePair) {
    // A slot without a value (an empty multislot) is the name alone.
    Reader r("(x)");
    EXPECT_EQ(r.Parser.ParseValuePair()->AsList()->Count(), 1);
    Reader bad("(x 1");
    try {
        bad.Parser.ParseValuePair();
        FAIL();
    } catch (const EIEParseException& e) {
        EXPECT_NE(std::string(e.what()).find("Expected \")\""), std::string::npos);
    }
}

TEST(IEClipsParserTest, FuzzyPoints) {
    Reader r("((1 0.5) (?x (g)))");
    auto points = r.Parser.ParseFuzzyPoints()->AsSingletons();
    ASSERT_EQ(points->Count(), 2);
    EXPECT_EQ(points->GetValue(0)->AsInteger(), 1);
    EXPECT_EQ(points->GetMembership(0)->AsFloat(), 0.5);
    EXPECT_EQ(points->GetMembership(1)->GetDType(), dtFunCall);

    for (const char* text : {"((1 a))", "((1 2)", "((1 2) x)", "((1 2 3))"}) {
        Reader bad(text);
        EXPECT_THROW(bad.Parser.ParseFuzzyPoints(), EIEParseException) << text;
    }
}

TEST(IEClipsParserTest, ErrorsNameLineAndTokens) {
    Reader r("(f 1)\n\n(g 2\n  3");
    EXPECT_EQ(r.ParseError(),
              Decorated("Unexpected end of stream", "ParseFunCall", 4, "( g 2 \r\n3 "));
    Reader open("(f 1)\r\n(g\r\n (");
    EXPECT_EQ(open.ParseError(), Decorated("Missing name", "ParseFunCall", 3, "( g \r\n( "));
}

TEST(IEClipsParserTest, LongHistoryIsShortened) {
    std::string text = "(f";
    for (int i = 0; i < 60; ++i)
        text += " abcd";
    text += " \"x";
    text += "\"";
    Reader r(text + " =");
    const std::string error = r.ParseError();
    std::string history = "( f";
    for (int i = 0; i < 60; ++i)
        history += " abcd";
    history += " \"x\" = ";
    ASSERT_GT(history.size(), 255u);
    const std::string shown =
        history.substr(0, 128) + "... \r\n" + history.substr(history.size() - 128);
    EXPECT_EQ(error, Decorated("Unexpected end of stream", "ParseFunCall", 1, shown.substr(0)))
        << error;
}

TEST(IEClipsParserTest, UnterminatedStringIsADecoratedError) {
    Reader r("(printout t\n \"abc)");
    EXPECT_EQ(r.ParseError(), Decorated("Invalid string value, string was not terminated",
                                        "ReadToken", 2, "( printout t "));
}

TEST(IEClipsParserTest, CollectedErrors) {
    Reader r("\"s\" (fail) x (f (\"q\") ) y");
    r.Parser.ErrorHandling = ehRaiseAllAtEnd;
    try {
        r.Parser.Parse(true);
        FAIL();
    } catch (const EIEParseException& e) {
        ASSERT_EQ(e.Errors().size(), 3u);
        EXPECT_EQ(e.Errors()[1], Decorated("Function is unimplemented or unassigned: fail", "Parse",
                                           1, "( fail ) "));
        EXPECT_EQ(e.Errors()[2], Decorated("Missing name", "ParseFunCall", 1, "( f ( \"q\" "));
        std::string expected = "Errors parsing stream:\r\n";
        for (auto& line : e.Errors())
            expected += line + "\r\n";
        EXPECT_EQ(std::string(e.what()), expected);
        EXPECT_EQ(e.LineNumber(), 1);
    }
    // The good forms between the bad ones were read.
    EXPECT_EQ(r.Engine.Output, "x\r\ny\r\n");
}

TEST(IEClipsParserTest, CollectingStopsAfterMaxErrors) {
    Reader r("\"1\" \"2\" \"3\" \"4\" later");
    r.Parser.ErrorHandling = ehRaiseAllAtEnd;
    r.Parser.MaxErrors = 2;
    try {
        r.Parser.Parse(true);
        FAIL();
    } catch (const EIEParseException& e) {
        EXPECT_EQ(e.Errors().size(), 3u);
    }
    EXPECT_EQ(r.Engine.Output, "");
}

TEST(IEClipsParserTest, OneCollectedErrorEndsWithALineBreak) {
    Reader r("(f (\"q\")) ok");
    r.Parser.ErrorHandling = ehRaiseAllAtEnd;
    EXPECT_EQ(r.ParseError(),
              Decorated("Missing name", "ParseFunCall", 1, "( f ( \"q\" ") + "\r\n");
    EXPECT_EQ(r.Engine.Output, "ok\r\n");
}

// A stray ")" is one bad form: the form after it is read as written.
TEST(IEClipsParserTest, StrayCloseParenDoesNotSwallowTheNextForm) {
    Reader r(") (+ 1 2) ) after");
    r.Parser.ErrorHandling = ehRaiseAllAtEnd;
    try {
        r.Parser.Parse(true);
        FAIL();
    } catch (const EIEParseException& e) {
        ASSERT_EQ(e.Errors().size(), 2u);
        EXPECT_EQ(e.Errors()[0], Decorated("Unexpected symbol, expected a \"(\", constant, or "
                                           "global variable: )",
                                           "GetConstructType", 1, ") "));
    }
    EXPECT_EQ(r.Engine.Output, "3\r\nafter\r\n");
}

TEST(IEClipsParserTest, ConstructsWithoutAReaderAreRefusedWhole) {
    Reader r("(defrule r (a) => (b)) z");
    r.Parser.ErrorHandling = ehRaiseAllAtEnd;
    EXPECT_EQ(r.ParseError(), Decorated("Unable to parse strings of defrule at this time",
                                        "ParseNext", 1, "( defrule ") +
                                  "\r\n");
    EXPECT_EQ(r.Engine.Output, "z\r\n");
}

TEST(IEClipsParserTest, DeepNestingIsRefused) {
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "(g ";
    Reader r("(f " + text);
    const std::string error = r.ParseError();
    EXPECT_NE(error.find("Syntax Error: forms nested too deeply"), std::string::npos);
}

// Truncated input anywhere ends with an error (or cleanly), never a hang or a crash.
TEST(IEClipsParserTest, EveryTruncationEnds) {
    const std::string text =
        "(f a \"s\\\"t\" 1 (g ?x $?y) ((1 0) (2 1)) [ = ] ) (modify ?f (x 3)) ?*v* (h =(k))";
    for (size_t n = 0; n <= text.size(); ++n) {
        for (TErrorHandling mode : {ehRaiseImmediate, ehRaiseAllAtEnd}) {
            Reader r(text.substr(0, n));
            r.Engine.Root.AddBinding("*v*", IETrueValue());
            r.Parser.ErrorHandling = mode;
            (void)r.ParseError(false);
        }
    }
}

TEST(IEClipsParserTest, ArbitraryBytesNeverCrashOrHang) {
    std::mt19937 random(777);
    for (int round = 0; round < 1500; ++round) {
        std::string text(random() % 300, '\0');
        for (char& ch : text)
            ch = "()\"\\;?$ \n=&|~[]<0x1.+-abf"[random() % 26];
        if (round % 4 == 0)
            for (char& ch : text)
                ch = static_cast<char>(random() % 256);
        Reader r(text);
        r.Parser.ErrorHandling = round % 2 ? ehRaiseAllAtEnd : ehRaiseImmediate;
        try {
            r.Parser.Parse(false);
        } catch (const EIEParseException&) {
        } catch (const EIEException&) {
        }
    }
}

TEST(IEClipsParserTest, NoStreamReadsAsEmptyText) {
    TTestEngine engine;
    TIEClipsParser parser(&engine, nullptr);
    int ends = 0;
    parser.OnParse = [&](TIEParser*, TParsedType kind, void*, IInterface*) {
        ends += kind == ptEndOfInput;
    };
    parser.ErrorHandling = ehRaiseAllAtEnd;
    EXPECT_TRUE(parser.Parse(true));
    EXPECT_EQ(ends, 1);
}
