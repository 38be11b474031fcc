// The engine's reader: each entry point runs one reading of a text with the engine's parser
// over a scanner on that text. The engine's overridable hooks (ParseFact, ParseValue,
// ExecuteCommand, Clear, Reset) are called through the engine, so a host's engine that
// overrides one is used here too.
//
// Invariant: the shared scanner is bound to a text only while its reading runs, and the parser
// has its former stream back after every reading.
#include "engine/EngineReader.h"

#include "engine/InferenceEngine.h"
#include "engine/lang/IEClipsParser.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEValue.h"
#include "platform/Restore.h"
#include "platform/Streams.h"

namespace ie {

namespace {
TIEClipsParser& ClipsParser(TIEParser& parser, std::string_view what) {
    auto* clips = dynamic_cast<TIEClipsParser*>(&parser);
    if (!clips) RaiseIE(imUnableToParseStrings, what);
    return *clips;
}
} // namespace

TEngineReader::TEngineReader(TInferenceEngine& engine) noexcept : FEngine(engine) {}

TEngineReader::~TEngineReader() = default;

template <class F> auto TEngineReader::ReadFrom(std::string_view text, F&& read) {
    // The parser reads the text through a stream of its own and gets its former stream back,
    // however the reading ends.
    TStringStream source(text);
    std::unique_ptr<TIETokenizerStream> own;
    TIEClipsStream* shared = nullptr;
    TIETokenizerStream* stream;
    if (FEngine.FDefaultStreamFactory && !FReadStreamBusy) {
        if (!FReadStream) {
            FReadStream = std::make_unique<TIEClipsStream>(nullptr);
            FReadStream->SetEngine(&FEngine);
        }
        shared = FReadStream.get();
        shared->Rebind(&source);
        FReadStreamBusy = true;
        stream = shared;
    } else {
        own = FEngine.CreateStream(&source);
        stream = own.get();
    }
    const TOnExit release([this, shared] {
        if (!shared) return;
        shared->Rebind(nullptr); // the source dies with this reading
        FReadStreamBusy = false;
    });
    TIEParser& parser = *FEngine.Parser();
    const TParserStreamScope reading(parser, stream);
    return read(parser);
}

TRefPtr<IFact> TEngineReader::ParseFact(std::string_view text) {
    TRefPtr<IFact> fact = ReadFrom(text, [](TIEParser& p) { return p.ParseFact(); });
    if (!fact) return fact;
    // The slot expressions are evaluated in the root context, also inside a multifield.
    if (auto* f = dynamic_cast<TFact*>(fact.get())) EvaluateSlotCalls(*f, FEngine.RootContext());
    return fact;
}

TRefPtr<IFact> TEngineReader::ParseFactSetFact(std::string_view text) {
    return ReadFrom(text, [](TIEParser& p) {
        TDeferDynamicDefaults deferred(p);
        return p.ParseFact();
    });
}

TRefPtr<IFactSlot> TEngineReader::ParseFactSlot(std::string_view text, TFactTemplate& owner) {
    return ReadFrom(text, [&owner](TIEParser& p) { return p.ParseFactTemplateSlot(&owner); });
}

TRefPtr<IIEValue> TEngineReader::ParseValue(std::string_view text) {
    return ReadFrom(text, [](TIEParser& p) { return p.ParseValue(); });
}

TRefPtr<IIEValue> TEngineReader::ParseValueOfType(std::string_view text, TIEType type) {
    switch (type) {
    case dtNone:
        return TIEValue::Create();
    case dtAtom:
        return TIEValue::CreateText(dtAtom, text);
    case dtString: {
        size_t first = 0, last = text.size();
        while (first < last && text[first] == '"')
            ++first;
        while (last > first && text[last - 1] == '"')
            --last;
        return TIEValue::CreateText(dtString, text.substr(first, last - first));
    }
    case dtInteger:
    case dtFactId:
        return TIEValue::CreateInteger(type, StrToInt(text));
    case dtFloat:
        return TIEValue::CreateFloat(StrToFloat(text));
    case dtVariable:
    case dtMultiVariable:
    case dtSlot:
    case dtMultiSlot:
        return TIEValue::CreateText(type, text);
    case dtFunCall:
        return TIEValue::CreateFunCall(ParseFunCall(text));
    case dtFact:
        return TIEValue::CreateFact(FEngine.ParseFact(text));
    case dtList: {
        TRefPtr<IIEValue> value = FEngine.ParseValue(text);
        return value ? value : IEEmptyList();
    }
    default:
        break;
    }
    if (static_cast<int>(type) >= IETypeCount)
        throw EIEException("Unknown Type (" + std::to_string(static_cast<int>(type)) + ")");
    RaiseIE(imUnableToParseStrings, IETypeName(type));
}

TRefPtr<IIEDefinedType> TEngineReader::ParseDefinedType(std::string_view text) {
    return ReadFrom(text,
                    [](TIEParser& p) { return ClipsParser(p, "deftype").ParseDefinedType(); });
}

TRefPtr<IFactTemplate> TEngineReader::ParseFactTemplate(std::string_view text) {
    return ReadFrom(text,
                    [](TIEParser& p) { return ClipsParser(p, "deftemplate").ParseFactTemplate(); });
}

TRule* TEngineReader::ParseRule(std::string_view text) {
    return ReadFrom(text, [](TIEParser& p) { return ClipsParser(p, "defrule").ParseRule(); });
}

TRefPtr<IUserFunction> TEngineReader::ParseFunction(std::string_view text) {
    return ReadFrom(text,
                    [](TIEParser& p) { return ClipsParser(p, "deffunction").ParseFunction(); });
}

TFactSet* TEngineReader::ParseFactSet(std::string_view text) {
    return ReadFrom(text, [](TIEParser& p) { return ClipsParser(p, "deffacts").ParseFactSet(); });
}

TRefPtr<IFunCall> TEngineReader::ParseFunCall(std::string_view text) {
    return ReadFrom(text, [](TIEParser& p) { return p.ParseFunCall(); });
}

TRefPtr<IIEValue> TEngineReader::EvaluateFunCall(std::string_view text) {
    return ReadFrom(text, [](TIEParser& p) { return p.EvaluateFunCall(); });
}

TRefPtr<IIEValue> TEngineReader::ParseList(std::string_view text) {
    return ReadFrom(text, [](TIEParser& p) { return p.ParseList(); });
}

TRefPtr<IFuzzySet> TEngineReader::ParseFuzzySet(IFuzzyVariable* variable, std::string_view text) {
    if (!variable) RaiseIE(imFuzzyVariableNotDefined);
    return ReadFrom(text, [variable](TIEParser& p) {
        return ClipsParser(p, "deffuzzyset").ParseFuzzySet(*variable);
    });
}

TRefPtr<IFuzzyVariable> TEngineReader::ParseFuzzyVariable(std::string_view text) {
    return ReadFrom(
        text, [](TIEParser& p) { return ClipsParser(p, "deffuzzyvariable").ParseFuzzyVariable(); });
}

void TEngineReader::ParseGlobal(std::string_view text, std::string& name,
                                TRefPtr<IIEValue>& value) {
    ReadFrom(text, [&](TIEParser& p) {
        ClipsParser(p, "defglobal").ParseVariable(name, value);
        return true;
    });
}

void TEngineReader::ExecuteCommand(std::string_view text, bool execute) {
    TStringStream source(text);
    std::unique_ptr<TIETokenizerStream> stream = FEngine.CreateStream(&source);
    TIEParser& parser = *FEngine.Parser();
    const TParserStreamScope reading(parser, stream.get());
    parser.Parse(execute);
}

void TEngineReader::SetText(std::string_view text) {
    TStringStream source(text);
    std::unique_ptr<TIETokenizerStream> stream = FEngine.CreateStream(&source);
    TIEParser& parser = *FEngine.Parser();
    const TParserStreamScope reading(parser, stream.get());
    FEngine.Clear();
    parser.Parse(true);
    FEngine.Reset();
}

void TEngineReader::ExecuteLines(const std::vector<TExecuteLine>& lines) {
    TIEParser* parser = FEngine.Parser();
    if (!parser) return;
    TRestore<TErrorHandling> restore(parser->ErrorHandling, ehRaiseImmediate);
    for (const auto& line : lines) {
        try {
            if (line.IsFact)
                FEngine.WorkingMemory().Assert(FEngine.ParseFact(line.Text), false);
            else
                FEngine.ExecuteCommand(line.Text, true);
        } catch (const EException&) {
            // A line that no longer reads is dropped; the others still run.
        }
    }
}

} // namespace ie
