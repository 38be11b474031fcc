// The standard package's functions: control forms and comparisons, multifield functions, files,
// fact and engine commands, input and output, and the package that lists them.
//
// Invariants: after every top-level command the root context's return flag is clear again (the
// outermost control form in a root context takes a "return" over); an edited multifield is a new
// list of cloned elements, never the argument's own list. The functions that command the engine
// (facts, run, load and save, streams) work on the concrete engine, hence EngineAccess.
#include "packages/StandardPackage.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>
#include <vector>

#include <boost/container/small_vector.hpp>

#include "engine/InferenceEngine.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEHelperFunctions.h"
#include "packages/EngineAccess.h"
#include "platform/Streams.h"

namespace ie {

namespace {

// ---------------------------------------------------------------------------------------------
// Argument access

// Argument i as written (unevaluated); the empty atom for a missing element.
const TRefPtr<IIEValue>& Written(IFunCall* call, int32_t i) {
    const TRefPtr<IIEValue>& value = ArgumentOf(call, i);
    return value ? value : IEEmptyAtom();
}

// A keyword is recognised by equality with its shared atom (kind and text).
bool IsKeyword(const TRefPtr<IIEValue>& value, const TRefPtr<IIEValue>& keyword) {
    return value && value->Equals(keyword.get());
}

bool IsAtomKeyword(const TRefPtr<IIEValue>& value, const TRefPtr<IIEValue>& keyword) {
    return value && value->GetDType() == dtAtom && value->Equals(keyword.get());
}

TRefPtr<IIEValue> NewList(TRefPtr<TValueVector> list) {
    return TIEValue::CreateList(std::move(list));
}

TRefPtr<IIEValue> NewInteger(int32_t value) {
    return TIEValue::CreateInteger(dtInteger, value);
}

// A clone of the element's value: a new multifield never shares element objects with its source.
TRefPtr<IIEValue> ClonedElement(const TRefPtr<IIEValue>& element, TIEContext* context) {
    return Evaluated(element, context)->CloneValue();
}

// ---------------------------------------------------------------------------------------------
// Return state of top-level commands
//
// "return" stops the enclosing control forms through the context's return flag. Inside a rule or
// a deffunction the flag lives on a child context that is dropped afterwards; a top-level command
// runs in the engine's root context, which lives on. So the outermost control form running in a
// root context takes the return over and clears the flag when it ends, and a "return" with no
// enclosing form in a root context sets no flag at all: after every top-level command the root's
// return flag is clear again.

thread_local std::vector<const TIEContext*> ActiveRootForms;

bool InRootForm(const TIEContext* context) {
    return std::find(ActiveRootForms.begin(), ActiveRootForms.end(), context) !=
           ActiveRootForms.end();
}

class TControlFormScope {
public:
    explicit TControlFormScope(TIEContext* context)
        : FContext(context), FRoot(context->Parent() == nullptr),
          FOutermost(FRoot && !InRootForm(context)) {
        if (FRoot) ActiveRootForms.push_back(context);
    }
    ~TControlFormScope() {
        if (!FRoot) return;
        ActiveRootForms.pop_back();
        if (FOutermost) FContext->ClearReturn();
    }
    TControlFormScope(const TControlFormScope&) = delete;
    TControlFormScope& operator=(const TControlFormScope&) = delete;

    // The result of a form that stopped at the return flag: the context's return value, which
    // "return" stores as written. Where no action list above will evaluate it (the outermost
    // top-level form), it is evaluated here.
    TRefPtr<IIEValue> TakeReturn() const {
        TRefPtr<IIEValue> value = FContext->ReturnValue();
        if (FOutermost) return Evaluated(value, FContext);
        return value ? value : IEEmptyAtom();
    }

private:
    TIEContext* FContext;
    bool FRoot;
    bool FOutermost;
};

// Evaluates the arguments [from, to) as actions; each value becomes `result`. Returns true when
// an action set the return flag.
bool RunActions(IFunCall* call, int32_t from, int32_t to, TIEContext* context,
                TRefPtr<IIEValue>& result) {
    for (int32_t i = from; i < to; ++i) {
        TRefPtr<IIEValue> value = EvalArg(call, i, context);
        if (context->ReturnFlag()) return true;
        result = std::move(value);
    }
    return false;
}

// The comparisons of the first argument with each other one: TRUE when `holds(first, other)` for
// every other argument, each read by `read` as it is evaluated (the first before any other); the
// first that fails stops the evaluation.
template <class Read, class Holds>
bool EachHoldsWithFirst(IFunCall* call, TIEContext* context, Read read, Holds holds) {
    const auto first = read(ArgumentOf(call, 0), context);
    for (int32_t i = 1, n = call->ArgumentCount(); i < n; ++i)
        if (!holds(first, read(ArgumentOf(call, i), context))) return false;
    return true;
}

// The readers of EachHoldsWithFirst: the value itself, or its number.
struct TAsValue {
    TRefPtr<IIEValue> operator()(const TRefPtr<IIEValue>& argument, TIEContext* context) const {
        return Evaluated(argument, context);
    }
};
struct TAsNumber {
    double operator()(const TRefPtr<IIEValue>& argument, TIEContext* context) const {
        return EvalNumber(argument, context).Value;
    }
};

} // namespace

// =============================================================================================
// Control forms, comparisons and variables

TAndFunction::TAndFunction()
    : TTestFunction("and", "Returns TRUE if no argument evaluates to FALSE, else FALSE",
                    " <expression>*") {}

bool TAndFunction::ExecuteTest(IFunCall* call, TIEContext* context) {
    for (int32_t i = 0, n = call->ArgumentCount(); i < n; ++i)
        if (!EvalCondition(ArgumentOf(call, i), context)) return false;
    return true;
}

TOrFunction::TOrFunction()
    : TTestFunction("or", "Returns TRUE if any argument evaluates to TRUE, else FALSE",
                    " <expression>*") {}

bool TOrFunction::ExecuteTest(IFunCall* call, TIEContext* context) {
    for (int32_t i = 0, n = call->ArgumentCount(); i < n; ++i) {
        // A call that answers TRUE or FALSE (the tests of a "|" run) hands no value over.
        const TRefPtr<IIEValue>& argument = ArgumentOf(call, i);
        if (const IIEValue* e = argument.get(); e && &typeid(*e) == &typeid(TIEValue))
            if (TFunctionCall* test = AsFunctionCall(*static_cast<const TIEValue*>(e)))
                if (bool holds; test->EvaluateTest(context, holds)) {
                    if (holds) return true;
                    continue;
                }
        if (Evaluated(argument, context)->Equals(IETrueValue().get())) return true;
    }
    return false;
}

TNotFunction::TNotFunction()
    : TTestFunction("not", "Returns TRUE if the argument evaluates to FALSE, else FALSE",
                    " <expression>", 1, 1) {}

bool TNotFunction::ExecuteTest(IFunCall* call, TIEContext* context) {
    return !EvalCondition(ArgumentOf(call, 0), context);
}

TEqFunction::TEqFunction()
    : TTestFunction("eq",
                    "Returns TRUE if the first argument is equal in type and value to all "
                    "the other arguments, else FALSE",
                    " <expression> <expression>+", 1) {}

bool TEqFunction::ExecuteTest(IFunCall* call, TIEContext* context) {
    return EachHoldsWithFirst(call, context, TAsValue(), [](const auto& first, const auto& other) {
        return ValuesEqual(first.get(), other.get());
    });
}

TEqStarFunction::TEqStarFunction()
    : TTestFunction("eq*",
                    "Returns TRUE if the first argument is equal in value to all the other "
                    "arguments, converting them to its type, else FALSE",
                    " <expression> <expression>+", 1) {}

bool TEqStarFunction::ExecuteTest(IFunCall* call, TIEContext* context) {
    return EachHoldsWithFirst(call, context, TAsValue(), [](const auto& first, const auto& other) {
        return first->EqualsCoerced(other.get());
    });
}

TNeqFunction::TNeqFunction()
    : TTestFunction("neq",
                    "Returns TRUE if the first argument differs in type or value from all "
                    "the other arguments, else FALSE",
                    " <expression> <expression>*", 1) {}

bool TNeqFunction::ExecuteTest(IFunCall* call, TIEContext* context) {
    return EachHoldsWithFirst(call, context, TAsValue(), [](const auto& first, const auto& other) {
        return !ValuesEqual(first.get(), other.get());
    });
}

TEqualsFunction::TEqualsFunction()
    : TTestFunction("=",
                    "Returns TRUE if the first argument is numerically equal to all the "
                    "other arguments, else FALSE",
                    " <numeric-expression> <numeric-expression>+", 1) {
    SetNumberTest(ntEqual);
}

bool TEqualsFunction::ExecuteTest(IFunCall* call, TIEContext* context) {
    return EachHoldsWithFirst(call, context, TAsNumber(), std::equal_to<double>());
}

TNotEqualsFunction::TNotEqualsFunction()
    : TTestFunction("<>",
                    "Returns TRUE if the first argument is numerically different from all "
                    "the other arguments, else FALSE",
                    " <numeric-expression> <numeric-expression>*", 1) {
    SetNumberTest(ntNotEqual);
}

bool TNotEqualsFunction::ExecuteTest(IFunCall* call, TIEContext* context) {
    return EachHoldsWithFirst(call, context, TAsNumber(), std::not_equal_to<double>());
}

namespace {

// The chained comparisons: every neighbouring pair must hold; the first pair that fails stops
// the evaluation.
template <class Holds> bool CompareChain(IFunCall* call, TIEContext* context) {
    double previous = EvalNumber(ArgumentOf(call, 0), context).Value;
    for (int32_t i = 1, n = call->ArgumentCount(); i < n; ++i) {
        const double current = EvalNumber(ArgumentOf(call, i), context).Value;
        if (!Holds()(previous, current)) return false;
        previous = current;
    }
    return true;
}

} // namespace

TGtFunction::TGtFunction()
    : TTestFunction(">",
                    "Returns TRUE if each argument is greater than the argument that follows "
                    "it, else FALSE",
                    " <numeric-expression> <numeric-expression>+", 2) {
    SetNumberTest(ntGreater);
}

bool TGtFunction::ExecuteTest(IFunCall* call, TIEContext* context) {
    return CompareChain<std::greater<double>>(call, context);
}

TGtOrEqFunction::TGtOrEqFunction()
    : TTestFunction(">=",
                    "Returns TRUE if each argument is greater than or equal to the argument "
                    "that follows it, else FALSE",
                    " <numeric-expression> <numeric-expression>+", 2) {
    SetNumberTest(ntGreaterOrEqual);
}

bool TGtOrEqFunction::ExecuteTest(IFunCall* call, TIEContext* context) {
    return CompareChain<std::greater_equal<double>>(call, context);
}

TLtFunction::TLtFunction()
    : TTestFunction("<",
                    "Returns TRUE if each argument is less than the argument that follows "
                    "it, else FALSE",
                    " <numeric-expression> <numeric-expression>+", 2) {
    SetNumberTest(ntLess);
}

bool TLtFunction::ExecuteTest(IFunCall* call, TIEContext* context) {
    return CompareChain<std::less<double>>(call, context);
}

TLtOrEqFunction::TLtOrEqFunction()
    : TTestFunction("<=",
                    "Returns TRUE if each argument is less than or equal to the argument "
                    "that follows it, else FALSE",
                    " <numeric-expression> <numeric-expression>+", 2) {
    SetNumberTest(ntLessOrEqual);
}

bool TLtOrEqFunction::ExecuteTest(IFunCall* call, TIEContext* context) {
    return CompareChain<std::less_equal<double>>(call, context);
}

TIfFunction::TIfFunction()
    : TBuiltInFunction("if",
                       "Runs the actions after then when the condition is not FALSE, else the "
                       "actions after else; returns the value of the last action run",
                       " <predicate-expression> then <expression>+ [else <expression>+]", 2) {}

namespace {

// What an if call keeps of its written parts (TFunctionCall::FormMark): nothing yet, or (from 0
// on) where the else keyword stands, the argument count when it has none. An if inside a rule or
// a deffunction runs with the same written parts each time, so the check of "then" and the search
// for else are made once, on its first run.
constexpr int32_t IfNotChecked = -1;

TFunctionCall* OwnCall(IFunCall* call) {
    return typeid(*call) == typeid(TFunctionCall) ? static_cast<TFunctionCall*>(call) : nullptr;
}

// Whether an action's value is the else keyword (which ends the then branch as the written one
// does). A number, the common value, is told apart without a call.
bool IsElseValue(const IIEValue* value, const IIEValue* elseAtom) {
    if (value == elseAtom) return true;
    if (&typeid(*value) == &typeid(TIEValue)) {
        const TIEType kind = static_cast<const TIEValue*>(value)->DType();
        if (kind == dtInteger || kind == dtFloat) return false;
    }
    return value->Equals(elseAtom);
}

} // namespace

TRefPtr<IIEValue> TIfFunction::Execute(IFunCall* call, TIEContext* context) {
    TFunctionCall* own = OwnCall(call);
    const int32_t n = call->ArgumentCount();
    int32_t mark = own ? own->FormMark() : IfNotChecked;
    if (mark < 0) {
        if (!IsKeyword(Written(call, 1), IEThenAtom()))
            RaiseIE(imSyntaxError, IEMessage(imMissingThen));
        const IIEValue* elseAtom = IEElseAtom().get();
        mark = n;
        for (int32_t i = 3; i < n && mark == n; ++i)
            if (Written(call, i)->Equals(elseAtom)) mark = i;
        if (own) own->SetFormMark(mark);
    }
    TControlFormScope scope(context);
    // No value yet reads as FALSE (the value of a branch that runs no action).
    TRefPtr<IIEValue> result;
    if (EvalCondition(ArgumentOf(call, 0), context)) {
        // The written else ends the branch; an action whose value is the else keyword ends it
        // as well.
        const IIEValue* elseAtom = IEElseAtom().get();
        for (int32_t i = 2; i < mark; ++i) {
            TRefPtr<IIEValue> value = EvalArg(call, i, context);
            if (IsElseValue(value.get(), elseAtom)) break;
            if (context->ReturnFlag()) return scope.TakeReturn();
            result = std::move(value);
        }
    } else if (mark < n && RunActions(call, mark + 1, n, context, result)) {
        return scope.TakeReturn();
    }
    if (!result) return IEFalseValue();
    return result;
}

TWhileFunction::TWhileFunction()
    : TBuiltInFunction("while",
                       "Runs the actions for as long as the condition is not FALSE; returns "
                       "FALSE, or the value given to return",
                       " <boolean-expression> [do] <expression>*", 2) {}

TRefPtr<IIEValue> TWhileFunction::Execute(IFunCall* call, TIEContext* context) {
    TControlFormScope scope(context);
    const int32_t n = call->ArgumentCount();
    const int32_t first = IsKeyword(Written(call, 1), IEDoAtom()) ? 2 : 1;
    TRefPtr<IIEValue> result = EvalArg(call, 0, context);
    while (!IsFalseValue(result.get())) {
        if (RunActions(call, first, n, context, result)) return scope.TakeReturn();
        result = EvalArg(call, 0, context);
    }
    return result;
}

TForEachFunction::TForEachFunction()
    : TBuiltInFunction("foreach",
                       "Binds the variable to each element of the multifield in turn and runs "
                       "the actions; returns the value of the last action run",
                       " <variable-name> <list-expression> <expression>*", 2) {}

TRefPtr<IIEValue> TForEachFunction::Execute(IFunCall* call, TIEContext* context) {
    TControlFormScope scope(context);
    const std::string name = EvalArg(call, 0, context)->AsString();
    // Held: an action may rebind the variable that owned the list.
    const TRefPtr<IValueVector> list = EvalArg(call, 1, context)->AsList();
    const int32_t n = call->ArgumentCount();
    TRefPtr<IIEValue> result = IEEmptyAtom();
    for (int32_t e = 0; e < list->Count(); ++e) {
        context->SetBinding(name, Evaluated(list->GetItem(e), context));
        if (RunActions(call, 2, n, context, result)) return scope.TakeReturn();
    }
    return result;
}

TTryFunction::TTryFunction()
    : TBuiltInFunction("try",
                       "Runs the actions; the actions after finally always run afterwards, the "
                       "actions after catch only when an error was raised, with its message "
                       "bound to ?__ERROR",
                       " [<expression>*] [finally [<expression>*>] [catch|except [<expression>*]]",
                       1) {}

TRefPtr<IIEValue> TTryFunction::Execute(IFunCall* call, TIEContext* context) {
    const int32_t n = call->ArgumentCount();
    int32_t finallyAt = -1;
    for (int32_t i = 0; i < n && finallyAt < 0; ++i)
        if (IsAtomKeyword(Written(call, i), IEFinallyAtom())) finallyAt = i;
    int32_t catchAt = -1;
    for (int32_t i = finallyAt + 1; i < n && catchAt < 0; ++i) {
        const TRefPtr<IIEValue>& a = Written(call, i);
        if (IsAtomKeyword(a, IECatchAtom()) || IsAtomKeyword(a, IEExceptAtom())) catchAt = i;
    }
    if (finallyAt < 0 && catchAt < 0) RaiseIE(imMissingCatch);
    const int32_t bodyEnd = finallyAt >= 0 ? finallyAt : catchAt;
    const int32_t finallyEnd = catchAt >= 0 ? catchAt : n;

    TControlFormScope scope(context);
    TRefPtr<IIEValue> result = IEEmptyAtom();
    bool returned = false;
    // The finally part runs in full even after the body returned; the body's return stands
    // unless the finally part returns itself.
    auto runFinally = [&] {
        if (finallyAt < 0) return;
        TRefPtr<IIEValue> pending;
        if (context->ReturnFlag()) pending = context->ReturnValue();
        context->ClearReturn();
        if (RunActions(call, finallyAt + 1, finallyEnd, context, result))
            returned = true;
        else if (returned)
            context->SetReturnValue(pending);
    };
    std::string error;
    try {
        try {
            returned = RunActions(call, 0, bodyEnd, context, result);
        } catch (...) {
            runFinally();
            throw;
        }
        runFinally();
        if (returned) return scope.TakeReturn();
        return result;
    } catch (const EAbort&) {
        throw;
    } catch (const std::exception& e) {
        error = e.what();
    }
    context->ClearReturn();
    result = IEFalseValue();
    context->SetBinding("__ERROR", TIEValue::CreateText(dtString, error));
    if (catchAt >= 0 && RunActions(call, catchAt + 1, n, context, result))
        return scope.TakeReturn();
    return result;
}

TThrowFunction::TThrowFunction()
    : TBuiltInFunction("throw", "Raises an error with the text of the argument as its message",
                       " <lexeme-expression>", 1, 1) {}

TRefPtr<IIEValue> TThrowFunction::Execute(IFunCall* call, TIEContext* context) {
    throw EException(EvalArg(call, 0, context)->AsString());
}

TReturnFunction::TReturnFunction()
    : TBuiltInFunction("return",
                       "Stops the enclosing actions and returns the argument as their value",
                       " <expression>", 1, 1) {}

TRefPtr<IIEValue> TReturnFunction::Execute(IFunCall* call, TIEContext* context) {
    const TRefPtr<IIEValue>& value = Written(call, 0);
    // A top-level return with no form to stop leaves the root context as it was.
    if (!context->Parent() && !InRootForm(context)) return Evaluated(value, context);
    context->SetReturnValue(value);
    return value;
}

TBindFunction::TBindFunction()
    : TBuiltInFunction("bind", "Binds the variable to the value of the expression",
                       " <variable> <expression>", 2, 2) {}

TRefPtr<IIEValue> TBindFunction::Execute(IFunCall* call, TIEContext* context) {
    // Both arguments read in line: a bind is the most common action of a deffunction's body.
    const TRefPtr<IIEValue>& expression = ArgumentOf(call, 1);
    TRefPtr<IIEValue> value = expression ? EvaluateExpression(expression, context) : nullptr;
    if (!value) value = IEEmptyAtom();
    const IIEValue* name = ArgumentOf(call, 0).get();
    if (!name) name = IEEmptyAtom().get();
    // The name is read in place where the variable holds it as text, and the binding looked
    // for first where the variable last found it.
    const TIEValue* variable =
        &typeid(*name) == &typeid(TIEValue) ? static_cast<const TIEValue*>(name) : nullptr;
    if (const TIEText* text = variable ? variable->TextBlock() : nullptr)
        context->SetBinding(text->Text(), value, variable->BindingHint());
    else
        context->SetBinding(name->AsString(), value);
    return value;
}

TExtractGlobalFunction::TExtractGlobalFunction()
    : TBuiltInFunction("__get-var", "Returns the value of the named variable", " <variable-name>",
                       1, 1) {}

TRefPtr<IIEValue> TExtractGlobalFunction::Execute(IFunCall* call, TIEContext* context) {
    const TRefPtr<IIEValue>& written = Written(call, 0);
    if (written->GetDType() == dtVariable || written->GetDType() == dtMultiVariable)
        return Evaluated(written, context);
    const std::string name = Evaluated(written, context)->AsString();
    const TBinding* binding = context->FindBinding(name);
    if (!binding || !binding->Value) return IEEmptyAtom();
    // Through a variable, so a binding to a position in the matched facts resolves too.
    return Evaluated(TIEValue::CreateText(dtVariable, name), context);
}

// =============================================================================================
// Multifield functions

namespace {

// The multifield and the range [Begin, End] that the first three arguments of delete$,
// replace$ and subseq$ give, read in that order.
struct TListRange {
    TRefPtr<IValueVector> Source;
    int32_t Begin;
    int32_t End;
};

// "Invalid multifield begin and end parameters: %d, %d" when begin > end.
TListRange ListRangeArguments(IFunCall* call, TIEContext* context) {
    TListRange range{EvalArg(call, 0, context)->AsList(), EvalArg(call, 1, context)->AsInteger(),
                     EvalArg(call, 2, context)->AsInteger()};
    if (range.Begin > range.End) RaiseIE(imInvalidMultifieldRange, range.Begin, range.End);
    return range;
}

// A new list of clones of the source's elements outside the range.
TRefPtr<TValueVector> OutsideRange(const TListRange& range, TIEContext* context) {
    auto list = TValueVector::Create();
    for (int32_t i = 0, n = range.Source->Count(); i < n; ++i)
        if (i < range.Begin || i > range.End)
            list->Add(ClonedElement(range.Source->GetItem(i), context));
    return list;
}

} // namespace

TCreateMFFunction::TCreateMFFunction()
    : TBuiltInFunction("create$", "Returns a new multifield of the values of the arguments",
                       " <expression>*") {}

TRefPtr<IIEValue> TCreateMFFunction::Execute(IFunCall* call, TIEContext* context) {
    const int32_t n = call->ArgumentCount();
    auto list = TValueVector::Create();
    list->Reserve(n);
    for (int32_t i = 0; i < n; ++i)
        list->Add(EvalArg(call, i, context)->CloneValue());
    return NewList(std::move(list));
}

TDeleteMFFunction::TDeleteMFFunction()
    : TBuiltInFunction("delete$",
                       "Returns a new multifield without the elements from the begin to the end "
                       "index",
                       " <multifield-expression> <start-integer-expression> "
                       "<end-integer-expression>",
                       3, 3) {}

TRefPtr<IIEValue> TDeleteMFFunction::Execute(IFunCall* call, TIEContext* context) {
    return NewList(OutsideRange(ListRangeArguments(call, context), context));
}

TExplodeMFFunction::TExplodeMFFunction()
    : TBuiltInFunction("explode$",
                       "Returns a new multifield of the blank-separated words of the string, "
                       "each as an atom",
                       " <string-expression> ", 1, 1) {}

TRefPtr<IIEValue> TExplodeMFFunction::Execute(IFunCall* call, TIEContext* context) {
    const std::string text = EvalArg(call, 0, context)->AsString();
    auto isTrimmed = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    size_t from = 0, to = text.size();
    while (from < to && isTrimmed(text[from]))
        ++from;
    while (to > from && isTrimmed(text[to - 1]))
        --to;
    auto list = TValueVector::Create();
    while (from < to) {
        size_t blank = text.find(' ', from);
        if (blank == std::string::npos || blank > to) blank = to;
        list->Add(TIEValue::CreateText(dtAtom, std::string_view(text).substr(from, blank - from)));
        from = blank;
        while (from < to && text[from] == ' ')
            ++from;
    }
    return NewList(std::move(list));
}

TFirstMFFunction::TFirstMFFunction()
    : TBuiltInFunction("first$",
                       "Returns the first element of the multifield, or nothing when it is "
                       "empty",
                       " <multifield-expression> ", 1, 1) {}

TRefPtr<IIEValue> TFirstMFFunction::Execute(IFunCall* call, TIEContext* context) {
    const TRefPtr<IValueVector> list = EvalArg(call, 0, context)->AsList();
    if (list->Count() == 0) return IEEmptyAtom();
    return Evaluated(list->GetItem(0), context);
}

TImplodeMFFunction::TImplodeMFFunction()
    : TBuiltInFunction("implode$",
                       "Returns a string of the texts of the multifield's elements separated by "
                       "one blank",
                       " <multifield-expression> ", 1, 1) {}

TRefPtr<IIEValue> TImplodeMFFunction::Execute(IFunCall* call, TIEContext* context) {
    const TRefPtr<IValueVector> list = EvalArg(call, 0, context)->AsList();
    std::string text;
    for (int32_t i = 0, n = list->Count(); i < n; ++i) {
        if (i > 0) text += ' ';
        text += Evaluated(list->GetItem(i), context)->AsString();
    }
    return TIEValue::CreateText(dtString, text);
}

TInsertMFFunction::TInsertMFFunction()
    : TBuiltInFunction("insert$",
                       "Returns a copy of the multifield with the values inserted at the index",
                       " <multifield-expression> <integer-expression> <expression>*", 2) {}

TRefPtr<IIEValue> TInsertMFFunction::Execute(IFunCall* call, TIEContext* context) {
    const TRefPtr<IValueVector> source = EvalArg(call, 0, context)->AsList();
    const int32_t index = EvalArg(call, 1, context)->AsInteger();
    // A new list: the argument's list (a slot, a variable, a constant) stays as it was.
    TRefPtr<IValueVector> list = source->CloneVector();
    for (int32_t i = 2, n = call->ArgumentCount(); i < n; ++i)
        list->Insert(index, EvalArg(call, i, context)->CloneValue());
    return TIEValue::CreateList(std::move(list));
}

namespace {

// The list of a value that is only read: borrowed from the value rather than copied out of it
// (AsList hands out a copy of a list that other values share). AsList raises for anything but a
// list.
const IValueVector* ListToReadApart(const IIEValue& value, TRefPtr<IValueVector>& hold) {
    const IValueVector* list = value.GetDType() == dtList ? BorrowList(value, hold) : nullptr;
    if (list) return list;
    hold = value.AsList();
    return hold.get();
}

// The engine's own list value in line (its class told by the address of its type information),
// the rest apart.
inline const IValueVector* ListToRead(const IIEValue& value, TRefPtr<IValueVector>& hold) {
    if (&typeid(value) == &typeid(TIEValue))
        if (const IValueVector* list = static_cast<const TIEValue&>(value).ListPayload())
            return list;
    return ListToReadApart(value, hold);
}

} // namespace

TLengthMFFunction::TLengthMFFunction()
    : TNumericFunction("length$", "Returns the number of elements of the multifield",
                       " <multifield-expression> ", 1, 1) {}

// A number, so that a test such as (< (length$ ?a) ?n) reads the length without making a value.
// A variable is read where it is bound, and a `$?` variable that a multifield split cut from its
// slot gives the run's length without its list being made.
TIENumber TLengthMFFunction::ExecuteNumber(IFunCall* call, TIEContext* context) {
    TRefPtr<IValueVector> hold;
    if (const IIEValue* a = ArgumentOf(call, 0).get(); a && typeid(*a) == typeid(TIEValue)) {
        const auto* v = static_cast<const TIEValue*>(a);
        const TIEType kind = v->DType();
        if (kind == dtVariable || kind == dtMultiVariable || kind == dtObject) {
            TRefPtr<IIEValue> valueHold;
            int32_t run = -1;
            if (const IIEValue* bound = v->BorrowVariableOrRun(context, valueHold, run))
                return {static_cast<double>(ListToRead(*bound, hold)->Count()), false};
            if (run >= 0) return {static_cast<double>(run), false};
        }
    }
    return {static_cast<double>(ListToRead(*EvalArg(call, 0, context), hold)->Count()), false};
}

TMemberFunction::TMemberFunction()
    : TBuiltInFunction("member",
                       "Returns the position (from 0) of the first further argument equal to "
                       "the first, else FALSE",
                       " <to-find-expression> <expression>+", 2) {}

TRefPtr<IIEValue> TMemberFunction::Execute(IFunCall* call, TIEContext* context) {
    const TRefPtr<IIEValue> wanted = EvalArg(call, 0, context);
    for (int32_t i = 1, n = call->ArgumentCount(); i < n; ++i)
        if (wanted->Equals(EvalArg(call, i, context).get())) return NewInteger(i - 1);
    return IEFalseValue();
}

TMemberMFFunction::TMemberMFFunction()
    : TBuiltInFunction("member$",
                       "Returns the index of the first element of the multifield equal to the "
                       "value, else FALSE",
                       " <expression> <multifield-expression>", 2, 2) {}

TRefPtr<IIEValue> TMemberMFFunction::Execute(IFunCall* call, TIEContext* context) {
    const int32_t index = IndexOfWanted(call, context);
    return index >= 0 ? NewInteger(index) : IEFalseValue();
}

bool TMemberMFFunction::CallTest(IFunCall* call, TIEContext* context, bool& holds) {
    CheckCall(call, context);
    holds = IndexOfWanted(call, context) >= 0;
    return true;
}

namespace {

// The position of the first element of `list` from `from` on equal to the wanted value, -1 when
// none is.
// Elements are nearly always literals, which are their own value: `same` compares those without
// a virtual call. Any other element is evaluated and compared with `wanted()`, the wanted value.
// `keep`: called before an element is evaluated (which may run code that rebinds the variable
// the list or the wanted value was read from), to hold both.
template <class Same, class Wanted, class Keep>
int32_t IndexOfElement(const IValueVector& list, int32_t from, Same same, Wanted wanted,
                       TIEContext* context, Keep keep) {
    // In place; an element whose evaluation shrank the list reads as GetItem reads it.
    // (The classes are told by the addresses of their type information: a miss reads the
    // general way.)
    const auto* items =
        &typeid(list) == &typeid(TValueVector) ? static_cast<const TValueVector*>(&list) : nullptr;
    for (int32_t i = from, n = items ? items->Count() : list.Count(); i < n; ++i) {
        const TRefPtr<IIEValue>& item =
            items && i < items->Count() ? items->begin()[i] : list.GetItem(i);
        const IIEValue* e = item.get();
        if (e && &typeid(*e) == &typeid(TIEValue) &&
            static_cast<const TIEValue*>(e)->EvaluatesToItself()) {
            if (same(*static_cast<const TIEValue*>(e))) return i;
            continue;
        }
        keep();
        if (wanted()->Equals(Evaluated(item, context).get())) return i;
    }
    return -1;
}

} // namespace

int32_t TMemberMFFunction::IndexOfWanted(IFunCall* call, TIEContext* context) {
    // The wanted value is read as EvalArg reads it, but without a counted reference where a
    // variable holds it, and as a number where a numeric call gives one (no value is made).
    TRefPtr<IIEValue> wantedHold;
    const IIEValue* wanted = nullptr;
    TIENumber number;
    bool isNumber = false;
    if (const IIEValue* w = ArgumentOf(call, 0).get(); w && typeid(*w) == typeid(TIEValue)) {
        const auto* v = static_cast<const TIEValue*>(w);
        if (v->EvaluatesToItself()) {
            wanted = v;
        } else if (TFunctionCall* numeric = AsFunctionCall(*v)) {
            isNumber = numeric->EvaluateNumber(context, number);
        } else if (v->DType() == dtVariable || v->DType() == dtMultiVariable ||
                   v->DType() == dtObject) {
            wanted = v->BorrowVariable(context, wantedHold);
            if (!wanted) wanted = v; // an object that is no position stands for itself
        }
    }
    if (!wanted && !isNumber) {
        wantedHold = EvalArg(call, 0, context);
        wanted = wantedHold.get();
    }
    // The list is read last, so a variable's list is read where it is bound without a counted
    // reference; the wanted value is held before anything that could rebind its variable runs.
    auto keepWanted = [&] {
        if (!wantedHold && wanted) wantedHold = TRefPtr<IIEValue>(const_cast<IIEValue*>(wanted));
    };
    const TRefPtr<IIEValue>& written = ArgumentOf(call, 1);
    TRefPtr<IIEValue> listHold;
    const IIEValue* listValue = nullptr;
    if (const IIEValue* w = written.get(); w && typeid(*w) == typeid(TIEValue))
        listValue = static_cast<const TIEValue*>(w)->BorrowVariable(context, listHold);
    if (!listValue) {
        keepWanted();
        listHold = Evaluated(written, context);
        listValue = listHold.get();
    }
    TRefPtr<IValueVector> hold;
    const IValueVector* list = ListToRead(*listValue, hold);
    auto keep = [&] {
        keepWanted();
        if (!listHold) listHold = TRefPtr<IIEValue>(const_cast<IIEValue*>(listValue));
    };
    // A wanted number of the engine's own class is compared as a number, as SameKindEquals does.
    if (!isNumber && typeid(*wanted) == typeid(TIEValue)) {
        const auto* v = static_cast<const TIEValue*>(wanted);
        if (v->DType() == dtInteger || v->DType() == dtFloat) {
            number = {v->NumberPayload(), v->DType() == dtFloat};
            isNumber = true;
        }
    }
    if (isNumber) {
        const TIEType kind = number.IsFloat ? dtFloat : dtInteger;
        const int32_t whole = number.IsFloat ? 0 : static_cast<int32_t>(number.Value);
        // An integer among literal elements of the engine's own list (the common search: a
        // column among those taken) in one tight pass; the first element that is no literal of
        // the engine's value class, or a fuzzy value, leaves the rest to the general pass.
        int32_t from = 0;
        if (!number.IsFloat && &typeid(*list) == &typeid(TValueVector)) {
            const auto& items = static_cast<const TValueVector&>(*list);
            const int32_t n = items.Count();
            const auto at = items.begin();
            for (; from < n; ++from) {
                const IIEValue* e = at[from].get();
                if (!e || &typeid(*e) != &typeid(TIEValue)) break;
                const auto& v = static_cast<const TIEValue&>(*e);
                if (v.DType() == dtInteger) {
                    if (v.IntPayload() == whole) return from;
                } else if (v.DType() == dtFuzzy || !v.EvaluatesToItself()) {
                    break;
                }
            }
            if (from == n) return -1;
        }
        auto asValue = [&]() -> const IIEValue* {
            if (!wanted) {
                wantedHold = NumberValue(number);
                wanted = wantedHold.get();
            }
            return wanted;
        };
        return IndexOfElement(
            *list, from,
            [&](const TIEValue& e) {
                // Values of other kinds never equal a number; a fuzzy value decides itself.
                if (e.DType() == kind)
                    return number.IsFloat ? e.NumberPayload() == number.Value
                                          : e.IntPayload() == whole;
                return e.DType() == dtFuzzy && ValuesEqual(asValue(), &e);
            },
            asValue, context, keep);
    }
    return IndexOfElement(
        *list, 0, [&](const TIEValue& e) { return ValuesEqual(wanted, &e); },
        [&] { return wanted; }, context, keep);
}

TNthMFFunction::TNthMFFunction()
    : TBuiltInFunction("nth$", "Returns the element of the multifield at the index (from 0)",
                       " <integer-expression> <multifield-expression>", 2, 2) {}

TRefPtr<IIEValue> TNthMFFunction::Execute(IFunCall* call, TIEContext* context) {
    const int32_t index = EvalArg(call, 0, context)->AsInteger();
    const TRefPtr<IValueVector> list = EvalArg(call, 1, context)->AsList();
    const TRefPtr<IIEValue>& item = list->GetItem(index);
    return item ? item : IEEmptyAtom();
}

TReplaceMFFunction::TReplaceMFFunction()
    : TBuiltInFunction("replace$",
                       "Returns a new multifield with the elements from the begin to the end "
                       "index replaced by the values",
                       " <multifield-expression> <start-integer-expression> "
                       "<end-integer-expression> <expression>*",
                       3) {}

TRefPtr<IIEValue> TReplaceMFFunction::Execute(IFunCall* call, TIEContext* context) {
    const TListRange range = ListRangeArguments(call, context);
    TRefPtr<TValueVector> list = OutsideRange(range, context);
    for (int32_t i = 3, n = call->ArgumentCount(); i < n; ++i)
        list->Insert(range.Begin, EvalArg(call, i, context)->CloneValue());
    return NewList(std::move(list));
}

TRestMFFunction::TRestMFFunction()
    : TBuiltInFunction("rest$", "Returns a copy of the multifield without its first element",
                       " <multifield-expression>", 1, 1) {}

TRefPtr<IIEValue> TRestMFFunction::Execute(IFunCall* call, TIEContext* context) {
    TRefPtr<IValueVector> list = EvalArg(call, 0, context)->AsList()->CloneVector();
    list->Delete(0);
    return TIEValue::CreateList(std::move(list));
}

TSubSeqMFFunction::TSubSeqMFFunction()
    : TBuiltInFunction("subseq$",
                       "Returns a new multifield of the elements from the begin to the end "
                       "index",
                       " <multifield-expression> <start-integer-expression> "
                       "<end-integer-expression>",
                       3, 3) {}

TRefPtr<IIEValue> TSubSeqMFFunction::Execute(IFunCall* call, TIEContext* context) {
    const TListRange range = ListRangeArguments(call, context);
    auto list = TValueVector::Create();
    for (int32_t i = range.Begin; i <= range.End; ++i)
        list->Add(ClonedElement(range.Source->GetItem(i), context));
    return NewList(std::move(list));
}

TSubSetpMFFunction::TSubSetpMFFunction()
    : TBuiltInFunction("subsetp",
                       "Returns TRUE if the first argument occurs as a contiguous run of the "
                       "multifield, else FALSE",
                       " <expression> <multifield-expression>", 2, 2) {}

TRefPtr<IIEValue> TSubSetpMFFunction::Execute(IFunCall* call, TIEContext* context) {
    const TRefPtr<IIEValue> first = EvalArg(call, 0, context);
    TRefPtr<IValueVector> run;
    if (first->GetDType() == dtList) {
        run = first->AsList();
    } else {
        auto single = TValueVector::Create();
        single->Add(first);
        run = std::move(single);
    }
    const TRefPtr<IValueVector> list = EvalArg(call, 1, context)->AsList();
    // The empty run lies inside every list, the empty one too.
    if (run->Count() == 0) return IETrueValue();
    const int32_t n = list->Count();
    for (int32_t p = 0; p < n; ++p) {
        if (!Evaluated(run->GetItem(0), context)
                 ->Equals(Evaluated(list->GetItem(p), context).get()))
            continue;
        bool all = true;
        for (int32_t j = 1; j < run->Count() && all; ++j)
            all = p + j < n && Evaluated(run->GetItem(j), context)
                                   ->Equals(Evaluated(list->GetItem(p + j), context).get());
        if (all) return IETrueValue();
    }
    return IEFalseValue();
}

// =============================================================================================
// Files

TRemoveFunction::TRemoveFunction()
    : TBuiltInFunction("remove", "Deletes the file; returns TRUE when it was deleted, else FALSE",
                       " [<file-name>]", 1, 1) {}

TRefPtr<IIEValue> TRemoveFunction::Execute(IFunCall* call, TIEContext* context) {
    namespace fs = std::filesystem;
    const fs::path path(EvalArg(call, 0, context)->AsString());
    std::error_code ec;
    // Files only: a directory is never removed by this function.
    if (!fs::is_regular_file(path, ec)) return IEFalseValue();
    return IEBoolValue(fs::remove(path, ec) && !ec);
}

TRenameFunction::TRenameFunction()
    : TBuiltInFunction("rename",
                       "Renames the file; returns TRUE when it was renamed, else FALSE (for "
                       "example when the new name exists)",
                       " [<old-file-name> <new-file-name>]", 2, 2) {}

TRefPtr<IIEValue> TRenameFunction::Execute(IFunCall* call, TIEContext* context) {
    namespace fs = std::filesystem;
    const fs::path from(EvalArg(call, 0, context)->AsString());
    const fs::path to(EvalArg(call, 1, context)->AsString());
    std::error_code ec;
    // The platform's rename would replace an existing file silently; an existing target is a
    // failure and stays untouched.
    if (!fs::exists(from, ec) || fs::exists(fs::symlink_status(to, ec))) return IEFalseValue();
    fs::rename(from, to, ec);
    return IEBoolValue(!ec);
}

// =============================================================================================
// Facts, agenda and engine commands

namespace {

// The address of the fact just given the identifier: it names that fact only, whatever a reset
// numbers later.
TRefPtr<IIEValue> NewFactId(const TInferenceEngine& engine, int32_t id) {
    return TIEValue::CreateFactAddress(id, engine.NumberingRound());
}

TRefPtr<IFact> CloneFact(const IFact& fact) {
    if (typeid(fact) == typeid(TFact)) return static_cast<const TFact&>(fact).Copy();
    TRefPtr<ICloneable> copy = fact.Clone();
    return TRefPtr<IFact>(dynamic_cast<IFact*>(copy.get()));
}

// The fact's template: a TFact's own without a counted reference, any other fact's held in
// `hold`. A fact without one raises.
const IFactTemplate& TemplateOf(const IFact& fact, TRefPtr<IFactTemplate>& hold) {
    if (typeid(fact) == typeid(TFact))
        if (const TFactTemplate* t = static_cast<const TFact&>(fact).Template()) return *t;
    hold = fact.GetTemplate();
    if (!hold) RaiseIE(imFactTemplateMissing);
    return *hold;
}

// The fact that a fact identifier or address names in working memory (found by identifier),
// null when there is none: an address made before a reset or clear names no fact after it,
// as the address of a retracted fact names none.
const IFact* AddressedFact(TInferenceEngine& engine, const IIEValue& value) {
    if (&typeid(value) == &typeid(TIEValue))
        if (const uint32_t round = static_cast<const TIEValue&>(value).FactRound();
            round != 0 && round != engine.NumberingRound())
            return nullptr;
    return engine.Facts().FindID(value.AsFactId());
}

// The fact that the value names, or the engine's error.
TRefPtr<IFact> FactById(TInferenceEngine& engine, const IIEValue& value) {
    const IFact* fact = AddressedFact(engine, value);
    if (!fact) RaiseIE(imNoSuchFact, IntToStr(value.AsFactId()));
    return TRefPtr<IFact>(const_cast<IFact*>(fact));
}

// EvaluateFactSlots's step for the slot at the position of a fact of the class TFact.
void EvaluateSlotAt(TFact& fact, const IFactSlot& slot, int32_t i, TIEContext* context) {
    TInferenceEngine* engine = slot.IsFuzzy() ? ContextEngine(context) : nullptr;
    if (engine) {
        fact.SetSlotValueAt(i, engine->EvaluateSlotValue(slot, fact.ValueAt(i), context));
        return;
    }
    const TRefPtr<IIEValue>& stored = fact.ValueAt(i);
    if (!slot.IsMultiSlot() && IsPlainScalar(stored.get())) {
        if (fact.Template()->DynamicTypeChecks()) fact.SetSlotValueAt(i, TRefPtr<IIEValue>(stored));
        return;
    }
    TRefPtr<IIEValue> value = Evaluated(stored, context);
    if (value->GetDType() == dtList) {
        value = TIEValue::CreateList(context->EvaluateArguments(*value->AsList()));
    } else if (slot.IsMultiSlot()) {
        auto list = TValueVector::Create();
        list->Add(value);
        value = TIEValue::CreateList(std::move(list));
    }
    fact.SetSlotValueAt(i, value);
}

// Replaces every slot value of the fact by its evaluation in the context, in slot order: lists
// are spliced flat, and a multislot always receives a list.
void EvaluateFactSlots(IFact& fact, TIEContext* context) {
    if (typeid(fact) == typeid(TFact)) {
        // By position: no slot name is looked up.
        auto& f = static_cast<TFact&>(fact);
        int32_t i = 0;
        if (const TFactTemplate* t = f.Template();
            t && t->PlainSlots() && !t->DynamicTypeChecks()) {
            // Single-field slots whose values are settled already (a modify's new values and
            // the fact's others) are left as they are.
            const int32_t n = t->SlotCount();
            while (i < n && IsPlainScalar(f.ValueAt(i).get()))
                ++i;
            if (i == n) return;
        }
        for (; f.Template() && i < f.Template()->SlotCount(); ++i) {
            // A settled value (most are, a modify's new values among them) is passed by without
            // a counted reference to its slot.
            const IFactSlot& plain = *f.Template()->Slot(i);
            if (!plain.IsFuzzy() && !plain.IsMultiSlot() && IsPlainScalar(f.ValueAt(i).get())) {
                if (f.Template()->DynamicTypeChecks())
                    f.SetSlotValueAt(i, TRefPtr<IIEValue>(f.ValueAt(i)));
                continue;
            }
            const TRefPtr<IFactSlot> slot = f.Template()->Slot(i);
            EvaluateSlotAt(f, *slot, i, context);
        }
        return;
    }
    const TRefPtr<IFactTemplate> factTemplate = fact.GetTemplate();
    if (!factTemplate) return;
    for (int32_t i = 0, n = factTemplate->SlotCount(); i < n; ++i) {
        const TRefPtr<IFactSlot> slot = factTemplate->SlotAt(i);
        const std::string& name = slot->GetName();
        TInferenceEngine* engine = slot->IsFuzzy() ? ContextEngine(context) : nullptr;
        if (engine) {
            // A term, an expression or a number becomes a fuzzy value of the slot's variable.
            fact.SetSlotValue(name,
                              engine->EvaluateSlotValue(*slot, fact.GetSlotValue(name), context));
            continue;
        }
        TRefPtr<IIEValue> value = Evaluated(fact.GetSlotValue(name), context);
        if (value->GetDType() == dtList) {
            value = TIEValue::CreateList(context->EvaluateArguments(*value->AsList()));
        } else if (slot->IsMultiSlot()) {
            auto list = TValueVector::Create();
            list->Add(value);
            value = TIEValue::CreateList(std::move(list));
        }
        fact.SetSlotValue(name, value);
    }
}

// The fact an assertion of the fact literal files: the literal's template, identifier and tag,
// and its slot values evaluated as EvaluateFactSlots evaluates them. A value to be evaluated (a
// multifield, a call, a variable) is read from the literal itself: a copy of it would only be
// evaluated into another value and freed. What stays as it is (a constant, or a value that
// evaluates to itself) is copied, as CloneFact copies it. Null when the literal is not of that
// plain kind (no TFact, fuzzy slots, dynamic type checks): it is cloned and evaluated then.
// Null with `refused` set when the working memory would refuse the copy as a duplicate.
TRefPtr<IFact> EvaluatedLiteral(const IFact& literal, TIEContext* context, TWorkingMemory& memory,
                                bool& refused) {
    refused = false;
    if (typeid(literal) != typeid(TFact)) return nullptr;
    const auto& source = static_cast<const TFact&>(literal);
    TFactTemplate* t = source.Template();
    if (!t || t->TFactTemplate::IsFuzzy() || t->DynamicTypeChecks()) return nullptr;
    const auto n = static_cast<size_t>(t->SlotCount());
    boost::container::small_vector<const IIEValue*, 8> stored(n);
    // Where facts of the template were refused lately and every slot is written, the values are
    // evaluated first and the duplicate test asked of them, so that a fact the working memory
    // would refuse is never made (a program that derives what it knows already asserts many of
    // them). What stays as it is is copied into the fact only when the fact is made.
    bool everySet = t->DuplicatesLikely();
    for (size_t i = 0; i < n; ++i) {
        stored[i] = source.PeekValue(static_cast<int32_t>(i));
        everySet = everySet && stored[i];
    }
    boost::container::small_vector<TRefPtr<IIEValue>, 8> values(everySet ? n : 0);
    boost::container::small_vector<const IIEValue*, 8> read(everySet ? n : 0);
    TRefPtr<TFact> fact = everySet ? nullptr : source.BlankCopy();
    for (size_t i = 0; i < n; ++i) {
        const IIEValue* const literalValue = stored[i];
        const auto at = static_cast<int32_t>(i);
        const IFactSlot& slot = *t->Slot(at);
        if (!literalValue || (!slot.IsMultiSlot() && IsPlainScalar(literalValue))) {
            if (!fact) {
                read[i] = literalValue;
                continue;
            }
            // Copied; an unset slot without a default gets the fact's own default first.
            if (literalValue) fact->SetValueAt(at, literalValue->CloneValue());
            EvaluateSlotAt(*fact, slot, at, context);
            continue;
        }
        TRefPtr<IIEValue> value =
            Evaluated(TRefPtr<IIEValue>(const_cast<IIEValue*>(literalValue)), context);
        if (value->GetDType() == dtList) {
            // The list read in place (AsList would copy a list another value shares).
            const IValueVector* items = typeid(*value) == typeid(TIEValue)
                                            ? static_cast<const TIEValue&>(*value).ListPayload()
                                            : nullptr;
            TRefPtr<IValueVector> held;
            if (!items) {
                held = value->AsList();
                items = held.get();
            }
            value = TIEValue::CreateList(context->EvaluateArguments(*items));
        } else if (slot.IsMultiSlot()) {
            auto list = TValueVector::Create();
            list->Add(value.get() == literalValue ? literalValue->CloneValue() : value);
            value = TIEValue::CreateList(std::move(list));
        }
        if (fact) {
            fact->SetValueAt(at, value.get() == literalValue ? literalValue->CloneValue()
                                                             : std::move(value));
        } else {
            read[i] = value.get();
            values[i] = std::move(value);
        }
    }
    if (fact) return fact;
    size_t hash = 0;
    const TWorkingMemory::TDuplicateAnswer answer = memory.AskDuplicate(*t, read, hash);
    if (answer == TWorkingMemory::dupRefused) {
        refused = true;
        return nullptr;
    }
    fact = source.BlankCopy();
    for (size_t i = 0; i < n; ++i) {
        const auto at = static_cast<int32_t>(i);
        TRefPtr<IIEValue>& value = values[i];
        fact->SetValueAt(at, value && value.get() != stored[i] ? std::move(value)
                                                               : stored[i]->CloneValue());
    }
    if (answer == TWorkingMemory::dupNew) memory.NoteNewFact(fact, hash);
    return fact;
}

// One new slot value of a modify or duplicate: the slot's position in the template (whose slot
// layout was `Layout` then) and its name: the interned text of the atom the call holds, or
// (Text null) the evaluated name kept at NameAt in TSlotChanges::Names.
struct TSlotChange {
    int32_t Index;
    int32_t NameAt;
    const TIEText* Text;
    TRefPtr<IIEValue> Value;
};

struct TSlotChanges {
    uint32_t Layout = 0;
    // A modify changes a slot or two: no allocation for the list.
    boost::container::small_vector<TSlotChange, 4> Items;
    std::vector<std::string> Names;
    std::string_view Name(const TSlotChange& change) const noexcept {
        if (change.Text) return change.Text->Text();
        return Names[static_cast<size_t>(change.NameAt)];
    }
};

// Where the groups of a modify or duplicate call find their slots in a template's slot layout
// (layout numbers are unique over all templates): worked out on the call's first run and again
// when the fact's template or its slots differ, so that a rule's modify, run over and over, looks
// up no name and reads no slot. Kept with the call under its form mark (which a change of the
// arguments forgets); each group's list is compared again before its position is used.
struct TSlotPlan : TFunctionCall::TFormData {
    struct TGroup {
        const TValueVector* Group;
        const TIEText* Name;
        int32_t Index;
        int32_t Count;
        bool Multi;
        // The group is the slot name and one list written as such.
        bool OneList;
    };
    uint32_t Layout = 0;
    // Some group is not a list of an atom and values, or names no slot: no plan.
    bool Planned = false;
    // Most modifies change one slot. Every rule that modifies keeps a plan, so room in place
    // for more groups would be memory that a program of many rules holds and never uses.
    boost::container::small_vector<TGroup, 1> Groups;
};
constexpr int32_t kSlotPlanMark = 1;

// The list a group written as a list holds (the engine's own), null otherwise.
const TValueVector* WrittenGroup(const IIEValue* written) {
    if (!written || typeid(*written) != typeid(TIEValue)) return nullptr;
    const IValueVector* group = static_cast<const TIEValue*>(written)->ListPayload();
    return group && typeid(*group) == typeid(TValueVector) ? static_cast<const TValueVector*>(group)
                                                           : nullptr;
}

// The call's plan for the template's current layout, null when the call has none.
const TSlotPlan* SlotPlanOf(IFunCall* call, const TFactTemplate& factTemplate) {
    if (typeid(*call) != typeid(TFunctionCall)) return nullptr;
    auto& own = static_cast<TFunctionCall&>(*call);
    const uint32_t layout = factTemplate.Layout();
    auto* plan =
        own.FormMark() == kSlotPlanMark ? static_cast<TSlotPlan*>(own.FormData()) : nullptr;
    if (plan && plan->Layout == layout) return plan->Planned ? plan : nullptr;
    if (!plan) {
        own.SetFormData(std::make_unique<TSlotPlan>());
        own.SetFormMark(kSlotPlanMark);
        plan = static_cast<TSlotPlan*>(own.FormData());
    }
    plan->Layout = layout;
    plan->Planned = false;
    plan->Groups.clear();
    for (int32_t i = 1, n = own.ArgumentCount(); i < n; ++i) {
        const TValueVector* group = WrittenGroup(own.ArgumentAt(i).get());
        if (!group || group->Count() < 2) return nullptr;
        const IIEValue* first = group->begin()[0].get();
        if (!first || typeid(*first) != typeid(TIEValue) ||
            static_cast<const TIEValue*>(first)->DType() != dtAtom)
            return nullptr;
        const int32_t index =
            factTemplate.IndexOfSlotText(*static_cast<const TIEValue*>(first)->TextBlock());
        if (index < 0) return nullptr;
        const IIEValue* second = group->begin()[1].get();
        plan->Groups.push_back({group, static_cast<const TIEValue*>(first)->TextBlock(), index,
                                group->Count(), factTemplate.Slot(index)->IsMultiSlot(),
                                group->Count() == 2 && second && second->GetDType() == dtList});
    }
    plan->Planned = true;
    return plan;
}

// The new slot values of a modify or duplicate: each (slot value...) group evaluated. All are
// read before the fact is touched, so a bad group changes nothing. A group written as a list
// and a slot name written as an atom are read where they stand (they evaluate to themselves).
TSlotChanges SlotChanges(IFunCall* call, const IFactTemplate& factTemplate, TIEContext* context) {
    TSlotChanges changes;
    const TFactTemplate* ownTemplate = typeid(factTemplate) == typeid(TFactTemplate)
                                           ? static_cast<const TFactTemplate*>(&factTemplate)
                                           : nullptr;
    int32_t i = 1;
    const int32_t n = call->ArgumentCount();
    if (const TSlotPlan* plan = ownTemplate ? SlotPlanOf(call, *ownTemplate) : nullptr) {
        // The planned groups, while the same lists stand in the call and the values evaluated
        // so far left the template's slots as they were; the rest as below.
        const auto& own = static_cast<const TFunctionCall&>(*call);
        for (const TSlotPlan::TGroup& planned : plan->Groups) {
            if (ownTemplate->Layout() != plan->Layout || i >= n) break;
            // Held while the values are evaluated: they are read from it.
            TRefPtr<IIEValue> written = own.ArgumentAt(i);
            const TValueVector* group = WrittenGroup(written.get());
            if (group != planned.Group || group->Count() != planned.Count) break;
            const auto items = group->begin();
            TRefPtr<IIEValue> value;
            if (planned.Multi && !planned.OneList) {
                auto list = TValueVector::Create();
                for (int32_t j = 1; j < planned.Count; ++j)
                    list->Add(Evaluated(items[j], context));
                value = TIEValue::CreateList(std::move(list));
            } else {
                value = Evaluated(items[1], context);
                if (planned.OneList)
                    value = TIEValue::CreateList(context->EvaluateArguments(*value->AsList()));
            }
            changes.Items.push_back({planned.Index, -1, planned.Name, std::move(value)});
            ++i;
        }
    }
    for (; i < n; ++i) {
        // Held while the values are evaluated: they are read from it.
        TRefPtr<IIEValue> written = call->GetArgument(i);
        TRefPtr<IValueVector> groupHold;
        const IValueVector* group = nullptr;
        if (const IIEValue* w = written.get(); w && typeid(*w) == typeid(TIEValue))
            group = static_cast<const TIEValue*>(w)->ListPayload();
        if (!group) {
            groupHold = Evaluated(written, context)->AsList();
            group = groupHold.get();
        }
        const int32_t count = group->Count();
        if (count == 0) RaiseIE(imBadSlotName, std::string_view());
        // The engine's own list is read in place (as GetItem reads it past its end).
        const TValueVector* own = typeid(*group) == typeid(TValueVector)
                                      ? static_cast<const TValueVector*>(group)
                                      : nullptr;
        auto element = [&](int32_t k) -> const TRefPtr<IIEValue>& {
            return own && k < own->Count() ? own->begin()[k] : group->GetItem(k);
        };
        const IIEValue* first = element(0).get();
        // An atom of the call's own list (which outlives the modify) is not copied; its
        // interned text finds the slot by identity.
        const TIEText* text = nullptr;
        if (first && typeid(*first) == typeid(TIEValue) &&
            static_cast<const TIEValue*>(first)->DType() == dtAtom) {
            text = static_cast<const TIEValue*>(first)->TextBlock();
            if (groupHold) {
                changes.Names.emplace_back(text->Text());
                text = nullptr;
            }
        } else {
            changes.Names.push_back(Evaluated(element(0), context)->AsString());
        }
        const std::string_view name =
            text ? std::string_view(text->Text()) : std::string_view(changes.Names.back());
        const int32_t index = ownTemplate && text ? ownTemplate->IndexOfSlotText(*text)
                                                  : factTemplate.IndexOfSlot(name);
        if (index < 0) RaiseIE(imNoSuchSlot, name);
        const bool multi = ownTemplate ? ownTemplate->Slot(index)->IsMultiSlot()
                                       : factTemplate.SlotAt(index)->IsMultiSlot();
        const IIEValue* second = count == 2 ? element(1).get() : nullptr;
        const bool oneList = second && second->GetDType() == dtList;
        TRefPtr<IIEValue> value;
        if (multi && !oneList) {
            auto list = TValueVector::Create();
            for (int32_t j = 1; j < count; ++j)
                list->Add(Evaluated(element(j), context));
            value = TIEValue::CreateList(std::move(list));
        } else {
            if (count < 2) RaiseIE(imExpectedValueMissing);
            value = Evaluated(element(1), context);
            if (oneList) value = TIEValue::CreateList(context->EvaluateArguments(*value->AsList()));
        }
        changes.Items.push_back(
            {index, static_cast<int32_t>(changes.Names.size()) - 1, text, std::move(value)});
    }
    // Read after the values: evaluating them may have changed the template's slots.
    if (ownTemplate)
        changes.Layout = ownTemplate->Layout();
    else if (auto* t = dynamic_cast<const TFactTemplate*>(&factTemplate))
        changes.Layout = t->Layout();
    return changes;
}

// Sets the changed slots (their values move into the fact): by position when the fact is a TFact
// of the template whose layout the positions were found in, by name otherwise.
void ApplySlotChanges(IFact& fact, TSlotChanges& changes) {
    if (typeid(fact) == typeid(TFact)) {
        auto& f = static_cast<TFact&>(fact);
        if (const TFactTemplate* t = f.Template(); t && t->Layout() == changes.Layout) {
            // Without type checks a value is stored as it is (SetSlotValueAt's checks pass).
            const bool checked = t->DynamicTypeChecks();
            for (TSlotChange& change : changes.Items) {
                if (checked || !change.Value)
                    f.SetSlotValueAt(change.Index, change.Value);
                else
                    f.SetValueAt(change.Index, std::move(change.Value));
            }
            return;
        }
    }
    for (const TSlotChange& change : changes.Items)
        fact.SetSlotValue(changes.Name(change), change.Value);
}

// The engine's store of named values ("store", "fetch"): owned by the engine and freed with it;
// Reset and Clear leave it alone, only clear-storage empties it.
class TValueStorage : public TComponent {
public:
    explicit TValueStorage(TComponent* owner) : TComponent(owner) {}
    std::string_view ClassName() const override { return "TValueStorage"; }
    TValueHashTable Values;
};

TValueHashTable& StorageOf(TInferenceEngine& engine) {
    TValueStorage* storage = FindComponentOfClass<TValueStorage>(&engine);
    if (!storage) storage = new TValueStorage(&engine);
    return storage->Values;
}

} // namespace

TAssertFunction::TAssertFunction()
    : TBuiltInFunction("assert", "Asserts the facts; returns the fact-id of the last one, or FALSE",
                       " <fact>*") {}

TRefPtr<IIEValue> TAssertFunction::Execute(IFunCall* call, TIEContext* context) {
    const int32_t n = call->ArgumentCount();
    if (n == 0) return IEFalseValue();
    TInferenceEngine& engine = EngineOf(context);
    int32_t id = -1;
    for (int32_t i = 0; i < n; ++i) {
        const TRefPtr<IFact> fact = EvalArg(call, i, context)->AsFact();
        bool refused;
        TRefPtr<IFact> copy = EvaluatedLiteral(*fact, context, engine.WorkingMemory(), refused);
        if (refused) {
            id = -1;
        } else {
            if (!copy) {
                copy = CloneFact(*fact);
                EvaluateFactSlots(*copy, context);
            }
            id = engine.AssertFact(copy);
            refused = id == -1;
        }
        // Which templates' facts are refused, for EvaluatedLiteral to ask early or not.
        if (typeid(*fact) == typeid(TFact))
            if (const TFactTemplate* t = static_cast<const TFact&>(*fact).Template())
                t->NoteAssertion(refused);
    }
    return id == -1 ? IEFalseValue() : NewFactId(engine, id);
}

TAssertStringFunction::TAssertStringFunction()
    : TBuiltInFunction("assert-string",
                       "Asserts the facts written in the strings; returns the fact-id of the "
                       "last one",
                       " <string-expression>*", 1) {}

TRefPtr<IIEValue> TAssertStringFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    int32_t id = -1;
    for (int32_t i = 0, n = call->ArgumentCount(); i < n; ++i)
        id = engine.AssertString(EvalArg(call, i, context)->AsString());
    return NewFactId(engine, id);
}

TRetractFunction::TRetractFunction()
    : TBuiltInFunction("retract",
                       "Retracts the facts of the fact-ids, or every fact for *; returns TRUE",
                       " *|<fact-index>*", 1) {}

TRefPtr<IIEValue> TRetractFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    TRefPtr<IIEValue> value = EvalArg(call, 0, context);
    if (value->GetDType() == dtAtom && value->AsString() == "*") {
        if (engine.WorkingMemory().Propagating() > 0) {
            // Asked by a predicate while a token is in flight: a clear token would empty the
            // memories the join in progress walks. Each fact's retraction waits for the token,
            // as any retraction asked then does.
            const std::vector<TRefPtr<IFact>> all = engine.Facts().Items();
            for (const TRefPtr<IFact>& fact : all)
                if (fact) engine.RetractFactByID(fact.get());
            return IETrueValue();
        }
        engine.Facts().Clear(); // sends the clear token through the network
        return IETrueValue();
    }
    for (int32_t i = 0, n = call->ArgumentCount(); i < n; ++i) {
        if (i > 0) value = EvalArg(call, i, context);
        // Found by identifier alone: no position is counted out.
        if (const IFact* found = AddressedFact(engine, *value)) {
            const TRefPtr<IFact> fact(const_cast<IFact*>(found));
            engine.RetractFactByID(fact.get());
        }
    }
    return IETrueValue();
}

TRetractStringFunction::TRetractStringFunction()
    : TBuiltInFunction("retract-string", "Retracts the facts written in the strings",
                       " <fact-string>") {}

TRefPtr<IIEValue> TRetractStringFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    for (int32_t i = 0, n = call->ArgumentCount(); i < n; ++i)
        engine.RetractString(EvalArg(call, i, context)->AsString());
    return IETrueValue();
}

TModifyFunction::TModifyFunction()
    : TBuiltInFunction("modify",
                       "Changes the slots of the fact and asserts it again; returns its fact-id",
                       " <fact-index> (<slot-name> <expression>)+", 1) {}

TRefPtr<IIEValue> TModifyFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    // The fact changes in place: asked by a predicate while a token is in flight, the matches
    // of its old contents would stay where the network holds them.
    engine.CheckChangeAllowed("Modifying a fact");
    const TRefPtr<IFact> fact = FactById(engine, *EvalArg(call, 0, context));
    TRefPtr<IFactTemplate> hold;
    auto changes = SlotChanges(call, TemplateOf(*fact, hold), context);
    engine.BeginModify(fact.get());
    ApplySlotChanges(*fact, changes);
    EvaluateFactSlots(*fact, context);
    return NewFactId(engine, engine.EndModify(fact));
}

TDuplicateFunction::TDuplicateFunction()
    : TBuiltInFunction("duplicate",
                       "Asserts a copy of the fact with the slots changed; returns its fact-id",
                       " <fact-index> (<slot-name> <expression>)*", 2) {}

TRefPtr<IIEValue> TDuplicateFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const TRefPtr<IFact> fact = FactById(engine, *EvalArg(call, 0, context));
    TRefPtr<IFactTemplate> hold;
    auto changes = SlotChanges(call, TemplateOf(*fact, hold), context);
    TRefPtr<IFact> copy = CloneFact(*fact);
    copy->SetFactId(-1);
    ApplySlotChanges(*copy, changes);
    // As modify does: a list given to a multislot is spliced into it, never one nested field.
    EvaluateFactSlots(*copy, context);
    return NewFactId(engine, engine.AssertFact(copy));
}

TGetSlotValueFunction::TGetSlotValueFunction()
    : TBuiltInFunction("get-slot-value", "Returns a copy of the value of the fact's slot",
                       " <fact-id-expression>|<fact-expression> [<slot-name-expression> ]", 1, 2) {}

TRefPtr<IIEValue> TGetSlotValueFunction::Execute(IFunCall* call, TIEContext* context) {
    const TRefPtr<IIEValue> value = EvalArg(call, 0, context);
    TRefPtr<IFact> fact;
    switch (value->GetDType()) {
    case dtInteger:
    case dtFactId: {
        const IFact* found = AddressedFact(EngineOf(context), *value);
        if (!found) RaiseIE(imNoSuchFact, value->GetText());
        fact = TRefPtr<IFact>(const_cast<IFact*>(found));
        break;
    }
    case dtFact:
        fact = value->AsFact();
        break;
    default:
        RaiseIE(imInvalidDeffunctionArgument, IETypeName(value->GetDType()),
                SetToText(TIETypes{dtFactId, dtFact}));
    }
    const std::string slot = call->ArgumentCount() > 1 ? EvalArg(call, 1, context)->AsString()
                                                       : std::string(DataSlotName);
    return Evaluated(fact->GetSlotValue(slot), nullptr)->CloneValue();
}

TGetFactDuplicationFunction::TGetFactDuplicationFunction()
    : TBuiltInFunction("get-fact-duplication",
                       "Returns TRUE when duplicate facts are ignored, else FALSE", "", 0, 0) {}

TRefPtr<IIEValue> TGetFactDuplicationFunction::Execute(IFunCall*, TIEContext* context) {
    return IEBoolValue(!EngineOf(context).FactDuplication());
}

TSetFactDuplicationFunction::TSetFactDuplicationFunction()
    : TBuiltInFunction("set-fact-duplication",
                       "FALSE lets duplicate facts be asserted, any other value ignores them; "
                       "returns the previous setting",
                       " <boolean-expression>", 1, 1) {}

TRefPtr<IIEValue> TSetFactDuplicationFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const TRefPtr<IIEValue> previous = IEBoolValue(!engine.FactDuplication());
    engine.SetFactDuplication(IsFalseValue(EvalArg(call, 0, context).get()));
    return previous;
}

TDoBackwardChainingFunction::TDoBackwardChainingFunction()
    : TBuiltInFunction("do-backward-chaining",
                       "Lets the fact templates be reached by backward chaining",
                       " <fact-template-name>*") {}

TRefPtr<IIEValue> TDoBackwardChainingFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    for (int32_t i = 0, n = call->ArgumentCount(); i < n; ++i) {
        const std::string name = EvalArg(call, i, context)->AsString();
        if (name == TestCEName || name == "not") RaiseIE(imCannotBackchainSpecialCE, name);
        TRefPtr<IFactTemplate> factTemplate = engine.FindFactTemplate(name);
        if (!factTemplate) factTemplate = engine.ImpliedTemplate(name);
        factTemplate->SetBackwardChaining(true);
        TRefPtr<IFactTemplate> goal = TFactTemplate::CreateFull(
            &engine, std::string(GoalFactPrefix) + name, "Goal seeker for " + name, factTemplate);
        goal->SetParent(nullptr);
        engine.FactTemplates().PutTemplate(goal->GetName(), goal);
    }
    return IETrueValue();
}

TClearFunction::TClearFunction()
    : TBuiltInFunction("clear", "Removes every construct of the engine", "", 0, 0) {}

TRefPtr<IIEValue> TClearFunction::Execute(IFunCall*, TIEContext* context) {
    // Refused while rules fire or while the engine matches or resets (CheckChangeAllowed).
    EngineOf(context).Clear();
    return IETrueValue();
}

TResetFunction::TResetFunction()
    : TBuiltInFunction("reset", "Resets working memory and the rules", "", 0, 0) {}

TRefPtr<IIEValue> TResetFunction::Execute(IFunCall*, TIEContext* context) {
    EngineOf(context).Reset();
    return IETrueValue();
}

TRunFunction::TRunFunction()
    : TBuiltInFunction("run",
                       "Fires rules until the agenda is empty or the limit is reached; returns "
                       "the number of rules fired",
                       " [<integer-expression>]", 0, 1) {}

TRefPtr<IIEValue> TRunFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    if (call->ArgumentCount() == 0) return NewInteger(engine.Run());
    return NewInteger(engine.RunLimited(Written(call, 0)->AsInteger()));
}

THaltFunction::THaltFunction()
    : TBuiltInFunction("halt", "Stops the run before the next rule fires", "", 0, 0) {}

TRefPtr<IIEValue> THaltFunction::Execute(IFunCall*, TIEContext* context) {
    EngineOf(context).Halt();
    return IETrueValue();
}

TExitFunction::TExitFunction()
    : TBuiltInFunction("exit", "Ends the current run or command without a message", "", 0, 0) {}

TRefPtr<IIEValue> TExitFunction::Execute(IFunCall*, TIEContext*) {
    throw EAbort();
}

namespace {

// The watch word's members; false for a word that names none.
bool WatchMembers(const std::string& word, TConstructWatches& members) {
    if (word == "rules")
        members = {cwRule};
    else if (word == "facts")
        members = {cwFact};
    else if (word == "activations")
        members = {cwActivation};
    else if (word == "compilations")
        members = {cwCompilation};
    else if (word == "statistics")
        members = {cwStatistics};
    else if (word == "all")
        members = {cwActivation, cwFact, cwRule, cwCompilation, cwStatistics};
    else
        return false;
    return true;
}

} // namespace

TWatchFunction::TWatchFunction()
    : TBuiltInFunction("watch", "Starts the trace of rules, facts, activations, ...",
                       " all|rules|facts|activations|compilations|statistics", 1, 1) {}

TRefPtr<IIEValue> TWatchFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const std::string word = EvalArg(call, 0, context)->AsString();
    TConstructWatches members;
    if (!WatchMembers(word, members)) RaiseIE(imCannotWatch, word);
    engine.SetWatch(engine.Watch() | members);
    return IETrueValue();
}

TUnwatchFunction::TUnwatchFunction()
    : TBuiltInFunction("unwatch", "Stops the trace of rules, facts, activations, ...",
                       " all|rules|facts|activations|compilations|statistics", 1, 1) {}

TRefPtr<IIEValue> TUnwatchFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const std::string word = EvalArg(call, 0, context)->AsString();
    TConstructWatches members;
    if (!WatchMembers(word, members)) RaiseIE(imCannotUnwatch, word);
    engine.SetWatch(engine.Watch() - members);
    return IETrueValue();
}

TStoreFunction::TStoreFunction()
    : TBuiltInFunction("store", "Stores the value under the name; returns the value",
                       " <variable-name> <value>", 2, 2) {}

TRefPtr<IIEValue> TStoreFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    TRefPtr<IIEValue> value = EvalArg(call, 1, context);
    if (value.get() == IEEmptyAtom().get()) value = nullptr;
    const std::string name = EvalArg(call, 0, context)->AsString();
    TRefPtr<IIEValue> old;
    StorageOf(engine).Put(name, value, old);
    return value;
}

TFetchFunction::TFetchFunction()
    : TBuiltInFunction("fetch", "Returns the value stored under the name, or nothing",
                       " <lexeme-expression>", 1, 1) {}

TRefPtr<IIEValue> TFetchFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    TRefPtr<IIEValue> value;
    if (!StorageOf(engine).Find(Written(call, 0)->AsString(), value) || !value)
        return IEEmptyAtom();
    return value;
}

TClearStorageFunction::TClearStorageFunction()
    : TBuiltInFunction("clear-storage", "Removes every stored value", "", 0, 0) {}

TRefPtr<IIEValue> TClearStorageFunction::Execute(IFunCall*, TIEContext* context) {
    StorageOf(EngineOf(context)).Clear();
    return nullptr;
}

TGenSymStarFunction::TGenSymStarFunction()
    : TBuiltInFunction("gensym*", "Returns a new atom made of gen and a number", "", 0, 0) {}

TRefPtr<IIEValue> TGenSymStarFunction::Execute(IFunCall*, TIEContext* context) {
    return TIEValue::CreateText(dtAtom, EngineOf(context).GenSym("gen"));
}

TVersionFunction::TVersionFunction()
    : TBuiltInFunction("version", "Returns the version of the engine", "", 0, 0) {}

TRefPtr<IIEValue> TVersionFunction::Execute(IFunCall*, TIEContext* context) {
    return TIEValue::CreateFloat(EngineOf(context).Version());
}

// =============================================================================================
// Input and output, streams and files

TPrintOutFunction::TPrintOutFunction()
    : TTextOutputFunction("printout", "Prints the values to the logical name; crlf ends a line",
                          " <logical-name> <expression>*") {}

TRefPtr<IIEValue> TPrintOutFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    // Built in a local text: an argument may call printout again, on this same object.
    std::string text;
    const int32_t n = call->ArgumentCount();
    for (int32_t i = 1; i < n; ++i) {
        const TRefPtr<IIEValue> value = EvalArg(call, i, context);
        switch (value->GetDType()) {
        case dtAtom: {
            const std::string word = value->AsString();
            text += word == "crlf" ? std::string(IELineEnd) : word;
            break;
        }
        case dtString:
        case dtInteger:
        case dtFloat:
            text += value->AsString();
            break;
        case dtList:
            text += '(';
            text += value->GetText();
            text += ')';
            break;
        default:
            text += value->GetText();
            break;
        }
    }
    const std::string name = n > 0 ? EvalArg(call, 0, context)->AsString() : std::string();
    FText = text;
    engine.PrintOut(name, text);
    return IEEmptyAtom();
}

TFormatFunction::TFormatFunction()
    : TTextOutputFunction("format", "Prints the values formatted by the control string",
                          " <logical-name> <string-expression> <expression>*", 2) {}

TRefPtr<IIEValue> TFormatFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const int32_t n = call->ArgumentCount();
    auto values = TValueVector::Create();
    for (int32_t i = 2; i < n; ++i)
        values->Add(EvalArg(call, i, context));
    std::string text = IEFormat(EvalArg(call, 1, context)->AsString(), *values);
    const std::string name = EvalArg(call, 0, context)->AsString();
    FText = text;
    engine.PrintOut(name, text);
    return IEEmptyAtom();
}

namespace {

std::string LogicalName(IFunCall* call, TIEContext* context) {
    return call->ArgumentCount() > 0 ? EvalArg(call, 0, context)->AsString() : std::string();
}

} // namespace

TReadFunction::TReadFunction()
    : TBuiltInFunction("read", "Reads one value from the logical name", " [<logical-name>]", 0, 1) {
}

TRefPtr<IIEValue> TReadFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    TStreamTokenRef token;
    engine.ReadToken(LogicalName(call, context), token);
    if (!token) return IEEOFAtom();
    return token->ToValue();
}

TReadLineFunction::TReadLineFunction()
    : TBuiltInFunction("readline", "Reads one line from the logical name as a string",
                       " [<logical-name>]", 0, 1) {}

TRefPtr<IIEValue> TReadLineFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    std::string line;
    engine.ReadLine(LogicalName(call, context), line);
    if (line.empty()) return IEEOFAtom();
    return TIEValue::CreateText(dtString, line);
}

TOpenFunction::TOpenFunction()
    : TBuiltInFunction("open", "Opens the file under the logical name",
                       " <filename> <logical-name> [a|r|w|r+]", 2, 3) {}

TRefPtr<IIEValue> TOpenFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    std::string mode = "r";
    if (call->ArgumentCount() > 2) mode = EvalArg(call, 2, context)->AsString();
    if (mode != "a" && mode != "r" && mode != "w" && mode != "r+")
        RaiseIE(imInvalidFileAccess, mode);
    const std::string fileName = EvalArg(call, 0, context)->AsString();
    const TRefPtr<IIEValue> logical = EvalArg(call, 1, context);
    const std::string name = logical->AsString();
    // Output to "t" (or no name) goes to the terminal: a stream of that name could never be
    // reached. Refused before the file is touched.
    if (name.empty() || name == "t")
        throw EIEException(Format("Invalid logical name for a stream: \"%s\"", name));
    // A taken name is settled before the file is touched: "w" must not empty a file that is
    // then refused.
    if (engine.IOStreams().Find(name)) {
        switch (engine.DuplicateConstructs()) {
        case dcError:
            RaiseIE(imDuplicateStreams, name);
        case dcIgnore:
            return IEFalseValue();
        case dcOverwrite:
            engine.IOStreams().CloseStream(name);
            break;
        }
    }
    std::unique_ptr<TGTextStream> stream;
    if (mode == "r" || mode == "r+") {
        auto file = std::make_unique<TFileStream>(
            fileName, static_cast<uint16_t>(mode == "r" ? fmOpenRead : fmOpenReadWrite));
        std::unique_ptr<TIETokenizerStream> tokens = engine.CreateStream(file.get());
        tokens->SetOwnsStream(true);
        (void)file.release();
        tokens->SetReadOnly(mode == "r");
        stream = std::move(tokens);
    } else if (mode == "a") {
        // Each write lands at the end of the file as it is then: another stream appending to
        // the same file keeps its text.
        stream = std::make_unique<TGTextStream>(fileName,
                                                static_cast<uint16_t>(fmOpenReadWrite | fmAppend));
        stream->Seek(0, soFromEnd);
        stream->SetWriteOnly(true);
    } else {
        stream = std::make_unique<TGTextStream>(fileName, static_cast<uint16_t>(fmCreate));
        stream->SetWriteOnly(true);
    }
    if (!engine.IOStreams().PutStream(name, std::move(stream))) return IEFalseValue();
    return logical->CloneValue();
}

TCloseFunction::TCloseFunction()
    : TBuiltInFunction("close", "Closes the named streams, or every stream", " [<logical-name>+]") {
}

TRefPtr<IIEValue> TCloseFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const int32_t n = call->ArgumentCount();
    if (n == 0) engine.IOStreams().Clear();
    for (int32_t i = 0; i < n; ++i)
        engine.IOStreams().CloseStream(EvalArg(call, i, context)->AsString());
    return IETrueValue();
}

TDribbleOnFunction::TDribbleOnFunction()
    : TBuiltInFunction("dribble-on", "Copies the engine's output to the file", " <filename>", 1,
                       1) {}

TRefPtr<IIEValue> TDribbleOnFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    return IEBoolValue(engine.DribbleOn(EvalArg(call, 0, context)->AsString()));
}

TDribbleOffFunction::TDribbleOffFunction()
    : TBuiltInFunction("dribble-off", "Stops copying the engine's output to a file", "", 0, 0) {}

TRefPtr<IIEValue> TDribbleOffFunction::Execute(IFunCall*, TIEContext* context) {
    return IEBoolValue(EngineOf(context).DribbleOff());
}

TBatchFunction::TBatchFunction()
    : TBuiltInFunction("batch", "Runs the commands of the file", " <filename>", 1, 1) {}

TRefPtr<IIEValue> TBatchFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const std::string fileName = EvalArg(call, 0, context)->AsString();
    // A file that cannot be opened is a failure the rule program tests for; an error of one
    // of the file's commands still reaches the caller.
    std::unique_ptr<TFileStream> file;
    try {
        file = std::make_unique<TFileStream>(fileName, fmOpenRead | fmShareDenyWrite);
    } catch (const EFileStreamError&) {
        return IEFalseValue();
    }
    return IEBoolValue(engine.BatchFromStream(*file));
}

TLoadFunction::TLoadFunction()
    : TBuiltInFunction("load", "Reads the constructs and commands of the file into the engine",
                       " <filename>", 1, 1) {}

TRefPtr<IIEValue> TLoadFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    engine.LoadFromFile(EvalArg(call, 0, context)->AsString());
    return IETrueValue();
}

TSaveFunction::TSaveFunction()
    : TBuiltInFunction("save", "Writes the whole engine to the file as text", " <filename>", 1, 1) {
}

TRefPtr<IIEValue> TSaveFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    engine.SaveToFile(EvalArg(call, 0, context)->AsString());
    return IETrueValue();
}

TLoadFactsFunction::TLoadFactsFunction()
    : TBuiltInFunction("load-facts", "Asserts the facts of the file", " <filename>", 1, 1) {}

TRefPtr<IIEValue> TLoadFactsFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    engine.LoadFactsFromFile(EvalArg(call, 0, context)->AsString());
    return IETrueValue();
}

TSaveFactsFunction::TSaveFactsFunction()
    : TBuiltInFunction("save-facts",
                       "Writes the facts, or those of the named fact templates, to the file",
                       " <file-name> [<fact-template-name>+]", 1) {}

TRefPtr<IIEValue> TSaveFactsFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const std::string fileName = EvalArg(call, 0, context)->AsString();
    const int32_t n = call->ArgumentCount();
    if (n == 1) {
        engine.SaveFactsToFile(fileName);
        return IETrueValue();
    }
    TFileStream file(fileName, fmCreate);
    for (int32_t i = 1; i < n; ++i)
        engine.SaveTemplateFactsToStream(file, EvalArg(call, i, context)->AsString());
    return IETrueValue();
}

// =============================================================================================
// The package

namespace {

// The function classes of the package, in the order of its functions.
using TStandardFunctionClasses = TFunctionClasses<
    TAndFunction, TAssertFunction, TAssertStringFunction, TBatchFunction, TBindFunction,
    TClearFunction, TClearStorageFunction, TCloseFunction, TDoBackwardChainingFunction,
    TDribbleOnFunction, TDribbleOffFunction, TDuplicateFunction, TEqFunction, TEqStarFunction,
    TEqualsFunction, TExitFunction, TExtractGlobalFunction, TFetchFunction, TForEachFunction,
    TFormatFunction, TGenSymStarFunction, TGetFactDuplicationFunction, TGetSlotValueFunction,
    TGtFunction, TGtOrEqFunction, THaltFunction, TIfFunction, TLoadFunction, TLoadFactsFunction,
    TLtFunction, TLtOrEqFunction, TMemberFunction, TModifyFunction, TNeqFunction,
    TNotEqualsFunction, TNotFunction, TOpenFunction, TOrFunction, TPrintOutFunction, TReadFunction,
    TReadLineFunction, TRemoveFunction, TRenameFunction, TResetFunction, TRetractFunction,
    TRetractStringFunction, TReturnFunction, TRunFunction, TSaveFunction, TSaveFactsFunction,
    TSetFactDuplicationFunction, TStoreFunction, TTryFunction, TThrowFunction, TUnwatchFunction,
    TVersionFunction, TWatchFunction, TWhileFunction, TCreateMFFunction, TDeleteMFFunction,
    TExplodeMFFunction, TFirstMFFunction, TImplodeMFFunction, TInsertMFFunction, TLengthMFFunction,
    TMemberMFFunction, TNthMFFunction, TReplaceMFFunction, TRestMFFunction, TSubSeqMFFunction,
    TSubSetpMFFunction>;

} // namespace

void TStandardPackage::DoCreateFunctions() {
    TUserPackage::DoCreateFunctions();
    TStandardFunctionClasses::AddTo(Functions());
}

void RegisterStandardFunctionClasses() {
    TStandardFunctionClasses::Register();
}

void RegisterStandardPackage() {
    RegisterPackage<TStandardPackage, TStandardFunctionClasses>(pStandard);
}

namespace {
// The unit registers its function classes and its package when it starts.
const bool StandardPackageRegistered = (RegisterStandardPackage(), true);
} // namespace

} // namespace ie
