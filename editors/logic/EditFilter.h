// The character filter of the filtering edit (TGEdit), apart from any window: which typed or
// pasted characters an edit refuses, and what refusing one does (nothing, a beep, an edit error).
// Filtering is active exactly when the refused set is not empty and the mode is not efNone.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Exceptions.h"

namespace ie {

enum TEditFiltering : uint8_t { efNone, efSilent, efBeep, efException };

// The class library's edit error.
class EEditError : public EException {
public:
    using EException::EException;
};

inline constexpr std::string_view EditFilterErrorMessage =
    "Invalid input value.  Use escape key to abandon changes";

// The name characters the rule language refuses: blank ' " # ( ) [ ] ? : $ & ; < >.
inline constexpr std::string_view NameFilterChars = " '\"#()[]?:$&;<>";

class TEditFilter {
public:
    TEditFiltering Filtering() const noexcept { return FFiltering; }
    void SetFiltering(TEditFiltering value) noexcept { FFiltering = value; }
    const std::string& FilterChars() const noexcept { return FFilterChars; }
    void SetFilterChars(std::string value) { FFilterChars = std::move(value); }
    bool Active() const noexcept { return FFiltering != efNone && !FFilterChars.empty(); }

    // The character itself when accepted; '\0' when refused (after the beep, or raising
    // EEditError under efException).
    char FilterChar(char c) const;
    // The text without its refused characters (each refusal beeps or raises as above).
    std::string Refilter(std::string_view text) const;

    // The standard beep; the window side installs it.
    std::function<void()> OnBeep;

private:
    TEditFiltering FFiltering = efNone;
    std::string FFilterChars;
};

} // namespace ie
