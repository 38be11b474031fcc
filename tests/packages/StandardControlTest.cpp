#include <gtest/gtest.h>

#include "ScriptEngine.h"
#include "engine/InferenceEngine.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEValue.h"
#include "packages/StandardPackage.h"
#include "platform/ClassRegistry.h"

using namespace ie;
using ie::test::TScriptEngine;

TEST(StandardFunctionClass, ConstructionSetsNameCommentSyntaxAndCounts) {
    TRefPtr<TIfFunction> f = MakeRef<TIfFunction>();
    EXPECT_EQ(f->GetFunctionName(), "if");
    EXPECT_EQ(f->GetArgumentString(),
              " <predicate-expression> then <expression>+ [else <expression>+]");
    EXPECT_EQ(f->GetMinArgumentCount(), 2);
    EXPECT_EQ(f->GetMaxArgumentCount(), 2147483647);
    EXPECT_EQ(f->ClassName(), "TIfFunction");
    TRefPtr<TNotFunction> n = MakeRef<TNotFunction>();
    EXPECT_EQ(n->GetMinArgumentCount(), 1);
    EXPECT_EQ(n->GetMaxArgumentCount(), 1);
}

TEST(StandardFunctionClass, HelpFormatShapesEveryComment) {
    const std::string plain = MakeRef<TAndFunction>()->GetComment();
    EXPECT_EQ(plain, "Returns TRUE if no argument evaluates to FALSE, else FALSE");
    const std::string saved = HelpFormat();
    HelpFormat() = "%s (%s)";
    const std::string named = MakeRef<TAndFunction>()->GetComment();
    HelpFormat() = saved;
    EXPECT_EQ(named, plain + " (and)");
}

TEST(StandardFunctionClass, CountsAreCheckedBeforeTheBody) {
    TScriptEngine e;
    EXPECT_EQ(e.Error("(not)"), "Too few arguments for not");
    EXPECT_EQ(e.Error("(not 1 2)"), "Too many arguments for not");
    EXPECT_EQ(e.Error("(bind ?x)"), "Too few arguments for bind");
    EXPECT_EQ(e.Error("(> 1)"), "Too few arguments for >");
}

TEST(StandardFunctionClass, ClassesAreRegisteredByName) {
    const TClassInfo* info = GetClass("TSubSetpMFFunction");
    ASSERT_NE(info, nullptr);
    std::unique_ptr<TObject> object(info->Create());
    auto* f = dynamic_cast<TIEUserFunction*>(object.get());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->GetFunctionName(), "subsetp");
    TRefPtr<IUserFunction> held(f); // now owned by its count
    (void)object.release();
}

TEST(StandardLogic, AndOrNot) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(and)"), "TRUE");
    EXPECT_EQ(e.Text("(or)"), "FALSE");
    EXPECT_EQ(e.Text("(or 1)"), "FALSE"); // only the atom TRUE counts for or
    EXPECT_EQ(e.Text("(or FALSE TRUE)"), "TRUE");
    EXPECT_EQ(e.Text("(and 0 \"FALSE\" a)"), "TRUE");
    EXPECT_EQ(e.Text("(not 0)"), "FALSE");
    EXPECT_EQ(e.Text("(not FALSE)"), "TRUE");
}

TEST(StandardLogic, AndAndOrStopAtTheDecidingValue) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(and FALSE (bind ?x 1))"), "FALSE");
    EXPECT_EQ(e.Text("(or TRUE (bind ?y 1))"), "TRUE");
    EXPECT_EQ(e.Root.FindBinding("x"), nullptr);
    EXPECT_EQ(e.Root.FindBinding("y"), nullptr);
}

TEST(StandardLogic, EqualityByTypeOrByCoercion) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(eq 1 1.0)"), "FALSE");
    EXPECT_EQ(e.Text("(eq* 1 1.0)"), "TRUE");
    EXPECT_EQ(e.Text("(eq a a a)"), "TRUE");
    EXPECT_EQ(e.Text("(eq a a b)"), "FALSE");
    EXPECT_EQ(e.Text("(eq a)"), "TRUE");
    EXPECT_EQ(e.Text("(neq a)"), "TRUE");
    EXPECT_EQ(e.Text("(neq a b c)"), "TRUE");
    EXPECT_EQ(e.Text("(neq a b a)"), "FALSE");
}

TEST(StandardComparison, NumericChains) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(= 1 1.0)"), "TRUE");
    EXPECT_EQ(e.Text("(= 1 1 2)"), "FALSE");
    EXPECT_EQ(e.Text("(<> 1 2 3)"), "TRUE");
    EXPECT_EQ(e.Text("(<> 1 2 1)"), "FALSE");
    EXPECT_EQ(e.Text("(< 1 2 2)"), "FALSE");
    EXPECT_EQ(e.Text("(<= 1 2 2)"), "TRUE");
    EXPECT_EQ(e.Text("(> 3 2 1)"), "TRUE");
    EXPECT_EQ(e.Text("(> 3 1 2)"), "FALSE");
    EXPECT_EQ(e.Text("(>= 3 3 1.5)"), "TRUE");
    EXPECT_EQ(e.Text("(>= 1 2)"), "FALSE");
}

TEST(StandardComparison, FirstFailingPairStopsEvaluation) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(< 2 1 (bind ?z 0))"), "FALSE");
    EXPECT_EQ(e.Root.FindBinding("z"), nullptr);
}

TEST(StandardComparison, NonNumericArgumentsFailInTheGetter) {
    TScriptEngine e;
    EXPECT_EQ(e.Error("(< 1 abc)"), "Not a numeric type.  Value (abc) is a dtAtom type");
    EXPECT_EQ(e.Error("(= (create$ 1) 1)"), "Not a numeric type.  Value (1 ) is a dtList type");
}

TEST(StandardIf, ThenAndElseParts) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(if FALSE then 1)"), "FALSE");
    EXPECT_EQ(e.Text("(if TRUE then 1 2)"), "2");
    EXPECT_EQ(e.Text("(if 0 then 1 2 else 3)"), "2");
    EXPECT_EQ(e.Text("(if FALSE then 1 else 3 4)"), "4");
    EXPECT_EQ(e.Text("(if TRUE then)"), "FALSE");
    // Only the then-part runs when the condition holds.
    EXPECT_EQ(e.Text("(if TRUE then (bind ?a 1) else (bind ?b 2))"), "1");
    EXPECT_EQ(e.Root.FindBinding("b"), nullptr);
}

TEST(StandardIf, OneCallRunsEitherPartAgainAndFollowsItsArguments) {
    TScriptEngine e;
    // An action whose value is the else keyword ends the then-part.
    EXPECT_EQ(e.Text("(bind ?k else) (if TRUE then 1 ?k 2 else 3)"), "1");
    // A call whose arguments change finds its keywords again: (if ?c then 1 2 3 else (bind ?e
    // yes)) becomes (if ?c then 1 else (bind ?e yes) 2 3).
    auto atom = [](std::string_view text) { return TIEValue::CreateText(dtAtom, text); };
    auto number = [](int32_t n) { return TIEValue::CreateInteger(dtInteger, n); };
    auto bindE = TFunctionCall::Create(&e, "bind");
    bindE->AddArgument(TIEValue::CreateText(dtVariable, "e"));
    bindE->AddArgument(atom("yes"));
    auto call = TFunctionCall::Create(&e, "if");
    for (auto v : {TIEValue::CreateText(dtVariable, "c"), atom("then"), number(1), number(2),
                   number(3), atom("else"), TIEValue::CreateFunCall(bindE)})
        call->AddArgument(v);
    // One call runs either part, run after run.
    for (const char* c : {"TRUE", "FALSE", "TRUE"}) {
        e.Root.SetBinding("c", atom(c));
        EXPECT_EQ(call->Evaluate(&e.Root)->GetText(), c[0] == 'T' ? "3" : "yes");
    }
    e.Root.Bindings().Remove("e");
    e.Root.SetBinding("c", atom("FALSE"));
    for (int32_t i = 3; i < 7; ++i)
        call->SetArgument(i, i == 3   ? atom("else")
                             : i == 4 ? TIEValue::CreateFunCall(bindE)
                                      : number(i - 3));
    EXPECT_EQ(call->Evaluate(&e.Root)->GetText(), "3");
    EXPECT_EQ(e.Text("?e"), "yes");
    // A then keyword taken away is missed on the next run.
    call->SetArgument(1, atom("THEN"));
    try {
        call->Evaluate(&e.Root);
        ADD_FAILURE() << "no error";
    } catch (const std::exception& x) {
        EXPECT_STREQ(x.what(), "Syntax Error: Missing \"then\" in an IF statement");
    }
}

TEST(StandardIf, MissingThenIsASyntaxErrorBeforeAnyEvaluation) {
    TScriptEngine e;
    EXPECT_EQ(e.Error("(if (bind ?c 1) 2)"), "Syntax Error: Missing \"then\" in an IF statement");
    EXPECT_EQ(e.Root.FindBinding("c"), nullptr);
    // The keyword must be the atom itself, in lower case.
    EXPECT_EQ(e.Error("(if TRUE THEN 1)"), "Syntax Error: Missing \"then\" in an IF statement");
    EXPECT_EQ(e.Error("(if TRUE \"then\" 1)"), "Syntax Error: Missing \"then\" in an IF statement");
}

TEST(StandardWhile, LoopsUntilFalse) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(bind ?l (create$ a b c)) (bind ?seen (create$)) "
                     "(while (> (length$ ?l) 0) do (bind ?seen (insert$ ?seen 0 (first$ ?l))) "
                     "(bind ?l (rest$ ?l)))"),
              "FALSE");
    EXPECT_EQ(e.Text("?seen"), "(c b a)");
    EXPECT_EQ(e.Text("(bind ?l (create$ a)) (while (> (length$ ?l) 0) (bind ?l (rest$ ?l)))"),
              "FALSE");
}

TEST(StandardWhile, FalseAtTheStartRunsNoAction) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(while FALSE (bind ?w 1))"), "FALSE");
    EXPECT_EQ(e.Root.FindBinding("w"), nullptr);
}

TEST(StandardWhile, ReturnEndsTheLoopWithItsValue) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(bind ?n 0) (while TRUE do (bind ?n (create$ ?n)) (return done))"), "done");
    EXPECT_EQ(e.Text("?n"), "(0)");
}

TEST(StandardForEach, BindsEachElementInTurn) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(bind ?acc (create$)) "
                     "(foreach x (create$ a b c) (bind ?acc (insert$ ?acc 0 ?x)))"),
              "(c b a)");
    EXPECT_EQ(e.Text("?x"), "c");
    EXPECT_EQ(e.Text("(foreach y (create$))"), "");
    EXPECT_EQ(e.Text("(foreach y (create$ 1 2) (if (= ?y 1) then (return first)))"), "first");
    EXPECT_EQ(e.Error("(foreach y a)"), "Not a list type.  Value (a) is a dtAtom type");
}

TEST(StandardTry, CatchBindsTheMessage) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(try (throw x) catch (bind ?m ?__ERROR) caught)"), "caught");
    EXPECT_EQ(e.Text("?__ERROR"), "\"x\"");
    EXPECT_EQ(e.Text("(try (throw y) except 1)"), "1");
    EXPECT_EQ(e.Text("(try (not 1 2) catch ?__ERROR)"), "\"Too many arguments for not\"");
}

TEST(StandardTry, FinallyAlwaysRuns) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(try (throw x) finally (bind ?f ran))"), "FALSE");
    EXPECT_EQ(e.Text("?f"), "ran");
    EXPECT_EQ(e.Text("(try 1 2 finally 3)"), "3");
    EXPECT_EQ(e.Text("(try (throw x) finally (bind ?g 1) catch (bind ?h ?g) 5)"), "5");
    EXPECT_EQ(e.Text("?h"), "1");
}

TEST(StandardTry, ReturnInTheBodyStillRunsTheWholeFinallyPart) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(try (return r) 2 finally (bind ?p 1) (bind ?q 2))"), "r");
    EXPECT_EQ(e.Text("?q"), "2");
    EXPECT_FALSE(e.Root.ReturnFlag());
}

TEST(StandardTry, WithoutKeywordsNothingRuns) {
    TScriptEngine e;
    EXPECT_EQ(e.Error("(try (bind ?t 1))"), "Missing catch or finally statement for try block");
    EXPECT_EQ(e.Root.FindBinding("t"), nullptr);
    EXPECT_EQ(e.Error("(throw \"boom\")"), "boom");
}

// A function that raises the silent abort, as exit does.
class TAbortFunction : public TIEUserFunction {
public:
    TAbortFunction() { SetFunctionName("abort-now"); }

protected:
    TRefPtr<IIEValue> Execute(IFunCall*, TIEContext*) override { throw EAbort(); }
};

TEST(StandardTry, SilentAbortIsNotCaught) {
    TScriptEngine e;
    e.AddUserFunction(MakeRef<TAbortFunction>());
    EXPECT_THROW(e.Eval("(try (abort-now) finally (bind ?fin 1) catch (bind ?cat 1))"), EAbort);
    EXPECT_EQ(e.Text("?fin"), "1");
    EXPECT_EQ(e.Root.FindBinding("cat"), nullptr);
}

TEST(StandardVariables, BindAndGetVar) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(bind ?v (create$ 1 2))"), "(1 2)");
    EXPECT_EQ(e.Text("(__get-var ?v)"), "(1 2)");
    EXPECT_EQ(e.Text("(__get-var v)"), "(1 2)");
    EXPECT_EQ(e.Text("(__get-var \"v\")"), "(1 2)");
    EXPECT_EQ(e.Text("(__get-var nothing-bound)"), "");
}

TEST(StandardVariables, BindReplacesTheBindingFoundUpTheChain) {
    TScriptEngine e;
    e.Eval("(bind ?*g* 1)");
    auto child = e.Root.CreateChild();
    EXPECT_EQ(e.Text("(bind ?*g* 2)", child.get()), "2");
    EXPECT_EQ(child->Bindings().Count(), 0);
    EXPECT_EQ(e.Text("?*g*"), "2");
}

// Mended: a return given as a top-level command must not leave the root context's return flag
// set, or every later top-level control form would stop after its first action.
TEST(StandardReturn, TopLevelReturnLeavesNoFlagBehind) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(return 5)"), "5");
    EXPECT_FALSE(e.Root.ReturnFlag());
    EXPECT_EQ(e.Text("(if TRUE then (bind ?r1 1) (bind ?r2 2))"), "2");
    EXPECT_EQ(e.Text("(while (return 1) (bind ?r3 3))"), "1");
    EXPECT_FALSE(e.Root.ReturnFlag());
    EXPECT_EQ(e.Text("(foreach i (create$ 1 2) (bind ?r4 ?i) (bind ?r5 ?i))"), "2");
    EXPECT_EQ(e.Text("(try (bind ?r6 6) (bind ?r7 7) finally)"), "7");
}

TEST(StandardReturn, ReturnStopsNestedFormsAndIsEvaluatedOnce) {
    TScriptEngine e;
    EXPECT_EQ(e.Text("(bind ?k 3) (if TRUE then (while TRUE (if TRUE then (return (create$ ?k)))) "
                     "(bind ?after 1))"),
              "(3)");
    EXPECT_EQ(e.Root.FindBinding("after"), nullptr);
    EXPECT_FALSE(e.Root.ReturnFlag());
}

TEST(StandardReturn, InsideAChildContextTheFlagIsLeftToTheCaller) {
    // A rule firing or a deffunction evaluates in a child context and clears the flag itself.
    TScriptEngine e;
    auto child = e.Root.CreateChild();
    EXPECT_EQ(e.Text("(if TRUE then (return ?q) 2)", child.get()), "?q");
    EXPECT_TRUE(child->ReturnFlag());
    EXPECT_FALSE(e.Root.ReturnFlag());
}
