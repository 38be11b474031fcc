#include "packages/PredicatePackage.h"

#include "engine/IEHelperFunctions.h"
#include "engine/IEValue.h"
#include "platform/ClassRegistry.h"
#include "platform/StoredProperties.h"

namespace ie {

namespace {

constexpr std::string_view NumericArgument = " <numeric-expression>";
constexpr std::string_view AnyArgument = " <expression>";
constexpr std::string_view VerifyTypeHelp =
    "Returns TRUE if the argument is of the following type(s): %s.  If the argument is any "
    "other type, FALSE is returned";

// Argument i evaluated in the context; a call that gives no value reads as the empty atom.
TRefPtr<IIEValue> Arg(IFunCall* call, int32_t i, TIEContext* context) {
    const TRefPtr<IIEValue>& expression = call->GetArgument(i);
    TRefPtr<IIEValue> value = expression ? expression->Evaluate(context) : nullptr;
    return value ? value : IEEmptyAtom();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Parity

TEvenPFunction::TEvenPFunction()
    : TBuiltInFunction("evenp", "Returns TRUE if the argument is an even integer, FALSE otherwise",
                       NumericArgument, 1, 1) {}

TRefPtr<IIEValue> TEvenPFunction::Execute(IFunCall* call, TIEContext* context) {
    return IEBoolValue(Arg(call, 0, context)->AsInteger() % 2 == 0);
}

TOddPFunction::TOddPFunction()
    : TBuiltInFunction("oddp", "Returns TRUE if the argument is an odd integer, FALSE otherwise",
                       NumericArgument, 1, 1) {}

TRefPtr<IIEValue> TOddPFunction::Execute(IFunCall* call, TIEContext* context) {
    return IEBoolValue(Arg(call, 0, context)->AsInteger() % 2 != 0);
}

// ---------------------------------------------------------------------------------------------
// get-type

TGetValueTypeFunction::TGetValueTypeFunction()
    : TBuiltInFunction("get-type", "Returns the type of the argument", " <expression> ", 1, 1) {}

TRefPtr<IIEValue> TGetValueTypeFunction::Execute(IFunCall* call, TIEContext* context) {
    return TIEValue::CreateText(dtAtom, IETypeName(Arg(call, 0, context)->GetDType()));
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
    return IEBoolValue(FTypes.Contains(Arg(call, 0, context)->GetDType()));
}

// ---------------------------------------------------------------------------------------------
// The package

void TPredicatePackage::DoCreateFunctions() {
    TUserPackage::DoCreateFunctions();
    TUserFunctionList& f = Functions();
    f.Add(TRefPtr<IUserFunction>(MakeRef<TEvenPFunction>()));
    f.Add(TRefPtr<IUserFunction>(MakeRef<TOddPFunction>()));
    f.Add(TRefPtr<IUserFunction>(MakeRef<TGetValueTypeFunction>()));
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
    static const bool registered = [] {
        RegisterClass<TEvenPFunction>("TEvenPFunction");
        RegisterClass<TOddPFunction>("TOddPFunction");
        RegisterClass<TGetValueTypeFunction>("TGetValueTypeFunction");
        RegisterClass<TVerifyTypePFunction>("TVerifyTypePFunction");
        return true;
    }();
    (void)registered;
}

namespace {
const bool PredicateClassesRegistered = (RegisterPredicateFunctionClasses(), true);
} // namespace

} // namespace ie
