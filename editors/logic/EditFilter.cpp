// Filtering one character and a whole pasted text. A refused character is dropped (returned as
// '\0') in every mode but efException, which raises before anything is kept, so an edit never
// holds a character it refuses.
#include "editors/logic/EditFilter.h"

namespace ie {

char TEditFilter::FilterChar(char c) const {
    if (FFilterChars.find(c) == std::string::npos) return c;
    switch (FFiltering) {
    case efBeep:
        if (OnBeep) OnBeep();
        break;
    case efException:
        throw EEditError(std::string(EditFilterErrorMessage));
    case efNone:
    case efSilent:
        break;
    }
    return '\0';
}

std::string TEditFilter::Refilter(std::string_view text) const {
    std::string result;
    if (!Active()) return std::string(text);
    result.reserve(text.size());
    for (char c : text) {
        const char kept = FilterChar(c);
        if (kept != '\0') result += kept;
    }
    return result;
}

} // namespace ie
