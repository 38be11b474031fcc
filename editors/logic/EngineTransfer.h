// How the dialog components and the console move tables between a host engine and an editor's
// private engine: the whole engine, or one table (defined types, fact templates, facts, rules)
// assigned into another engine's table. Objects are re-created in the receiving engine, so the
// two engines never share a template, type or rule; slots are re-pointed at the receiving
// engine's defined types of the same name.
#pragma once

#include <string>

namespace ie {

class TInferenceEngine;
class TRule;

// Copies everything of `source` into `dest` (whose former content is cleared): settings,
// defined types, functions, fact templates, facts and rules; the facts and rules match in
// `dest` as they arrive.
void AssignEngine(TInferenceEngine& dest, TInferenceEngine& source);

// The copy an editor works on: AssignEngine with the Rete network of `dest` switched off while
// the copy runs (so facts reach no pattern and no activation is made) and back on afterwards,
// also when the copy raised; `dest` then checks types statically and dynamically.
void CopyEngineForEditing(TInferenceEngine& dest, TInferenceEngine& source);

// Files of an engine, read and written with the engine's reader and writer. Loading a whole
// file runs its top-level commands and keeps the facts it asserts.
void LoadEngineFile(TInferenceEngine& engine, const std::string& fileName);
void SaveEngineFile(TInferenceEngine& engine, const std::string& fileName);
// Reads the facts of a file and asserts each (nothing is cleared first).
void LoadFactsFile(TInferenceEngine& engine, const std::string& fileName);
void SaveFactsFile(TInferenceEngine& engine, const std::string& fileName);
// Clear the table, then read the file's constructs.
void LoadTemplatesFile(TInferenceEngine& engine, const std::string& fileName);
void LoadRulesFile(TInferenceEngine& engine, const std::string& fileName);
void LoadTypesFile(TInferenceEngine& engine, const std::string& fileName);
// The table's constructs as text, and written to a file.
std::string TemplatesText(TInferenceEngine& engine);
std::string RulesText(TInferenceEngine& engine);
std::string TypesText(TInferenceEngine& engine);
void SaveTextFile(const std::string& fileName, const std::string& text);

// Each replaces the receiving table's content by the source table's.
void AssignDefinedTypes(TInferenceEngine& dest, TInferenceEngine& source);
void AssignFactTemplates(TInferenceEngine& dest, TInferenceEngine& source);
void AssignFacts(TInferenceEngine& dest, TInferenceEngine& source);
// Asserts a copy of each fact of `source` into `dest`, in fact order, keeping what is there.
void AddFacts(TInferenceEngine& dest, TInferenceEngine& source);
void AssignRules(TInferenceEngine& dest, TInferenceEngine& source);

// The engine's constructs as rule-language text, as far as its writer renders them: defined
// types, fact templates, globals, rules and facts.
std::string EngineText(TInferenceEngine& engine);

} // namespace ie
