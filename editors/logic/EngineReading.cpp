// The editors' text helpers. Values are written by the engine's own writer when it has one, so
// what an editor shows reads back through the engine's reader as the same value; lines split on
// CR, LF and CR LF alike.
#include "editors/logic/EngineReading.h"

#include "engine/InferenceEngine.h"
#include "engine/lang/IEParser.h"

namespace ie {
namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

} // namespace

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
