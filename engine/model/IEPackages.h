// The function framework and the package base.
//
// Every callable of the rule language is an IUserFunction: built-in functions (classes derived
// from TIEUserFunction), deffunctions (TInterpretedFunction) and host functions (TUserFunction
// with its OnCall event). A call expression (TFunctionCall) binds to its function by name on its
// first evaluation and keeps that binding.
//
// A function knows the engines it serves (its reasoner list, not owned); adding an engine to the
// list registers the function in that engine's table and removing it unregisters it, so the two
// stay in step. A package (TUserPackage) owns a list of functions and a list of engines and keeps
// every function registered with every engine of the package.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model/IEConsts.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEInterfaces.h"
#include "platform/Component.h"
#include "platform/StoredProperties.h"

namespace ie {

class TValueVector;

// Raised when an object is not of the class an operation needs (a missing context).
class EInvalidCast : public EException {
public:
    using EException::EException;
};
inline constexpr std::string_view InvalidCastMessage = "Invalid class typecast";

// What stored package functions need of a function: its class name in the class registry and
// its stored data.
class IStreamableFunction : public virtual TRefCounted {
public:
    virtual std::string_view StreamClassName() const = 0;
    virtual void LoadFromReader(TReader& reader) = 0;
    virtual void SaveToWriter(TWriter& writer) const = 0;
};

// A number computed without making a value: the double the numeric functions compute in, and
// whether a float took part (the value the call gives is then a float, else an integer).
struct TIENumber {
    double Value;
    bool IsFloat;
};

// How a comparison function relates numbers (>, >=, <, <= each pair of neighbours; =, <> the
// first with each other), so that a call whose arguments are plain numbers is answered in place
// (TFunctionCall::EvaluateTest); ntNone for every other function.
enum TNumberTest : uint8_t {
    ntNone,
    ntGreater,
    ntGreaterOrEqual,
    ntLess,
    ntLessOrEqual,
    ntEqual,
    ntNotEqual
};

// How an arithmetic function combines numbers (+, - and * of integers and floats), so that a
// call whose arguments are plain numbers is computed in place (TFunctionCall::EvaluateNumber);
// noNone for every other function.
enum TNumberOp : uint8_t { noNone, noPlus, noMinus, noTimes };

// Whether `a` relates to `b` as the comparison says (false for ntNone).
[[gnu::always_inline]] inline bool NumbersHold(TNumberTest test, double a, double b) noexcept {
    switch (test) {
    case ntGreater:
        return a > b;
    case ntGreaterOrEqual:
        return a >= b;
    case ntLess:
        return a < b;
    case ntLessOrEqual:
        return a <= b;
    case ntEqual:
        return a == b;
    case ntNotEqual:
        return a != b;
    default:
        return false;
    }
}

// The integer a total of integers comes to (+, - and * of integers): an integral total as it
// is, any other rounded to the nearest (nearbyint is a call); nothing when it lies outside 32
// bits. Through the integer, so a zero product of a negative is 0, not -0.
inline std::optional<int32_t> IntegralTotal(double total) noexcept {
    double r = total;
    if (!(r >= -2147483648.0 && r <= 2147483647.0 &&
          static_cast<double>(static_cast<int32_t>(r)) == r))
        r = std::nearbyint(total);
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) return std::nullopt;
    return static_cast<int32_t>(r);
}

// What a reasoner list tells its owner.
enum TReasonerAction : uint8_t { raAdded = 0, raExtracted = 1, raDeleted = 2 };

// ---------------------------------------------------------------------------------------------
// Functions

class TIEUserFunction : public TPersistent, public IUserFunction, public IStreamableFunction {
public:
    TIEUserFunction() = default;
    explicit TIEUserFunction(std::string_view name) { SetFunctionName(name); }
    ~TIEUserFunction() override;

    std::string_view ClassName() const override { return "TIEUserFunction"; }

    // Counts, comment and then the name (through SetFunctionName); the argument text is not
    // copied. Assigning a function to itself does nothing.
    void Assign(const TPersistent* source) override;

    // IUserFunction
    int32_t GetMaxArgumentCount() const noexcept override { return FMaxArgumentCount; }
    int32_t GetMinArgumentCount() const noexcept override { return FMinArgumentCount; }
    const std::string& GetArgumentString() const noexcept override { return FArgumentString; }
    const std::string& GetComment() const noexcept override { return FComment; }
    const std::string& GetFunctionName() const noexcept override { return FFunctionName; }
    void SetArgumentString(std::string_view text) override { FArgumentString = text; }
    void SetComment(std::string_view text) override { FComment = text; }
    // A new name re-registers the function with every engine it serves, under the new name.
    void SetFunctionName(std::string_view name) override;
    // A maximum below the minimum lowers the minimum with it.
    void SetMaxArgumentCount(int32_t count) override;
    // A minimum above the maximum raises the maximum with it.
    void SetMinArgumentCount(int32_t count) override;
    // Checks the argument count ("Too few arguments for %s", "Too many arguments for %s"),
    // then runs Execute.
    TRefPtr<IIEValue> Call(IFunCall* call, TIEContext* context) override;
    // Call for a function that computes numbers: the same checks, then the number the call's
    // value would hold, without making the value. False, with nothing checked or run, for a
    // function that does not compute numbers this way.
    virtual bool CallNumber(IFunCall* call, TIEContext* context, TIENumber& result);
    // Call for a function whose value is TRUE or FALSE: the same checks, then whether the value
    // would be TRUE, without handing a value over. False, with nothing checked or run, for a
    // function that does not answer this way.
    virtual bool CallTest(IFunCall* call, TIEContext* context, bool& holds);
    // The comparison this function makes of numbers, ntNone when it is no such comparison; its
    // CallTest must answer as the comparison does for arguments that read as numbers.
    TNumberTest NumberTest() const noexcept { return FNumberTest; }
    // The arithmetic this function makes of numbers, noNone when it is no such function; its
    // CallNumber must compute as the operation does for arguments that read as numbers.
    TNumberOp NumberOp() const noexcept { return FNumberOp; }
    // Whether a call of `count` arguments passes the count check of Call.
    bool CountFits(int32_t count) const noexcept {
        return count >= FMinArgumentCount && count <= FMaxArgumentCount;
    }
    // Whether the function computes numbers through ExecuteNumber: its Call is the checks of
    // Call, then the value of the number ExecuteNumber gives (NumberValue), and its CallNumber
    // the checks, then that number. A call that wants its number reaches ExecuteNumber at once.
    bool ComputesNumber() const noexcept { return FComputesNumber; }

    int32_t AddReasoner(IReasoner* reasoner) override;
    void RemoveAllReasoners() override;
    void DeleteReasoner(int32_t index) override;
    int32_t RemoveReasoner(IReasoner* reasoner) override;
    int32_t IndexOfReasoner(const IReasoner* reasoner) const noexcept override;
    IReasoner* GetReasoner(int32_t index) const override;
    int32_t ReasonerCount() const noexcept override {
        return static_cast<int32_t>(FReasoners.size());
    }
    std::string GetText(IReasoner* reasoner) const override;

    // Forgets an engine without telling it (an engine that is being destroyed).
    void DetachReasoner(const IReasoner* reasoner) noexcept;

    // IStreamableFunction: name and comment as strings, then the maximum and the minimum count.
    std::string_view StreamClassName() const override { return ClassName(); }
    void LoadFromReader(TReader& reader) override;
    void SaveToWriter(TWriter& writer) const override;

protected:
    // The checks of Call: the argument count against the limits, then the context. Every call of
    // every function passes here, so the passing case is inline.
    void CheckCall(const IFunCall* call, const TIEContext* context) const {
        CheckCount(call ? call->ArgumentCount() : 0, context);
    }
    void CheckCount(int32_t n, const TIEContext* context) const {
        if (!CountFits(n) || !context) [[unlikely]]
            RaiseBadCall(n);
    }
    void SetNumberTest(TNumberTest test) noexcept { FNumberTest = test; }
    void SetNumberOp(TNumberOp op) noexcept { FNumberOp = op; }
    void SetComputesNumber() noexcept { FComputesNumber = true; }
    // The body of a function that computes numbers (ComputesNumber): the number of the call's
    // value. The base computes none (0).
    virtual TIENumber ExecuteNumber(IFunCall* call, TIEContext* context);
    // Told when an engine enters (raAdded) or leaves the reasoner list.
    virtual void ReasonerNotify(IReasoner* reasoner, TReasonerAction action);
    // Told when the last engine has left the reasoner list.
    virtual void LastReasonerLeft() noexcept {}
    // The body. Arguments arrive unevaluated; the base gives no value.
    virtual TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context);

private:
    // A call of a function that computes numbers runs its checks and body directly.
    friend class TFunctionCall;
    // The error of a call that CheckCall refuses.
    [[noreturn]] void RaiseBadCall(int32_t count) const;

    int32_t FMinArgumentCount = 0;
    int32_t FMaxArgumentCount = 2147483647;
    TNumberTest FNumberTest = ntNone;
    TNumberOp FNumberOp = noNone;
    bool FComputesNumber = false;
    std::string FComment;
    std::vector<IReasoner*> FReasoners;
    std::string FFunctionName;
    std::string FArgumentString;
};

// A call expression: the function name, the unevaluated arguments and the function, bound by
// name on the first evaluation.
// A program holds thousands of calls (one or more per rule): TBlockAllocated.
class TFunctionCall : public TPersistent, public IFunCall, public TBlockAllocated {
public:
    TFunctionCall(IReasoner* reasoner, std::string_view name)
        : FReasoner(reasoner), FFunctionName(TIEText::Make(name)) {}
    ~TFunctionCall() override;

    static TRefPtr<TFunctionCall> Create(IReasoner* reasoner, std::string_view name) {
        return MakeRef<TFunctionCall>(reasoner, name);
    }

    std::string_view ClassName() const override { return "TFunctionCall"; }
    // Name, comment, tag and clones of the arguments; the copy binds on its first evaluation.
    void Assign(const TPersistent* source) override;

    // ICloneable
    void AssignFrom(const IInterface* source) override;
    TRefPtr<ICloneable> Clone() const override;
    bool Equals(const IInterface* other) const override;
    intptr_t GetTag() const override { return FTag; }
    void SetTag(intptr_t tag) override { FTag = tag; }

    // IFunCall
    void AddArgument(TRefPtr<IIEValue> value) override;
    void ClearArguments() override;
    void DeleteArgument(int32_t index) override;
    bool SameCall(const IFunCall* other) const override;
    const TRefPtr<IIEValue>& GetArgument(int32_t index) const override;
    // GetArgument in line, for the readers of arguments (ArgumentOf).
    const TRefPtr<IIEValue>& ArgumentAt(int32_t index) const {
        if (static_cast<size_t>(index) >= FArguments.size()) [[unlikely]]
            return GetArgument(index); // raises as it does
        return FArguments[static_cast<size_t>(index)];
    }
    void SetArgument(int32_t index, TRefPtr<IIEValue> value) override;
    int32_t ArgumentCount() const noexcept override {
        return static_cast<int32_t>(FArguments.size());
    }
    TRefPtr<IUserFunction> GetFunction() const override { return FFunction; }
    TRefPtr<IIEValue> Evaluate(TIEContext* context) override;
    // Evaluates the call into `result` without making a value when its function computes
    // numbers (TIEUserFunction::CallNumber); false when it does not, with nothing evaluated.
    // Binds the function as Evaluate does.
    bool EvaluateNumber(TIEContext* context, TIENumber& result);
    // The same for a call whose function answers TRUE or FALSE (TIEUserFunction::CallTest).
    // A comparison of pattern variables and numbers, the most common test of a join, is
    // answered in line: reading its arguments has no effect, so when one does not read as a
    // plain number the function runs as always and reads them again. (A call with its function
    // as the framework's class is bound: nothing to bind first.)
    bool EvaluateTest(TIEContext* context, bool& holds) {
        if (FNative) [[likely]]
            if (const TNumberTest test = FNative->NumberTest();
                test != ntNone && context && FNative->CountFits(ArgumentCount()))
                if (TestNumbersInPlace(test, *context, holds)) return true;
        return EvaluateTestApart(context, holds);
    }
    std::string GetText() const override;
    int32_t GetHashCode() const override;
    IReasoner* GetReasoner() const noexcept override { return FReasoner; }
    const std::string& GetFunctionName() const noexcept override { return FFunctionName->Text(); }
    const std::string& GetComment() const noexcept override { return FComment.Get(); }
    void SetFunction(TRefPtr<IUserFunction> function) override;
    void SetComment(std::string_view comment) override { FComment.Set(comment); }

    // Typed adders: the value is made in the requested kind; a kind that does not fit raises
    // "Not a %s type.  Value (%s) is a %s type".
    void AddString(std::string_view text, TIEType kind = dtString);
    void AddInteger(int32_t value, TIEType kind = dtInteger);
    void AddFloat(double value, TIEType kind = dtFloat);
    void AddFact(TRefPtr<IFact> fact);
    void AddFunCall(TRefPtr<IFunCall> call);
    void AddList(TRefPtr<IValueVector> list);

    // What the bound function worked out once from the written arguments (a control form's
    // checks, where its else keyword stands), -1 until it sets something; forgotten whenever the
    // arguments or the function change.
    int32_t FormMark() const noexcept { return FFormMark; }
    void SetFormMark(int32_t mark) noexcept { FFormMark = mark; }
    // More that the bound function worked out (a modify's slot positions), freed with the call;
    // it stands only while the form mark the function set with it does.
    struct TFormData {
        virtual ~TFormData() = default;
    };
    TFormData* FormData() const noexcept { return FFormData.get(); }
    void SetFormData(std::unique_ptr<TFormData> data) noexcept { FFormData = std::move(data); }

private:
    // The bound function, found by name on first use (BindByName).
    const TRefPtr<IUserFunction>& Bound() {
        if (FFunction) [[likely]]
            return FFunction;
        return BindByName();
    }
    const TRefPtr<IUserFunction>& BindByName();
    // FNative's CheckCall for this call, reading the count without a call through the table.
    void CheckNativeCall(const TIEContext* context) const {
        FNative->CheckCount(static_cast<int32_t>(FArguments.size()), context);
    }
    // EvaluateTest past the comparison in line.
    bool EvaluateTestApart(TIEContext* context, bool& holds);
    // Lets go of the bound function; while any call runs on this thread the reference is kept
    // until the outermost call returns, since the function may be the one running.
    void ReleaseFunction() noexcept;
    // EvaluateTest for a comparison of numbers whose arguments all read as numbers without
    // evaluating anything (see ReadPlainNumber): false, with nothing run, when one does not.
    // In line, so that each of its paths is a plain call (a stretch of a fixed left token is as
    // common in some joins as its absence in others).
    bool TestNumbersInPlace(TNumberTest test, const TIEContext& context, bool& holds) const {
        if (context.FixedSerial() != 0) return TestNumbersKept(test, context, holds);
        return TestNumbersLoose(test, context, holds);
    }
    // TestNumbersInPlace outside such a stretch (untracked, see ReadPlainNumber).
    bool TestNumbersLoose(TNumberTest test, const TIEContext& context, bool& holds) const;
    // TestNumbersInPlace; `Track`: while a join holds its left token fixed (see ReadPlainNumber).
    template <bool Track>
    [[gnu::always_inline]] bool TestNumbers(TNumberTest test, const TIEContext& context,
                                            bool& holds) const;
    // TestNumbersInPlace in a stretch of a fixed left token (tracked, see ReadPlainNumber).
    [[gnu::noinline]] bool TestNumbersKept(TNumberTest test, const TIEContext& context,
                                           bool& holds) const;
    // A number read or computed in place, returned in registers: State is psInteger or psFloat
    // for a number, psNone when the argument does not read as a plain number. Where tracked (see
    // ReadPlainNumber) a number's State carries psFixed besides when it reads only literals and
    // the token a join holds fixed (see TFixedLeft), so that it stays the same for the rest of
    // the join's walk (a flag in the state, not a field apart: the untracked reads return as
    // they always did).
    enum TPlainState : int32_t { psNone = -1, psInteger = 0, psFloat = 1, psFixed = 2 };
    struct TPlainNumber {
        double Value;
        int32_t State;
    };
    static bool IsFixed(const TPlainNumber& n) noexcept {
        return n.State != psNone && (n.State & psFixed) != 0;
    }
    // EvaluateNumber for an arithmetic call whose arguments all read as numbers without
    // evaluating anything and whose steps stay finite and, for integers, within 32 bits: psNone,
    // with nothing run, otherwise (the function then runs and raises what it raises).
    TPlainNumber ComputeInPlace(TNumberOp op, const TIEContext& context) const;
    // ComputeInPlace while a join holds its left token fixed in the stretch `serial`: a total
    // that reads only what stays fixed is kept for the stretch.
    [[gnu::noinline]] TPlainNumber ComputeKept(TNumberOp op, const TIEContext& context,
                                               uint64_t serial) const;
    // ComputeInPlace's total, tracked or not (see ReadPlainNumber).
    template <bool Track> TPlainNumber ComputeTotal(TNumberOp op, const TIEContext& context) const;
    // The number an argument reads as without evaluating anything (see the definition).
    template <bool Track>
    static TPlainNumber ReadPlainNumber(const IIEValue* argument, const TIEContext& context);
    // The number a value holds, psNone for anything but the engine's own integers and floats.
    static TPlainNumber PlainNumberOf(const IIEValue* bound) noexcept {
        if (!bound || &typeid(*bound) != &typeid(TIEValue)) return {0.0, psNone};
        const auto* n = static_cast<const TIEValue*>(bound);
        if (n->DType() == dtInteger) return {n->NumberPayload(), psInteger};
        if (n->DType() == dtFloat) return {n->NumberPayload(), psFloat};
        return {0.0, psNone};
    }
    // ReadPlainNumber for a position in the token a join holds fixed: read once per stretch.
    [[gnu::noinline]] static TPlainNumber ReadFixedNumber(const TBindingInfo& info,
                                                          const TIEContext& context);
    // ReadPlainNumber for a call value: a bound call of an arithmetic function computed in place
    // (out of line, so that the reads of the other kinds keep their short entry).
    template <bool Track>
    [[gnu::noinline]] static TPlainNumber ReadPlainCall(const TIEValue& value,
                                                        const TIEContext& context);

    IReasoner* FReasoner;
    // A call has a few arguments: a short array of the engine's pool.
    std::vector<TRefPtr<IIEValue>, TBlockAllocator<TRefPtr<IIEValue>>> FArguments;
    TRefPtr<IUserFunction> FFunction;
    // FFunction as the framework's class when it is one (spares a cast per numeric call).
    TIEUserFunction* FNative = nullptr;
    // Interned (never null): a program's calls name few functions, and a call is the smaller.
    TRefPtr<TIEText> FFunctionName;
    // Few calls carry a comment: held apart, null when empty, so a call is smaller.
    TRareText FComment;
    intptr_t FTag = 0;
    // What was worked out for the call's form (its mark, the number kept) no longer holds.
    void FormChanged() noexcept {
        FFormMark = -1;
        FFixedSerial = 0;
    }
    int32_t FFormMark = -1;
    // ComputeInPlace's number in the stretch FFixedSerial names (see TFixedLeft); 0: none kept.
    // (Beside the mark: two 4-byte fields together leave no holes in a call.)
    mutable int32_t FFixedState = psNone;
    std::unique_ptr<TFormData> FFormData;
    mutable uint64_t FFixedSerial = 0;
    mutable double FFixedValue = 0.0;
};

// call->GetArgument(index), without a virtual call for the framework's own call class (told by
// the address of its type information; a class that it does not tell reads as it always does).
[[gnu::always_inline]] inline const TRefPtr<IIEValue>& ArgumentOf(const IFunCall* call,
                                                                  int32_t index) {
    if (&typeid(*call) == &typeid(TFunctionCall))
        return static_cast<const TFunctionCall*>(call)->ArgumentAt(index);
    return call->GetArgument(index);
}

// The framework's call a call value holds, nullptr for any other value or call. Every numeric
// argument that is a call passes here, so it is in line and tells the class by the address of
// its type information (a class that address does not tell takes the general path).
inline TFunctionCall* AsFunctionCall(const TIEValue& value) {
    IFunCall* call = value.CallPayload();
    return call && &typeid(*call) == &typeid(TFunctionCall) ? static_cast<TFunctionCall*>(call)
                                                            : nullptr;
}

// The value of a (non-null) expression as its Evaluate gives it, the common kinds in line: a
// number, atom or string stands for itself, and a call of the framework's own class runs without
// passing through the value's dispatch (a class the addresses of the type information do not
// tell is evaluated as always).
[[gnu::always_inline]] inline TRefPtr<IIEValue>
EvaluateExpression(const TRefPtr<IIEValue>& expression, TIEContext* context) {
    IIEValue* e = expression.get();
    if (&typeid(*e) == &typeid(TIEValue)) {
        const auto* value = static_cast<const TIEValue*>(e);
        switch (value->DType()) {
        case dtAtom:
        case dtString:
        case dtInteger:
        case dtFloat:
            return expression;
        case dtFunCall:
            if (TFunctionCall* call = AsFunctionCall(*value))
                return call->TFunctionCall::Evaluate(context);
            break;
        default:
            break;
        }
    }
    return e->Evaluate(context);
}

// EvalCondition for an expression that is no call answering TRUE or FALSE itself: its value.
bool EvalConditionValue(const TRefPtr<IIEValue>& expression, TIEContext* context);

// Whether the expression's value is anything but FALSE, as conditions and predicates read it;
// a comparison answers without handing its TRUE or FALSE over. In line: every predicate of a
// join passes here. (A value or call class that the addresses of the type information do not
// tell is evaluated.)
inline bool EvalCondition(const TRefPtr<IIEValue>& expression, TIEContext* context) {
    if (const IIEValue* e = expression.get(); e && &typeid(*e) == &typeid(TIEValue))
        if (TFunctionCall* call = AsFunctionCall(*static_cast<const TIEValue*>(e)))
            if (bool holds; call->EvaluateTest(context, holds)) return holds;
    return EvalConditionValue(expression, context);
}

// The text of a call as the engine's writer renders it when the call has no engine: comment
// lines first ("; " before each), then "(" name, the arguments, ")"; "modify" and "duplicate"
// write every argument after the first in parentheses.
std::string DefaultFunCallText(const IFunCall& call);

class TCustomUserFunction;

// Host functions: the body is the OnCall event of the owning component.
using TCallEvent = std::function<void(TObject* sender, IFunCall* call, TIEContext* context,
                                      TRefPtr<IIEValue>& result)>;

// The function that a TCustomUserFunction registers: it carries the name and counts and
// forwards each call to its component (which the component clears when it is destroyed).
class TIEInnerFunction : public TIEUserFunction {
public:
    std::string_view ClassName() const override { return "TIEInnerFunction"; }
    TCallEvent OnCall;

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;

private:
    friend class TCustomUserFunction;
    TCustomUserFunction* FOwnerComponent = nullptr;
};

class TCustomUserFunction : public TComponent {
public:
    explicit TCustomUserFunction(TComponent* owner);
    ~TCustomUserFunction() override;

    std::string_view ClassName() const override { return "TCustomUserFunction"; }
    void Assign(const TPersistent* source) override;
    void Notification(TComponent* component, TOperation operation) override;

    const std::string& ArgumentString() const { return FFunction->GetArgumentString(); }
    void SetArgumentString(std::string_view text) { FFunction->SetArgumentString(text); }
    const std::string& Comment() const { return FFunction->GetComment(); }
    void SetComment(std::string_view text) { FFunction->SetComment(text); }
    const std::string& FunctionName() const { return FFunction->GetFunctionName(); }
    void SetFunctionName(std::string_view name);
    int32_t MaxArgumentCount() const { return FFunction->GetMaxArgumentCount(); }
    void SetMaxArgumentCount(int32_t n) { FFunction->SetMaxArgumentCount(n); }
    int32_t MinArgumentCount() const { return FFunction->GetMinArgumentCount(); }
    void SetMinArgumentCount(int32_t n) { FFunction->SetMinArgumentCount(n); }
    // The engine (a component implementing IReasoner) the function is registered with.
    TComponent* Engine() const { return FEngine; }
    void SetEngine(TComponent* engine);
    const TRefPtr<TIEInnerFunction>& Function() const { return FFunction; }

    TCallEvent OnCall;

protected:
    friend class TIEInnerFunction;
    virtual void Execute(IFunCall* call, TIEContext* context, TRefPtr<IIEValue>& result);

private:
    TRefPtr<TIEInnerFunction> FFunction;
    TComponent* FEngine = nullptr;
};

class TUserFunction : public TCustomUserFunction {
public:
    using TCustomUserFunction::TCustomUserFunction;
    std::string_view ClassName() const override { return "TUserFunction"; }
};

// ---------------------------------------------------------------------------------------------
// Lists that tell their owner

// Engines (not owned). Add puts an engine in only when it is absent and returns its index.
class TReasonerList {
public:
    using TNotify = std::function<void(IReasoner* reasoner, TReasonerAction action)>;
    explicit TReasonerList(TNotify notify = nullptr) : FNotify(std::move(notify)) {}

    int32_t Count() const noexcept { return static_cast<int32_t>(FItems.size()); }
    IReasoner* Item(int32_t index) const;
    int32_t IndexOf(const IReasoner* reasoner) const noexcept;
    int32_t Add(IReasoner* reasoner);
    int32_t Remove(IReasoner* reasoner);
    void Delete(int32_t index);
    void Clear();
    // Drops the engine without telling the owner (an engine that is being destroyed).
    void Forget(const IReasoner* reasoner) noexcept;
    const std::vector<IReasoner*>& Items() const noexcept { return FItems; }

private:
    std::vector<IReasoner*> FItems;
    TNotify FNotify;
};

// Functions of a package. Add puts a function in only when it is absent and returns its index.
class TUserFunctionList {
public:
    using TNotify =
        std::function<void(const TRefPtr<IUserFunction>& function, TReasonerAction action)>;
    explicit TUserFunctionList(TNotify notify = nullptr) : FNotify(std::move(notify)) {}
    ~TUserFunctionList();
    TUserFunctionList(const TUserFunctionList&) = delete;
    TUserFunctionList& operator=(const TUserFunctionList&) = delete;

    int32_t Count() const noexcept { return static_cast<int32_t>(FItems.size()); }
    const TRefPtr<IUserFunction>& Item(int32_t index) const;
    int32_t IndexOf(const IUserFunction* function) const noexcept;
    // The first function of that name (case-sensitive), null when absent.
    TRefPtr<IUserFunction> Find(std::string_view name) const;
    int32_t Add(TRefPtr<IUserFunction> function);
    int32_t Remove(const IUserFunction* function);
    void Delete(int32_t index);
    void Clear();
    // Replaces the content by the other list's functions (shared). A list assigned to itself
    // does not change.
    void Assign(const TUserFunctionList& other);
    // Each function's name followed by CR LF.
    std::string GetText() const;
    const std::vector<TRefPtr<IUserFunction>>& Items() const noexcept { return FItems; }

private:
    std::vector<TRefPtr<IUserFunction>> FItems;
    TNotify FNotify;
};

// ---------------------------------------------------------------------------------------------
// Packages

// A component that serves a list of engines.
class TCustomReasonerOwner : public TComponent {
public:
    explicit TCustomReasonerOwner(TComponent* owner);
    std::string_view ClassName() const override { return "TCustomReasonerOwner"; }

    TReasonerList& Reasoners() noexcept { return FReasoners; }
    const TReasonerList& Reasoners() const noexcept { return FReasoners; }

protected:
    // Told of every engine added to or removed from the list.
    virtual void ReasonersChanged(IReasoner* reasoner, TReasonerAction action) {
        (void)reasoner, (void)action;
    }

    TReasonerList FReasoners;
};

// A package: owns its functions and registers all of them with every engine it serves. An
// engine that creates a package as its owner is served from the start. Create packages with
// NewPackage<T>(owner) (or call AfterConstruction once after constructing one): the functions
// are made then, when the most derived class is complete.
class TUserPackage : public TCustomReasonerOwner {
public:
    explicit TUserPackage(TComponent* owner);
    ~TUserPackage() override;

    std::string_view ClassName() const override { return "TUserPackage"; }

    // Creates the functions (DoCreateFunctions); runs once.
    void AfterConstruction();

    // The function list; every function in it is registered with every engine of the package.
    TUserFunctionList& Functions() noexcept { return FFunctions; }
    const TUserFunctionList& Functions() const noexcept { return FFunctions; }

    TComponent* Engine() const noexcept { return FEngine; }
    // Serves `engine` (a component implementing IReasoner) instead of the previous one; while
    // the package is being loaded only the field is set.
    void SetEngine(TComponent* engine);

    // Reads always False; setting True makes the functions again from scratch.
    bool Reset() const noexcept { return false; }
    void SetReset(bool value);

    TNotifyEvent OnCreateFunctions;

    // From another package: its functions (shared). A package assigned to itself does nothing.
    void Assign(const TPersistent* source) override;
    void Notification(TComponent* component, TOperation operation) override;
    // "PackageFunctions": each streamable function's class name and data.
    void DefineProperties(TFiler& filer) override;

    // Writes the function list as stored data.
    void WriteFunctions(TWriter& writer) const;
    // Reads a stored function list. All or nothing: when any function cannot be read (a class
    // that is not registered raises the registry's error) the previous list stays as it was.
    void ReadFunctions(TReader& reader);

protected:
    // Raises OnCreateFunctions; packages call it first and then create their functions.
    virtual void DoCreateFunctions();

    void ReasonersChanged(IReasoner* reasoner, TReasonerAction action) override;
    virtual void FunctionsChanged(const TRefPtr<IUserFunction>& function, TReasonerAction action);
    // Registers every function with the engine.
    virtual void RegisterFunctions(IReasoner* reasoner);
    // Registers one function with every engine.
    virtual void RegisterFunction(const TRefPtr<IUserFunction>& function);
    // Unregisters one function from every engine.
    virtual void UnregisterFunction(const TRefPtr<IUserFunction>& function);
    // Unregisters every function from the engine.
    virtual void UnregisterFunctions(IReasoner* reasoner);

private:
    TComponent* FEngine = nullptr;
    TUserFunctionList FFunctions;
    // The engine that created the package as its owner.
    TComponent* FCreator = nullptr;
    IReasoner* FCreatorReasoner = nullptr;
    bool FConstructed = false;
};

// Constructs a package and creates its functions.
template <class T> T* NewPackage(TComponent* owner) {
    T* package = new T(owner);
    package->AfterConstruction();
    return package;
}

// Creates one function package (a component owned by `engine`, the engine that asks) for a member
// of TFunctionPackage. The packages library registers one factory per package from its start-up
// code; an engine creates those its Packages property names and skips the members nobody
// registered. The table lives here so that the packages register without naming the engine.
using TPackageFactory = std::function<TComponent*(TComponent* engine)>;
void RegisterPackageFactory(TFunctionPackage package, TPackageFactory factory);
bool PackageFactoryRegistered(TFunctionPackage package);
// The registered factory of a package; empty when nobody registered one.
const TPackageFactory& PackageFactory(TFunctionPackage package);

} // namespace ie
