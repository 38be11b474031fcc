// The rule-language parser (TIEClipsParser), the engine's default parser class, with its scanner
// (TIEClipsStream, IEClipsScanner), which this header brings along: who makes one makes both.
//
// Every error goes through ParseError, which names the routine, the line of the current token
// and the tokens of the current form as they stood in the text. Every loop over tokens stops at
// the end of input, so a text cut off anywhere ends with an error, never a hang.
//
// The parser's members are defined by construct family, each beside the writers of the same
// family: IEClipsParser.cpp (the top-level loop and errors), TypeSyntax, TemplateSyntax,
// RuleSyntax, FunctionSyntax and ValueSyntax.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/lang/IEClipsScanner.h"
#include "engine/lang/IEParser.h"
#include "engine/model/IEConsts.h"

namespace ie {

// One entry of the slot functions: calls of these names read some arguments as facts (Low 0)
// or as (slot value) pairs (argument positions Low to High, counted from 1).
struct TSlotFunction {
    std::string Name;
    uint16_t Low = 0;
    uint16_t High = 65535;
};

// The variables of one rule's conditions with the kind of their first occurrence: a later
// occurrence of the name takes that kind.
using TRuleBindings = std::unordered_map<std::string, TIEType>;

class TIEClipsParser : public TIEParser {
public:
    // Forms nested deeper than this are refused, so that no text can exhaust the stack.
    static constexpr int32_t MaxNesting = 512;

    TIEClipsParser(IParserEngine* engine, TIETokenizerStream* stream);

    void Assign(const TIEParser& source) override;

    bool Parse(bool execute) override;
    bool ParseNext(bool execute) override;
    TRefPtr<IIEValue> ParseValue() override;
    TRefPtr<IIEValue> ParseList() override;
    TRefPtr<IIEValue> ParseValuePair() override;
    TRefPtr<IFunCall> ParseFunCall() override;
    TRefPtr<IIEValue> EvaluateFunCall() override;
    // "(" then pairs "(" x y ")" then ")", as a singletons value.
    virtual TRefPtr<IIEValue> ParseFuzzyPoints();
    // A fact argument of "assert" and its kin, as a fact value.
    virtual TRefPtr<IIEValue> ParseFactArgument();

    // --- Facts and values typed by a slot ---
    // A subclass's fact is read slot by slot through ParseFactSlot, ParseValueForSlot and
    // ParseValueForTypes, so that it may override any of them; this class reads its own facts
    // past those calls.
    TRefPtr<IFact> ParseFact() override;
    // "(" slot-name values ")" of a fact of a template with named slots.
    virtual void ParseFactSlot(IFact& fact);
    bool ParseFacts() override;
    // One value as a kind set and a defined type expect it (a multislot takes a list).
    virtual TRefPtr<IIEValue> ParseValueForTypes(TIETypes types, const IIEDefinedType* type);
    virtual TRefPtr<IIEValue> ParseValueForSlot(const IFactSlot& slot);

    // --- Constructs (each reads from its "(") ---
    virtual TRefPtr<IFactTemplate> ParseFactTemplate();
    TRefPtr<IFactSlot> ParseFactTemplateSlot(TFactTemplate* owner) override;
    // Type words up to ")" (left unread); a named defined type among them goes to `type`.
    virtual TIETypes ParseSlotTypes(TRefPtr<IIEDefinedType>& type);
    // A fact set owned by the engine and registered with it; freed on error.
    virtual TFactSet* ParseFactSet();
    // A rule owned by the engine, not yet in its rule table; freed on error.
    virtual TRule* ParseRule();
    virtual TRefPtr<IUserFunction> ParseFunction();
    virtual bool ParseGlobalVariables();
    // "?*name* = value": the name keeps its asterisks; a call stays unevaluated.
    virtual void ParseVariable(std::string& name, TRefPtr<IIEValue>& value);
    virtual TRefPtr<IIEDefinedType> ParseDefinedType();

    // --- Rules ---
    // One conditional element; its "(" unread.
    virtual std::unique_ptr<TIEPattern> ParsePattern(TRule& rule, int32_t negatedCount,
                                                     TRuleBindings& bindings);
    virtual void ParseRulePatterns(TRule& rule, TRuleBindings& bindings);
    virtual void ParseRuleActions(TRule& rule);

    // --- Fuzzy values ---
    // "(term" name value ")": the value is a point list or an expression that gives a set.
    virtual TRefPtr<IFuzzySet> ParseFuzzySet(IFuzzyVariable& variable);
    // Clauses range, units and values up to a ")" that stays unread.
    virtual TRefPtr<IFuzzyVariable> ParseFuzzyVariable();

    // Where constructs go (null when the engine takes none).
    IConstructSink* Sink() const;

    // What a top-level token starts.
    TParsedType GetConstructType(const TStreamTokenRef& token);
    // Raises the decorated error: the message, the routine, the current token's line (or
    // `line` when given) and the tokens of the current form as they stood in the text.
    [[noreturn]] void ParseError(std::string_view routineName, std::string_view message,
                                 int32_t line = 0);
    template <class... Args>
    [[noreturn]] void ParseError(std::string_view routineName, TIEMessageId id,
                                 const Args&... args) {
        ParseError(routineName, std::string_view(Format(IEMessage(id), args...)));
    }
    // "(" keyword name [comment string]; returns the first token after the header. A wrong
    // keyword raises `errorMessage`, a name that is not an atom "Missing name".
    TStreamTokenRef ParseConstructHeader(std::string& name, std::string& comment,
                                         TIEMessageId errorMessage, std::string_view routineName,
                                         std::string_view keyword, bool withComment);

    // Slot functions: defaults assert, fuzzy-assert, fuzzy-assert-unconditional (0..65535),
    // modify, duplicate (1..65535). Names are compared without regard to letter case.
    const std::vector<TSlotFunction>& SlotFunctions() const { return FSlotFunctions; }
    void SetSlotFunctions(std::vector<TSlotFunction> functions);
    const TSlotFunction* FindSlotFunction(std::string_view name) const;
    // Setting High stores it (0 as 1) and lowers Low to it; setting Low raises High to it. A
    // name not in the list is added.
    void SetSlotFunctionLow(std::string_view name, uint16_t low);
    void SetSlotFunctionHigh(std::string_view name, uint16_t high);

protected:
    // Counts one level of nesting for as long as it lives; past MaxNesting the form is refused.
    class TNesting {
    public:
        TNesting(TIEClipsParser& parser, std::string_view routineName);
        ~TNesting() { --FParser.FNesting; }
        TNesting(const TNesting&) = delete;
        TNesting& operator=(const TNesting&) = delete;

    private:
        TIEClipsParser& FParser;
    };

    // Reads one construct (its "(" still unread) and hands it to the engine; returns the value
    // to report (empty for constructs) and fills the object or interface that OnParse gets.
    virtual TRefPtr<IIEValue> ReadConstruct(TParsedType kind, void*& object,
                                            TRefPtr<IInterface>& interface);
    TStreamTokenRef Next() { return In().NextToken(); }
    void PushBack(const TStreamTokenRef& token) { In().PushBack(token); }
    TIETokenizerStream& In();
    TIEContext* RootContext() const;
    // A token that stands for itself as a value: atom, string, integer, variable, float,
    // multivariable.
    static bool IsPlainValue(const IStreamToken& token);

private:
    IConstructSink& ConstructSink(std::string_view routineName);
    // ParseFactSlot after its "(". A subclass's value is read through its ParseValueForSlot.
    void ReadFactSlot(IFact& fact);
    // ParseValueForTypes and ParseValueForSlot whose first token (when not null) was read; with
    // none, ParseValueForSlotFrom reads through ParseValueForTypes.
    TRefPtr<IIEValue> ParseValueForTypesFrom(TStreamTokenRef first, TIETypes types,
                                             const IIEDefinedType* type);
    TRefPtr<IIEValue> ParseValueForSlotFrom(TStreamTokenRef first, const IFactSlot& slot);
    // "range"/"cardinality" bounds after the keyword; `fuzzy` receives a range instead of
    // `type` when given.
    void ParseRangeClause(IIEDefinedType* type, IFuzzyVariable* fuzzy, bool isCardinality,
                          bool allowVariable);
    TRefPtr<IIEValue> ParseRangeBound(bool isCardinality, bool allowVariable, bool& unlimited);
    // The values after an "allowed-..." keyword up to ")".
    void ParseAllowedClause(IIEDefinedType& type, const IStreamToken& keyword);
    // The units after "units": a string's text or a word's display text.
    std::string ParseUnits(std::string_view routineName);
    void ExpectClose(std::string_view routineName);
    void ExpectOpen(std::string_view routineName);
    void ParseSlotConstraints(TIEPattern& pattern, const IFactSlot* slot, std::string_view slotName,
                              bool multi, TRuleBindings& bindings);
    TRefPtr<IIEValue> ParseConstraintValue(TIEPattern& pattern, const IFactSlot* slot,
                                           std::string_view slotName, bool multi,
                                           TRuleBindings& bindings, TStreamTokenRef token,
                                           int32_t subIndex, bool conjunction, bool notEqual);
    TRefPtr<IIEValue> EvaluateNow(const TRefPtr<IIEValue>& value);
    // Whether a constraint term of a fuzzy slot that begins with the token is read as a
    // linguistic expression rather than as a crisp constant.
    bool StartsFuzzyExpression(const IStreamToken& token);
    TRefPtr<IIEValue> ReadBracketedElement();
    // A written fuzzy value (term, expression, number, point list) made a value of the
    // variable by the engine, without a context; engine errors are reported as parse errors.
    TRefPtr<IIEValue> EvaluateFuzzyValue(std::string_view routineName, IFuzzyVariable& variable,
                                         const TRefPtr<IIEValue>& value);

    TSlotFunction& SlotFunctionEntry(std::string_view name);
    // One element that starts with "(" (still unread): a point list or a call.
    TRefPtr<IIEValue> ReadParenthesisedValue();
    bool ReadListItem(const TStreamTokenRef& token, TRefPtr<IIEValue>& item);
    // The value of a constant written in a call, a pattern or a slot-value pair, which nothing
    // changes in place: a small integer, an atom or a variable's name is one shared, constant
    // value for all the places that write it, not a block of its own per place (a program of a
    // thousand rules writes the same few constants thousands of times).
    TRefPtr<IIEValue> ConstantValue(const TStreamTokenRef& token) {
        return SharedConstant(token->ToValue());
    }
    TRefPtr<IIEValue> SharedConstant(TRefPtr<IIEValue> value);
    TRefPtr<IIEValue> ReadCallValue();
    TRefPtr<IIEValue> ReadPointCoordinate();

    std::vector<TSlotFunction> FSlotFunctions;
    int32_t FNesting = 0;
    // While a fact set is read: the template its last fact named, and that name (its facts
    // mostly come in runs of one template).
    bool FInFactSet = false;
    std::string FSetTemplateName;
    TRefPtr<IFactTemplate> FSetTemplate;
    // The shared values of the atoms and variables written as constants, by their kind and
    // text (SharedConstant).
    std::unordered_map<std::string, TRefPtr<IIEValue>> FSharedAtoms;
};

} // namespace ie
