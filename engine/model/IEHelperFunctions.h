// Free routines that several engine units and the packages share: the text hash behind values,
// calls and lists, the engine's format routine (the rule language's "format" and "printout"
// formatting), float comparison with a tolerance, set and enumeration texts, and small text
// utilities.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/model/IEConsts.h"
#include "engine/model/IEInterfaces.h"
#include "platform/Component.h"

namespace ie {

// h := h * 31 + character code (wrapping at 32 bits). Texts shorter than 16 characters use every
// character; longer ones every (length div 8)-th character from the first, so hashing a long
// text costs at most nine steps. The empty text hashes to 0.
int32_t HashString(std::string_view text) noexcept;
// The same recurrence over characters 1, 1 + step, 1 + 2 * step, ... (a step below 1 counts
// as 1).
int32_t HashStringStep(std::string_view text, int32_t step) noexcept;

// The text with its ASCII letters in upper case (kind names and keywords in messages and writing).
std::string UpperCase(std::string text);

// Folds one more hash value into a running hash, order-dependent and with every input bit
// reaching every output bit, so that sequences of small numbers (such as (path 1 2) and
// (path 2 1)) spread over the whole range instead of summing into the same few values.
inline uint64_t MixHash(uint64_t h, uint32_t v) noexcept {
    h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    h *= 0xff51afd7ed558ccdULL;
    return h ^ (h >> 32);
}

// The engine's format routine. The control text is read once, from left to right: each
// directive ("%", flags "-0123456789.", a letter) takes the next argument; "d", "u", "x" format
// its integer reading, "e", "f", "g", "m" its float reading, "p" its external address and "s"
// its print form; other letters consume the argument and are written as they stand. "%n" right
// after the "%" is a line end and "%%" a percent sign; neither takes an argument. Text that an
// argument produces is never read as a directive. Arguments left over when the control text has
// no directive left are appended after one blank each (strings bare, fact identifiers and
// external addresses as numbers, lists in parentheses, everything else as its print form).
// A directive whose width or precision is beyond MaxFormatField raises an error that names it:
// one short directive must not build a text of gigabytes.
inline constexpr int32_t MaxFormatField = 100000;
std::string IEFormat(std::string_view format, const IValueVector& arguments);

// Characters that names of slots, templates and rules may not contain.
inline constexpr std::string_view IEInvalidNameChars = " '\"#()[]?:$&;<>";

// 1-based position of the first character of `text` that is in `chars`, 0 when there is none.
int32_t FirstCharOf(std::string_view text, std::string_view chars) noexcept;

// The help syntax of a function with `argText` (groups in angle brackets), `minCount` and
// `maxCount` arguments, listing at most `limit` positions; optional positions are bracketed.
std::string FunctionSyntaxText(std::string_view argText, int32_t minCount, int32_t maxCount,
                               int32_t limit);

// True when a - tolerance <= b <= a + tolerance.
inline bool SameFloat(double a, double b, double tolerance = 1.0e-4) noexcept {
    return a - tolerance <= b && b <= a + tolerance;
}
inline bool SameExtended(long double a, long double b, long double tolerance = 1.0e-4L) noexcept {
    return a - tolerance <= b && b <= a + tolerance;
}

// The first component owned by `owner` that is a T (or derives from it), null when absent.
template <class T> T* FindComponentOfClass(const TComponent* owner) {
    if (!owner) return nullptr;
    for (int32_t i = 0; i < owner->ComponentCount(); ++i)
        if (auto* c = dynamic_cast<T*>(owner->Components(i))) return c;
    return nullptr;
}

// The text without one pair of enclosing double quotes (only when it is longer than one
// character and starts and ends with a double quote).
std::string StripQuotes(std::string_view text);

// Every line break of rule-language text followed by `prefix`, except the line breaks inside
// string literals: indenting those would change the string each time the text is written.
std::string IndentLines(std::string_view text, std::string_view prefix);

// Names of the members of a set (bit i stands for names[i]) in order, each without its first
// `prefixLength` characters, joined by `separator`, in "[" "]" when `bracketed`.
std::string EnumSetToText(uint64_t bits, std::span<const std::string_view> names,
                          std::string_view separator, size_t prefixLength, bool bracketed);
// The kinds of a set in TIEType order without their "dt" prefix ("Atom, Variable").
std::string SetToText(TIETypes types, std::string_view separator = ", ", bool bracketed = false);
// The enumeration names of all kinds, in order ("dtNone" ...).
std::span<const std::string_view> IETypeNames() noexcept;

// The token of `text` up to the first character of `delimiters`; returns the 0-based position
// after the run of delimiters that follows it (text.size() when the text is used up).
size_t NextToken(std::string_view delimiters, std::string_view text, std::string& token);

// The set named by a text of member names separated by "[", "]", "," and blanks; a name that is
// not in `names` raises "Invalid item for set: %s".
uint64_t TextToSet(std::string_view text, std::span<const std::string_view> names);
inline constexpr std::string_view InvalidSetItemMessage = "Invalid item for set: %s";

// Exchanges the event handlers of two objects: for every published event property (method kind)
// of a's class that b's class publishes under the same name and event type, a gets b's handler
// and b gets a's. Properties of every other kind are left alone; an object without type
// information has no events to exchange. A host uses it to lend its handlers to another engine
// and take them back.
void SwapPublishedProperties(TObject& a, TObject& b);

// True when the menu has an item that is visible and not a separator line (a menu with nothing
// to offer is hidden). `visible` and `separator` answer for one item, so any menu type serves.
template <class Items, class Visible, class Separator>
bool HasVisibleMenuItems(const Items& items, Visible visible, Separator separator) {
    for (const auto& item : items)
        if (visible(item) && !separator(item)) return true;
    return false;
}

} // namespace ie
