// Text helpers of the editors: values written as rule-language text, lines and trimming.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/model/IEInterfaces.h"

namespace ie {

class TInferenceEngine;

// A value as it stands in rule-language text (strings quoted), so that the engine's ParseValue
// reads it back.
std::string ValueText(TInferenceEngine& engine, const IIEValue* value);

// The lines of a text split at CR LF, CR or LF; a last empty line after a final line end is
// dropped.
std::vector<std::string> SplitLines(std::string_view text);
std::string Trimmed(std::string_view text);

} // namespace ie
