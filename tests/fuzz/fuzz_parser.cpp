// libFuzzer target for the rule-language reader and writer. Arbitrary bytes must never crash or
// hang the reader: every input ends with constructs added or a parse error. The first byte picks
// the settings (error collection, execution of calls, static type checks); the rest is the text.
// Whatever was read is written back and the text read again into a fresh engine, which drives
// the writers and the round trip with the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/EngineTables.h"
#include "engine/lang/IEClipsParser.h"
#include "engine/model/IEPackages.h"
#include "engine/match/IERule.h"
#include "engine/InferenceEngine.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"

using namespace ie;

namespace {

std::string WrittenConstructs(TInferenceEngine& engine) {
    TIEParser& writer = *engine.Parser();
    std::string text;
    for (const auto& entry : engine.DefinedTypes())
        if (auto* type = dynamic_cast<IIEDefinedType*>(entry.Intf().get()))
            text += writer.FormatDefinedType(*type) + "\r\n";
    for (const auto& entry : engine.FactTemplates())
        if (auto* t = dynamic_cast<IFactTemplate*>(entry.Intf().get()); t && !t->GetImplied())
            text += writer.FormatFactTemplate(*t) + "\r\n";
    for (const auto& entry : engine.UserFunctions())
        if (auto* f = dynamic_cast<TInterpretedFunction*>(entry.Intf().get()))
            text += writer.FormatDeffunction(*f) + "\r\n";
    if (engine.GlobalVariables().Count() > 0)
        text += writer.FormatGlobals(engine.GlobalVariables()) + "\r\n";
    for (TFactSet* factSet : engine.FactSets().Items())
        text += writer.FormatFactSet(*factSet) + "\r\n";
    for (const auto& entry : engine.Rules())
        text += writer.FormatRule(*static_cast<TRule*>(entry.Value())) + "\r\n";
    return text;
}

void ReadInto(TInferenceEngine& engine, std::string_view text, uint8_t settings) {
    engine.SetParserErrorHandling((settings & 1) ? ehRaiseAllAtEnd : ehRaiseImmediate);
    if (settings & 4) engine.SetTypeChecks(TTypeChecks{});
    try {
        engine.ExecuteCommand(text, (settings & 2) != 0);
    } catch (const EException&) {
    } catch (const std::exception&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t settings = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string written;
    {
        TInferenceEngine engine;
        ReadInto(engine, text, settings);
        try {
            written = WrittenConstructs(engine);
        } catch (const EException&) {
            return 0;
        }
    }
    TInferenceEngine again;
    ReadInto(again, written, settings & ~2);
    return 0;
}
