// The predicate package: the type predicates (lexemep, numberp, ... objectp), the parity
// predicates evenp and oddp, and get-type.
//
// The ten type predicates are instances of one class, TVerifyTypePFunction, each made with its
// name and the set of kinds it accepts; a predicate looks at the evaluated value's own kind only
// (a string of digits is no number, an integer no float).
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/model/IEPackages.h"
#include "packages/FunctionFramework.h"

namespace ie {

IE_BUILT_IN_FUNCTION(TEvenPFunction);
IE_BUILT_IN_FUNCTION(TOddPFunction);

// get-type: the enumeration name of the argument's kind, as an atom ("dtInteger").
IE_BUILT_IN_FUNCTION(TGetValueTypeFunction);

// TRUE when the evaluated argument's kind is one of Types. The comment names the kinds, so it
// is rebuilt whenever the name or the kinds change; the kinds are stored after the inherited
// data as one integer (the set's bits).
class TVerifyTypePFunction : public TBuiltInFunction {
public:
    static constexpr std::string_view StaticClassName = "TVerifyTypePFunction";
    TVerifyTypePFunction();
    static TRefPtr<TVerifyTypePFunction> CreateWithTypes(std::string_view name, TIETypes types);

    std::string_view ClassName() const override { return StaticClassName; }
    void Assign(const TPersistent* source) override;
    void SetFunctionName(std::string_view name) override;

    TIETypes Types() const noexcept { return FTypes; }
    void SetTypes(TIETypes types);

    void LoadFromReader(TReader& reader) override;
    void SaveToWriter(TWriter& writer) const override;

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;

private:
    void UpdateComment();
    // Kinds beyond the 32-bit stored set are never members.
    static constexpr uint64_t StoredBits = 0xFFFFFFFFu;
    TIETypes FTypes;
};

class TPredicatePackage : public TUserPackage {
public:
    explicit TPredicatePackage(TComponent* owner) : TUserPackage(owner) {}
    std::string_view ClassName() const override { return "TPredicatePackage"; }

protected:
    void DoCreateFunctions() override;
};

// Registers the package's function classes with the class registry (once; later calls do
// nothing), so stored package functions can be re-created by class name.
void RegisterPredicateFunctionClasses();
// Registers the function classes and the package's factory with the engine (done at start-up).
void RegisterPredicatePackage();

} // namespace ie
