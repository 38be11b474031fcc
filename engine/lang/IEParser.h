// The rule-language reader's shared layer: the token that the scanner hands out (and that the
// engine's read-token service, the "read" function and the console pass around as values), the
// abstract token stream the parser reads from, and the abstract parser that the engine owns.
//
// A token carries its kind (a value kind, or the character code of a punctuation), its line,
// its number or text, the white space and comments read before it, and the text it stood as in
// the source, which is what error messages show. The concrete scanner is in IEClipsScanner, the
// concrete parser in IEClipsParser; the writers of TIEParser are defined beside the readers of
// their construct family (TypeSyntax, TemplateSyntax, RuleSyntax, FunctionSyntax, ValueSyntax).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "containers/CommonInterfaces.h"
#include "containers/GStreams.h"
#include "engine/model/IEConsts.h"
#include "engine/model/IEInterpretedFunction.h"
#include "engine/model/IEValue.h"
#include "platform/RefCounted.h"

namespace ie {

class IIEValue;
class IFunCall;
class IFact;
class IFactSlot;
class IFactTemplate;
class IIEDefinedType;
class IFuzzySet;
class IFuzzyParser;
class IFuzzyVariable;
class IUserFunction;
class IValueVector;
class ISingletonsParser;
class TIEContext;
class TFactSet;
class TFactTemplate;
class TIEDefinedType;
class TIEPattern;
class TInterpretedFunction;
class TRule;
class TValueHashTable;
struct TWrittenConstraint;
enum TSlotTestType : uint8_t;

// ---------------------------------------------------------------------------------------------
// Tokens

// Token kinds: a TIEType ordinal for value tokens (dtNone is the end of input), or the character
// code of a punctuation token.
inline constexpr int32_t tkEndOfInput = dtNone;
inline constexpr int32_t tkAmpersand = '&';
inline constexpr int32_t tkOpenParen = '(';
inline constexpr int32_t tkCloseParen = ')';
inline constexpr int32_t tkEquals = '=';
inline constexpr int32_t tkOpenBracket = '[';
inline constexpr int32_t tkCloseBracket = ']';
inline constexpr int32_t tkBar = '|';
inline constexpr int32_t tkTilde = '~';

// The text of the end-of-input token.
inline constexpr std::string_view EndOfInputText = "EOF";

class IStreamToken : public ICloneable {
public:
    virtual int32_t GetDataType() const = 0;
    virtual int32_t GetLineNumber() const = 0;
    virtual double GetNumber() const = 0;
    virtual const std::string& GetText() const = 0;
    // The display text: a string between \" and "\, a number in digits, a variable with its
    // "?" or "$?", a punctuation as its character.
    virtual std::string AsString() const = 0;
    // The token as an engine value, without looking variables up.
    virtual TRefPtr<IIEValue> ToValue() const = 0;
    // The same, but a variable gives the value bound to it in the context or its ancestors
    // ("Unknown variable name: %s" when unbound).
    virtual TRefPtr<IIEValue> ToValue(TIEContext* context) const = 0;
    virtual void SetDataType(int32_t value) = 0;
    virtual void SetLineNumber(int32_t value) = 0;
    virtual void SetNumber(double value) = 0;
    virtual void SetText(std::string value) = 0;
    // Takes kind and payload from a value (text kinds into Text, number kinds into Number).
    virtual void AssignValue(const IIEValue& value) = 0;
    virtual const std::string& GetWhiteSpace() const = 0;
    virtual void SetWhiteSpace(std::string value) = 0;
    // The token as it stood in the source (a string with its quotes and escapes, a number as
    // written); the display text for tokens made by hand.
    virtual std::string SourceText() const = 0;
    // True for a word written with its first character escaped: a symbol of its text, never a
    // keyword, a number, a variable or nil.
    virtual bool IsEscapedWord() const { return false; }
    // True for a punctuation token of the given character.
    bool Is(char punctuation) const {
        return GetDataType() == static_cast<unsigned char>(punctuation);
    }
    bool IsEndOfInput() const { return GetDataType() == tkEndOfInput; }
};

class TIEStreamToken final : public IStreamToken {
public:
    TIEStreamToken() = default;
    TIEStreamToken(int32_t dataType, int32_t lineNumber) noexcept
        : FDataType(dataType), FLineNumber(lineNumber) {}

    // ICloneable. AssignFrom copies kind, line, number, text and tag, never the white space.
    void AssignFrom(const IInterface* source) override;
    TRefPtr<ICloneable> Clone() const override;
    // Same kind, line and number; the text is not compared.
    bool Equals(const IInterface* other) const override;
    intptr_t GetTag() const override { return FTag; }
    void SetTag(intptr_t tag) override { FTag = tag; }

    // IStreamToken
    int32_t GetDataType() const override { return FDataType; }
    int32_t GetLineNumber() const override { return FLineNumber; }
    double GetNumber() const override { return FNumber; }
    const std::string& GetText() const override { return FText; }
    std::string AsString() const override;
    TRefPtr<IIEValue> ToValue() const override;
    TRefPtr<IIEValue> ToValue(TIEContext* context) const override;
    void SetDataType(int32_t value) override { FDataType = value; }
    void SetLineNumber(int32_t value) override { FLineNumber = value; }
    void SetNumber(double value) override { FNumber = value; }
    void SetText(std::string value) override {
        FText = std::move(value);
        FTextBlock = nullptr;
    }
    void AssignValue(const IIEValue& value) override;
    const std::string& GetWhiteSpace() const override { return FWhiteSpace; }
    void SetWhiteSpace(std::string value) override { FWhiteSpace = std::move(value); }
    std::string SourceText() const override;
    bool IsEscapedWord() const override {
        return FDataType == dtAtom && !FSource.empty() && FSource[0] == '\\';
    }

    // Copies kind, line, number, text and tag (not the white space, not the source text).
    void Assign(const IStreamToken& source);
    // The scanner records the source text only where it differs from the display text.
    void SetSourceText(std::string value) { FSource = std::move(value); }
    // A shared text block holding the token's text: the atom values made from the token share
    // it instead of each copying the text.
    void SetTextBlock(TRefPtr<TIEText> block) { FTextBlock = std::move(block); }
    // Makes the token as a newly made one of that kind and line, keeping the memory of its
    // texts, so that a scanner can hand it out again once nobody else holds it.
    void Reuse(int32_t dataType, int32_t lineNumber) noexcept {
        FDataType = dataType;
        FLineNumber = lineNumber;
        FNumber = 0.0;
        FText.clear();
        FTag = 0;
        FWhiteSpace.clear();
        FSource.clear();
        FTextBlock = nullptr;
        FForm = 0;
    }
    // Exchanges the white space with `text` (both keep their memory).
    void SwapWhiteSpace(std::string& text) noexcept { FWhiteSpace.swap(text); }
    // Where a scanner read the token: the number of the form (0 for a token made otherwise)
    // and the token's place in it, so that the scanner knows a token handed back to it without
    // holding every token it handed out. Copies and clones are made otherwise.
    void SetFormPlace(uint64_t form, uint32_t index) noexcept {
        FForm = form;
        FFormIndex = index;
    }
    uint64_t Form() const noexcept { return FForm; }
    uint32_t FormIndex() const noexcept { return FFormIndex; }

private:
    int32_t FDataType = tkEndOfInput;
    int32_t FLineNumber = 0;
    double FNumber = 0.0;
    std::string FText;
    intptr_t FTag = 0;
    std::string FWhiteSpace;
    std::string FSource;
    TRefPtr<TIEText> FTextBlock; // null, or FText's text
    uint64_t FForm = 0;
    uint32_t FFormIndex = 0;
};

using TStreamTokenRef = TRefPtr<IStreamToken>;

// ---------------------------------------------------------------------------------------------
// Token streams

// What a scanner needs of its engine: fresh names for anonymous variables. Without an engine
// the scanner counts on its own.
class ISymbolGenerator {
public:
    // Prefix followed by the engine's symbol counter in decimal; the counter then counts up.
    virtual std::string GenerateSymbol(std::string_view prefix) = 0;

protected:
    ~ISymbolGenerator() = default;
};

// A text stream that hands out tokens. It reads one top-level form ahead, takes any number of
// tokens back, and gives the text of the current form's tokens for error messages.
class TIETokenizerStream : public TGTextStream {
public:
    using TGTextStream::TGTextStream;

    // Drops the tokens still to be handed out and restarts the history.
    virtual void Reset() = 0;
    // Reads the rest of the current line; it joins the white space of the next token.
    virtual void SkipLine() = 0;
    // Reads tokens until the form being read is closed, or to the end of input: the parser's
    // recovery after an error.
    virtual void SkipToBalance() = 0;
    virtual TStreamTokenRef NextToken() = 0;
    // The next token for a reader that skips the rest of its line after it ("read"): read
    // without taking any text past that token, so that the lines after it stay to be read.
    virtual TStreamTokenRef NextLineToken() { return NextToken(); }
    // The token will be the next one handed out.
    virtual void PushBack(const TStreamTokenRef& token) = 0;
    // Called right after a "(" was pushed back: the keyword after it, without consuming it.
    virtual std::string PeekKeyword() = 0;
    // The last token handed out or pushed back (one is read when there is none yet).
    virtual TStreamTokenRef CurrentToken() = 0;
    // The tokens of the current form as they stood in the text, one blank after each, a line
    // break before a token on a later line.
    virtual std::string History() const = 0;
    virtual int32_t CurrentLine() const = 0;

    ISymbolGenerator* Engine() const { return FEngine; }
    void SetEngine(ISymbolGenerator* engine) { FEngine = engine; }

private:
    ISymbolGenerator* FEngine = nullptr;
};

// ---------------------------------------------------------------------------------------------
// The parser

// What one top-level form of rule-language text produced.
enum TParsedType : uint8_t {
    ptNone,
    ptValue,
    ptFunCall,
    ptRule,
    ptFactSet,
    ptFactTemplate,
    ptFunction,
    ptGlobal,
    ptDefinedType,
    ptEndOfInput,
};

// A parse error decorated with its line and the tokens read; a collected report keeps every
// decorated line in Errors.
class EIEParseException : public EIEException {
public:
    explicit EIEParseException(const std::string& message, int32_t lineNumber = 0)
        : EIEException(message), FLineNumber(lineNumber) {}

    int32_t LineNumber() const { return FLineNumber; }
    void SetLineNumber(int32_t value) { FLineNumber = value; }
    // True once the message carries the parser's decoration (routine, line, tokens read);
    // the scanner's own errors arrive without it.
    bool Decorated() const { return FDecorated; }
    void SetDecorated(bool value) { FDecorated = value; }
    const std::vector<std::string>& Errors() const { return FErrors; }
    std::vector<std::string>& Errors() { return FErrors; }

private:
    int32_t FLineNumber;
    bool FDecorated = false;
    std::vector<std::string> FErrors;
};

// Raises a message of the table as an EIEParseException (no line decoration).
template <class... Args> [[noreturn]] void RaiseParse(TIEMessageId id, const Args&... args) {
    throw EIEParseException(Format(IEMessage(id), args...));
}

class TIEParser;

// Where the readers of the rule language put the constructs they read, and what they look up
// on the way. The engine implements it; a reader without one refuses constructs.
class IConstructSink {
public:
    // New constructs owned by (and for rules and fact sets, joined to) the receiving engine.
    virtual TRefPtr<TFactTemplate> NewFactTemplate(std::string_view name) = 0;
    virtual TRefPtr<TIEDefinedType> NewDefinedType() = 0;
    virtual TFactSet* NewFactSet(std::string_view name) = 0;
    virtual void AttachFactSet(TFactSet& factSet) = 0;
    virtual TRule* NewRule() = 0;

    virtual TRefPtr<IFactTemplate> FindFactTemplate(std::string_view name) = 0;
    // The template of that name; an absent one is created as an implied template.
    virtual TRefPtr<IFactTemplate> ImpliedTemplate(std::string_view name) = 0;
    virtual TRefPtr<IIEDefinedType> FindDefinedType(std::string_view name) = 0;
    virtual TRule* FindRule(std::string_view name) = 0;

    // The tables: false when the rule table kept an existing rule instead of this one.
    virtual bool PutRule(std::string_view name, TRule* rule) = 0;
    virtual void PutFactTemplate(const TRefPtr<IFactTemplate>& factTemplate) = 0;
    virtual void PutUserFunction(const TRefPtr<IUserFunction>& function) = 0;
    virtual void PutDefinedType(const TRefPtr<IIEDefinedType>& type) = 0;
    virtual void PutGlobal(std::string_view name, const TRefPtr<IIEValue>& value) = 0;
    virtual void AssertFact(const TRefPtr<IFact>& fact) = 0;

    // What renders the fuzzy sets the readers evaluate.
    virtual IFuzzyParser* FuzzyParser() = 0;

protected:
    ~IConstructSink() = default;
};

// What the parser needs of the engine that owns it. The engine implements it; the construct
// readers add what they hand over as they come.
class IParserEngine : public ISymbolGenerator {
public:
    // The context in which top-level values are looked up and calls evaluated.
    virtual TIEContext* RootContext() = 0;
    // A new call of the named function for this engine (a TFunctionCall with the engine as
    // its reasoner), with no arguments yet.
    virtual TRefPtr<IFunCall> CreateFunCall(std::string_view name) = 0;
    // Output by name; the empty name is the trace output "t".
    virtual void PrintOut(const std::string& name, const std::string& text) = 0;
    // What renders the fuzzy point lists read (the engine); none leaves their plain text.
    virtual ISingletonsParser* SingletonsParser() { return nullptr; }
    // Where constructs go; none makes the readers refuse them.
    virtual IConstructSink* ConstructSink() { return nullptr; }

protected:
    ~IParserEngine() = default;
};

using TParseEvent = std::function<void(TIEParser* Sender, TParsedType ParsedType, void* AObject,
                                       IInterface* AInterface)>;
using TParseFunCallEvent = std::function<void(TIEParser* Sender, IFunCall* FunCall)>;
using TParseFactEvent = std::function<void(TIEParser* Sender, IFact* Fact)>;
using TParseFactSetEvent = std::function<void(TIEParser* Sender, TFactSet* FactSet)>;
using TParseFactTemplateEvent = std::function<void(TIEParser* Sender, IFactTemplate* FactTemplate)>;
using TParseFunctionEvent = std::function<void(TIEParser* Sender, IUserFunction* AFunction)>;
using TParsePatternEvent = std::function<void(TIEParser* Sender, TIEPattern* Pattern)>;
using TParseRuleEvent = std::function<void(TIEParser* Sender, TRule* Rule)>;
using TParseDefinedTypeEvent = std::function<void(TIEParser* Sender, IIEDefinedType* DefinedType)>;
using TParseFuzzySetEvent = std::function<void(TIEParser* Sender, IFuzzySet* FuzzySet)>;
using TParseFuzzyVariableEvent =
    std::function<void(TIEParser* Sender, IFuzzyVariable* FuzzyVariable)>;
using TParseVariableEvent =
    std::function<void(TIEParser* Sender, const std::string& VarName, IIEValue* Value)>;

// The abstract reader and writer of rule-language text. The engine owns one, created with no
// stream; for each text it sets a stream, parses, and frees the stream. Nothing but the settings
// survives between top-level forms: everything else lives in the stream.
class TIEParser {
public:
    TIEParser(IParserEngine* engine, TIETokenizerStream* stream);
    TIEParser(const TIEParser&) = delete;
    TIEParser& operator=(const TIEParser&) = delete;
    virtual ~TIEParser() = default;

    // Copies stream and settings (not the engine, not the events).
    virtual void Assign(const TIEParser& source);
    // Replaces the stream reference; the parser never owns its stream.
    virtual void SetStream(TIETokenizerStream* stream);
    virtual void Reset();
    // The engine's symbol generator: Prefix and the counter.
    virtual std::string GenerateName(std::string_view prefix);

    // Parses the whole stream: every value and call read is echoed to "t", calls are evaluated
    // when Execute, constructs go to the engine. Errors are raised or collected by
    // ErrorHandling. Returns true.
    virtual bool Parse(bool execute) = 0;
    // Parses and processes one top-level form; false at the end of input.
    virtual bool ParseNext(bool execute) = 0;
    // One value or a multifield, up to a ")" that stays unread.
    virtual TRefPtr<IIEValue> ParseValue() = 0;
    // Values up to a ")" that stays unread, as a multifield value.
    virtual TRefPtr<IIEValue> ParseList() = 0;
    // "(" slot-name values ")" as a two-element multifield value.
    virtual TRefPtr<IIEValue> ParseValuePair() = 0;
    virtual TRefPtr<IFunCall> ParseFunCall() = 0;
    // Parses one call and evaluates it in the engine's root context.
    virtual TRefPtr<IIEValue> EvaluateFunCall() = 0;

    // Reading for the engine's services. A parser without a construct layer refuses them
    // ("Unable to parse strings of %s at this time").
    // One fact, not yet asserted, its calls unevaluated.
    virtual TRefPtr<IFact> ParseFact();
    // One slot definition, a new slot of `owner` not yet entered in its table.
    virtual TRefPtr<IFactSlot> ParseFactTemplateSlot(TFactTemplate* owner);
    // Reads facts to the end of input and asserts each; false without an inference engine.
    virtual bool ParseFacts();

    // Writers: every construct as rule-language text (CR LF line ends, four-blank indentation)
    // that the reader reads back to an equal construct.
    virtual std::string FormatFactSet(const TFactSet& factSet);
    // Through the one fact writer (WriteFact of engine/model/IEFacts): a subclass's fact is
    // written slot by slot through FormatFactSlotValue (fact, slot name, value), so that it may
    // override it; the project's own parser writes its slots in place.
    virtual std::string FormatFact(const IFact& fact);
    virtual std::string FormatFactSlotValue(const IFact& fact, std::string_view slotName);
    virtual std::string FormatFactSlotValue(const IFact& fact, std::string_view slotName,
                                            const IIEValue* value);
    virtual std::string FormatFactSlotValueText(const IFact& fact, std::string_view slotName,
                                                std::string_view valueText);
    virtual std::string FormatFactSlot(const IFactSlot& slot);
    virtual std::string FormatFactTemplate(const IFactTemplate& factTemplate);
    virtual std::string FormatFunCall(const IFunCall& call);
    virtual std::string FormatFuzzySet(const IFuzzySet& set, bool asTerm);
    virtual std::string FormatFuzzyVariable(const IFuzzyVariable& variable);
    virtual std::string FormatRule(const TRule& rule);
    // Side 0 the conditions, 1 the actions.
    virtual std::string FormatRuleSide(const TRule& rule, int32_t side);
    virtual std::string FormatPattern(const TIEPattern& pattern);
    virtual std::string FormatGlobal(std::string_view name, const IIEValue* value);
    virtual std::string FormatGlobals(const TValueHashTable& variables);
    virtual std::string FormatValuePairs(const IValueVector& pairs);
    virtual std::string FormatFunction(const IUserFunction& function, std::string_view signature);
    virtual std::string FormatDeffunction(const TInterpretedFunction& function);
    virtual std::string FormatDefinedType(const IIEDefinedType& type);
    // A value as it stands in a written construct: strings quoted and escaped, calls and facts
    // through the writers above, and a float that "%.4f" would change with as many digits as
    // it needs to read back equal.
    virtual std::string FormatValue(const IIEValue* value);
    // A value held by a fact: a multifield is each element's text followed by one blank, so
    // that (b 1) lists as "(b 1 )"; any other value as FormatValue.
    std::string FactValueText(const IIEValue* value);
    // "(" name, a blank and the trimmed argument string when there is one, ")".
    static std::string FunctionSignature(const IUserFunction& function);

    IParserEngine* Engine() const { return FEngine; }
    TIETokenizerStream* Stream() const { return FStream; }

    bool TemplatesMustExist = false;
    bool StaticTypeCheck = true;
    // Facts read while set keep a dynamic default unevaluated in every slot they leave out (the
    // facts of a fact set, whose defaults are evaluated at each reset).
    bool DeferDynamicDefaults = false;
    TErrorHandling ErrorHandling = ehRaiseImmediate;
    int32_t MaxErrors = 10;

    TParseEvent OnParse;
    TParseFactEvent OnParseFact;
    TParseFactSetEvent OnParseFactSet;
    TParseFactTemplateEvent OnParseFactTemplate;
    TParseFunctionEvent OnParseFunction;
    TParseFunCallEvent OnParseFunCall;
    TParseVariableEvent OnParseVariable;
    TParsePatternEvent OnParsePattern;
    TParseRuleEvent OnParseRule;
    TParseDefinedTypeEvent OnParseDefinedType;
    TParseFuzzySetEvent OnParseFuzzySet;
    TParseFuzzyVariableEvent OnParseFuzzyVariable;

protected:
    IParserEngine* FEngine;
    TIETokenizerStream* FStream = nullptr;

private:
    // One test of a slot as the writer sees it.
    struct TConstraintItem {
        TSlotTestType Type;
        const IIEValue* Value;
        bool Conjunction;
        int32_t Sub;
        const std::vector<TWrittenConstraint>* Written;
    };
    // The constraints of one slot, or (writtenRun) one "|" run joined by its own connectives.
    std::string FormatConstraints(const std::vector<TConstraintItem>& items, bool writtenRun);
    // FormatFactSlotValue with the declared slot already found (null: none): the value's text,
    // empty when it is left out, or (`whole` set) the whole slot's text.
    std::string SlotValueText(const IFactSlot* slot, std::string_view slotName,
                              const IIEValue* value, bool& whole);

    int64_t FOwnSymbolCounter = 0;
};

// Sets a parser's DeferDynamicDefaults for its lifetime.
class TDeferDynamicDefaults {
public:
    explicit TDeferDynamicDefaults(TIEParser& parser)
        : FParser(parser), FOld(parser.DeferDynamicDefaults) {
        parser.DeferDynamicDefaults = true;
    }
    ~TDeferDynamicDefaults() { FParser.DeferDynamicDefaults = FOld; }
    TDeferDynamicDefaults(const TDeferDynamicDefaults&) = delete;
    TDeferDynamicDefaults& operator=(const TDeferDynamicDefaults&) = delete;

private:
    TIEParser& FParser;
    bool FOld;
};

// The parser reads from `stream` for the guard's lifetime and gets its former stream back
// however the reading ends.
class TParserStreamScope {
public:
    TParserStreamScope(TIEParser& parser, TIETokenizerStream* stream)
        : FParser(parser), FFormer(parser.Stream()) {
        parser.SetStream(stream);
    }
    ~TParserStreamScope() { FParser.SetStream(FFormer); }
    TParserStreamScope(const TParserStreamScope&) = delete;
    TParserStreamScope& operator=(const TParserStreamScope&) = delete;

private:
    TIEParser& FParser;
    TIETokenizerStream* FFormer;
};

// Number texts for written constructs: a float in "%.4f" unless that would change it, then in
// the fewest digits that read back to the same number (always with a "." or an exponent, so it
// reads back as a float).
std::string ExactFloatText(double value);
// A range bound: the integer digits for a whole number, otherwise the exact float text.
std::string ExactNumberText(double value);
// A character that simply continues a word: not blank, not a token start, not an escape.
bool IsPlainWordChar(char ch);
// A text as one token that reads back to it: as it is when it is a plain word, otherwise
// quoted with its quotes and backslashes escaped.
std::string WordOrQuoted(std::string_view text);
// A symbol's text as a word that the scanner reads back to the same symbol: blanks, control
// characters, backslashes and the characters that end a word are each preceded by a backslash,
// and so is the first character of a text that would otherwise begin another token or read as
// a number, a variable, nil or the predicate mark ":". False only for the empty text (the empty
// symbol, written nil).
bool SymbolWord(std::string_view text, std::string& word);

} // namespace ie
