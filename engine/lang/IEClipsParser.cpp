// The frame of the rule-language reader: the top-level loop (Parse, ParseNext), what a form
// starts (GetConstructType), handing a construct to the engine (ReadConstruct), the decorated
// errors, the nesting limit and the slot-function table. The readers of each construct family
// sit beside its writers in TypeSyntax, TemplateSyntax, RuleSyntax, FunctionSyntax and
// ValueSyntax.
//
// Invariant: every error leaves through ParseError, decorated with the routine, the line and the
// form's tokens; when errors are collected, a failed form is skipped to its balance before the
// next one is read, and a construct the engine refuses is not left behind half registered.
#include "engine/lang/IEClipsParser.h"

#include "engine/match/IERule.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"
#include "platform/Restore.h"

namespace ie {

namespace {

constexpr int32_t ParserHistoryLimit = 255;
constexpr int32_t ParserHistoryKeep = 128;

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// The history as an error message shows it: a long one keeps its beginning and its end.
std::string ShortHistory(std::string history) {
    if (history.size() <= static_cast<size_t>(ParserHistoryLimit)) return history;
    std::string text = history.substr(0, ParserHistoryKeep);
    text += "... ";
    text += IELineEnd;
    text.append(history, history.size() - ParserHistoryKeep, ParserHistoryKeep);
    return text;
}

} // namespace

TIEClipsParser::TNesting::TNesting(TIEClipsParser& parser, std::string_view routineName)
    : FParser(parser) {
    if (++FParser.FNesting > MaxNesting) {
        --FParser.FNesting;
        FParser.ParseError(routineName, imSyntaxError, "forms nested too deeply");
    }
}

TIEClipsParser::TIEClipsParser(IParserEngine* engine, TIETokenizerStream* stream)
    : TIEParser(engine, nullptr), FSlotFunctions{{"assert", 0, 65535},
                                                 {"fuzzy-assert", 0, 65535},
                                                 {"fuzzy-assert-unconditional", 0, 65535},
                                                 {"modify", 1, 65535},
                                                 {"duplicate", 1, 65535}} {
    if (stream) SetStream(stream);
}

void TIEClipsParser::Assign(const TIEParser& source) {
    if (auto* clips = dynamic_cast<const TIEClipsParser*>(&source))
        FSlotFunctions = clips->FSlotFunctions;
    TIEParser::Assign(source);
}

void TIEClipsParser::SetSlotFunctions(std::vector<TSlotFunction> functions) {
    FSlotFunctions = std::move(functions);
}

const TSlotFunction* TIEClipsParser::FindSlotFunction(std::string_view name) const {
    for (const TSlotFunction& f : FSlotFunctions)
        if (SameTextIgnoringCase(f.Name, name)) return &f;
    return nullptr;
}

TSlotFunction& TIEClipsParser::SlotFunctionEntry(std::string_view name) {
    for (TSlotFunction& f : FSlotFunctions)
        if (SameTextIgnoringCase(f.Name, name)) return f;
    FSlotFunctions.push_back({std::string(name), 0, 65535});
    return FSlotFunctions.back();
}

void TIEClipsParser::SetSlotFunctionLow(std::string_view name, uint16_t low) {
    TSlotFunction& f = SlotFunctionEntry(name);
    f.Low = low;
    if (f.High < low) f.High = low;
}

void TIEClipsParser::SetSlotFunctionHigh(std::string_view name, uint16_t high) {
    TSlotFunction& f = SlotFunctionEntry(name);
    f.High = high == 0 ? 1 : high;
    if (f.Low > f.High) f.Low = f.High;
}

TIETokenizerStream& TIEClipsParser::In() {
    if (!FStream) RaiseParse(imUnexpectedEndOfStream);
    return *FStream;
}

TIEContext* TIEClipsParser::RootContext() const {
    return FEngine ? FEngine->RootContext() : nullptr;
}

bool TIEClipsParser::IsPlainValue(const IStreamToken& token) {
    switch (token.GetDataType()) {
    case dtAtom:
    case dtString:
    case dtInteger:
    case dtVariable:
    case dtFloat:
    case dtMultiVariable:
        return true;
    default:
        return false;
    }
}

void TIEClipsParser::ParseError(std::string_view routineName, std::string_view message,
                                int32_t line) {
    if (line <= 0) line = In().CurrentToken()->GetLineNumber();
    EIEParseException e(Format(IEMessage(imParsingError), message, routineName, IntToStr(line),
                               ShortHistory(In().History())),
                        line);
    e.SetDecorated(true);
    throw e;
}

TParsedType TIEClipsParser::GetConstructType(const TStreamTokenRef& token) {
    switch (token->GetDataType()) {
    case dtAtom:
    case dtInteger:
    case dtVariable:
    case dtFloat:
    case dtMultiVariable:
        return ptValue;
    case dtNone:
        if (token->GetText() == EndOfInputText) return ptEndOfInput;
        break;
    case tkOpenParen: {
        PushBack(token);
        const std::string keyword = In().PeekKeyword();
        if (keyword == "defrule") return ptRule;
        if (keyword == "deffacts") return ptFactSet;
        if (keyword == "deftemplate") return ptFactTemplate;
        if (keyword == "deffunction") return ptFunction;
        if (keyword == "defglobal") return ptGlobal;
        if (keyword == "deftype") return ptDefinedType;
        if (keyword == EndOfInputText) return ptEndOfInput;
        return ptFunCall;
    }
    default:
        break;
    }
    ParseError("GetConstructType", imUnexpectedSymbol, token->AsString());
}

TStreamTokenRef TIEClipsParser::ParseConstructHeader(std::string& name, std::string& comment,
                                                     TIEMessageId errorMessage,
                                                     std::string_view routineName,
                                                     std::string_view keyword, bool withComment) {
    TStreamTokenRef token = Next();
    if (!token->Is('(')) ParseError(routineName, errorMessage);
    token = Next();
    if (token->GetDataType() != dtAtom || token->GetText() != keyword)
        ParseError(routineName, errorMessage);
    token = Next();
    if (token->GetDataType() != dtAtom) ParseError(routineName, imMissingName);
    name = token->GetText();
    token = Next();
    if (withComment && token->GetDataType() == dtString) {
        comment = token->GetText();
        token = Next();
    }
    return token;
}

TRefPtr<IIEValue> TIEClipsParser::ReadConstruct(TParsedType kind, void*& object,
                                                TRefPtr<IInterface>& interface) {
    IConstructSink* engine = Sink();
    if (!engine) {
        // Constructs need an inference engine to receive them: refuse the form as a whole
        // (reading its "(" first, so that recovery skips all of it).
        Next();
        const std::string keyword = Next()->GetText();
        ParseError("ParseNext", imUnableToParseStrings, keyword);
    }
    switch (kind) {
    case ptRule: {
        TRule* rule = ParseRule();
        const std::string name = rule->RuleName();
        bool added = false;
        {
            // A rule the network refuses is not left behind half registered.
            const TOnFailure freeRefused([engine, &name, rule] {
                if (engine->FindRule(name) != rule) rule->Free();
            });
            added = engine->PutRule(name, rule);
        }
        if (!added) {
            rule->Free();
            rule = nullptr;
        }
        object = rule;
        break;
    }
    case ptFactSet:
        object = ParseFactSet();
        break;
    case ptFactTemplate: {
        TRefPtr<IFactTemplate> t = ParseFactTemplate();
        engine->PutFactTemplate(t);
        interface = t;
        break;
    }
    case ptFunction: {
        TRefPtr<IUserFunction> f = ParseFunction();
        engine->PutUserFunction(f);
        interface = f;
        break;
    }
    case ptGlobal:
        ParseGlobalVariables();
        break;
    case ptDefinedType: {
        TRefPtr<IIEDefinedType> t = ParseDefinedType();
        engine->PutDefinedType(t);
        interface = t;
        break;
    }
    default:
        break;
    }
    return IEEmptyAtom();
}

bool TIEClipsParser::ParseNext(bool execute) {
    if (!FStream) {
        // No text at all reads like an empty one.
        if (OnParse) OnParse(this, ptEndOfInput, nullptr, nullptr);
        return false;
    }
    TRefPtr<IIEValue> value = IEEmptyAtom();
    TParsedType kind = ptNone;
    void* object = nullptr;
    TRefPtr<IInterface> interface;
    try {
        TStreamTokenRef token = Next();
        kind = GetConstructType(token);
        switch (kind) {
        case ptValue:
            value = token->ToValue(RootContext());
            break;
        case ptFunCall:
            if (execute) {
                value = EvaluateFunCall();
            } else {
                value = TIEValue::CreateFunCall(ParseFunCall());
            }
            break;
        case ptEndOfInput:
            value = IEEOFAtom();
            break;
        default:
            value = ReadConstruct(kind, object, interface);
            break;
        }
    } catch (const EIEParseException& e) {
        // The scanner's own errors (an unterminated string) get the line and the tokens too.
        if (e.Decorated()) throw;
        ParseError("ReadToken", e.what(), e.LineNumber());
    }

    TParsedType reported = kind;
    if (!value || value->Equals(IEEmptyAtom().get())) reported = ptNone;
    if ((reported == ptValue || reported == ptFunCall) && FEngine)
        FEngine->PrintOut("", value->GetText() + std::string(IELineEnd));
    if (OnParse) OnParse(this, reported, object, interface.get());
    return !(value && value->Equals(IEEOFAtom().get()));
}

bool TIEClipsParser::Parse(bool execute) {
    if (ErrorHandling == ehRaiseImmediate) {
        while (ParseNext(execute)) {
        }
        return true;
    }

    if (!FStream) {
        ParseNext(execute);
        return true;
    }
    std::vector<std::string> errors;
    int32_t firstLine = 0;
    // Records one failure; true when collecting must stop.
    auto record = [&](std::string message, int32_t line) {
        if (errors.empty()) firstLine = line;
        errors.push_back(std::move(message));
        return static_cast<int64_t>(errors.size()) > MaxErrors;
    };
    auto recordOther = [&](const std::exception& e) {
        const int32_t line = In().CurrentToken()->GetLineNumber();
        return record(Format(IEMessage(imParsingError), e.what(), "Parse", IntToStr(line),
                             ShortHistory(In().History())),
                      line);
    };
    for (;;) {
        bool stop = false;
        try {
            if (!ParseNext(execute)) break;
            continue;
        } catch (const EIEParseException& e) {
            stop = record(e.what(), e.LineNumber());
        } catch (const std::exception& e) {
            stop = recordOther(e);
        }
        if (stop) break;
        // Skip the rest of the failed form. Skipping can meet an error of its own (a string
        // left open); it ends the text and is reported like the others.
        try {
            In().SkipToBalance();
        } catch (const EIEParseException& e) {
            if (record(e.what(), e.LineNumber())) break;
        }
    }
    if (errors.empty()) return true;

    std::string text;
    for (const std::string& line : errors) {
        text += line;
        text += IELineEnd;
    }
    EIEParseException e(errors.size() == 1 ? text : Format(IEMessage(imErrorsParsingStream), text),
                        firstLine);
    e.SetDecorated(true);
    e.Errors() = std::move(errors);
    throw e;
}

IConstructSink* TIEClipsParser::Sink() const {
    return FEngine ? FEngine->ConstructSink() : nullptr;
}

IConstructSink& TIEClipsParser::ConstructSink(std::string_view routineName) {
    IConstructSink* engine = Sink();
    if (!engine) ParseError(routineName, imUnknownEngine);
    return *engine;
}

void TIEClipsParser::ExpectClose(std::string_view routineName) {
    if (!Next()->Is(')')) ParseError(routineName, imExpectedCloseParen);
}

void TIEClipsParser::ExpectOpen(std::string_view routineName) {
    if (!Next()->Is('(')) ParseError(routineName, imExpectedOpenParen);
}

TRefPtr<IIEValue> TIEClipsParser::EvaluateNow(const TRefPtr<IIEValue>& value) {
    if (!value) return value;
    std::unique_ptr<TIEContext> context;
    TIEContext* root = RootContext();
    if (root) context = root->CreateChild();
    return value->Evaluate(context ? context.get() : nullptr);
}

} // namespace ie
