#include "editors/logic/EngineReading.h"

#include <memory>

#include "engine/IEClipsParser.h"
#include "engine/IEFacts.h"
#include "engine/IERule.h"
#include "engine/InferenceEngine.h"
#include "platform/Streams.h"

namespace ie {
namespace {

// Runs `read` with the engine's parser reading `text`.
template <class F> auto WithTextOnParser(TInferenceEngine& engine, std::string_view text, F read) {
    TIEParser* parser = engine.Parser();
    if (!parser) RaiseIE(imUnableToParseStrings, "text");
    TStringStream source{std::string(text)};
    std::unique_ptr<TIETokenizerStream> stream = engine.CreateStream(&source);
    struct TRestoreStream {
        TIEParser& P;
        TIETokenizerStream* S;
        ~TRestoreStream() { P.SetStream(S); }
    } restore{*parser, parser->Stream()};
    parser->SetStream(stream.get());
    return read(*parser);
}

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

} // namespace

TRefPtr<IFact> ReadFact(TInferenceEngine& engine, std::string_view text) {
    TRefPtr<IFact> fact =
        WithTextOnParser(engine, text, [](TIEParser& p) { return p.ParseFact(); });
    if (!fact) RaiseIE(imFactTemplateMissing);
    TRefPtr<IFactTemplate> t = fact->GetTemplate();
    if (!t) return fact;
    for (int32_t i = 0; i < t->SlotCount(); ++i) {
        const std::string& name = t->SlotAt(i)->GetName();
        TRefPtr<IIEValue> value = fact->GetSlotValue(name);
        if (value && value->GetDType() == dtFunCall)
            fact->SetSlotValue(name, value->AsFunCall()->Evaluate(engine.RootContext()));
    }
    return fact;
}

TRefPtr<IIEValue> ReadValue(TInferenceEngine& engine, std::string_view text) {
    if (Trimmed(text).empty()) return nullptr;
    return WithTextOnParser(engine, text, [](TIEParser& p) { return p.ParseValue(); });
}

TRule* ReadRule(TInferenceEngine& engine, std::string_view text) {
    return WithTextOnParser(engine, text, [](TIEParser& p) -> TRule* {
        auto* clips = dynamic_cast<TIEClipsParser*>(&p);
        if (!clips) RaiseIE(imUnableToParseStrings, "rules");
        return clips->ParseRule();
    });
}

std::string ValueText(TInferenceEngine& engine, const IIEValue* value) {
    if (!value) return {};
    if (TIEParser* writer = engine.Parser()) return writer->FormatValue(value);
    return value->AsString();
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

std::string Trimmed(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b]))
        ++b;
    while (e > b && IsBlank(text[e - 1]))
        --e;
    return std::string(text.substr(b, e - b));
}

} // namespace ie
