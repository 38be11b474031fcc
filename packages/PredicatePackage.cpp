// The predicate package's functions: parity, get-type and the type predicates.
//
// Invariant: a type predicate's comment always names the kinds it accepts (rebuilt when its name
// or kinds change), and it looks at the evaluated value's own kind only. Needs of the engine
// nothing but the function framework.
#include "packages/PredicatePackage.h"

#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEValue.h"
#include "platform/StoredProperties.h"

namespace ie {

namespace {

constexpr std::string_view NumericArgument = " <numeric-expression>";
constexpr std::string_view AnyArgument = " <expression>";
constexpr std::string_view VerifyTypeHelp =
    "Returns TRUE if the argument is of the following type(s): %s.  If the argument is any "
    "other type, FALSE is returned";

} // namespace

// ---------------------------------------------------------------------------------------------
// Parity

TEvenPFunction::TEvenPFunction()
    : TBuiltInFunction("evenp", "Returns TRUE if the argument is an even integer, FALSE otherwise",
                       NumericArgument, 1, 1) {}

TRefPtr<IIEValue> TEvenPFunction::Execute(IFunCall* call, TIEContext* context) {
    return IEBoolValue(EvalArg(call, 0, context)->AsInteger() % 2 == 0);
}

TOddPFunction::TOddPFunction()
    : TBuiltInFunction("oddp", "Returns TRUE if the argument is an odd integer, FALSE otherwise",
                       NumericArgument, 1, 1) {}

TRefPtr<IIEValue> TOddPFunction::Execute(IFunCall* call, TIEContext* context) {
    return IEBoolValue(EvalArg(call, 0, context)->AsInteger() % 2 != 0);
}

// ---------------------------------------------------------------------------------------------
// get-type

TGetValueTypeFunction::TGetValueTypeFunction()
    : TBuiltInFunction("get-type", "Returns the type of the argument", " <expression> ", 1, 1) {}

TRefPtr<IIEValue> TGetValueTypeFunction::Execute(IFunCall* call, TIEContext* context) {
    return TIEValue::CreateText(dtAtom, IETypeName(EvalArg(call, 0, context)->GetDType()));
}

// ---------------------------------------------------------------------------------------------
// Type predicates

TVerifyTypePFunction::TVerifyTypePFunction() : TBuiltInFunction("", "", AnyArgument, 1, 1) {
    UpdateComment();
}

TRefPtr<TVerifyTypePFunction> TVerifyTypePFunction::CreateWithTypes(std::string_view name,
                                                                    TIETypes types) {
    auto f = MakeRef<TVerifyTypePFunction>();
    f->SetTypes(types);
    f->SetFunctionName(name);
    return f;
}

void TVerifyTypePFunction::Assign(const TPersistent* source) {
    if (source == this) return;
    // The kinds first: the inherited Assign sets the name, which rebuilds the comment from them.
    if (const auto* src = dynamic_cast<const TVerifyTypePFunction*>(source)) FTypes = src->FTypes;
    TBuiltInFunction::Assign(source);
}

void TVerifyTypePFunction::SetFunctionName(std::string_view name) {
    TBuiltInFunction::SetFunctionName(name);
    UpdateComment();
}

void TVerifyTypePFunction::SetTypes(TIETypes types) {
    FTypes = TIETypes::FromBits(types.Bits() & StoredBits);
    UpdateComment();
}

void TVerifyTypePFunction::UpdateComment() {
    const std::string kinds = FTypes.Empty() ? std::string("NONE") : SetToText(FTypes, ", ");
    SetComment(Format(HelpFormat(), Format(VerifyTypeHelp, kinds), GetFunctionName()));
    SetArgumentString(AnyArgument);
}

void TVerifyTypePFunction::LoadFromReader(TReader& reader) {
    TBuiltInFunction::LoadFromReader(reader);
    FTypes = TIETypes::FromBits(static_cast<uint32_t>(reader.ReadInteger()));
    // The stored comment was written for the stored kinds; keep it in step with them.
    UpdateComment();
}

void TVerifyTypePFunction::SaveToWriter(TWriter& writer) const {
    TBuiltInFunction::SaveToWriter(writer);
    writer.WriteInteger(static_cast<int32_t>(static_cast<uint32_t>(FTypes.Bits())));
}

TRefPtr<IIEValue> TVerifyTypePFunction::Execute(IFunCall* call, TIEContext* context) {
    return IEBoolValue(FTypes.Contains(EvalArg(call, 0, context)->GetDType()));
}

// ---------------------------------------------------------------------------------------------
// The package

namespace {

// The function classes of the package, in the order of its functions.
using TPredicateFunctionClasses =
    TFunctionClasses<TEvenPFunction, TOddPFunction, TGetValueTypeFunction, TVerifyTypePFunction>;

} // namespace

void TPredicatePackage::DoCreateFunctions() {
    TUserPackage::DoCreateFunctions();
    TUserFunctionList& f = Functions();
    AddFunctions<TEvenPFunction, TOddPFunction, TGetValueTypeFunction>(f);
    struct TTypePredicate {
        std::string_view Name;
        TIETypes Types;
    };
    static constexpr TTypePredicate Predicates[] = {
        {"lexemep", TIETypes{dtAtom, dtString}},
        {"numberp", TIETypes{dtInteger, dtFloat}},
        {"floatp", TIETypes{dtFloat}},
        {"fuzzyp", TIETypes{dtFuzzy}},
        {"integerp", TIETypes{dtInteger}},
        {"stringp", TIETypes{dtString}},
        {"symbolp", TIETypes{dtAtom}},
        {"multifieldp", TIETypes{dtList}},
        {"external-addressp", TIETypes{dtExternalAddress}},
        {"objectp", TIETypes{dtObject}},
    };
    for (const TTypePredicate& p : Predicates)
        f.Add(TRefPtr<IUserFunction>(TVerifyTypePFunction::CreateWithTypes(p.Name, p.Types)));
}

void RegisterPredicateFunctionClasses() {
    TPredicateFunctionClasses::Register();
}

void RegisterPredicatePackage() {
    RegisterPackage<TPredicatePackage, TPredicateFunctionClasses>(pPredicate);
}

namespace {
// Engines create the package and stored functions find their classes from start-up on.
const bool PredicatePackageRegistered = (RegisterPredicatePackage(), true);
} // namespace

} // namespace ie
