#include <gtest/gtest.h>

#include <unordered_map>

#include "engine/model/IEContext.h"
#include "engine/model/IEInterpretedFunction.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"
#include "platform/ClassRegistry.h"
#include "platform/Streams.h"
#include "tests/support/IETestValues.h"
#include "tests/support/TestReasoner.h"

using namespace ie;
using namespace ie::test;

namespace {

// An engine as far as functions see one: a table of functions keyed by name.
class TTestEngine : public TComponent, public test::TFunctionTableReasoner {
public:
    explicit TTestEngine(TComponent* owner = nullptr) : TComponent(owner) {}
    std::string FunCallText(const IFunCall& call) override {
        return "call " + call.GetFunctionName();
    }
    std::string FactText(const IFact&) override { return {}; }
    std::string UserFunctionText(const IUserFunction& f) override {
        return "help " + f.GetFunctionName();
    }
    std::string DefinedTypeText(const IIEDefinedType&) override { return {}; }
    bool Has(std::string_view name) { return FindUserFunction(name) != nullptr; }
};

// Returns the number of its arguments; counts its calls.
class TCountFunction : public TIEUserFunction {
public:
    TCountFunction() { SetFunctionName("count-args"); }
    std::string_view ClassName() const override { return "TCountFunction"; }
    int Calls = 0;

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext*) override {
        ++Calls;
        return TIEValue::CreateInteger(dtInteger, call->ArgumentCount());
    }
};

// Evaluates its arguments and returns them as a list.
class TListFunction : public TIEUserFunction {
public:
    std::string_view ClassName() const override { return "TListFunction"; }

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override {
        auto v = TValueVector::Create();
        for (int32_t i = 0; i < call->ArgumentCount(); ++i)
            v->Add(call->GetArgument(i)->Evaluate(context));
        return TIEValue::CreateList(v);
    }
};

// Sets the context's return value to its evaluated argument.
class TReturnFunction : public TIEUserFunction {
public:
    std::string_view ClassName() const override { return "TReturnFunction"; }

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override {
        context->SetReturnValue(call->GetArgument(0)->Evaluate(context));
        return nullptr;
    }
};

class TTwoFunctionPackage : public TUserPackage {
public:
    using TUserPackage::TUserPackage;
    std::string_view ClassName() const override { return "TTwoFunctionPackage"; }

protected:
    void DoCreateFunctions() override {
        TUserPackage::DoCreateFunctions();
        Functions().Add(MakeRef<TCountFunction>());
        Functions().Add(MakeRef<TIEUserFunction>("noop"));
    }
};

// The message of the error, engine or platform, that `f` raises.
template <class F> std::string Message(F&& f) {
    return MessageOf<EException>(std::forward<F>(f));
}

} // namespace

TEST(IEUserFunction, ArgumentCountsAreCheckedBeforeTheBody) {
    TTestEngine engine;
    TIEContext context(nullptr, nullptr);
    auto f = MakeRef<TCountFunction>();
    f->SetMaxArgumentCount(2);
    f->SetMinArgumentCount(1);
    auto call = TFunctionCall::Create(&engine, "count-args");
    call->SetFunction(f);
    EXPECT_EQ(Message([&] { call->Evaluate(&context); }), "Too few arguments for count-args");
    call->AddArgument(Int(1));
    EXPECT_EQ(call->Evaluate(&context)->AsInteger(), 1);
    call->AddArgument(Int(2));
    EXPECT_EQ(call->Evaluate(&context)->AsInteger(), 2);
    call->AddArgument(Int(3));
    EXPECT_EQ(Message([&] { call->Evaluate(&context); }), "Too many arguments for count-args");
    EXPECT_EQ(f->Calls, 2);
}

TEST(IEUserFunction, CountSettersKeepMinimumBelowMaximum) {
    auto f = MakeRef<TIEUserFunction>("f");
    EXPECT_EQ(f->GetMaxArgumentCount(), 2147483647);
    f->SetMinArgumentCount(2);
    f->SetMaxArgumentCount(0);
    EXPECT_EQ(f->GetMinArgumentCount(), 0);
    EXPECT_EQ(f->GetMaxArgumentCount(), 0);
    f->SetMinArgumentCount(3);
    EXPECT_EQ(f->GetMaxArgumentCount(), 3);
}

TEST(IEUserFunction, CallWithoutContextIsAnInvalidCast) {
    auto f = MakeRef<TIEUserFunction>("f");
    auto call = TFunctionCall::Create(nullptr, "f");
    call->SetFunction(f);
    EXPECT_THROW(call->Evaluate(nullptr), EInvalidCast);
}

TEST(IEUserFunction, RenamingKeepsItRegisteredWithEveryEngine) {
    TTestEngine e1, e2;
    auto f = MakeRef<TIEUserFunction>("old");
    f->AddReasoner(&e1);
    f->AddReasoner(&e2);
    EXPECT_TRUE(e1.Has("old") && e2.Has("old"));
    f->SetFunctionName("new");
    EXPECT_FALSE(e1.Has("old") || e2.Has("old"));
    EXPECT_TRUE(e1.Has("new"));
    EXPECT_TRUE(e2.Has("new"));
    EXPECT_EQ(f->ReasonerCount(), 2);
}

namespace {
// An engine that drops the function from its reasoner list while unregistering it.
class TDroppingEngine : public TTestEngine {
public:
    void RemoveUserFunction(const TRefPtr<IUserFunction>& f) override {
        TTestEngine::RemoveUserFunction(f);
        f->RemoveReasoner(this);
    }
};
} // namespace

TEST(IEUserFunction, RenamingSurvivesEnginesThatEditTheList) {
    TDroppingEngine e1, e2, e3;
    auto f = MakeRef<TIEUserFunction>("a");
    f->AddReasoner(&e1);
    f->AddReasoner(&e2);
    f->AddReasoner(&e3);
    f->SetFunctionName("b");
    EXPECT_TRUE(e1.Has("b") && e2.Has("b") && e3.Has("b"));
    EXPECT_EQ(f->ReasonerCount(), 3);
}

TEST(IEUserFunction, AssignToItselfAndFromAnother) {
    auto a = MakeRef<TIEUserFunction>("a");
    a->SetMinArgumentCount(1);
    a->SetComment("c");
    a->SetArgumentString(" <x>");
    a->Assign(a.get());
    EXPECT_EQ(a->GetFunctionName(), "a");
    auto b = MakeRef<TIEUserFunction>("b");
    b->Assign(a.get());
    EXPECT_EQ(b->GetFunctionName(), "a");
    EXPECT_EQ(b->GetMinArgumentCount(), 1);
    EXPECT_EQ(b->GetComment(), "c");
    EXPECT_EQ(b->GetArgumentString(), ""); // the argument text is not copied
}

TEST(IEFunctionCall, BindsOnceByName) {
    TTestEngine engine;
    TIEContext context(nullptr, nullptr);
    auto call = TFunctionCall::Create(&engine, "count-args");
    EXPECT_EQ(Message([&] { call->Evaluate(&context); }),
              "Function is unimplemented or unassigned: count-args");
    auto first = MakeRef<TCountFunction>();
    engine.AddUserFunction(first);
    call->Evaluate(&context);
    auto second = MakeRef<TCountFunction>();
    engine.PutUserFunction("count-args", second);
    call->Evaluate(&context);
    EXPECT_EQ(first->Calls, 2);
    EXPECT_EQ(second->Calls, 0);
    EXPECT_EQ(call->GetFunction().get(), first.get());
}

TEST(IEFunctionCall, EvaluateNumberRunsOnlyFunctionsThatComputeNumbers) {
    // Sums its arguments' numbers; counts how often a value was made.
    class TSumFunction : public TIEUserFunction {
    public:
        TSumFunction() { SetFunctionName("sum"); }
        std::string_view ClassName() const override { return "TSumFunction"; }
        bool CallNumber(IFunCall* call, TIEContext* context, TIENumber& result) override {
            CheckCall(call, context);
            result = {0.0, false};
            for (int32_t i = 0; i < call->ArgumentCount(); ++i)
                result.Value += call->GetArgument(i)->Evaluate(context)->GetAsNumeric();
            return true;
        }
        int Values = 0;

    protected:
        TRefPtr<IIEValue> Execute(IFunCall*, TIEContext*) override {
            ++Values;
            return Int(0);
        }
    };
    TTestEngine engine;
    TIEContext context(nullptr, nullptr);
    auto sum = MakeRef<TSumFunction>();
    sum->SetMaxArgumentCount(2);
    engine.AddUserFunction(sum);
    auto call = TFunctionCall::Create(&engine, "sum");
    call->AddArgument(Int(2));
    call->AddArgument(Flt(0.5));
    TIENumber n{-1.0, true};
    ASSERT_TRUE(call->EvaluateNumber(&context, n));
    EXPECT_EQ(n.Value, 2.5);
    EXPECT_FALSE(n.IsFloat);
    EXPECT_EQ(sum->Values, 0);
    EXPECT_EQ(call->GetFunction().get(), sum.get());
    call->AddArgument(Int(1));
    EXPECT_EQ(Message([&] { call->EvaluateNumber(&context, n); }), "Too many arguments for sum");
    EXPECT_EQ(Message([&] { call->EvaluateNumber(nullptr, n); }), "Too many arguments for sum");
    call->DeleteArgument(2);
    EXPECT_EQ(Message([&] { call->EvaluateNumber(nullptr, n); }), "Invalid class typecast");

    // Any other function is left to Evaluate: nothing runs.
    auto counter = MakeRef<TCountFunction>();
    engine.AddUserFunction(counter);
    auto other = TFunctionCall::Create(&engine, "count-args");
    n = {7.0, true};
    EXPECT_FALSE(other->EvaluateNumber(&context, n));
    EXPECT_EQ(counter->Calls, 0);
    EXPECT_EQ(n.Value, 7.0);
    auto missing = TFunctionCall::Create(&engine, "no-such");
    EXPECT_EQ(Message([&] { missing->EvaluateNumber(&context, n); }),
              "Function is unimplemented or unassigned: no-such");
}

TEST(IEFunctionCall, TypedAddersAndTheirErrors) {
    auto call = TFunctionCall::Create(nullptr, "f");
    call->AddInteger(3, dtFloat);
    EXPECT_EQ(call->GetArgument(0)->GetText(), "3.0000");
    call->AddFloat(2.9, dtInteger);
    EXPECT_EQ(call->GetArgument(1)->GetText(), "2");
    call->AddString("x", dtVariable);
    EXPECT_EQ(call->GetArgument(2)->GetText(), "?x");
    EXPECT_EQ(Message([&] { call->AddString("x", dtInteger); }),
              "Not a String type.  Value (x) is a dtInteger type");
    EXPECT_EQ(Message([&] { call->AddInteger(7, dtAtom); }),
              "Not a Integer type.  Value (7) is a dtAtom type");
    EXPECT_EQ(Message([&] { call->AddFloat(1.5, dtString); }),
              "Not a Float type.  Value (1.5000) is a dtString type");
    // A float beyond 32 bits is refused instead of wrapping.
    EXPECT_EQ(Message([&] { call->AddFloat(1e12, dtInteger); }),
              "Not a Float type.  Value (1000000000000.0000) is a dtInteger type");
    EXPECT_EQ(call->ArgumentCount(), 3);
}

TEST(IEFunctionCall, CloneSameCallHashAndText) {
    auto call = TFunctionCall::Create(nullptr, "f");
    call->AddInteger(1);
    call->AddString("a", dtAtom);
    call->SetComment("note");
    auto copy = RefCast<IFunCall>(call->Clone());
    ASSERT_TRUE(copy);
    EXPECT_TRUE(call->SameCall(copy.get()));
    EXPECT_TRUE(call->Equals(copy.get()));
    EXPECT_NE(copy->GetArgument(0).get(), call->GetArgument(0).get());
    EXPECT_EQ(copy->GetHashCode(), call->GetHashCode());
    EXPECT_EQ(call->GetHashCode(), HashString("f") + 1 + HashString("a"));
    EXPECT_EQ(call->GetText(), "; note\r\n(f 1 a)");
    copy->SetArgument(0, Int(2));
    EXPECT_FALSE(call->SameCall(copy.get()));

    TTestEngine engine;
    auto owned = TFunctionCall::Create(&engine, "g");
    EXPECT_EQ(owned->GetText(), "call g");
    call->Assign(call.get()); // self-assignment keeps the arguments
    EXPECT_EQ(call->ArgumentCount(), 2);
}

TEST(IEFunctionCall, ModifyWritesSlotArgumentsInParentheses) {
    auto call = TFunctionCall::Create(nullptr, "modify");
    call->AddInteger(1);
    call->AddString("x 2", dtAtom);
    EXPECT_EQ(call->GetText(), "(modify 1 (x 2))");
}

TEST(IEInterpretedFunction, BindsParametersInAChildContext) {
    TTestEngine engine;
    auto list = MakeRef<TListFunction>();
    list->SetFunctionName("list");
    engine.AddUserFunction(list);

    auto f = MakeRef<TInterpretedFunction>("f");
    f->AddParameter("a", dtVariable);
    f->AddParameter("rest", dtMultiVariable);
    auto body = TFunctionCall::Create(&engine, "list");
    body->AddString("a", dtVariable);
    body->AddString("rest", dtVariable);
    f->AddAction(TIEValue::CreateFunCall(body));

    TIEContext context(nullptr, nullptr);
    auto call = TFunctionCall::Create(&engine, "f");
    call->SetFunction(f);
    for (int i = 1; i <= 3; ++i)
        call->AddInteger(i);
    EXPECT_EQ(call->Evaluate(&context)->GetText(), "1 2 3  ");
    // The bindings lived in the child: the caller's context has none.
    EXPECT_EQ(context.BindingCount(), 0);

    auto one = TFunctionCall::Create(&engine, "f");
    one->SetFunction(f);
    one->AddInteger(1);
    auto r = one->Evaluate(&context);
    ASSERT_EQ(r->GetDType(), dtList);
    EXPECT_EQ(r->AsList()->GetItem(1)->GetDType(), dtList);
    EXPECT_EQ(r->AsList()->GetItem(1)->AsList()->Count(), 0);
}

TEST(IEInterpretedFunction, ArgumentsSeeTheCallersBindingsAndReturnStops) {
    TTestEngine engine;
    auto ret = MakeRef<TReturnFunction>();
    ret->SetFunctionName("return");
    engine.AddUserFunction(ret);
    auto counter = MakeRef<TCountFunction>();
    engine.AddUserFunction(counter);

    auto f = MakeRef<TInterpretedFunction>("g");
    f->AddParameter("x", dtVariable);
    auto r = TFunctionCall::Create(&engine, "return");
    r->AddString("x", dtVariable);
    f->AddAction(TIEValue::CreateFunCall(r));
    f->AddAction(TIEValue::CreateFunCall(TFunctionCall::Create(&engine, "count-args")));

    TIEContext context(nullptr, nullptr);
    context.AddBinding("y", Int(42));
    auto call = TFunctionCall::Create(&engine, "g");
    call->SetFunction(f);
    call->AddString("y", dtVariable);
    EXPECT_EQ(call->Evaluate(&context)->AsInteger(), 42);
    EXPECT_EQ(counter->Calls, 0); // the action after the return did not run
    EXPECT_FALSE(context.ReturnFlag());
}

TEST(IEInterpretedFunction, ArgumentCountsFollowTheParameters) {
    auto f = MakeRef<TInterpretedFunction>("h");
    f->AddParameter("a", dtVariable);
    f->AddParameter("b", dtVariable);
    EXPECT_EQ(f->GetMinArgumentCount(), 2);
    EXPECT_EQ(f->GetMaxArgumentCount(), 2);
    f->AddParameter("rest", dtMultiVariable);
    EXPECT_EQ(f->GetMinArgumentCount(), 2);
    EXPECT_EQ(f->GetMaxArgumentCount(), 2147483647);
}

TEST(IEInterpretedFunction, MissingArgumentsAreNotReadPastTheList) {
    auto f = MakeRef<TInterpretedFunction>("h");
    f->AddParameter("a", dtVariable);
    f->AddParameter("b", dtVariable);
    f->AddAction(TIEValue::CreateText(dtVariable, "b"));
    // Calls are refused below the parameter count; the body itself must still cope.
    f->SetMinArgumentCount(0);
    TIEContext context(nullptr, nullptr);
    auto call = TFunctionCall::Create(nullptr, "h");
    call->SetFunction(f);
    call->AddInteger(1);
    EXPECT_EQ(call->Evaluate(&context)->GetText(), "");
}

TEST(IEInterpretedFunction, ParameterKindsAreChecked) {
    auto f = MakeRef<TInterpretedFunction>("h");
    EXPECT_EQ(Message([&] { f->AddParameter("x", dtString); }),
              "Invalid argument type for deffunction: \"dtString\".  Expected Atom, Variable, "
              "MultiVariable");
}

TEST(IEUserFunctionComponent, RegistersWithItsEngineAndForwardsCalls) {
    auto* engine = new TTestEngine();
    auto* uf = new TUserFunction(nullptr);
    uf->SetFunctionName("host");
    uf->OnCall = [](TObject*, IFunCall* call, TIEContext*, TRefPtr<IIEValue>& result) {
        result = TIEValue::CreateInteger(dtInteger, call->ArgumentCount() * 10);
    };
    uf->SetEngine(engine);
    ASSERT_TRUE(engine->Has("host"));
    TIEContext context(nullptr, nullptr);
    auto call = TFunctionCall::Create(engine, "host");
    call->AddInteger(1);
    EXPECT_EQ(call->Evaluate(&context)->AsInteger(), 10);
    engine->Free(); // the function forgets the engine
    EXPECT_EQ(uf->Engine(), nullptr);
    EXPECT_EQ(uf->Function()->ReasonerCount(), 0);
    TRefPtr<TIEInnerFunction> inner = uf->Function();
    uf->Free();
    // A call that bound the function outlives the component and reports it unassigned.
    EXPECT_EQ(Message([&] { call->Evaluate(&context); }),
              "Function is unimplemented or unassigned: host");
}

TEST(IEUserPackage, OwnerEngineIsServedFromTheStart) {
    auto* engine = new TTestEngine();
    auto* package = NewPackage<TTwoFunctionPackage>(engine);
    EXPECT_TRUE(engine->Has("count-args"));
    EXPECT_TRUE(engine->Has("noop"));
    EXPECT_EQ(package->Functions().GetText(), "count-args\r\nnoop\r\n");
    engine->Free(); // frees the package with it
}

TEST(IEUserPackage, RemovingAFunctionUnregistersItEverywhere) {
    TTestEngine e1, e2;
    auto* package = NewPackage<TTwoFunctionPackage>(nullptr);
    package->SetEngine(&e1);
    package->Reasoners().Add(&e2);
    ASSERT_TRUE(e1.Has("noop") && e2.Has("noop"));
    auto noop = package->Functions().Find("noop");
    package->Functions().Remove(noop.get());
    EXPECT_FALSE(e1.Has("noop"));
    EXPECT_FALSE(e2.Has("noop"));
    EXPECT_EQ(noop->ReasonerCount(), 0);
    // A function added later is registered with both.
    package->Functions().Add(MakeRef<TIEUserFunction>("late"));
    EXPECT_TRUE(e1.Has("late") && e2.Has("late"));
    package->Free();
    EXPECT_TRUE(e1.Table.empty());
    EXPECT_TRUE(e2.Table.empty());
}

TEST(IEUserPackage, ResetMakesFreshFunctions) {
    TTestEngine engine;
    auto* package = NewPackage<TTwoFunctionPackage>(nullptr);
    package->SetEngine(&engine);
    package->Functions().Find("noop")->SetFunctionName("renamed");
    EXPECT_TRUE(engine.Has("renamed"));
    package->SetReset(true);
    EXPECT_FALSE(package->Reset());
    EXPECT_FALSE(engine.Has("renamed"));
    EXPECT_TRUE(engine.Has("noop"));
    EXPECT_EQ(package->Functions().Count(), 2);
    package->Free();
}

TEST(IEUserPackage, EngineDestructionClearsEngine) {
    auto* engine = new TTestEngine();
    auto* package = NewPackage<TTwoFunctionPackage>(nullptr);
    package->SetEngine(engine);
    auto f = package->Functions().Item(0);
    engine->Free();
    EXPECT_EQ(package->Engine(), nullptr);
    EXPECT_EQ(package->Reasoners().Count(), 0);
    EXPECT_EQ(f->ReasonerCount(), 0);
    package->Free();
}

namespace {
struct TRegisterTestClasses {
    TRegisterTestClasses() {
        RegisterClass<TCountFunction>("TCountFunction");
        RegisterClass<TIEUserFunction>("TIEUserFunction");
    }
};
const TRegisterTestClasses registerTestClasses;
} // namespace

TEST(IEUserPackage, StoredFunctionsRoundTrip) {
    auto* source = NewPackage<TTwoFunctionPackage>(nullptr);
    source->Functions().Item(0)->SetComment("counts");
    source->Functions().Item(0)->SetMaxArgumentCount(4);
    TMemoryStream stream;
    {
        TWriter writer(stream);
        source->WriteFunctions(writer);
    }
    stream.SetPosition(0);
    TTestEngine engine;
    auto* target = new TUserPackage(nullptr);
    target->AfterConstruction();
    target->SetEngine(&engine);
    {
        TReader reader(stream);
        target->ReadFunctions(reader);
    }
    ASSERT_EQ(target->Functions().Count(), 2);
    auto f = target->Functions().Item(0);
    EXPECT_EQ(f->GetFunctionName(), "count-args");
    EXPECT_EQ(f->GetComment(), "counts");
    EXPECT_EQ(f->GetMaxArgumentCount(), 4);
    EXPECT_NE(dynamic_cast<TCountFunction*>(f.get()), nullptr);
    EXPECT_TRUE(engine.Has("count-args"));
    EXPECT_TRUE(engine.Has("noop"));
    source->Free();
    target->Free();
}

TEST(IEUserPackage, ReadingStoredFunctionsIsAllOrNothing) {
    TMemoryStream stream;
    {
        TWriter writer(stream);
        writer.WriteListBegin();
        writer.WriteString("TCountFunction");
        writer.WriteString("first");
        writer.WriteString("");
        writer.WriteInteger(1);
        writer.WriteInteger(0);
        writer.WriteString("TNoSuchFunctionClass");
        writer.WriteListEnd();
    }
    stream.SetPosition(0);
    TTestEngine engine;
    auto* package = NewPackage<TTwoFunctionPackage>(nullptr);
    package->SetEngine(&engine);
    TReader reader(stream);
    EXPECT_EQ(Message([&] { package->ReadFunctions(reader); }),
              "Class TNoSuchFunctionClass not found");
    // The package keeps its functions and registrations; nothing of the failed read remains.
    EXPECT_EQ(package->Functions().GetText(), "count-args\r\nnoop\r\n");
    EXPECT_FALSE(engine.Has("first"));
    EXPECT_TRUE(engine.Has("count-args"));
    package->Free();
}

TEST(IEUserPackage, AssignSharesFunctionsAndSelfAssignIsANoOp) {
    auto* a = NewPackage<TTwoFunctionPackage>(nullptr);
    auto* b = new TUserPackage(nullptr);
    b->AfterConstruction();
    b->Assign(a);
    ASSERT_EQ(b->Functions().Count(), 2);
    EXPECT_EQ(b->Functions().Item(0).get(), a->Functions().Item(0).get());
    a->Assign(a);
    EXPECT_EQ(a->Functions().Count(), 2);
    a->Free();
    b->Free();
}
