// The function framework: built-in and host functions, function calls and their binding, the
// reasoner and function lists, and packages (deffunctions are IEInterpretedFunction).
//
// Invariant: a function's reasoner list and each engine's function table change together, and a
// package keeps each of its functions registered with each of its engines.
#include "engine/model/IEPackages.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <memory>
#include <typeinfo>

#include <boost/container/small_vector.hpp>

#include "engine/model/IEContext.h"
#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEValue.h"
#include "platform/ClassRegistry.h"

namespace ie {

namespace {

[[noreturn]] void RaiseIndex(int32_t index) {
    throw EListError(Format("List index out of bounds (%d)", index));
}

void CheckIndex(int32_t index, size_t count) {
    if (index < 0 || static_cast<size_t>(index) >= count) RaiseIndex(index);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TIEUserFunction

TIEUserFunction::~TIEUserFunction() = default;

void TIEUserFunction::Assign(const TPersistent* source) {
    if (source == this) return;
    const auto* src = dynamic_cast<const TIEUserFunction*>(source);
    if (!src) {
        TPersistent::Assign(source);
        return;
    }
    FMinArgumentCount = src->FMinArgumentCount;
    FMaxArgumentCount = src->FMaxArgumentCount;
    FComment = src->FComment;
    SetFunctionName(src->FFunctionName);
}

void TIEUserFunction::SetFunctionName(std::string_view name) {
    if (FFunctionName == name) return;
    if (FReasoners.empty()) {
        FFunctionName = name;
        return;
    }
    // An engine may drop the function from this list while it unregisters it, so the engines
    // to register with again are taken before anything changes.
    const std::vector<IReasoner*> engines = FReasoners;
    TRefPtr<IUserFunction> self(this); // the engines' tables may hold the only references
    for (IReasoner* r : engines)
        r->RemoveUserFunction(self);
    FFunctionName = name;
    for (IReasoner* r : engines) {
        if (IndexOfReasoner(r) < 0) FReasoners.push_back(r);
        r->AddUserFunction(self);
    }
}

void TIEUserFunction::SetMaxArgumentCount(int32_t count) {
    FMaxArgumentCount = count;
    if (FMinArgumentCount > count) FMinArgumentCount = count;
}

void TIEUserFunction::SetMinArgumentCount(int32_t count) {
    FMinArgumentCount = count;
    if (FMaxArgumentCount < count) FMaxArgumentCount = count;
}

void TIEUserFunction::RaiseBadCall(int32_t count) const {
    if (count < FMinArgumentCount) RaiseIE(imTooFewArguments, FFunctionName);
    if (count > FMaxArgumentCount) RaiseIE(imTooManyArguments, FFunctionName);
    // The count fits, so the context was missing.
    throw EInvalidCast(std::string(InvalidCastMessage));
}

TRefPtr<IIEValue> TIEUserFunction::Call(IFunCall* call, TIEContext* context) {
    CheckCall(call, context);
    return Execute(call, context);
}

bool TIEUserFunction::CallNumber(IFunCall* call, TIEContext* context, TIENumber& result) {
    (void)call, (void)context, (void)result;
    return false;
}

bool TIEUserFunction::CallTest(IFunCall* call, TIEContext* context, bool& holds) {
    (void)call, (void)context, (void)holds;
    return false;
}

TRefPtr<IIEValue> TIEUserFunction::Execute(IFunCall* call, TIEContext* context) {
    (void)call, (void)context;
    return nullptr;
}

TIENumber TIEUserFunction::ExecuteNumber(IFunCall* call, TIEContext* context) {
    (void)call, (void)context;
    return {};
}

void TIEUserFunction::ReasonerNotify(IReasoner* reasoner, TReasonerAction action) {
    if (!reasoner) return;
    TRefPtr<IUserFunction> self(this);
    if (action == raAdded)
        reasoner->AddUserFunction(self);
    else
        reasoner->RemoveUserFunction(self);
}

int32_t TIEUserFunction::AddReasoner(IReasoner* reasoner) {
    const int32_t i = IndexOfReasoner(reasoner);
    if (i >= 0 || !reasoner) return i;
    FReasoners.push_back(reasoner);
    ReasonerNotify(reasoner, raAdded);
    return IndexOfReasoner(reasoner);
}

void TIEUserFunction::RemoveAllReasoners() {
    while (!FReasoners.empty())
        DeleteReasoner(static_cast<int32_t>(FReasoners.size()) - 1);
}

void TIEUserFunction::DeleteReasoner(int32_t index) {
    CheckIndex(index, FReasoners.size());
    IReasoner* r = FReasoners[static_cast<size_t>(index)];
    FReasoners.erase(FReasoners.begin() + index);
    ReasonerNotify(r, raDeleted);
    if (FReasoners.empty()) LastReasonerLeft();
}

int32_t TIEUserFunction::RemoveReasoner(IReasoner* reasoner) {
    const int32_t i = IndexOfReasoner(reasoner);
    if (i < 0) return i;
    FReasoners.erase(FReasoners.begin() + i);
    ReasonerNotify(reasoner, raExtracted);
    if (FReasoners.empty()) LastReasonerLeft();
    return i;
}

void TIEUserFunction::DetachReasoner(const IReasoner* reasoner) noexcept {
    if (std::erase(FReasoners, reasoner) > 0 && FReasoners.empty()) LastReasonerLeft();
}

int32_t TIEUserFunction::IndexOfReasoner(const IReasoner* reasoner) const noexcept {
    auto it = std::find(FReasoners.begin(), FReasoners.end(), reasoner);
    return it == FReasoners.end() ? -1 : static_cast<int32_t>(it - FReasoners.begin());
}

IReasoner* TIEUserFunction::GetReasoner(int32_t index) const {
    CheckIndex(index, FReasoners.size());
    return FReasoners[static_cast<size_t>(index)];
}

std::string TIEUserFunction::GetText(IReasoner* reasoner) const {
    if (reasoner) return reasoner->UserFunctionText(*this);
    return FComment;
}

void TIEUserFunction::LoadFromReader(TReader& reader) {
    std::string name = reader.ReadString();
    FComment = reader.ReadString();
    FMaxArgumentCount = reader.ReadInteger();
    FMinArgumentCount = reader.ReadInteger();
    SetFunctionName(name);
}

void TIEUserFunction::SaveToWriter(TWriter& writer) const {
    writer.WriteString(FFunctionName);
    writer.WriteString(FComment);
    writer.WriteInteger(FMaxArgumentCount);
    writer.WriteInteger(FMinArgumentCount);
}

// ---------------------------------------------------------------------------------------------
// TFunctionCall

void TFunctionCall::Assign(const TPersistent* source) {
    if (source == this) return;
    const auto* src = dynamic_cast<const TFunctionCall*>(source);
    if (!src) {
        TPersistent::Assign(source);
        return;
    }
    AssignFrom(src);
}

void TFunctionCall::AssignFrom(const IInterface* source) {
    const auto* src = dynamic_cast<const IFunCall*>(source);
    if (!src || src == this) return;
    // Clone first: the source may be an argument of this very call.
    decltype(FArguments) arguments;
    arguments.reserve(static_cast<size_t>(src->ArgumentCount()));
    for (int32_t i = 0; i < src->ArgumentCount(); ++i) {
        const TRefPtr<IIEValue>& a = src->GetArgument(i);
        arguments.push_back(a ? a->CloneValue() : nullptr);
    }
    FFunctionName = TIEText::Make(src->GetFunctionName());
    SetComment(src->GetComment());
    FTag = src->GetTag();
    FArguments = std::move(arguments);
    FormChanged();
}

TRefPtr<ICloneable> TFunctionCall::Clone() const {
    auto copy = Create(FReasoner, GetFunctionName());
    copy->AssignFrom(this);
    return copy;
}

bool TFunctionCall::Equals(const IInterface* other) const {
    const auto* call = dynamic_cast<const IFunCall*>(other);
    return call && SameCall(call);
}

void TFunctionCall::AddArgument(TRefPtr<IIEValue> value) {
    FArguments.push_back(std::move(value));
    FormChanged();
}

void TFunctionCall::ClearArguments() {
    FArguments.clear();
    FormChanged();
}

void TFunctionCall::DeleteArgument(int32_t index) {
    CheckIndex(index, FArguments.size());
    FArguments.erase(FArguments.begin() + index);
    FormChanged();
}

bool TFunctionCall::SameCall(const IFunCall* other) const {
    if (!other) return false;
    if (other == this) return true;
    if (GetFunctionName() != other->GetFunctionName() || ArgumentCount() != other->ArgumentCount())
        return false;
    for (int32_t i = 0; i < ArgumentCount(); ++i) {
        const IIEValue* a = FArguments[static_cast<size_t>(i)].get();
        const IIEValue* b = other->GetArgument(i).get();
        if (!a || !b) {
            if (a != b) return false;
        } else if (!a->Equals(b)) {
            return false;
        }
    }
    return true;
}

const TRefPtr<IIEValue>& TFunctionCall::GetArgument(int32_t index) const {
    CheckIndex(index, FArguments.size());
    return FArguments[static_cast<size_t>(index)];
}

void TFunctionCall::SetArgument(int32_t index, TRefPtr<IIEValue> value) {
    CheckIndex(index, FArguments.size());
    FArguments[static_cast<size_t>(index)] = std::move(value);
    FormChanged();
}

const TRefPtr<IUserFunction>& TFunctionCall::BindByName() {
    if (FReasoner) {
        FFunction = FReasoner->FindUserFunction(GetFunctionName());
        FNative = dynamic_cast<TIEUserFunction*>(FFunction.get());
        FormChanged();
    }
    if (!FFunction) RaiseIE(imFunctionUnimplemented, GetFunctionName());
    return FFunction;
}

namespace {
// A running function must outlive its call even when the call lets go of it (undeffunction of
// itself, a call freed by the code it runs). Taking a counted reference per call would cost two
// atomic updates on the hottest path, so a call that lets go of its function while calls run on
// this thread parks the reference here instead, and the outermost call frees what was parked.
thread_local int32_t RunningCalls = 0;
thread_local std::vector<TRefPtr<IUserFunction>> ParkedFunctions;

// Frees what calls parked, once the outermost call returned. Out of line: every call passes the
// test for it, and the loop in line would cost each of them saved registers.
[[gnu::noinline]] void FreeParkedFunctions() {
    // Freeing a function may free calls that park again: drain until nothing is left.
    ++RunningCalls;
    while (!ParkedFunctions.empty()) {
        std::vector<TRefPtr<IUserFunction>> parked;
        parked.swap(ParkedFunctions);
    }
    --RunningCalls;
}

struct TRunningCall {
    TRunningCall() noexcept { ++RunningCalls; }
    ~TRunningCall() {
        if (--RunningCalls == 0 && !ParkedFunctions.empty()) [[unlikely]]
            FreeParkedFunctions();
    }
    TRunningCall(const TRunningCall&) = delete;
    TRunningCall& operator=(const TRunningCall&) = delete;
};
} // namespace

TFunctionCall::~TFunctionCall() {
    ReleaseFunction();
}

void TFunctionCall::ReleaseFunction() noexcept {
    FNative = nullptr;
    FormChanged();
    if (!FFunction) return;
    if (RunningCalls > 0) {
        try {
            ParkedFunctions.push_back(std::move(FFunction));
            return;
        } catch (...) {
            // Out of memory: a reference kept for good is better than one freed while in use.
            (void)FFunction.detach();
        }
    }
    FFunction = nullptr;
}

TRefPtr<IIEValue> TFunctionCall::Evaluate(TIEContext* context) {
    IUserFunction* function = Bound().get();
    const TRunningCall running;
    return function->Call(this, context);
}

bool TFunctionCall::EvaluateNumber(TIEContext* context, TIENumber& result) {
    Bound();
    if (!FNative) return false;
    // Arithmetic on pattern variables and numbers (the sums of a test) is computed here: reading
    // its arguments has no effect, so when one does not read as a plain number the function runs
    // as always and reads them again. Only in a match: the variables of actions and deffunctions
    // mostly read otherwise, and the second read would cost them more than the first saves.
    if (const TNumberOp op = FNative->NumberOp(); op != noNone && context &&
                                                  (context->MatchToken() || context->MatchFact()) &&
                                                  FNative->CountFits(ArgumentCount()))
        if (const TPlainNumber number = ComputeInPlace(op, *context); number.State != psNone) {
            result = {number.Value, (number.State & psFloat) != 0};
            return true;
        }
    const TRunningCall running;
    if (FNative->ComputesNumber()) {
        CheckNativeCall(context);
        result = FNative->ExecuteNumber(this, context);
        return true;
    }
    return FNative->CallNumber(this, context, result);
}

bool TFunctionCall::EvaluateTestApart(TIEContext* context, bool& holds) {
    Bound();
    if (!FNative) return false;
    const TRunningCall running;
    return FNative->CallTest(this, context, holds);
}

// The number an argument reads as without evaluating anything, as the numeric argument readers
// read it: a number literal, a test's pattern variable that the common read finds bound to a
// number (ReadMatchedSlot), a variable whose binding stands where it last found it and holds a
// number, a bound call of an arithmetic function whose arguments read so (computed in place).
// False for every other argument.
// The addresses of the type information tell the classes here: a class they do not tell reads
// as no plain number, and the function reads it as always.
// `Track` (only while a join holds its left token fixed, see TFixedLeft): a pattern variable of
// the fixed token is read once in the stretch, and the result tells whether it reads only what
// stays fixed.
template <bool Track>
TFunctionCall::TPlainNumber TFunctionCall::ReadPlainNumber(const IIEValue* argument,
                                                           const TIEContext& context) {
    if (!argument || &typeid(*argument) != &typeid(TIEValue)) return {0.0, psNone};
    const auto* value = static_cast<const TIEValue*>(argument);
    const IIEValue* bound = nullptr;
    constexpr int32_t fixed = Track ? psFixed : 0;
    switch (value->DType()) {
    case dtInteger:
        return {value->NumberPayload(), psInteger | fixed};
    case dtFloat:
        return {value->NumberPayload(), psFloat | fixed};
    case dtFunCall:
        return ReadPlainCall<Track>(*value, context);
    case dtObject: {
        const TObject* position = value->OwnedObjectPayload();
        if (!position || &typeid(*position) != &typeid(TBinding)) return {0.0, psNone};
        const auto& info = static_cast<const TBinding&>(*position);
        if constexpr (Track)
            if (context.ReadsFixed(info.FactIndex)) {
                // Read before in this stretch: the number kept then, without a call.
                if (info.FixedSerial == context.FixedSerial())
                    return {info.FixedNumber, (info.FixedIsFloat ? psFloat : psInteger) | psFixed};
                return ReadFixedNumber(info, context);
            }
        bound = ReadMatchedSlot(info, context);
        break;
    }
    case dtVariable:
    case dtMultiVariable:
        if (const TIEContext* owner = nullptr;
            const TBinding* b =
                context.NearestBindingAt(value->BindingHint(), value->TextBlock()->Text(), owner))
            bound = b->Value.get();
        break;
    default:
        return {0.0, psNone};
    }
    return PlainNumberOf(bound);
}

TFunctionCall::TPlainNumber TFunctionCall::ReadFixedNumber(const TBindingInfo& info,
                                                           const TIEContext& context) {
    // (The caller found no number kept in this stretch.)
    const uint64_t serial = context.FixedSerial();
    TPlainNumber read = PlainNumberOf(ReadMatchedSlot(info, context));
    if (read.State != psNone) {
        info.FixedSerial = serial;
        info.FixedNumber = read.Value;
        info.FixedIsFloat = read.State == psFloat;
        read.State |= psFixed;
    }
    return read;
}

template <bool Track>
TFunctionCall::TPlainNumber TFunctionCall::ReadPlainCall(const TIEValue& value,
                                                         const TIEContext& context) {
    // Only a call bound before: binding by name is the function's first run's business.
    const TFunctionCall* call = AsFunctionCall(value);
    if (!call || !call->FNative) return {0.0, psNone};
    const TNumberOp op = call->FNative->NumberOp();
    if (op == noNone || !call->FNative->CountFits(call->ArgumentCount())) return {0.0, psNone};
    if constexpr (Track)
        return call->ComputeKept(op, context, context.FixedSerial());
    else
        return call->ComputeTotal<false>(op, context);
}

TFunctionCall::TPlainNumber TFunctionCall::ComputeInPlace(TNumberOp op,
                                                          const TIEContext& context) const {
    if (const uint64_t serial = context.FixedSerial(); serial != 0) [[unlikely]]
        return ComputeKept(op, context, serial);
    return ComputeTotal<false>(op, context);
}

TFunctionCall::TPlainNumber TFunctionCall::ComputeKept(TNumberOp op, const TIEContext& context,
                                                       uint64_t serial) const {
    // Where the total reads only numbers and the token a join holds fixed, it is kept for the
    // rest of the join's walk.
    if (FFixedSerial == serial) return {FFixedValue, FFixedState};
    const TPlainNumber result = ComputeTotal<true>(op, context);
    if (IsFixed(result)) {
        FFixedSerial = serial;
        FFixedValue = result.Value;
        FFixedState = result.State;
    }
    return result;
}

template <bool Track>
TFunctionCall::TPlainNumber TFunctionCall::ComputeTotal(TNumberOp op,
                                                        const TIEContext& context) const {
    // As +, - and * compute: each argument in turn combined into the total, a float when a
    // float took part, else the integer the total rounds to. A step that leaves the finite
    // numbers or an integer outside 32 bits raises there, so it is left to them.
    const size_t n = FArguments.size();
    size_t i = 0;
    double total = op == noTimes ? 1.0 : 0.0;
    // Tracked, the states' psFixed flags are and-ed in `fixed`.
    int32_t isFloat = 0;
    int32_t fixed = psFixed;
    if (op == noMinus) {
        if (n == 0) return {0.0, psNone};
        const TPlainNumber first = ReadPlainNumber<Track>(FArguments[0].get(), context);
        if (first.State == psNone) return first;
        total = first.Value;
        if constexpr (Track) {
            isFloat = first.State & psFloat;
            fixed &= first.State;
        } else {
            isFloat = first.State;
        }
        i = 1;
    }
    for (; i < n; ++i) {
        const TPlainNumber v = ReadPlainNumber<Track>(FArguments[i].get(), context);
        if (v.State == psNone) return v;
        total = op == noPlus ? total + v.Value : op == noMinus ? total - v.Value : total * v.Value;
        if constexpr (Track) {
            isFloat |= v.State & psFloat;
            fixed &= v.State;
        } else {
            isFloat |= v.State;
        }
    }
    const int32_t kept = Track ? fixed : 0;
    if (!std::isfinite(total)) return {0.0, psNone};
    if (isFloat) return {total, psFloat | kept};
    const std::optional<int32_t> integer = IntegralTotal(total);
    if (!integer) return {0.0, psNone};
    return {static_cast<double>(*integer), psInteger | kept};
}

bool TFunctionCall::TestNumbersLoose(TNumberTest test, const TIEContext& context,
                                     bool& holds) const {
    return TestNumbers<false>(test, context, holds);
}

bool TFunctionCall::TestNumbersKept(TNumberTest test, const TIEContext& context,
                                    bool& holds) const {
    return TestNumbers<true>(test, context, holds);
}

template <bool Track>
inline bool TFunctionCall::TestNumbers(TNumberTest test, const TIEContext& context,
                                       bool& holds) const {
    const size_t n = FArguments.size();
    if (n == 0) return false;
    const TPlainNumber read = ReadPlainNumber<Track>(FArguments[0].get(), context);
    if (read.State == psNone) return false;
    const double first = read.Value;
    // =, <> compare the first with each other; the others each pair of neighbours. The first
    // pair that fails decides, and the arguments after it are not read (nor are they when the
    // function runs).
    const bool chain = test != ntEqual && test != ntNotEqual;
    double previous = first;
    for (size_t i = 1; i < n; ++i) {
        const TPlainNumber next = ReadPlainNumber<Track>(FArguments[i].get(), context);
        if (next.State == psNone) return false;
        const double current = next.Value;
        if (!NumbersHold(test, chain ? previous : first, current)) {
            holds = false;
            return true;
        }
        previous = current;
    }
    holds = true;
    return true;
}

bool EvalConditionValue(const TRefPtr<IIEValue>& expression, TIEContext* context) {
    const TRefPtr<IIEValue> value = expression ? expression->Evaluate(context) : nullptr;
    return !IsFalseValue(value.get());
}

std::string TFunctionCall::GetText() const {
    if (FReasoner) return FReasoner->FunCallText(*this);
    return DefaultFunCallText(*this);
}

int32_t TFunctionCall::GetHashCode() const {
    uint32_t h = static_cast<uint32_t>(HashString(GetFunctionName()));
    for (const auto& a : FArguments)
        if (a) h += static_cast<uint32_t>(a->GetHashCode());
    return static_cast<int32_t>(h);
}

void TFunctionCall::SetFunction(TRefPtr<IUserFunction> function) {
    ReleaseFunction();
    FFunction = std::move(function);
    FNative = dynamic_cast<TIEUserFunction*>(FFunction.get());
    if (FFunction) FFunctionName = TIEText::Make(FFunction->GetFunctionName());
}

void TFunctionCall::AddString(std::string_view text, TIEType kind) {
    if (!IsTextType(kind)) RaiseIE(imNotAType, "String", text, IETypeName(kind));
    AddArgument(TIEValue::CreateText(kind, text));
}

void TFunctionCall::AddInteger(int32_t value, TIEType kind) {
    if (kind == dtInteger)
        AddArgument(TIEValue::CreateInteger(dtInteger, value));
    else if (kind == dtFloat)
        AddArgument(TIEValue::CreateFloat(value));
    else
        RaiseIE(imNotAType, "Integer", IntToStr(value), IETypeName(kind));
}

void TFunctionCall::AddFloat(double value, TIEType kind) {
    if (kind == dtFloat) {
        AddArgument(TIEValue::CreateFloat(value));
        return;
    }
    const double t = std::trunc(value);
    // A float that does not fit 32 bits is refused rather than wrapped.
    if (kind != dtInteger || !(t >= -2147483648.0 && t <= 2147483647.0))
        RaiseIE(imNotAType, "Float", Format("%.4f", value), IETypeName(kind));
    AddArgument(TIEValue::CreateInteger(dtInteger, static_cast<int32_t>(t)));
}

void TFunctionCall::AddFact(TRefPtr<IFact> fact) {
    AddArgument(TIEValue::CreateFact(std::move(fact)));
}

void TFunctionCall::AddFunCall(TRefPtr<IFunCall> call) {
    AddArgument(TIEValue::CreateFunCall(std::move(call)));
}

void TFunctionCall::AddList(TRefPtr<IValueVector> list) {
    AddArgument(TIEValue::CreateList(std::move(list)));
}

std::string DefaultFunCallText(const IFunCall& call) {
    std::string r;
    const std::string& comment = call.GetComment();
    size_t p = 0;
    while (p < comment.size()) {
        size_t e = comment.find_first_of("\r\n", p);
        if (e == std::string::npos) e = comment.size();
        std::string_view line(comment.data() + p, e - p);
        const size_t b = line.find_first_not_of(" \t");
        if (b != std::string_view::npos) {
            line = line.substr(b, line.find_last_not_of(" \t") - b + 1);
            if (line.front() != ';') r += "; ";
            r += line;
            r += IELineEnd;
        }
        p = e;
        if (p < comment.size() && comment[p] == '\r') ++p;
        if (p < comment.size() && comment[p] == '\n') ++p;
    }
    const std::string& name = call.GetFunctionName();
    r += '(';
    r += name;
    const bool slotForm = name == "modify" || name == "duplicate";
    for (int32_t i = 0; i < call.ArgumentCount(); ++i) {
        const IIEValue* a = call.GetArgument(i).get();
        const std::string text = a ? a->GetText() : std::string();
        if (slotForm && i > 0) {
            r += " (";
            r += text;
            r += ')';
        } else {
            r += ' ';
            r += text;
        }
    }
    r += ')';
    return r;
}

// ---------------------------------------------------------------------------------------------
// Host functions

TRefPtr<IIEValue> TIEInnerFunction::Execute(IFunCall* call, TIEContext* context) {
    TRefPtr<IIEValue> result;
    if (!FOwnerComponent) {
        if (!OnCall) RaiseIE(imFunctionUnimplemented, GetFunctionName());
        OnCall(this, call, context, result);
        return result;
    }
    FOwnerComponent->Execute(call, context, result);
    return result;
}

TCustomUserFunction::TCustomUserFunction(TComponent* owner)
    : TComponent(owner), FFunction(MakeRef<TIEInnerFunction>()) {
    FFunction->FOwnerComponent = this;
}

TCustomUserFunction::~TCustomUserFunction() {
    SetEngine(nullptr);
    // The function may live on in calls that bound it; it must not reach this component.
    FFunction->FOwnerComponent = nullptr;
}

void TCustomUserFunction::Assign(const TPersistent* source) {
    if (source == this) return;
    const auto* src = dynamic_cast<const TCustomUserFunction*>(source);
    if (!src) {
        TComponent::Assign(source);
        return;
    }
    SetComment(src->Comment());
    SetFunctionName(src->FunctionName());
    SetMaxArgumentCount(src->MaxArgumentCount());
    SetMinArgumentCount(src->MinArgumentCount());
}

void TCustomUserFunction::SetFunctionName(std::string_view name) {
    FFunction->SetFunctionName(name);
    if (auto* engine = dynamic_cast<IReasoner*>(FEngine); engine && !name.empty())
        FFunction->AddReasoner(engine);
}

void TCustomUserFunction::SetEngine(TComponent* engine) {
    if (engine == FEngine) return;
    if (FEngine) {
        if (auto* r = dynamic_cast<IReasoner*>(FEngine)) FFunction->RemoveReasoner(r);
        FEngine->RemoveFreeNotification(this);
    }
    FEngine = engine;
    if (FEngine) {
        FEngine->FreeNotification(this);
        if (auto* r = dynamic_cast<IReasoner*>(FEngine); r && !FunctionName().empty())
            FFunction->AddReasoner(r);
    }
}

void TCustomUserFunction::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component == FEngine) SetEngine(nullptr);
    TComponent::Notification(component, operation);
}

void TCustomUserFunction::Execute(IFunCall* call, TIEContext* context, TRefPtr<IIEValue>& result) {
    result = nullptr;
    if (OnCall) OnCall(this, call, context, result);
}

// ---------------------------------------------------------------------------------------------
// Lists

IReasoner* TReasonerList::Item(int32_t index) const {
    CheckIndex(index, FItems.size());
    return FItems[static_cast<size_t>(index)];
}

int32_t TReasonerList::IndexOf(const IReasoner* reasoner) const noexcept {
    auto it = std::find(FItems.begin(), FItems.end(), reasoner);
    return it == FItems.end() ? -1 : static_cast<int32_t>(it - FItems.begin());
}

int32_t TReasonerList::Add(IReasoner* reasoner) {
    int32_t i = IndexOf(reasoner);
    if (i >= 0 || !reasoner) return i;
    FItems.push_back(reasoner);
    i = Count() - 1;
    if (FNotify) FNotify(reasoner, raAdded);
    return i;
}

int32_t TReasonerList::Remove(IReasoner* reasoner) {
    const int32_t i = IndexOf(reasoner);
    if (i < 0) return i;
    FItems.erase(FItems.begin() + i);
    if (FNotify) FNotify(reasoner, raExtracted);
    return i;
}

void TReasonerList::Delete(int32_t index) {
    CheckIndex(index, FItems.size());
    IReasoner* r = FItems[static_cast<size_t>(index)];
    FItems.erase(FItems.begin() + index);
    if (FNotify) FNotify(r, raDeleted);
}

void TReasonerList::Forget(const IReasoner* reasoner) noexcept {
    std::erase(FItems, reasoner);
}

void TReasonerList::Clear() {
    while (!FItems.empty())
        Delete(Count() - 1);
}

TUserFunctionList::~TUserFunctionList() {
    FNotify = nullptr;
    FItems.clear();
}

const TRefPtr<IUserFunction>& TUserFunctionList::Item(int32_t index) const {
    CheckIndex(index, FItems.size());
    return FItems[static_cast<size_t>(index)];
}

int32_t TUserFunctionList::IndexOf(const IUserFunction* function) const noexcept {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == function) return static_cast<int32_t>(i);
    return -1;
}

TRefPtr<IUserFunction> TUserFunctionList::Find(std::string_view name) const {
    for (const auto& f : FItems)
        if (f->GetFunctionName() == name) return f;
    return nullptr;
}

int32_t TUserFunctionList::Add(TRefPtr<IUserFunction> function) {
    int32_t i = IndexOf(function.get());
    if (i >= 0 || !function) return i;
    FItems.push_back(function);
    i = Count() - 1;
    if (FNotify) FNotify(function, raAdded);
    return i;
}

int32_t TUserFunctionList::Remove(const IUserFunction* function) {
    const int32_t i = IndexOf(function);
    if (i < 0) return i;
    TRefPtr<IUserFunction> f = FItems[static_cast<size_t>(i)];
    FItems.erase(FItems.begin() + i);
    if (FNotify) FNotify(f, raExtracted);
    return i;
}

void TUserFunctionList::Delete(int32_t index) {
    CheckIndex(index, FItems.size());
    TRefPtr<IUserFunction> f = FItems[static_cast<size_t>(index)];
    FItems.erase(FItems.begin() + index);
    if (FNotify) FNotify(f, raDeleted);
}

void TUserFunctionList::Clear() {
    while (!FItems.empty())
        Delete(Count() - 1);
}

void TUserFunctionList::Assign(const TUserFunctionList& other) {
    if (&other == this) return;
    const std::vector<TRefPtr<IUserFunction>> items = other.FItems;
    Clear();
    for (const auto& f : items)
        Add(f);
}

std::string TUserFunctionList::GetText() const {
    std::string r;
    for (const auto& f : FItems) {
        r += f->GetFunctionName();
        r += IELineEnd;
    }
    return r;
}

// ---------------------------------------------------------------------------------------------
// Packages

TCustomReasonerOwner::TCustomReasonerOwner(TComponent* owner)
    : TComponent(owner),
      FReasoners([this](IReasoner* r, TReasonerAction a) { ReasonersChanged(r, a); }) {}

TUserPackage::TUserPackage(TComponent* owner)
    : TCustomReasonerOwner(owner),
      FFunctions(
          [this](const TRefPtr<IUserFunction>& f, TReasonerAction a) { FunctionsChanged(f, a); }) {
    if (auto* engine = dynamic_cast<IReasoner*>(owner)) {
        FCreator = owner;
        FCreatorReasoner = engine;
        FReasoners.Add(engine);
    }
}

TUserPackage::~TUserPackage() {
    // An engine that created the package and is being destroyed frees its packages after its
    // own parts are gone: it is forgotten without being told. Every other engine unregisters
    // the functions.
    if (FCreatorReasoner && FCreator && FCreator->IsDestroying() &&
        FReasoners.IndexOf(FCreatorReasoner) >= 0) {
        for (const auto& f : FFunctions.Items())
            if (auto* uf = dynamic_cast<TIEUserFunction*>(f.get()))
                uf->DetachReasoner(FCreatorReasoner);
        FReasoners.Forget(FCreatorReasoner);
    }
    FReasoners.Clear();
    FFunctions.Clear();
    FEngine = nullptr;
}

void TUserPackage::AfterConstruction() {
    if (FConstructed) return;
    FConstructed = true;
    DoCreateFunctions();
}

void TUserPackage::DoCreateFunctions() {
    if (OnCreateFunctions) OnCreateFunctions(this);
}

void TUserPackage::SetEngine(TComponent* engine) {
    if (engine == FEngine) return;
    TComponent* previous = FEngine;
    if (previous) previous->RemoveFreeNotification(this);
    FEngine = engine;
    if (!IsLoading()) {
        if (auto* r = dynamic_cast<IReasoner*>(previous)) FReasoners.Remove(r);
        if (auto* r = dynamic_cast<IReasoner*>(engine)) FReasoners.Add(r);
    }
    if (engine) engine->FreeNotification(this);
}

void TUserPackage::SetReset(bool value) {
    if (!value) return;
    FFunctions.Clear();
    DoCreateFunctions();
}

void TUserPackage::Assign(const TPersistent* source) {
    if (source == this) return;
    if (const auto* src = dynamic_cast<const TUserPackage*>(source)) {
        FFunctions.Assign(src->FFunctions);
        return;
    }
    TCustomReasonerOwner::Assign(source);
}

void TUserPackage::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component != this) {
        if (component == FEngine) {
            SetEngine(nullptr);
        } else if (auto* r = dynamic_cast<IReasoner*>(component)) {
            FReasoners.Remove(r);
        }
    }
    TCustomReasonerOwner::Notification(component, operation);
}

void TUserPackage::ReasonersChanged(IReasoner* reasoner, TReasonerAction action) {
    if (action == raAdded) {
        RegisterFunctions(reasoner);
        return;
    }
    UnregisterFunctions(reasoner);
    if (FEngine && dynamic_cast<IReasoner*>(FEngine) == reasoner) FEngine = nullptr;
}

void TUserPackage::FunctionsChanged(const TRefPtr<IUserFunction>& function,
                                    TReasonerAction action) {
    if (FReasoners.Count() == 0) return;
    if (action == raAdded)
        RegisterFunction(function);
    else
        UnregisterFunction(function);
}

void TUserPackage::RegisterFunctions(IReasoner* reasoner) {
    for (const auto& f : std::vector<TRefPtr<IUserFunction>>(FFunctions.Items()))
        f->AddReasoner(reasoner);
}

void TUserPackage::RegisterFunction(const TRefPtr<IUserFunction>& function) {
    for (IReasoner* r : std::vector<IReasoner*>(FReasoners.Items()))
        function->AddReasoner(r);
}

void TUserPackage::UnregisterFunction(const TRefPtr<IUserFunction>& function) {
    for (IReasoner* r : std::vector<IReasoner*>(FReasoners.Items()))
        function->RemoveReasoner(r);
}

void TUserPackage::UnregisterFunctions(IReasoner* reasoner) {
    for (const auto& f : std::vector<TRefPtr<IUserFunction>>(FFunctions.Items()))
        if (f->IndexOfReasoner(reasoner) >= 0) f->RemoveReasoner(reasoner);
}

void TUserPackage::DefineProperties(TFiler& filer) {
    TCustomReasonerOwner::DefineProperties(filer);
    filer.DefineProperty(
        "PackageFunctions", [this](TReader& reader) { ReadFunctions(reader); },
        [this](TWriter& writer) { WriteFunctions(writer); }, FFunctions.Count() > 0);
}

void TUserPackage::WriteFunctions(TWriter& writer) const {
    writer.WriteListBegin();
    for (const auto& f : FFunctions.Items())
        if (auto* s = dynamic_cast<const IStreamableFunction*>(f.get())) {
            writer.WriteString(s->StreamClassName());
            s->SaveToWriter(writer);
        }
    writer.WriteListEnd();
}

void TUserPackage::ReadFunctions(TReader& reader) {
    // Everything is read into a list of its own first, so a failure half way leaves the
    // package's functions as they were and frees what was read.
    std::vector<TRefPtr<IUserFunction>> loaded;
    reader.ReadListBegin();
    while (!reader.EndOfList()) {
        const std::string className = reader.ReadString();
        std::unique_ptr<TObject> object(FindClass(className).Create());
        auto* counted = dynamic_cast<TRefCounted*>(object.get());
        auto* function = dynamic_cast<IUserFunction*>(object.get());
        auto* streamable = dynamic_cast<IStreamableFunction*>(object.get());
        // Data of a class that cannot read it could not be skipped either.
        if (!counted || !function || !streamable)
            throw EReadError(Format("Class %s is not a stored function", className));
        TRefPtr<IUserFunction> held(function);
        (void)object.release(); // now owned by its reference count
        streamable->LoadFromReader(reader);
        loaded.push_back(std::move(held));
    }
    FFunctions.Clear();
    for (auto& f : loaded)
        FFunctions.Add(std::move(f));
}

namespace {

std::array<TPackageFactory, 9>& PackageFactories() {
    static std::array<TPackageFactory, 9> factories;
    return factories;
}

} // namespace

void RegisterPackageFactory(TFunctionPackage package, TPackageFactory factory) {
    PackageFactories()[package] = std::move(factory);
}

bool PackageFactoryRegistered(TFunctionPackage package) {
    return PackageFactories()[package] != nullptr;
}

const TPackageFactory& PackageFactory(TFunctionPackage package) {
    return PackageFactories()[package];
}

} // namespace ie
