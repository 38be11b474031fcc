// Reading single facts, values and rules from text with an engine's own reader, for the editors:
// each sets a stream of the text on the engine's parser for the one read and gives the parser
// its former stream back afterwards, also when the read raised.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/IEInterfaces.h"

namespace ie {

class TInferenceEngine;
class TRule;

// One fact, not asserted; the calls among its slot values are evaluated in the engine's root
// context (so "(reading (+ 1 2))" holds 3).
TRefPtr<IFact> ReadFact(TInferenceEngine& engine, std::string_view text);
// One value (a multifield when the text holds several; null for an empty text).
TRefPtr<IIEValue> ReadValue(TInferenceEngine& engine, std::string_view text);
// One "(defrule ...)" construct as a rule owned by the engine and not in its rule table; the
// caller frees it.
TRule* ReadRule(TInferenceEngine& engine, std::string_view text);
// A value as it stands in rule-language text (strings quoted), so that ReadValue reads it back.
std::string ValueText(TInferenceEngine& engine, const IIEValue* value);

// The lines of a text split at CR LF, CR or LF; a last empty line after a final line end is
// dropped.
std::vector<std::string> SplitLines(std::string_view text);
std::string Trimmed(std::string_view text);

} // namespace ie
