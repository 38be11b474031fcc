// The standard package: the 71 functions that every rule file needs (fact and engine commands,
// control forms and comparisons, input and output, multifield functions). What every built-in
// function shares is the function framework (packages/FunctionFramework.h).
//
// Edited multifields are always new lists: no function changes the list of an argument (a fact's
// slot, a variable, a global or a constant).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/model/IEContext.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"
#include "packages/FunctionFramework.h"

namespace ie {

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
IE_TEST_FUNCTION(TAndFunction);
IE_TEST_FUNCTION(TOrFunction);
IE_TEST_FUNCTION(TNotFunction);
IE_TEST_FUNCTION(TEqFunction);
IE_TEST_FUNCTION(TEqStarFunction);
IE_TEST_FUNCTION(TNeqFunction);
IE_TEST_FUNCTION(TEqualsFunction);
IE_TEST_FUNCTION(TNotEqualsFunction);
IE_TEST_FUNCTION(TGtFunction);
IE_TEST_FUNCTION(TGtOrEqFunction);
IE_TEST_FUNCTION(TLtFunction);
IE_TEST_FUNCTION(TLtOrEqFunction);
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
IE_NUMERIC_FUNCTION(TLengthMFFunction);
IE_BUILT_IN_FUNCTION(TMemberFunction);
// member$ answers as a condition too, so that (not (member$ ?x $?list)) makes no value.
class TMemberMFFunction : public TBuiltInFunction {
public:
    static constexpr std::string_view StaticClassName = "TMemberMFFunction";
    TMemberMFFunction();
    std::string_view ClassName() const override { return StaticClassName; }
    bool CallTest(IFunCall* call, TIEContext* context, bool& holds) override;

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;

private:
    // The index of the first element equal to the first argument; -1 when there is none.
    static int32_t IndexOfWanted(IFunCall* call, TIEContext* context);
};
IE_BUILT_IN_FUNCTION(TNthMFFunction);
IE_BUILT_IN_FUNCTION(TReplaceMFFunction);
IE_BUILT_IN_FUNCTION(TRestMFFunction);
IE_BUILT_IN_FUNCTION(TSubSeqMFFunction);
IE_BUILT_IN_FUNCTION(TSubSetpMFFunction);

// Base of printout and format, which keep the text their last call built.
class TTextOutputFunction : public TBuiltInFunction {
public:
    const std::string& LastText() const noexcept { return FText; }

protected:
    using TBuiltInFunction::TBuiltInFunction;
    std::string FText;
};

IE_FUNCTION_CLASS(TPrintOutFunction, TTextOutputFunction);
IE_FUNCTION_CLASS(TFormatFunction, TTextOutputFunction);

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
