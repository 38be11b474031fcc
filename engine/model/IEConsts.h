// What every unit of the engine shares without code: the engine's exception, its message table,
// its enumerations with their sets and the fixed names and texts.
//
// Every engine failure is an EIEException whose message is one entry of the table, formatted
// with its arguments. Raising sites name the entry symbolically (TIEMessageId); the text itself
// lives only in the table, so the words of a failure are defined in exactly one place.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Exceptions.h"
#include "platform/Format.h"

namespace ie {

// ---------------------------------------------------------------------------------------------
// Sets of enumerations

// A set of an enumeration with at most 64 members, stored as bits in declaration order.
template <class E> class TEnumSet {
public:
    constexpr TEnumSet() noexcept = default;
    constexpr TEnumSet(std::initializer_list<E> items) noexcept {
        for (E e : items)
            FBits |= Bit(e);
    }
    static constexpr TEnumSet FromBits(uint64_t bits) noexcept {
        TEnumSet s;
        s.FBits = bits;
        return s;
    }

    constexpr bool Contains(E e) const noexcept { return (FBits & Bit(e)) != 0; }
    constexpr TEnumSet& Include(E e) noexcept {
        FBits |= Bit(e);
        return *this;
    }
    constexpr TEnumSet& Exclude(E e) noexcept {
        FBits &= ~Bit(e);
        return *this;
    }
    constexpr bool Empty() const noexcept { return FBits == 0; }
    constexpr uint64_t Bits() const noexcept { return FBits; }
    constexpr int Count() const noexcept { return __builtin_popcountll(FBits); }

    friend constexpr TEnumSet operator|(TEnumSet a, TEnumSet b) noexcept {
        return FromBits(a.FBits | b.FBits);
    }
    friend constexpr TEnumSet operator&(TEnumSet a, TEnumSet b) noexcept {
        return FromBits(a.FBits & b.FBits);
    }
    friend constexpr TEnumSet operator-(TEnumSet a, TEnumSet b) noexcept {
        return FromBits(a.FBits & ~b.FBits);
    }
    friend constexpr bool operator==(TEnumSet a, TEnumSet b) noexcept = default;
    // True when every member of a is in b.
    friend constexpr bool operator<=(TEnumSet a, TEnumSet b) noexcept {
        return (a.FBits & ~b.FBits) == 0;
    }

private:
    static constexpr uint64_t Bit(E e) noexcept { return uint64_t{1} << static_cast<unsigned>(e); }
    uint64_t FBits = 0;
};

// ---------------------------------------------------------------------------------------------
// Enumerations (declaration order is observable: names, stored sets, type words)

// The kind of an engine value.
enum TIEType : uint8_t {
    dtNone,
    dtAtom,
    dtString,
    dtInteger,
    dtVariable,
    dtFactId,
    dtFloat,
    dtFunCall,
    dtFact,
    dtList,
    dtDescriptor,
    dtObject,
    dtClass,
    dtExternalAddress,
    dtSingletons,
    dtFuzzy,
    dtMultiVariable,
    dtSlot,
    dtMultiSlot,
};
inline constexpr int IETypeCount = dtMultiSlot + 1;
using TIETypes = TEnumSet<TIEType>;

// The enumeration name of a kind ("dtInteger"); "<UNKNOWN>" outside the enumeration.
std::string_view IETypeName(TIEType t) noexcept;

// Kinds whose payload is a text.
inline constexpr TIETypes IETextTypes{dtAtom,          dtString, dtVariable,
                                      dtMultiVariable, dtSlot,   dtMultiSlot};
inline constexpr bool IsTextType(TIEType t) noexcept {
    return IETextTypes.Contains(t);
}

enum TTemplateSlotType : uint8_t { tstSlot, tstMultiSlot };

// Which list of allowed values of a defined type.
enum TValueConstraint : uint8_t { vcAtom, vcString, vcInteger, vcFloat };
using TValueConstraints = TEnumSet<TValueConstraint>;

enum TTokenAction : uint8_t { taClear, taAdd, taRemove, taUpdate };
enum TDuplicateConstructs : uint8_t { dcOverwrite, dcIgnore, dcError };
enum TErrorHandling : uint8_t { ehRaiseImmediate, ehRaiseAllAtEnd };
enum TSearchStrategy : uint8_t { ssDepthFirst, ssBreadthFirst };
enum TConstructWatch : uint8_t { cwActivation, cwFact, cwRule, cwCompilation, cwStatistics };
using TConstructWatches = TEnumSet<TConstructWatch>;
enum TTypeCheck : uint8_t { tcStatic, tcDynamic };
using TTypeChecks = TEnumSet<TTypeCheck>;
enum TFunctionPackage : uint8_t {
    pStandard,
    pPredicate,
    pMath,
    pMiscellaneous,
    pString,
    pObject,
    pTrigonometry,
    pBusiness,
    pFuzzyLogic,
};
using TFunctionPackages = TEnumSet<TFunctionPackage>;

enum TValidAction : uint8_t {
    vaFileNew,
    vaFileOpen,
    vaFileSave,
    vaFileSaveAs,
    vaEditTypes,
    vaEditFacts,
    vaEditFactTemplates,
    vaEditRules,
    vaIERun,
    vaIERunOneStep,
    vaIEReset,
    vaFileView,
};
using TValidActions = TEnumSet<TValidAction>;
enum TValidView : uint8_t { vvAgenda, vvFacts, vvFactTemplates, vvRules };
using TValidViews = TEnumSet<TValidView>;

// The text type of names (function names, binding names).
using TIEName = std::string;

// ---------------------------------------------------------------------------------------------
// The message table, in table order

enum TIEMessageId : uint16_t {
    imInvalidFuzzyOperation,     // "Invalid Fuzzy operation specified (%s) for %s, expected %s"
    imInvalidFuzzyExpression,    // "Invalid Fuzzy Expression: %s"
    imFuzzyVariableNotDefined,   // "fuzzy variable is not defined"
    imCannotModifyFuzzySlotType, // "Invalid attempt to modify fuzzy type in fact template slot..."
    imForPatternMatch,           // " for pattern match = "
    imUncloneableValue,          // "Uncloneable value.  Value owned an object of %s class type"
    imCannotMixFuzzyType,
    imMissingRange,
    imExpectedAllowedValue,
    imTypeInheritanceLoop,
    imMultipleInheritance,
    imFactTemplateInheritanceCorrupted,
    imDefinedTypeInheritanceCorrupted,
    imMissingHedgeOperand,
    imInvalidFuzzyItem,
    imFuzzyTypeNeeded,
    imFuzzyVariablesDifferent,
    imCannotUnionFacts,
    imNotFuzzyFact,
    imInvalidFuzzyCorrelation,
    imInvalidFuzzyInference,
    imMissingRule,
    imSyntaxError,
    imUnexpectedSymbol,
    imUnknownEngine,
    imUnknownVariable,
    imUnexpectedCharacter,
    imUnexpectedEndOfStream,
    imFunctionNamesDoNotMatch,
    imFirstUseNegated,
    imParsingError,
    imErrorsParsingStream,
    imUnableToParseStrings,
    imCannotBackchainSpecialCE,
    imCannotBackchainFunctionCalls,
    imNoSuchConstraint,
    imCannotContainConstraint,
    imInvalidTokenHint,
    imInvalidStreamName,
    imInvalidDestruction,
    imUnknownName,
    imUnknownFactTemplate,
    imCannotAssignSlotValues,
    imMissingName,
    imMissingParentTemplate,
    imMissingTypeName,
    imTypeNameUnknown,
    imMissingThen,
    imMultifieldLengths,
    imNoSuchFact,
    imFunctionUnimplemented,
    imEventNotImplemented,
    imFactTemplateMissing,
    imValueNotValid,
    imInvalidFuzzyValue,
    imTooFewArguments,
    imTooManyArguments,
    imCorruptedBinding,
    imDefinedTypeExists,
    imFunctionExists,
    imFactTemplateExists,
    imDuplicateRules,
    imDuplicateStreams,
    imCannotBindNegated,
    imInvalidDeffunctionArgument,
    imNoSuchSlot,
    imInvalidSlotType,
    imInvalidCallType,
    imInvalidTokenAction,
    imExpectedRuleProperty,
    imExpectedExtends,
    imExpectedDeffacts,
    imExpectedDeftype,
    imExpectedDeftemplate,
    imExpectedDefrule,
    imExpectedDeffunction,
    imExpectedTerm,
    imExpectedDefglobal,
    imEqualsAtomInFact,
    imNotAType,
    imNotInAllowedValues,
    imMultislotCardinality,
    imRangeMustBeBetween,
    imForSlot,
    imValueTypeMismatch,
    imInvalidSlotQualifier,
    imNotAndTestCannotBind,
    imInvalidSubstring,
    imInvalidMultifieldRange,
    imUnexpectedCharacterIn,
    imInvalidAgendaObject,
    imExpectedArrow,
    imExpectedAtom,
    imExpectedValueMissing,
    imExpected,
    imMissingKeyword,
    imSlotNotMultislot,
    imInvalidLimits,
    imExpectedLeftArrow,
    imExpectedIntegerArgument,
    imExpectedNumberArgument,
    imExpectedCloseParen,
    imUnterminatedString,
    imMissingCatch,
    imBadArgument,
    imBadVariableName,
    imBadSlotName,
    imIndexDoesNotMatchSlot,
    imBadSlotValue,
    imBadSlotType,
    imCannotWatch,
    imCannotUnwatch,
    imInvalidBackchainPattern,
    imInvalidDefaultSlotValue,
    imInvalidMultislotDefault,
    imSlotIsNotMultislot,
    imMultislotIsNotSlot,
    imInvalidFileAccess,
    imNoContext,
    imExpectedNumericArgument,
    imExpectedComponentArgument,
    imMissingFuzzyCloseBracket,
    imExpectedOpenParen,
    imMessageCount
};

// The format text of a message.
std::string_view IEMessage(TIEMessageId id) noexcept;

// The exception of the engine: its message is always a text of the message table.
class EIEException : public EException {
public:
    using EException::EException;

    // The message formatted with its arguments, in placeholder order.
    template <class... Args> static EIEException Create(TIEMessageId id, const Args&... args) {
        return EIEException(Format(IEMessage(id), args...));
    }
};

// Formats the message with its arguments and raises it as an EIEException.
template <class... Args> [[noreturn]] void RaiseIE(TIEMessageId id, const Args&... args) {
    throw EIEException::Create(id, args...);
}

// ---------------------------------------------------------------------------------------------
// Fixed names and texts

// Type keywords of slot types and defined types, in this order.
inline constexpr std::string_view IETypeKeywords[] = {
    "SYMBOL",     "ATOM",   "STRING",          "INTEGER", "FLOAT", "LEXEME", "NUMBER",   "CLASS",
    "DESCRIPTOR", "OBJECT", "EXTERNALADDRESS", "FUZZY",   "FACT",  "FACTID", "?VARIABLE"};

inline constexpr std::string_view InitialFactName = "Initial-Fact";
inline constexpr std::string_view InitialFactText = "(Initial-Fact)";
inline constexpr std::string_view NotOrTestTemplateName = "__NOT-OR-TEST-CE*";
inline constexpr std::string_view DataSlotName = "__Data";
inline constexpr std::string_view TestCEName = "test";
inline constexpr std::string_view GoalFactPrefix = "need-";
// The word that reads as the empty atom, in any letter case.
inline constexpr std::string_view NilWord = "nil";
inline constexpr std::string_view BlankVariableName = "_blank_";
inline constexpr std::string_view BlankMultiVariableName = "_blank_$";
inline constexpr std::string_view GeneratedVariableName = "?__var";
inline constexpr std::string_view GeneratedMultiVariableName = "$?__var";
inline constexpr std::string_view EqualsName = "_eq_";
inline constexpr std::string_view FactIndexName = "__factidx";
inline constexpr std::string_view LocalSlotName = "__LOCAL";
inline constexpr std::string_view PatternSlotName = "__PATTERN";
inline constexpr std::string_view RuleVariableName = "__RULE";
inline constexpr std::string_view ImplicitTypeName = "implicit";

inline constexpr std::string_view ErrorTextPattern = "%s error: %s";
inline constexpr std::string_view PlainTextPattern = "%s";
inline constexpr std::string_view SyntaxTextPattern = "     syntax: %s";
inline constexpr std::string_view BracketedTextPattern = "(%s)";
inline constexpr std::string_view IEIndent = "    ";
inline constexpr std::string_view IELineEnd = "\r\n";

} // namespace ie
