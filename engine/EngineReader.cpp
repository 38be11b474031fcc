// The engine's reader: each entry point runs one reading of a text with the engine's parser
// over a scanner on that text. The engine's overridable hooks (ParseFact, ParseValue,
// ExecuteCommand, Clear, Reset) are called through the engine, so a host's engine that
// overrides one is used here too.
//
// Invariant: the shared scanner is bound to a text only while its reading runs, and the parser
// has its former stream back after every reading.
#include "engine/EngineReader.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <typeinfo>

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

// A read-only stream over a text the caller keeps alive while the stream is read: a reading
// of a short text need not copy it onto the heap first.
class TTextViewStream final : public TStream {
public:
    explicit TTextViewStream(std::string_view text) noexcept : FText(text) {}
    std::string_view ClassName() const override { return "TTextViewStream"; }

    int64_t Read(void* buffer, int64_t count) override {
        const auto size = static_cast<int64_t>(FText.size());
        if (count <= 0 || FPosition >= size) return 0;
        const int64_t n = std::min(count, size - FPosition);
        std::memcpy(buffer, FText.data() + FPosition, static_cast<size_t>(n));
        FPosition += n;
        return n;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, int32_t origin) override {
        FPosition = SeekTarget(offset, origin, FPosition, static_cast<int64_t>(FText.size()));
        return FPosition;
    }
    int64_t Size() override { return static_cast<int64_t>(FText.size()); }

private:
    std::string_view FText;
    int64_t FPosition = 0;
};

} // namespace

TEngineReader::TEngineReader(TInferenceEngine& engine) noexcept : FEngine(engine) {}

TEngineReader::~TEngineReader() = default;

template <class F> auto TEngineReader::ReadFrom(std::string_view text, F&& read) {
    // The parser reads the text through a stream of its own and gets its former stream back,
    // however the reading ends. The engine's own scanner only reads and seeks its source, so it
    // reads the caller's text in place; a host's stream gets a copy of the text it may keep.
    TTextViewStream view(text);
    std::optional<TStringStream> copy;
    TStream* source = &view;
    if (!FEngine.FDefaultStreamFactory) source = &copy.emplace(text);
    std::unique_ptr<TIETokenizerStream> own;
    TIEClipsStream* shared = nullptr;
    TIETokenizerStream* stream;
    if (FEngine.FDefaultStreamFactory && !FReadStreamBusy) {
        if (!FReadStream) {
            FReadStream = std::make_unique<TIEClipsStream>(nullptr);
            FReadStream->SetEngine(&FEngine);
        }
        shared = FReadStream.get();
        shared->Rebind(source);
        FReadStreamBusy = true;
        stream = shared;
    } else {
        own = FEngine.CreateStream(source);
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
    // Nearly every fact is a plain TFact: its exact type is checked before the general cast.
    IFact* read = fact.get();
    auto* f =
        typeid(*read) == typeid(TFact) ? static_cast<TFact*>(read) : dynamic_cast<TFact*>(read);
    if (f) EvaluateSlotCalls(*f, FEngine.RootContext());
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
