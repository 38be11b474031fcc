// The vocabulary of the fuzzy logic library: set shapes, combination, inference, correlation and
// defuzzification methods; the word tables of hedges, arithmetic operators and and/or words with
// the parameter of every hedge; the lookups that turn a rule-language word into a table index;
// the builders of the expression text of a derived set; and the library's exception.
//
// Words are compared exactly (case-sensitively); a word's position in its table is the index
// used everywhere else, so the tables' order is part of the interface.
#pragma once

#include "platform/Exceptions.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ie {

// The coordinate and limit type of the whole library.
using TFzyFloat = double;

enum TFuzzySetType : uint8_t {
    fstUserDefined,
    fstTriangle,
    fstDeclineCurve,
    fstPICurve,
    fstBetaCurve,
    fstGrowthCurve
};

enum TFuzzyOperation : uint8_t {
    foZadeh,
    foMean,
    foMeanSqr,
    foMeanSqrt,
    foProduct,
    foBoundedSum,
    foSum
};

enum TFuzzyInferenceMethod : uint8_t { fimMinMax, fimAdditive, fimMean, fimProduct, fimBoundedSum };

enum TFuzzyCorrelationMethod : uint8_t { fcmMinimum, fcmProduct };

enum TDefuzzificationMethod : uint8_t { dmCenterOfGravity, dmMeanOfMaxima };

// The library's only exception.
class EFzyException : public EException {
public:
    using EException::EException;
};

// Every number the library writes into a text has four decimals.
inline constexpr std::string_view FuzzyFloatFormat = "%.4f";
inline constexpr std::string_view FuzzyOpenBracket = "[";
inline constexpr std::string_view FuzzyCloseBracket = "]";
// A term created under this name is never marked as a registered term.
inline constexpr std::string_view FuzzyEmptySetName = "__Empty";

// Messages of EFzyException.
inline constexpr std::string_view SFuzzySetEmpty = "Invalid operation: \"%s\".  Fuzzy set is empty";
inline constexpr std::string_view SFuzzyReservedName =
    "Invalid fuzzy set name, \"%s\" is a reserved word";
inline constexpr std::string_view SFuzzyInvalidOperation = "Invalid fuzzy operation: \"%s:";
inline constexpr std::string_view SFuzzyInvalidXRangeIndex =
    "Invalid index argument to GetXRange.  Index = %d";
inline constexpr std::string_view SFuzzyInvalidRange =
    "Invalid range arguments.  Left (%.4f) is greater than right (%.4f)";
inline constexpr std::string_view SFuzzyGetMaxY = "Get Maximum Y Value";
inline constexpr std::string_view SFuzzyGetMinY = "Get Minimum Y Value";
// Floating-point failures: an operation never leaves a not-a-number or an infinity in a set.
inline constexpr std::string_view SFuzzyInvalidFloat = "Invalid floating point operation";
inline constexpr std::string_view SFuzzyDivideByZero = "Floating point division by zero";
inline constexpr std::string_view SFuzzyOverflow = "Floating point overflow";
// The names of the three terms the engine creates automatically for a variable.
inline constexpr std::string_view SFuzzyTermLow = "low";
inline constexpr std::string_view SFuzzyTermMedium = "medium";
inline constexpr std::string_view SFuzzyTermHigh = "high";

inline constexpr int FuzzyArithOperatorCount = 9;
inline constexpr int FuzzyHedgeCount = 20;
inline constexpr int FuzzyOperationCount = 7;

// Operators on grades; the same word followed by "X" works on x coordinates.
inline constexpr std::array<std::string_view, FuzzyArithOperatorCount> FuzzyArithOperators = {
    "+", "-", "*", "/", "^", "<", "<=", ">", ">="};

// Indexes of the arithmetic operators.
enum : int {
    faoAdd,
    faoSubtract,
    faoMultiply,
    faoDivide,
    faoPower,
    faoRaiseBelow,
    faoRaiseAtOrBelow,
    faoLowerAbove,
    faoLowerAtOrAbove
};

inline constexpr std::array<std::string_view, FuzzyHedgeCount> FuzzyHedges = {
    "not",   "somewhat",    "moreorless", "greatly",    "plus",       "very",     "extremely",
    "above", "below",       "slightly",   "normalize",  "about",      "vicinity", "close",
    "near",  "neighboring", "positively", "absolutely", "definitely", "generally"};

inline constexpr std::array<TFzyFloat, FuzzyHedgeCount> FuzzyHedgeValues = {
    0.0, 1.0 / 3.0, 0.5, 0.7, 1.25, 2.0, 3.0, 0.0, 0.0, 0.0,
    0.0, 2.0,       4.0, 1.2, 1.2,  1.2, 2.0, 2.0, 2.0, 0.5};

// Indexes of the hedges whose behaviour is not a plain parameterised formula.
enum : int {
    fhNot = 0,
    fhSomewhat = 1,
    fhPlus = 4,
    fhVery = 5,
    fhExtremely = 6,
    fhAbove = 7,
    fhBelow = 8,
    fhSlightly = 9,
    fhNormalize = 10,
    fhAbout = 11,
    fhNeighboring = 15,
    fhPositively = 16,
    fhGenerally = 19
};

inline constexpr std::array<std::string_view, FuzzyOperationCount> FuzzyOperationNames = {
    "zadeh", "mean", "mean-sqr", "mean-sqrt", "product", "bounded-sum", "sum"};
inline constexpr std::array<std::string_view, FuzzyOperationCount> FuzzyAndNames = {
    "and", "and-mean", "and-meansqr", "and-meansqrt", "and-product", "and-boundedsum", "and-sum"};
inline constexpr std::array<std::string_view, FuzzyOperationCount> FuzzyOrNames = {
    "or", "or-mean", "or-meansqr", "or-meansqrt", "or-product", "or-boundedsum", "or-sum"};
inline constexpr std::array<std::string_view, 2> FuzzyCorrelationNames = {"minimum", "product"};
inline constexpr std::array<std::string_view, 5> FuzzyInferenceNames = {"min-max", "sum", "mean",
                                                                        "product", "bounded-sum"};

// The enumeration name of an operation ("foSum"), used in the invalid-operation message.
std::string_view FuzzyOperationEnumName(TFuzzyOperation op);

// Lookups: True when found; the out arguments are left unchanged otherwise.
bool IsFuzzyHedge(std::string_view word);
bool FuzzyHedgeIndex(std::string_view word, int& index);
bool FuzzyOperationIndex(std::string_view word, TFuzzyOperation& op);
bool FuzzyCorrelationIndex(std::string_view word, TFuzzyCorrelationMethod& method);
bool FuzzyInferenceIndex(std::string_view word, TFuzzyInferenceMethod& method);
bool IsFuzzyArithOperator(std::string_view word);
// onY is True for the plain word (grades), False for its "X" form (x coordinates).
bool FuzzyArithOperatorIndex(std::string_view word, int& index, bool& onY);
bool FuzzyAndOrIndex(std::string_view word, bool& isOr, TFuzzyOperation& op);
// True for every and/or word, hedge, operator word and "X" form: these never name a set.
bool IsFuzzyReservedWord(std::string_view word);

// The operation a fuzzy inference method merges sets with.
TFuzzyOperation FuzzyInferenceOperation(TFuzzyInferenceMethod method);

// Text builders of the expressions that derived sets carry.
std::string BracketFuzzyText(std::string_view text);
std::string FuzzyHedgeText(int hedge, std::string_view name);
std::string FuzzyArithText(int op, bool onY, std::string_view name);
std::string FuzzyArithValueText(std::string_view a, std::string_view b, TFzyFloat value);
std::string FuzzyOperationText(std::string_view a, std::string_view b, std::string_view op);

} // namespace ie
