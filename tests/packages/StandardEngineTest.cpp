#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/InferenceEngine.h"
#include "engine/lang/IEClipsParser.h"
#include "packages/StandardPackage.h"
#include "platform/Streams.h"

using namespace ie;

namespace {

// An engine with the standard package whose output is collected by logical name.
struct TEngineRig {
    TEngineRig() {
        RegisterStandardPackage();
        Engine = std::make_unique<TInferenceEngine>();
        Engine->OnPrintOut = [this](TInferenceEngine*, const std::string& name,
                                    const std::string& text) { Output[name] += text; };
    }
    // Reads the calls of the text and evaluates them in the root context; the last value.
    TRefPtr<IIEValue> Eval(std::string_view text) {
        TStringStream source(text);
        TIEClipsStream stream(&source);
        stream.SetEngine(Engine.get());
        TIEClipsParser parser(Engine.get(), &stream);
        TRefPtr<IIEValue> result;
        for (;;) {
            TStreamTokenRef token = stream.NextToken();
            if (token->IsEndOfInput()) break;
            stream.PushBack(token);
            result = parser.ParseFunCall()->Evaluate(Engine->RootContext());
        }
        return result;
    }
    std::string Text(std::string_view text) {
        TRefPtr<IIEValue> v = Eval(text);
        return v ? v->GetText() : "<none>";
    }
    std::string Error(std::string_view text) {
        try {
            Eval(text);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }
    std::unique_ptr<TInferenceEngine> Engine;
    std::map<std::string, std::string> Output;
};

} // namespace

TEST(StandardPackageEngine, RegistersAllItsFunctions) {
    TEngineRig r;
    for (const char* name : {"and", "assert", "printout", "create$", "subsetp", "__get-var",
                             "gensym*", "eq*", "<>", "open", "close", "store", "fetch"})
        EXPECT_TRUE(r.Engine->UserFunctionExists(name)) << name;
}

TEST(StandardPrintOut, TextsByType) {
    TEngineRig r;
    EXPECT_EQ(r.Text("(printout t crlf)"), "");
    EXPECT_EQ(r.Output["t"], "\r\n");
    r.Output.clear();
    r.Eval("(printout t \"a b\" 1 x (create$ a b))");
    EXPECT_EQ(r.Output["t"], "a b1x(a b )");
    r.Output.clear();
    r.Eval("(printout t)");
    EXPECT_EQ(r.Output.count("t"), 1u);
    EXPECT_EQ(r.Output["t"], "");
}

TEST(StandardFormat, PrintsButReturnsNothing) {
    TEngineRig r;
    EXPECT_EQ(r.Text("(format t \"%d-%s\" 5 x)"), "");
    EXPECT_EQ(r.Output["t"], "5-x");
}

TEST(StandardStorage, StoreFetchClear) {
    TEngineRig r;
    EXPECT_EQ(r.Text("(store x 5)"), "5");
    EXPECT_EQ(r.Text("(fetch x)"), "5");
    EXPECT_EQ(r.Text("(fetch never)"), "");
    // The storage outlives clear: the function's own description holds over the engine's.
    r.Eval("(clear)");
    EXPECT_EQ(r.Text("(fetch x)"), "5");
    EXPECT_EQ(r.Text("(clear-storage)"), "<none>");
    EXPECT_EQ(r.Text("(fetch x)"), "");
}

TEST(StandardWatch, SetsAndErrors) {
    TEngineRig r;
    r.Eval("(watch all) (unwatch facts)");
    EXPECT_EQ(r.Engine->Watch().Bits(), 29u); // activations, rules, compilations, statistics
    EXPECT_EQ(r.Error("(watch Rules)"), "Cannot watch Rules");
    EXPECT_EQ(r.Error("(unwatch x)"), "Cannot unwatch x");
}

TEST(StandardEngineCommands, GensymVersionDuplication) {
    TEngineRig r;
    const std::string a = r.Text("(gensym*)");
    const std::string b = r.Text("(gensym*)");
    EXPECT_EQ(a.substr(0, 3), "gen");
    EXPECT_EQ(std::stoi(b.substr(3)), std::stoi(a.substr(3)) + 1);
    EXPECT_EQ(r.Text("(get-fact-duplication)"), "TRUE");
    EXPECT_EQ(r.Text("(set-fact-duplication FALSE)"), "TRUE");
    EXPECT_EQ(r.Text("(get-fact-duplication)"), "FALSE");
    EXPECT_EQ(r.Error("(do-backward-chaining test)"), "Cannot backchain on special CEs: test");
    EXPECT_EQ(r.Error("(get-slot-value abc)"),
              "Invalid argument type for deffunction: \"dtAtom\".  Expected FactId, Fact");
    EXPECT_EQ(r.Error("(get-slot-value 99)"), "No Such Fact with ID=99 exists");
    EXPECT_EQ(r.Error("(modify 99 (a 1))"), "No Such Fact with ID=99 exists");
}

// An ordered fact of the implied template with the given values (unevaluated).
TRefPtr<IFact> OrderedFact(TInferenceEngine& engine, std::string_view name,
                           std::initializer_list<TRefPtr<IIEValue>> values) {
    TRefPtr<IFact> fact = engine.ImpliedTemplate(name)->NewFact();
    auto list = TValueVector::Create();
    for (const auto& v : values)
        list->Add(v);
    fact->SetSlotValue(DataSlotName, TIEValue::CreateList(list));
    return fact;
}

TRefPtr<IIEValue> CallAssert(TInferenceEngine& engine, const TRefPtr<IFact>& fact) {
    auto call = TFunctionCall::Create(&engine, "assert");
    call->AddFact(fact);
    return call->Evaluate(engine.RootContext());
}

TEST(StandardFacts, AssertEvaluatesSlotsAndRefusesDuplicates) {
    TEngineRig r;
    EXPECT_EQ(r.Text("(assert)"), "FALSE");
    r.Eval("(bind ?v 7)");
    const TRefPtr<IFact> fact =
        OrderedFact(*r.Engine, "point",
                    {TIEValue::CreateInteger(dtInteger, 1), TIEValue::CreateText(dtVariable, "v")});
    const TRefPtr<IIEValue> id = CallAssert(*r.Engine, fact);
    ASSERT_EQ(id->GetDType(), dtFactId);
    const std::string idText = std::to_string(id->AsFactId());
    EXPECT_EQ(r.Text("(nth$ 1 (get-slot-value " + idText + "))"), "7");
    // The argument's fact keeps its unevaluated values: assert works on a copy.
    EXPECT_EQ(fact->GetSlotValue(DataSlotName)->AsList()->GetItem(1)->GetDType(), dtVariable);
    EXPECT_EQ(CallAssert(*r.Engine, fact)->GetText(), "FALSE"); // duplicate refused
    EXPECT_EQ(r.Text("(retract 999)"), "TRUE");
    const int32_t before = r.Engine->Facts().Count();
    EXPECT_EQ(r.Text("(retract " + idText + ")"), "TRUE");
    EXPECT_EQ(r.Engine->Facts().Count(), before - 1);
    r.Eval("(retract *)");
    EXPECT_EQ(r.Engine->Facts().Count(), 0);
}

// Mended: modify and duplicate evaluate every value of a slot group, also when the group has
// several values; duplicate leaves the original fact as it was.
TEST(StandardFacts, ModifyAndDuplicateEvaluateEveryGroupValue) {
    TEngineRig r;
    r.Eval("(bind ?a 1) (bind ?b 2)");
    const int32_t id =
        CallAssert(*r.Engine, OrderedFact(*r.Engine, "pair", {TIEValue::CreateText(dtAtom, "x")}))
            ->AsFactId();
    auto groupOf = [](std::initializer_list<TRefPtr<IIEValue>> values) {
        auto group = TValueVector::Create();
        group->Add(TIEValue::CreateText(dtAtom, std::string(DataSlotName)));
        for (const auto& v : values)
            group->Add(v);
        return group;
    };
    auto dup = TFunctionCall::Create(r.Engine.get(), "duplicate");
    dup->AddInteger(id);
    dup->AddList(
        groupOf({TIEValue::CreateText(dtVariable, "a"), TIEValue::CreateText(dtVariable, "b")}));
    const int32_t copyId = dup->Evaluate(r.Engine->RootContext())->AsFactId();
    EXPECT_NE(copyId, id);
    EXPECT_EQ(r.Text("(implode$ (get-slot-value " + std::to_string(copyId) + "))"), "\"1 2\"");
    EXPECT_EQ(r.Text("(implode$ (get-slot-value " + std::to_string(id) + "))"), "\"x\"");

    auto mod = TFunctionCall::Create(r.Engine.get(), "modify");
    mod->AddInteger(id);
    mod->AddList(
        groupOf({TIEValue::CreateText(dtVariable, "b"), TIEValue::CreateText(dtAtom, "z")}));
    const int32_t modId = mod->Evaluate(r.Engine->RootContext())->AsFactId();
    EXPECT_EQ(r.Text("(implode$ (get-slot-value " + std::to_string(modId) + "))"), "\"2 z\"");

    auto bad = TFunctionCall::Create(r.Engine.get(), "modify");
    bad->AddInteger(modId);
    auto group = TValueVector::Create();
    group->Add(TIEValue::CreateText(dtAtom, "nope"));
    group->Add(TIEValue::CreateText(dtAtom, "v"));
    bad->AddList(group);
    const int32_t count = r.Engine->Facts().Count();
    EXPECT_THROW(bad->Evaluate(r.Engine->RootContext()), EIEException);
    // A bad slot name changes nothing: the fact is still there.
    EXPECT_EQ(r.Engine->Facts().Count(), count);
}

class StandardStreams : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = std::filesystem::temp_directory_path() /
              ("ie_std_streams_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(Dir);
        std::filesystem::create_directories(Dir);
    }
    void TearDown() override {
        R.Engine.reset();
        std::filesystem::remove_all(Dir);
    }
    std::string PathOf(const std::string& name) const { return (Dir / name).string(); }
    std::string Read(const std::string& name) const {
        std::ifstream in(PathOf(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::filesystem::path Dir;
    TEngineRig R;
};

TEST_F(StandardStreams, InvalidAccessSpecifiers) {
    EXPECT_EQ(R.Error("(open \"" + PathOf("f") + "\" f x)"),
              "Invalid File Access Specifier: \"x\"");
    EXPECT_EQ(R.Error("(open \"" + PathOf("f") + "\" f A)"),
              "Invalid File Access Specifier: \"A\"");
    EXPECT_FALSE(std::filesystem::exists(PathOf("f")));
    EXPECT_EQ(R.Text("(close)"), "TRUE");
    EXPECT_EQ(R.Error("(close nothing)"), "Invalid stream name: nothing");
}

TEST_F(StandardStreams, WriteAppendAndRead) {
    const std::string f = "\"" + PathOf("out.txt") + "\"";
    EXPECT_EQ(R.Text("(open " + f + " out w)"), "out");
    R.Eval("(printout out \"one\" crlf) (close out)");
    R.Eval("(open " + f + " out a) (printout out \"two\" crlf) (close out)");
    EXPECT_EQ(Read("out.txt"), "one\r\ntwo\r\n");
    R.Eval("(open " + f + " in r)");
    EXPECT_EQ(R.Text("(readline in)"), "\"one\"");
    EXPECT_EQ(R.Text("(read in)"), "two");
    R.Eval("(close in)");
}

// Mended: a logical name that is already open is refused before the file is touched, so mode
// "w" does not empty a file it then refuses.
TEST_F(StandardStreams, DuplicateNameIsRefusedBeforeTheFileIsTouched) {
    { std::ofstream(PathOf("keep.txt"), std::ios::binary) << "keep"; }
    R.Eval("(open \"" + PathOf("other.txt") + "\" s w)");
    R.Engine->SetDuplicateConstructs(dcError);
    EXPECT_EQ(R.Error("(open \"" + PathOf("keep.txt") + "\" s w)"),
              "Duplicate streams defined with same name: \"s\"");
    EXPECT_EQ(Read("keep.txt"), "keep");
    R.Engine->SetDuplicateConstructs(dcIgnore);
    EXPECT_EQ(R.Text("(open \"" + PathOf("keep.txt") + "\" s w)"), "FALSE");
    EXPECT_EQ(Read("keep.txt"), "keep");
}

// Mended: the logical name is checked before the file is touched; an empty one (and "t", which
// always means the terminal) is refused instead of emptying the file and failing afterwards.
TEST_F(StandardStreams, TerminalOrEmptyLogicalNameIsRefusedBeforeTheFileIsTouched) {
    { std::ofstream(PathOf("keep.txt"), std::ios::binary) << "keep"; }
    const std::string f = "\"" + PathOf("keep.txt") + "\"";
    EXPECT_EQ(R.Error("(open " + f + " \"\" \"w\")"), "Invalid logical name for a stream: \"\"");
    EXPECT_EQ(R.Error("(open " + f + " t \"w\")"), "Invalid logical name for a stream: \"t\"");
    EXPECT_EQ(Read("keep.txt"), "keep");
}

TEST_F(StandardStreams, AppendStreamsOnOneFileKeepEachOthersText) {
    const std::string f = "\"" + PathOf("log.txt") + "\"";
    R.Eval("(open " + f + " a1 a) (open " + f + " a2 a)");
    R.Eval("(printout a1 \"one\" crlf) (printout a2 \"two\" crlf) (close a1)");
    R.Eval("(printout a2 \"three\" crlf) (close a2)");
    EXPECT_EQ(Read("log.txt"), "one\r\ntwo\r\nthree\r\n");
}

// A device that refuses every write: the failure is reported by close, and the stream is closed
// all the same.
TEST_F(StandardStreams, WriteErrorsAreReportedWhenTheStreamIsClosed) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    R.Eval("(open \"/dev/full\" full w) (printout full \"x\" crlf)");
    EXPECT_EQ(R.Error("(close full)"), "Stream write error");
    EXPECT_EQ(R.Error("(close full)"), "Invalid stream name: full");
    R.Eval("(open \"/dev/full\" full w) (open \"" + PathOf("ok.txt") + "\" ok w)");
    R.Eval("(printout full \"x\" crlf) (printout ok \"kept\" crlf)");
    EXPECT_EQ(R.Error("(close)"), "Stream write error");
    EXPECT_EQ(Read("ok.txt"), "kept\r\n");
    EXPECT_EQ(R.Error("(close ok)"), "Invalid stream name: ok");
}

TEST_F(StandardStreams, PrintingToAStreamOpenForReadingIsRefused) {
    { std::ofstream(PathOf("in.txt"), std::ios::binary) << "word\n"; }
    R.Eval("(open \"" + PathOf("in.txt") + "\" in r)");
    EXPECT_EQ(R.Error("(printout in \"x\" crlf)"),
              "Cannot write to in: the stream is open for reading");
    EXPECT_EQ(R.Error("(format in \"x%n\")"), "Cannot write to in: the stream is open for reading");
    EXPECT_EQ(R.Text("(read in)"), "word");
    EXPECT_EQ(R.Text("(close in)"), "TRUE");
    EXPECT_EQ(Read("in.txt"), "word\n");
}
