// Converting the editors' "Name|pattern" filters to the file dialog's form. A pair without a
// pattern is dropped and a name that shows its own patterns in parentheses gives them up, so the
// dialog lists exactly the converted patterns.
#include "editors/logic/FileFilter.h"

#include <filesystem>

#include "editors/logic/EngineReading.h"

namespace ie {
namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i)
        if (i == text.size() || text[i] == separator) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    return parts;
}

// "*.*" means every file where the filters come from; the dialog reads it as "names with a
// dot".
std::string DialogPatterns(std::string_view patterns) {
    std::string out;
    for (std::string_view part : Split(patterns, ';')) {
        std::string pattern = Trimmed(part);
        if (pattern.empty()) continue;
        if (pattern == "*.*") pattern = "*";
        if (!out.empty()) out += ' ';
        out += pattern;
    }
    return out;
}

} // namespace

std::vector<std::string> DialogNameFilters(std::string_view filter) {
    std::vector<std::string> entries;
    const std::vector<std::string_view> parts = Split(filter, '|');
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        const std::string patterns = DialogPatterns(parts[i + 1]);
        if (patterns.empty()) continue;
        std::string name = Trimmed(parts[i]);
        // The dialog takes the patterns from the last parentheses: a name that shows its own
        // gives them up for the converted ones.
        if (!name.empty() && name.back() == ')') {
            const size_t open = name.rfind('(');
            if (open != std::string::npos) name = Trimmed(name.substr(0, open));
        }
        entries.push_back(name.empty() ? patterns : name + " (" + patterns + ")");
    }
    return entries;
}

std::string DialogFilterText(std::string_view filter) {
    std::string text;
    for (const std::string& entry : DialogNameFilters(filter)) {
        if (!text.empty()) text += ";;";
        text += entry;
    }
    return text;
}

std::string DefaultSuffix(std::string_view defaultExtension) {
    std::string suffix = Trimmed(defaultExtension);
    if (suffix.starts_with("*")) suffix.erase(0, 1);
    if (suffix.starts_with(".")) suffix.erase(0, 1);
    return suffix;
}

std::string ExistingFileName(const std::string& chosen, std::string_view suffix) {
    std::error_code error;
    std::string ending = ".";
    ending += suffix;
    if (suffix.empty() || std::filesystem::exists(chosen, error) || !chosen.ends_with(ending))
        return chosen;
    std::string typed = chosen.substr(0, chosen.size() - ending.size());
    return std::filesystem::is_regular_file(typed, error) ? typed : chosen;
}

} // namespace ie
