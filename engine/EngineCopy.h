// Copying an engine: TInferenceEngine::Assign and AssignUserFunctions forward here. The copy
// takes the source's parser and stream classes, settings, functions, types, templates, globals,
// fact sets, facts and rules, in an order in which each construct finds what it refers to.
//
// Invariant: the copy never shares a construct with its source: deffunctions and rules of
// another engine are re-created from their text, and the tables copy their entries; the host's
// parse events on this engine's parser stay.
#pragma once

namespace ie {

class TInferenceEngine;

class TEngineCopy {
public:
    explicit TEngineCopy(TInferenceEngine& engine) noexcept : FEngine(engine) {}

    // Clears the engine, then copies the source into it.
    void Assign(TInferenceEngine& source);
    // Fills the function table from the source's: its package functions, and its deffunctions
    // re-created here. Tolerant: a deffunction that fails is skipped (the result is then
    // false); otherwise the failure passes on.
    bool AssignUserFunctions(TInferenceEngine& source, bool tolerant);

private:
    // The source's parser and stream classes, and its parser's settings.
    void AssignReader(TInferenceEngine& source);

    TInferenceEngine& FEngine;
};

} // namespace ie
