// Deffunctions: binding a call's arguments, running the body in a child context, and laying out
// the frame of a call.
//
// Invariant: a running function outlives its call even when the call lets go of it (a deffunction
// undefined by its own body), and deffunctions calling each other without end raise past a fixed
// depth instead of exhausting the stack.
#include "engine/model/IEInterpretedFunction.h"

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

TInterpretedFunction::TInterpretedFunction()
    : FParameters(TValueVector::Create()), FActions(TValueVector::Create()) {}

TInterpretedFunction::TInterpretedFunction(std::string_view name) : TInterpretedFunction() {
    SetFunctionName(name);
}

TInterpretedFunction::~TInterpretedFunction() = default;

void TInterpretedFunction::Assign(const TPersistent* source) {
    if (source == this) return;
    TIEUserFunction::Assign(source);
    if (const auto* src = dynamic_cast<const TInterpretedFunction*>(source)) {
        FParameters->Assign(src->FParameters.get());
        FActions->Assign(src->FActions.get());
        ParametersChanged();
    }
}

void TInterpretedFunction::AddParameter(std::string_view name, TIEType kind) {
    if (kind != dtAtom && kind != dtVariable && kind != dtMultiVariable)
        RaiseIE(imInvalidDeffunctionArgument, IETypeName(kind),
                SetToText(TIETypes{dtAtom, dtVariable, dtMultiVariable}, ", "));
    FParameters->Add(TIEValue::CreateText(kind, name));
    ParametersChanged();
}

void TInterpretedFunction::ParametersChanged() {
    FLayout.Id = 0;
    FParameterNames.clear();
    FDistinctParameters = true;
    bool wildcard = false;
    for (const auto& p : *FParameters) {
        std::string name = p->AsString();
        const TIEType kind = p->GetDType();
        if (kind != dtVariable && kind != dtMultiVariable) FDistinctParameters = false;
        if (kind == dtMultiVariable) wildcard = true;
        for (const auto& other : FParameterNames)
            if (other.first == name) FDistinctParameters = false;
        FParameterNames.emplace_back(std::move(name), kind);
    }
    FPlainParameters = FDistinctParameters && !wildcard;
    UpdateArgumentCounts();
}

void TInterpretedFunction::UpdateArgumentCounts() {
    // Every plain parameter must be given; only a multifield parameter takes any number more.
    int32_t plain = 0;
    bool open = false;
    for (const auto& p : *FParameters) {
        if (p->GetDType() == dtMultiVariable)
            open = true;
        else
            ++plain;
    }
    SetMaxArgumentCount(open ? 2147483647 : plain);
    SetMinArgumentCount(plain);
}

void TInterpretedFunction::AddAction(TRefPtr<IIEValue> expression) {
    FActions->Add(std::move(expression));
    FLayout.Id = 0;
}

void TInterpretedFunction::ClearParameters() {
    FParameters->Clear();
    ParametersChanged();
}

void TInterpretedFunction::ClearActions() {
    // A new vector rather than emptying this one: a call that is running keeps its own reference.
    FActions = TValueVector::Create();
    FLayout.Id = 0;
}

void TInterpretedFunction::LastReasonerLeft() noexcept {
    // A deffunction that calls itself holds its own calls in its body, and a call holds the
    // function it is bound to; once no engine knows the function, the body goes so that cycle
    // can be freed.
    FActions = TValueVector::Create();
    FLayout.Id = 0;
    FLeft = true;
}

void TInterpretedFunction::ReasonerNotify(IReasoner* reasoner, TReasonerAction action) {
    if (action == raAdded) FLeft = false;
    TIEUserFunction::ReasonerNotify(reasoner, action);
}

TRefPtr<IIEValue> TInterpretedFunction::CallCurrent(IFunCall* call, TIEContext* context) {
    // The call may let go of this function below while it is the only holder.
    const TRefPtr<IUserFunction> self(this);
    IReasoner* engine = call ? call->GetReasoner() : nullptr;
    if (!engine && context) engine = context->Engine();
    TRefPtr<IUserFunction> current = engine ? engine->FindUserFunction(GetFunctionName()) : nullptr;
    if (!current) RaiseIE(imFunctionUnimplemented, GetFunctionName());
    if (current.get() == this) {
        // Taken back by its engine (a rename passes through leaving it) without being told.
        FLeft = false;
        CheckCall(call, context);
        return Execute(call, context);
    }
    if (call) call->SetFunction(current);
    return current->Call(call, context);
}

namespace {
// Deffunctions that call each other without end would exhaust the stack; past this depth the
// call raises instead.
constexpr int32_t MaxDeffunctionDepth = 512;
thread_local int32_t DeffunctionDepth = 0;

struct TDeffunctionDepth {
    explicit TDeffunctionDepth(std::string_view name) {
        if (DeffunctionDepth >= MaxDeffunctionDepth)
            throw EIEException(Format("Deffunction %s called recursively more than %d deep", name,
                                      MaxDeffunctionDepth));
        ++DeffunctionDepth;
    }
    ~TDeffunctionDepth() { --DeffunctionDepth; }
    TDeffunctionDepth(const TDeffunctionDepth&) = delete;
    TDeffunctionDepth& operator=(const TDeffunctionDepth&) = delete;
};
// A deffunction argument's value as Evaluate gives it, read in place for the common kinds: a
// test's pattern variable is read where the match holds it, a variable where its binding stands
// (when that holds no position); the rest as EvaluateExpression reads it.
inline TRefPtr<IIEValue> ArgumentValue(const TRefPtr<IIEValue>& argument, TIEContext* context) {
    const IIEValue* e = argument.get();
    if (!e) return IEEmptyAtom();
    if (&typeid(*e) == &typeid(TIEValue)) {
        const auto* value = static_cast<const TIEValue*>(e);
        switch (value->DType()) {
        case dtObject:
            if (const TObject* position = value->OwnedObjectPayload();
                position && &typeid(*position) == &typeid(TBinding))
                if (const IIEValue* read =
                        ReadMatchedSlot(static_cast<const TBinding&>(*position), *context))
                    return TRefPtr<IIEValue>(const_cast<IIEValue*>(read));
            break;
        case dtVariable:
        case dtMultiVariable:
            if (const TIEContext* owner = nullptr;
                const TBinding* b = context->NearestBindingAt(value->BindingHint(),
                                                              value->TextBlock()->Text(), owner))
                if (const IIEValue* bound = b->Value.get();
                    bound && &typeid(*bound) == &typeid(TIEValue) &&
                    static_cast<const TIEValue*>(bound)->DType() != dtObject)
                    return b->Value;
            break;
        default:
            break;
        }
    }
    return EvaluateExpression(argument, context);
}

// A deffunction call's frame, given back to the frames of its layout however the call ends.
struct TFrameScope {
    std::unique_ptr<TIEContext> Context;
    ~TFrameScope() { TIEContext::GiveBackFrame(std::move(Context)); }
};

} // namespace

TRefPtr<IIEValue> TInterpretedFunction::Execute(IFunCall* call, TIEContext* context) {
    const TDeffunctionDepth depth(GetFunctionName());
    const int32_t argCount = call ? call->ArgumentCount() : 0;
    // The body binds in a context of its own under the root (where the globals live): what
    // it binds never reaches the caller's variables, and the caller's are not its own.
    TIEContext* root = context->Root();
    // Every argument is evaluated in the caller's context before any parameter is bound: a
    // parameter must not shadow the caller's variable of the same name in a later argument.
    // Calls of a few arguments, the usual case, keep them on the stack.
    boost::container::small_vector<TRefPtr<IIEValue>, 8> arguments;
    if (FPlainParameters && argCount <= static_cast<int32_t>(FParameterNames.size())) {
        // One argument per parameter: each is evaluated straight into its slot of the frame,
        // which no context the arguments are evaluated in can see.
        if (FLayout.Id == 0) CompileFrame();
        const uint64_t layout = FLayout.Id;
        const TFrameScope scope{TIEContext::TakeFrame(root, FLayout)};
        TIEContext* child = scope.Context.get();
        TBindings& bindings = child->Bindings();
        for (int32_t i = 0; i < argCount; ++i)
            bindings.Item(i)->Value = ArgumentValue(ArgumentOf(call, i), context);
        if (FLayout.Id == layout) [[likely]] {
            for (int32_t i = argCount, n = static_cast<int32_t>(FParameterNames.size()); i < n; ++i)
                bindings.Item(i)->Value = IEEmptyAtom();
            return RunBody(child);
        }
        // An argument changed the function: the values are bound as the function is now.
        arguments.reserve(static_cast<size_t>(argCount));
        for (int32_t i = 0; i < argCount; ++i)
            arguments.push_back(std::move(bindings.Item(i)->Value));
    } else {
        arguments.reserve(static_cast<size_t>(argCount));
        for (int32_t i = 0; i < argCount; ++i)
            arguments.push_back(ArgumentValue(ArgumentOf(call, i), context));
    }
    const int32_t parameterCount = static_cast<int32_t>(FParameterNames.size());
    auto parameterValue = [&](int32_t i, TIEType kind) -> TRefPtr<IIEValue> {
        if (kind == dtMultiVariable) {
            auto rest = TValueVector::Create();
            for (int32_t j = i; j < argCount; ++j)
                rest->Add(arguments[static_cast<size_t>(j)]);
            return TIEValue::CreateList(rest);
        }
        // A missing argument binds the empty atom instead of reading past the list. Each
        // argument is bound once, after any wildcard before it took its copy.
        return i < argCount ? std::move(arguments[static_cast<size_t>(i)])
                            : TRefPtr<IIEValue>(IEEmptyAtom());
    };
    if (!FDistinctParameters) {
        // Parameters of one name, or atoms: bound by name one after the other, as written.
        struct TChildContext {
            std::unique_ptr<TIEContext> Context;
            ~TChildContext() { TIEContext::GiveBack(std::move(Context)); }
        } scope{root->TakeChild()};
        TIEContext* child = scope.Context.get();
        for (int32_t i = 0; i < parameterCount; ++i) {
            const auto& [name, kind] = FParameterNames[static_cast<size_t>(i)];
            if (kind == dtVariable || kind == dtMultiVariable)
                child->AddBinding(name, parameterValue(i, kind));
            else
                child->SetLocalBinding(name, IEEmptyAtom());
        }
        // What the body binds stays in its context here too (see CompileFrame).
        if (FLayout.Id == 0) CompileFrame();
        TBindings& bindings = child->Bindings();
        for (size_t i = static_cast<size_t>(FLayout.ParameterCount); i < FLayout.Names.size(); ++i)
            if (!bindings.FindSlot(FLayout.Names[i]))
                bindings.Append(FLayout.Names[i], nullptr)->FrameLocal = true;
        return RunBody(child);
    }
    // The context is a frame a call before this one gave back, with a binding per parameter and
    // per variable the body binds already in place: the parameters are set by position, and a
    // call allocates nothing for its context.
    if (FLayout.Id == 0) CompileFrame();
    const TFrameScope scope{TIEContext::TakeFrame(root, FLayout)};
    TIEContext* child = scope.Context.get();
    TBindings& bindings = child->Bindings();
    for (int32_t i = 0; i < parameterCount; ++i)
        bindings.Item(i)->Value = parameterValue(i, FParameterNames[static_cast<size_t>(i)].second);
    return RunBody(child);
}

TRefPtr<IIEValue> TInterpretedFunction::RunBody(TIEContext* child) {
    TRefPtr<IIEValue> result;
    const TRefPtr<TValueVector> actions = FActions; // the body may be replaced while it runs
    // The actions are read in place (an action may add to the list it runs from, so its length
    // and place are read again for each).
    const TValueVector& body = *actions;
    for (size_t i = 0; i < static_cast<size_t>(body.end() - body.begin()); ++i) {
        const TRefPtr<IIEValue>& action = body.begin()[static_cast<ptrdiff_t>(i)];
        result = action ? EvaluateExpression(action, child) : nullptr;
        if (child->ReturnFlag()) {
            result = child->ReturnValue();
            child->ClearReturn();
            break;
        }
    }
    // A number, atom or string stands for itself: only what may name or compute something else
    // is evaluated again.
    if (result && !IsPlainScalar(result.get())) result = result->Evaluate(child);
    return result;
}

namespace {

// Whether a variable's name is written as a global's (?*name*).
bool IsGlobalVariableName(std::string_view name) {
    return name.size() >= 2 && name.front() == '*' && name.back() == '*';
}

// The variable a value names, null for any other value.
const TIEText* VariableText(const IIEValue* value) {
    if (!value || typeid(*value) != typeid(TIEValue)) return nullptr;
    const auto* v = static_cast<const TIEValue*>(value);
    return v->DType() == dtVariable || v->DType() == dtMultiVariable ? v->TextBlock() : nullptr;
}

// Calls `visit` for every value of the expression, calls' arguments and lists' elements at every
// depth included.
template <class Visit> void VisitExpression(const IIEValue* value, Visit& visit, int depth = 0) {
    if (!value || depth > 256) return;
    visit(*value);
    if (typeid(*value) != typeid(TIEValue)) return;
    const auto* v = static_cast<const TIEValue*>(value);
    if (IFunCall* call = v->CallPayload()) {
        for (int32_t i = 0; i < call->ArgumentCount(); ++i)
            VisitExpression(call->GetArgument(i).get(), visit, depth + 1);
    } else if (const IValueVector* list = v->ListPayload()) {
        for (int32_t i = 0; i < list->Count(); ++i)
            VisitExpression(list->GetItem(i).get(), visit, depth + 1);
    }
}

std::atomic<uint64_t> NextFrameLayout{1};

} // namespace

void TInterpretedFunction::CompileFrame() {
    // The slots: the parameters, then each variable that a bind of the body names, once.
    TFrameLayout layout;
    for (const auto& p : FParameterNames)
        layout.Names.push_back(p.first);
    layout.ParameterCount = static_cast<int32_t>(layout.Names.size());
    auto slotOf = [&](std::string_view name) -> int32_t {
        for (size_t i = 0; i < layout.Names.size(); ++i)
            if (layout.Names[i] == name) return static_cast<int32_t>(i);
        return -1;
    };
    auto collect = [&](const IIEValue& value) {
        const IFunCall* call = typeid(value) == typeid(TIEValue)
                                   ? static_cast<const TIEValue&>(value).CallPayload()
                                   : nullptr;
        if (!call || call->ArgumentCount() < 1 || call->GetFunctionName() != "bind") return;
        // A global variable (?*name*) is the engine's, not the call's: it gets no slot.
        if (const TIEText* name = VariableText(call->GetArgument(0).get()))
            if (!IsGlobalVariableName(name->Text()) && slotOf(name->Text()) < 0)
                layout.Names.emplace_back(name->Text());
    };
    for (const auto& action : *FActions)
        VisitExpression(action.get(), collect);
    // Each variable of the body looks first where its slot stands.
    auto place = [&](const IIEValue& value) {
        if (const TIEText* name = VariableText(&value))
            if (const int32_t slot = slotOf(name->Text()); slot >= 0 && slot <= UINT16_MAX)
                static_cast<const TIEValue&>(value).BindingHint() = static_cast<uint16_t>(slot);
    };
    for (const auto& action : *FActions)
        VisitExpression(action.get(), place);
    layout.Id = NextFrameLayout.fetch_add(1, std::memory_order_relaxed);
    FLayout = std::move(layout);
}

} // namespace ie
