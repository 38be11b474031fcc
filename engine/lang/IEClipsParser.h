// The rule-language scanner (TIEClipsStream) and the parser that reads with it
// (TIEClipsParser), the engine's default stream and parser classes.
//
// Scanner: the tokens of one top-level form are read ahead onto the push-back stack (first token
// on top), so the parser can put back any number of them; every line end (CR LF, LF or a lone
// CR) counts one line, wherever it stands; the blanks and comments before a token are kept on
// it. A form that starts with ")" is that one token, so a stray ")" never swallows the next form.
//
// Parser: every error goes through ParseError, which names the routine, the line of the current
// token and the tokens of the current form as they stood in the text. Every loop over tokens
// stops at the end of input, so a text cut off anywhere ends with an error, never a hang.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "engine/model/IEConsts.h"
#include "engine/lang/IEParser.h"

namespace ie {

class TIEClipsStream : public TIETokenizerStream {
public:
    explicit TIEClipsStream(TStream* stream);

    // Starts over on another stream (or none) exactly as a newly made scanner would, keeping
    // only the buffer memory: whatever the former stream left unread is dropped.
    void Rebind(TStream* stream);

    // TIETokenizerStream
    void Reset() override;
    void SkipLine() override;
    void SkipToBalance() override;
    TStreamTokenRef NextToken() override;
    void PushBack(const TStreamTokenRef& token) override;
    std::string PeekKeyword() override;
    TStreamTokenRef CurrentToken() override;
    std::string History() const override;
    int32_t CurrentLine() const override { return FCurrentLine; }

    // TGTextStream, with line counting and white-space capture.
    char ReadChar() override;
    bool SkipBlanks() override;
    void ReadLn(std::string& line) override;

    // One token from the characters (no read-ahead, no push back).
    TStreamTokenRef ReadToken();
    // Parenthesis depth of the tokens handed out in the current form.
    int32_t Depth() const { return FDepth; }

private:
    static constexpr int EndOfData = -1;

    int GetByte();
    void UngetByte(int c);
    void ReadRestOfLine(std::string& line);
    void ReadAhead();
    TRefPtr<TIEStreamToken> MakeWordToken(int32_t line);
    TRefPtr<TIEStreamToken> NewToken(int32_t dataType, int32_t line);
    // Ends the finished form's history and keeps for reuse its tokens nobody holds any more.
    void RecycleFormTokens();
    std::string GenerateName(std::string_view prefix);
    // The text block of an atom read before, or a new one remembered for the atoms to come.
    TRefPtr<TIEText> SharedAtomText(std::string_view text);

    std::vector<TStreamTokenRef> FPushBack;   // the top (back) is the next token
    std::vector<TStreamTokenRef> FFormTokens; // handed out in the current form, in order
    TStreamTokenRef FLastToken;
    // The tokens made since the last form began (up to MaxSpareTokens), and those of them that
    // nobody held any more when the next began: NewToken hands these out again, so reading a
    // form allocates no token objects once the scanner has read a form as long before.
    static constexpr size_t MaxSpareTokens = 1024;
    std::vector<TRefPtr<TIEStreamToken>> FMadeTokens;
    std::vector<TRefPtr<TIEStreamToken>> FSpareTokens;
    std::string FLexeme;
    std::string FSource; // the word as written, kept only when it held an escape
    std::string FPendingWhiteSpace;
    // Atom texts read, so that the facts of a long read share them (a few bytes per value
    // instead of a block each). Bounded: when full it starts over.
    static constexpr size_t MaxSharedAtomTexts = 4096;
    struct TTextHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>()(s);
        }
    };
    boost::unordered_flat_map<std::string, TRefPtr<TIEText>, TTextHash, std::equal_to<>>
        FAtomTexts;
    int32_t FCurrentLine = 1;
    int32_t FDepth = 0;
    int64_t FOwnSymbolCounter = 0;
    // Line bookkeeping of the last byte read, so that putting it back can undo it.
    bool FAfterCR = false;
    bool FPrevAfterCR = false;
    bool FLastCounted = false;
};

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
    TRefPtr<IIEValue> ReadCallValue();
    TRefPtr<IIEValue> ReadPointCoordinate();

    std::vector<TSlotFunction> FSlotFunctions;
    int32_t FNesting = 0;
};

} // namespace ie
