// Deffunctions: functions defined in the rule language, their parameters, body and call frame.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/model/IEContext.h"
#include "engine/model/IEPackages.h"

namespace ie {

// A function defined in the rule language (deffunction): parameters and actions, run in a child
// context of the caller's.
class TInterpretedFunction : public TIEUserFunction {
public:
    TInterpretedFunction();
    explicit TInterpretedFunction(std::string_view name);
    ~TInterpretedFunction() override;

    std::string_view ClassName() const override { return "TInterpretedFunction"; }
    void Assign(const TPersistent* source) override;

    // Kind must be dtAtom, dtVariable or dtMultiVariable (the wildcard parameter), else
    // "Invalid argument type for deffunction: "%s".  Expected %s".
    void AddParameter(std::string_view name, TIEType kind);
    void AddAction(TRefPtr<IIEValue> expression);
    const TValueVector& Parameters() const noexcept { return *FParameters; }
    const TValueVector& Actions() const noexcept { return *FActions; }
    void ClearParameters();
    void ClearActions();

    // A call of a function that no engine holds any more (removed, or replaced by a definition
    // of the same name) runs the engine's current function of that name, which the call holds
    // from then on; with none there it is the error of an unknown function.
    TRefPtr<IIEValue> Call(IFunCall* call, TIEContext* context) override {
        if (FLeft) [[unlikely]]
            return CallCurrent(call, context);
        CheckCall(call, context);
        return Execute(call, context);
    }

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;
    void LastReasonerLeft() noexcept override;
    void ReasonerNotify(IReasoner* reasoner, TReasonerAction action) override;

private:
    [[gnu::noinline]] TRefPtr<IIEValue> CallCurrent(IFunCall* call, TIEContext* context);
    void UpdateArgumentCounts();
    // Rebuilds FParameterNames, FDistinctParameters and FPlainParameters from the parameter list.
    void ParametersChanged();
    // Lays out the frame of a call (FLayout) and sets each variable of the body to look first
    // at its slot.
    void CompileFrame();
    // Runs the actions in the call's context and gives the result.
    TRefPtr<IIEValue> RunBody(TIEContext* child);

    TRefPtr<TValueVector> FParameters;
    TRefPtr<TValueVector> FActions;
    // The parameters' names and kinds as a call binds them, read once when the list changes.
    std::vector<std::pair<std::string, TIEType>> FParameterNames;
    // Every parameter a variable or wildcard of a name no other parameter has: a call then
    // binds in a frame (FLayout) by position.
    bool FDistinctParameters = true;
    // The same, and no wildcard among them: a call evaluates each argument into its slot.
    bool FPlainParameters = true;
    // The frame of a call, compiled on the first call after the parameters or the actions
    // changed (Id 0 until then).
    TFrameLayout FLayout;
    // The last engine let go of the function (its body went with it): see Call.
    bool FLeft = false;
};

} // namespace ie
