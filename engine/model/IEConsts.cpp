// The engine's message table and kind names.
//
// Invariant: the table holds one text per TIEMessageId in the enumeration's order, so a raising
// site and its words cannot drift apart; adding a message means adding its text here (the
// message count is pinned at compile time), and a lookup out of range gives an empty text or
// "<UNKNOWN>" rather than reading past the table.
#include "engine/model/IEConsts.h"

#include <array>

namespace ie {

namespace {

// One entry per TIEMessageId, in the same order.
constexpr std::array<std::string_view, imMessageCount> Messages = {
    "Invalid Fuzzy operation specified (%s) for %s, expected %s",
    "Invalid Fuzzy Expression: %s",
    "fuzzy variable is not defined",
    "Invalid attempt to modify fuzzy type in fact template slot, fuzzy types cannot be modified",
    " for pattern match = ",
    "Uncloneable value.  Value owned an object of %s class type",
    "Cannot mix fuzzy type with other primitive types",
    "Missing range statement",
    "Expected allowed value argument for deftype, received %s",
    "Type inheritance loop detected, %s type cannot be an ancestor of itself",
    "Multiple inheritance is not allowed for deftypes",
    "Fact templates inheritance structure corrupted",
    "Defined types inheritance structure corrupted",
    "Missing fuzzy operand to be modified by hedge: %s",
    "Invalid item in fuzzy expression: %s",
    "Fuzzy Type Definition needed to parse value",
    "Fuzzy variables are different, %s is a term from %s and %s is a term from %s",
    "Cannot union two facts with different fact templates: %s and %s",
    "Fact is not a fuzzy fact",
    "Invalid Fuzzy Correlation specified (%s), expected %s",
    "Invalid Fuzzy Inference specified (%s), expected %s",
    "Missing Rule cannot be edited",
    "Syntax Error: %s",
    "Unexpected symbol, expected a \"(\", constant, or global variable: %s",
    "Unknown/Undefined Inference Engine",
    "Unknown variable name: %s",
    "Unexpected character found: \"%s\"",
    "Unexpected end of stream",
    "Function names do not match: %s and %s",
    "First Use of Variable is negated, variable name is %s",
    "Parsing Error, %s in %s at line %s: %s",
    "Errors parsing stream:\r\n%s",
    "Unable to parse strings of %s at this time",
    "Cannot backchain on special CEs: %s",
    "Cannot use Function calls in backchained patterns: %s",
    "Defined Type %s does not have %s constraints",
    "Defined Type %s cannot contain %s constraint types",
    "Invalid Token hint for parsing token: %s",
    "Invalid stream name: %s",
    "Invalid destruction of pointer reference, reference counting greater than 0",
    "Unknown %s name: %s",
    "Unknown fact template: %s",
    "Unable to assign slot values, fact templates are different: %s and %s",
    "Missing name",
    "Missing name of parent template to extend",
    "Missing name of type for fact template",
    "type name unknown or invalid: %s",
    "Missing \"then\" in an IF statement",
    "Invalid multifield arguments, the two multifields must be of the same length",
    "No Such Fact with ID=%s exists",
    "Function is unimplemented or unassigned: %s",
    "The %s event has not been implemented or unassigned.\r\n"
    "Warning: Implementation of this function requires a blocking mechanism, \r\n"
    "such as ShowModal, or the use of threads",
    "Fact Template is missing",
    "Value \"%s\" is not valid, %s",
    "invalid fuzzy value",
    "Too few arguments for %s",
    "Too many arguments for %s",
    "Corrupted Binding, variable not found: %s",
    "Defined Type Name already exists: \"%s\"",
    "Function Name already exists: \"%s\"",
    "Fact Template Name already exists: \"%s\"",
    "Duplicate Rules defined with same name: \"%s\"",
    "Duplicate streams defined with same name: \"%s\"",
    "Cannot bind a negated pattern to a variable",
    "Invalid argument type for deffunction: \"%s\".  Expected %s",
    "No such slot name: \"%s\"",
    "Invalid slot type: %s",
    "Invalid Call Type: %s",
    "Invalid Token Action",
    "Expected rule property, salience, oneshot, or enabled",
    "Expected \"(\", \"extends\", or \"is-a\"",
    "Expected \"( deffacts\"",
    "Expected \"( deftype\"",
    "Expected \"( deftemplate\"",
    "Expected \"( defrule\"",
    "Expected \"( deffunction\"",
    "Expected \"( term\"",
    "Expected \"( defglobal\"",
    "\"=\" cannot appear as an atom within a fact",
    "Not a %s type.  Value (%s) is a %s type",
    "Not in allowed values",
    "Multislot must have between %d and %d elements",
    "Range must be between %.4f and %.4f",
    "%s for %s slot",
    "Value and type mismatch",
    "Invalid slot qualifier: %s",
    "\"not\" and \"test\" CEs cannot be bound to variables",
    "Invalid substring parameters: %d, %d",
    "Invalid multifield begin and end parameters: %d, %d",
    "%s contains unexpected character: \"%c\"",
    "Invalid object, agenda can only accept TActivation objects",
    "Expected \"=>\"",
    "Expected \"( <atom>\"",
    "Expected value missing",
    "Expected \"%s\"",
    "Missing keyword.  Expected \"%s\"",
    "Slot \"%s\" is not a multislot",
    "Invalid low and high limits specified: %.4f to %.4f",
    "Expected \"<-\"",
    "Expected integer, variable, or function call for %s",
    "Expected number, variable, or function call",
    "Expected \")\"",
    "Invalid string value, string was not terminated",
    "Missing catch or finally statement for try block",
    "Bad Argument: %s",
    "Bad Variable Name, must start and end with an asterisk: %s",
    "Bad Slot Name: %s",
    "Index does not match fact slot name: %s and %s",
    "Bad Slot Value: %s",
    "Bad Slot Type",
    "Cannot watch %s",
    "Cannot unwatch %s",
    "Invalid backward chaining pattern added to the node",
    "Invalid default slot value: %s",
    "Invalid default value for a multislot, must be a multifield: %s",
    "Invalid value for existing slot, slot is not multislot",
    "Invalid value for existing slot, multislot is not slot",
    "Invalid File Access Specifier: \"%s\"",
    "No context found when trying to resolve a %s value",
    "Expected numeric argument to %s function call",
    "Expected component argument to %s function call",
    "Missing Fuzzy Close Bracket in expression",
    "Expected \"(\"",
};

static_assert(imMessageCount == 123, "the engine's message table holds 123 messages");

constexpr std::array<std::string_view, IETypeCount> TypeNames = {
    "dtNone",          "dtAtom",
    "dtString",        "dtInteger",
    "dtVariable",      "dtFactId",
    "dtFloat",         "dtFunCall",
    "dtFact",          "dtList",
    "dtDescriptor",    "dtObject",
    "dtClass",         "dtExternalAddress",
    "dtSingletons",    "dtFuzzy",
    "dtMultiVariable", "dtSlot",
    "dtMultiSlot"};

} // namespace

std::string_view IEMessage(TIEMessageId id) noexcept {
    return id < imMessageCount ? Messages[id] : std::string_view();
}

std::string_view IETypeName(TIEType t) noexcept {
    return t < IETypeCount ? TypeNames[t] : std::string_view("<UNKNOWN>");
}

} // namespace ie
