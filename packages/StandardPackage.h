// The standard package: the 71 functions that every rule file needs (fact and engine commands,
// control forms and comparisons, input and output, multifield functions), and the pattern that
// every built-in function class follows.
//
// A built-in function is a class of its own, named after its rule-language name. It holds no
// state (printout and format keep the text of their last call), so one object serves every call
// of its name; it reaches the engine only through the context's engine. Its body receives the
// arguments unevaluated and evaluates each when it needs it, left to right.
//
// Edited multifields are always new lists: no function changes the list of an argument (a fact's
// slot, a variable, a global or a constant).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/IEPackages.h"
#include "engine/IEValue.h"

namespace ie {

// The format from which every built-in function builds its Comment: the help text is its first
// argument and the function name its second. Initially "%s", so a comment is its help text; a
// host that wants another form sets it before the packages are created.
std::string& HelpFormat();

// The largest argument count: a function that sets no maximum accepts any number.
inline constexpr int32_t AnyArgumentCount = 2147483647;

// Base of the built-in functions: the construction sets, in this order, the name, the comment
// (from HelpFormat), the argument syntax and, where the function limits them, the maximum and
// then the minimum argument count.
class TBuiltInFunction : public TIEUserFunction {
protected:
    TBuiltInFunction(std::string_view name, std::string_view help, std::string_view arguments,
                     int32_t minCount = 0, int32_t maxCount = AnyArgumentCount);
};

#define IE_BUILT_IN_FUNCTION(ClassType)                                                            \
    class ClassType : public TBuiltInFunction {                                                    \
    public:                                                                                        \
        ClassType();                                                                               \
        std::string_view ClassName() const override { return #ClassType; }                         \
                                                                                                   \
    protected:                                                                                     \
        TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;                   \
    }

// Facts, agenda and engine commands
IE_BUILT_IN_FUNCTION(TAssertFunction);
IE_BUILT_IN_FUNCTION(TAssertStringFunction);
IE_BUILT_IN_FUNCTION(TRetractFunction);
IE_BUILT_IN_FUNCTION(TRetractStringFunction);
IE_BUILT_IN_FUNCTION(TModifyFunction);
IE_BUILT_IN_FUNCTION(TDuplicateFunction);
IE_BUILT_IN_FUNCTION(TGetSlotValueFunction);
IE_BUILT_IN_FUNCTION(TGetFactDuplicationFunction);
IE_BUILT_IN_FUNCTION(TSetFactDuplicationFunction);
IE_BUILT_IN_FUNCTION(TDoBackwardChainingFunction);
IE_BUILT_IN_FUNCTION(TClearFunction);
IE_BUILT_IN_FUNCTION(TResetFunction);
IE_BUILT_IN_FUNCTION(TRunFunction);
IE_BUILT_IN_FUNCTION(THaltFunction);
IE_BUILT_IN_FUNCTION(TExitFunction);
IE_BUILT_IN_FUNCTION(TWatchFunction);
IE_BUILT_IN_FUNCTION(TUnwatchFunction);
IE_BUILT_IN_FUNCTION(TStoreFunction);
IE_BUILT_IN_FUNCTION(TFetchFunction);
IE_BUILT_IN_FUNCTION(TClearStorageFunction);
IE_BUILT_IN_FUNCTION(TGenSymStarFunction);
IE_BUILT_IN_FUNCTION(TVersionFunction);

// Control forms, comparisons and variables
IE_BUILT_IN_FUNCTION(TAndFunction);
IE_BUILT_IN_FUNCTION(TOrFunction);
IE_BUILT_IN_FUNCTION(TNotFunction);
IE_BUILT_IN_FUNCTION(TEqFunction);
IE_BUILT_IN_FUNCTION(TEqStarFunction);
IE_BUILT_IN_FUNCTION(TNeqFunction);
IE_BUILT_IN_FUNCTION(TEqualsFunction);
IE_BUILT_IN_FUNCTION(TNotEqualsFunction);
IE_BUILT_IN_FUNCTION(TGtFunction);
IE_BUILT_IN_FUNCTION(TGtOrEqFunction);
IE_BUILT_IN_FUNCTION(TLtFunction);
IE_BUILT_IN_FUNCTION(TLtOrEqFunction);
IE_BUILT_IN_FUNCTION(TIfFunction);
IE_BUILT_IN_FUNCTION(TWhileFunction);
IE_BUILT_IN_FUNCTION(TForEachFunction);
IE_BUILT_IN_FUNCTION(TTryFunction);
IE_BUILT_IN_FUNCTION(TThrowFunction);
IE_BUILT_IN_FUNCTION(TReturnFunction);
IE_BUILT_IN_FUNCTION(TBindFunction);
IE_BUILT_IN_FUNCTION(TExtractGlobalFunction);

// Input and output, streams and files
IE_BUILT_IN_FUNCTION(TReadFunction);
IE_BUILT_IN_FUNCTION(TReadLineFunction);
IE_BUILT_IN_FUNCTION(TOpenFunction);
IE_BUILT_IN_FUNCTION(TCloseFunction);
IE_BUILT_IN_FUNCTION(TRemoveFunction);
IE_BUILT_IN_FUNCTION(TRenameFunction);
IE_BUILT_IN_FUNCTION(TDribbleOnFunction);
IE_BUILT_IN_FUNCTION(TDribbleOffFunction);
IE_BUILT_IN_FUNCTION(TBatchFunction);
IE_BUILT_IN_FUNCTION(TLoadFunction);
IE_BUILT_IN_FUNCTION(TSaveFunction);
IE_BUILT_IN_FUNCTION(TLoadFactsFunction);
IE_BUILT_IN_FUNCTION(TSaveFactsFunction);

// Multifield functions
IE_BUILT_IN_FUNCTION(TCreateMFFunction);
IE_BUILT_IN_FUNCTION(TDeleteMFFunction);
IE_BUILT_IN_FUNCTION(TExplodeMFFunction);
IE_BUILT_IN_FUNCTION(TFirstMFFunction);
IE_BUILT_IN_FUNCTION(TImplodeMFFunction);
IE_BUILT_IN_FUNCTION(TInsertMFFunction);
IE_BUILT_IN_FUNCTION(TLengthMFFunction);
IE_BUILT_IN_FUNCTION(TMemberFunction);
IE_BUILT_IN_FUNCTION(TMemberMFFunction);
IE_BUILT_IN_FUNCTION(TNthMFFunction);
IE_BUILT_IN_FUNCTION(TReplaceMFFunction);
IE_BUILT_IN_FUNCTION(TRestMFFunction);
IE_BUILT_IN_FUNCTION(TSubSeqMFFunction);
IE_BUILT_IN_FUNCTION(TSubSetpMFFunction);

#undef IE_BUILT_IN_FUNCTION

// printout and format keep the text their last call built.
class TPrintOutFunction : public TBuiltInFunction {
public:
    TPrintOutFunction();
    std::string_view ClassName() const override { return "TPrintOutFunction"; }
    const std::string& LastText() const noexcept { return FText; }

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;

private:
    std::string FText;
};

class TFormatFunction : public TBuiltInFunction {
public:
    TFormatFunction();
    std::string_view ClassName() const override { return "TFormatFunction"; }
    const std::string& LastText() const noexcept { return FText; }

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;

private:
    std::string FText;
};

// The package: creates its functions in the order of the rule-language names and adds them to
// its function list; the base class registers them with every engine the package serves.
class TStandardPackage : public TUserPackage {
public:
    explicit TStandardPackage(TComponent* owner) : TUserPackage(owner) {}
    std::string_view ClassName() const override { return "TStandardPackage"; }

protected:
    void DoCreateFunctions() override;
};

// Registers every function class of the package with the class registry (done once at start-up;
// calling it again does nothing), so stored package functions can be re-created by class name.
void RegisterStandardFunctionClasses();

// Registers the function classes and the package's factory with the engine, so that every engine
// whose Packages name pStandard creates the package. Runs when the unit starts; a host that links
// the library without referring to this unit calls it before creating engines.
void RegisterStandardPackage();

} // namespace ie
