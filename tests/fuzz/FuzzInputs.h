// What the libFuzzer targets do with one input (RunParserInput, RunBatchInput), shared with the
// test that replays every kept crash input. The guards below come first.
//
// Guards for the targets that execute what they read. The calls of an input reach
// the real built-in functions, so the guards keep every run inside a scratch directory and inside
// a budget:
// - the process works in a fresh scratch directory, emptied before every input;
// - functions that name files accept only a plain file name written literally (letters, digits,
//   '_', '-', '.'; not starting with '.'), so nothing outside the scratch directory is touched;
// - every call of a built-in function counts against a per-input budget, results longer than a
//   bound are refused, and the scratch directory may not grow past a bound;
// - "while" needs a call as its condition (a constant condition could loop without a call);
// - "run" fires at most a bounded number of rules per call;
// - dialogs read from an empty input and write nowhere.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/EngineTables.h"
#include "engine/InferenceEngine.h"
#include "engine/lang/IEClipsParser.h"
#include "engine/match/IERule.h"
#include "engine/model/IEConsts.h"
#include "engine/model/IEInterpretedFunction.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"
#include "platform/DialogService.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"

namespace ie::fuzz {

constexpr int64_t CallBudget = 20000;
constexpr size_t MaxResultLength = 1 << 14;
constexpr int32_t MaxListLength = 1 << 12;
constexpr int32_t RunFiringLimit = 200;
constexpr uintmax_t MaxScratchBytes = 8u << 20;

inline int64_t& CallsLeft() {
    static int64_t left = CallBudget;
    return left;
}

inline const std::filesystem::path& ScratchDirectory() {
    static const std::filesystem::path dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-fuzz-XXXXXX");
        if (!mkdtemp(pattern.data())) std::abort();
        std::filesystem::current_path(pattern);
        return std::filesystem::path(pattern);
    }();
    return dir;
}

inline uintmax_t ScratchBytes() {
    std::error_code ec;
    uintmax_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ScratchDirectory(), ec))
        if (entry.is_regular_file(ec)) total += entry.file_size(ec);
    return total;
}

// Called before every input: an empty scratch directory as the working directory, a full budget
// and dialogs that answer nothing.
inline void BeginInput() {
    static std::istringstream noInput;
    static std::ostringstream noOutput;
    static TTerminalDialogService dialogs(noInput, noOutput);
    SetDialogService(&dialogs);
    noInput.clear();
    noOutput.str({});
    const std::filesystem::path& dir = ScratchDirectory();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        std::filesystem::remove_all(entry.path(), ec);
    // Nothing runs anywhere but in the scratch directory.
    std::filesystem::create_directories(dir, ec);
    std::filesystem::current_path(dir, ec);
    if (ec || std::filesystem::current_path(ec) != dir) std::abort();
    CallsLeft() = CallBudget;
}

inline bool IsPlainFileName(const IIEValue* written) {
    if (!written || (written->GetDType() != dtAtom && written->GetDType() != dtString))
        return false;
    const std::string name = written->AsString();
    if (name.empty() || name.size() > 64 || name[0] == '.') return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '.';
    });
}

// The arguments of a function that are file names: a bit per argument index.
inline unsigned FileArguments(std::string_view name) {
    static constexpr std::string_view firstArgument[] = {
        "open", "save", "save-facts", "load", "load-facts", "batch", "dribble-on", "remove"};
    if (name == "rename") return 3;
    for (std::string_view f : firstArgument)
        if (f == name) return 1;
    return 0;
}

// A built-in function behind the guards; it keeps the name, counts and help of the function it
// stands for.
class TGuardedFunction : public TIEUserFunction {
public:
    explicit TGuardedFunction(TRefPtr<IUserFunction> inner) : FInner(std::move(inner)) {
        SetMinArgumentCount(FInner->GetMinArgumentCount());
        SetMaxArgumentCount(FInner->GetMaxArgumentCount());
        SetComment(FInner->GetComment());
        SetArgumentString(FInner->GetArgumentString());
        SetFunctionName(FInner->GetFunctionName());
        FFileArguments = FileArguments(GetFunctionName());
    }

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override {
        if (--CallsLeft() < 0) throw EIEException("fuzz: call budget spent");
        if ((CallsLeft() & 255) == 0 && ScratchBytes() > MaxScratchBytes)
            throw EIEException("fuzz: scratch directory full");
        const std::string& name = GetFunctionName();
        for (int32_t i = 0; i < call->ArgumentCount() && i < 8; ++i)
            if ((FFileArguments >> i) & 1u)
                if (!IsPlainFileName(call->GetArgument(i).get()))
                    throw EIEException("fuzz: file name refused");
        if (name == "while" && (call->ArgumentCount() == 0 || !call->GetArgument(0) ||
                                call->GetArgument(0)->GetDType() != dtFunCall))
            throw EIEException("fuzz: while needs a call as its condition");
        if (name == "run") {
            TInferenceEngine* engine = ContextEngine(context);
            if (!engine) throw EIEException("fuzz: no engine");
            int32_t limit = RunFiringLimit;
            if (call->ArgumentCount() > 0 && call->GetArgument(0))
                limit = std::min(limit, call->GetArgument(0)->AsInteger());
            return TIEValue::CreateInteger(dtInteger, engine->RunLimited(limit));
        }
        TRefPtr<IIEValue> result = FInner->Call(call, context);
        if (result) {
            const TIEType type = result->GetDType();
            if ((type == dtString || type == dtAtom) && result->AsString().size() > MaxResultLength)
                throw EIEException("fuzz: result too long");
            if (type == dtList && result->AsList() && result->AsList()->Count() > MaxListLength)
                throw EIEException("fuzz: list too long");
        }
        return result;
    }

private:
    TRefPtr<IUserFunction> FInner;
    unsigned FFileArguments = 0;
};

// Puts every built-in function of the engine behind the guards.
inline void GuardFunctions(TInferenceEngine& engine) {
    std::vector<TRefPtr<IUserFunction>> functions;
    for (const auto& entry : engine.UserFunctions())
        if (auto* f = dynamic_cast<IUserFunction*>(entry.Intf().get()))
            if (!dynamic_cast<TInterpretedFunction*>(f)) functions.emplace_back(f);
    for (const auto& f : functions) {
        const std::string name = f->GetFunctionName();
        engine.UserFunctions().RemoveFunction(name);
        engine.UserFunctions().PutFunction(name, TRefPtr<IUserFunction>(new TGuardedFunction(f)));
    }
}

template <class F> void Guarded(F&& step) {
    try {
        step();
    } catch (const EException&) {
    } catch (const std::exception&) {
    }
}

inline std::string WrittenConstructs(TInferenceEngine& engine) {
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

inline void ReadInto(TInferenceEngine& engine, std::string_view text, uint8_t settings) {
    engine.SetParserErrorHandling((settings & 1) ? ehRaiseAllAtEnd : ehRaiseImmediate);
    if (settings & 4) engine.SetTypeChecks(TTypeChecks{});
    Guarded([&] { engine.ExecuteCommand(text, (settings & 2) != 0); });
}

// The reader and writer: arbitrary bytes must never crash or hang the reader; every input ends
// with constructs added or a parse error. The first byte picks the settings (error collection,
// execution of calls, static type checks); the rest is the text. Whatever was read is written
// back and the text read again into a fresh engine, which drives the writers and the round trip
// with the same bytes.
inline void RunParserInput(const uint8_t* data, size_t size) {
    if (size == 0) return;
    BeginInput();
    const uint8_t settings = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string written;
    {
        TInferenceEngine engine;
        GuardFunctions(engine);
        ReadInto(engine, text, settings);
        try {
            written = WrittenConstructs(engine);
        } catch (const EException&) {
            return;
        }
    }
    TInferenceEngine again;
    GuardFunctions(again);
    ReadInto(again, written, settings & ~2);
}

// The input run as batch commands: each line a top-level command or construct, executed with
// every package, then a run with a firing limit. Whatever is left must still reset, run, write
// its text and clear.
inline void RunBatchInput(const uint8_t* data, size_t size) {
    BeginInput();
    TInferenceEngine engine;
    GuardFunctions(engine);
    std::string printed;
    engine.OnPrintOut = [&printed](TInferenceEngine*, const std::string&, const std::string& text) {
        if (printed.size() < (1u << 16)) printed += text;
    };
    const std::string text(reinterpret_cast<const char*>(data), size);
    Guarded([&] {
        TStringStream stream(text);
        engine.BatchFromStream(stream);
    });
    Guarded([&] { engine.RunLimited(RunFiringLimit); });
    CallsLeft() = CallBudget;
    Guarded([&] { engine.Reset(); });
    Guarded([&] { engine.RunLimited(RunFiringLimit); });
    Guarded([&] { (void)engine.GetText(); });
    Guarded([&] { engine.Clear(); });
}

} // namespace ie::fuzz
