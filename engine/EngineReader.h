// The engine's reader: the entry points that read one construct, fact, value or command from a
// text with the engine's parser (TInferenceEngine's Parse... methods, ExecuteCommand,
// ExecuteLines and SetText forward here), and the scanner those readings share.
//
// Invariant: a reading gives the parser its former stream back however it ends, and the shared
// scanner serves one reading at a time: a reading nested in another (a function called while a
// fact is parsed) makes a scanner of its own.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model/IEConsts.h"
#include "engine/model/IEInterfaces.h"
#include "fuzzy/FuzzyInterfaces.h"

namespace ie {

class TFactSet;
class TFactTemplate;
class TIEClipsStream;
class TInferenceEngine;
class TRule;

class TEngineReader {
public:
    explicit TEngineReader(TInferenceEngine& engine) noexcept;
    ~TEngineReader();
    TEngineReader(const TEngineReader&) = delete;
    TEngineReader& operator=(const TEngineReader&) = delete;

    // One fact, its calls evaluated in the root context.
    TRefPtr<IFact> ParseFact(std::string_view text);
    // One fact of a fact set: its dynamic defaults wait for the assertion.
    TRefPtr<IFact> ParseFactSetFact(std::string_view text);
    TRefPtr<IFactSlot> ParseFactSlot(std::string_view text, TFactTemplate& owner);
    TRefPtr<IIEValue> ParseValue(std::string_view text);
    TRefPtr<IIEValue> ParseValueOfType(std::string_view text, TIEType type);

    TRefPtr<IIEDefinedType> ParseDefinedType(std::string_view text);
    TRefPtr<IFactTemplate> ParseFactTemplate(std::string_view text);
    TRule* ParseRule(std::string_view text);
    TRefPtr<IUserFunction> ParseFunction(std::string_view text);
    TFactSet* ParseFactSet(std::string_view text);
    TRefPtr<IFunCall> ParseFunCall(std::string_view text);
    TRefPtr<IIEValue> EvaluateFunCall(std::string_view text);
    TRefPtr<IIEValue> ParseList(std::string_view text);
    TRefPtr<IFuzzySet> ParseFuzzySet(IFuzzyVariable* variable, std::string_view text);
    TRefPtr<IFuzzyVariable> ParseFuzzyVariable(std::string_view text);
    void ParseGlobal(std::string_view text, std::string& name, TRefPtr<IIEValue>& value);

    // The text read as commands, carried out when `execute`.
    void ExecuteCommand(std::string_view text, bool execute);
    // Clears, reads the whole text with execution on, then resets.
    void SetText(std::string_view text);
    // Each line through the engine's ExecuteCommand (a fact line through its ParseFact and
    // asserted); a line that raises is dropped and the others still run.
    struct TExecuteLine {
        std::string Text;
        bool IsFact = false;
    };
    void ExecuteLines(const std::vector<TExecuteLine>& lines);

private:
    template <class F> auto ReadFrom(std::string_view text, F&& read);

    TInferenceEngine& FEngine;
    // Texts read with the engine's own scanner class reuse one scanner (and its buffer).
    bool FReadStreamBusy = false;
    std::unique_ptr<TIEClipsStream> FReadStream;
};

} // namespace ie
