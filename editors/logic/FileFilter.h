// The filters of the editors' file dialogs. They are written in pairs "Name|pattern;pattern|..."
// (the form every editor declares); the Qt file dialog wants one entry per filter, each a name
// with its patterns in parentheses separated by blanks. The last entry of a list is as good as
// the others, and "*.*" becomes "*", so that files without an extension (the demo's "expert
// system") are listed too.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ie {

// The entries of a "Name|pattern|..." filter in the dialog's form, e.g. "All Files|*.ie;*.clp"
// gives "All Files (*.ie *.clp)". A name ending in its own parenthesised patterns loses them
// for the converted ones. A name without a pattern is dropped.
std::vector<std::string> DialogNameFilters(std::string_view filter);
// The same entries joined by ";;" (the dialog's single-string form).
std::string DialogFilterText(std::string_view filter);
// The suffix a dialog appends to a name typed without one: "*.ie" and ".ie" give "ie".
std::string DefaultSuffix(std::string_view defaultExtension);
// The file an open dialog means by `chosen`, the typed name with the default suffix that the
// dialog appended: `chosen` itself when it exists or does not end in the suffix; otherwise the
// name as typed when that file exists, so that a file without an extension (the demo's "expert
// system") opens by its name.
std::string ExistingFileName(const std::string& chosen, std::string_view suffix);

// The filters of the editors' own files: their own extension first, then ".ie", ".clp",
// ".txt" and any file.
inline constexpr std::string_view FactsFileFilter =
    "Inference Engine Facts File (*.ief)|*.ief|Inference Engine File (*.ie)|*.ie|CLIPS File "
    "(*.clp)|*.clp|Text File (*.txt)|*.txt|Any File|*.*";
inline constexpr std::string_view FactTemplatesOpenFilter =
    "Inference Engine Fact Templates File (*.iet)|*.iet|Inference Engine File (*.ie)|*.ie|CLIPS "
    "File (*.clp)|*.clp|Text File (*.txt)|*.txt|Any File|*.*";
inline constexpr std::string_view FactTemplatesSaveFilter =
    "Inference Engine Fact Template File (*.iet)|*.iet|Inference Engine File (*.ie)|*.ie|CLIPS "
    "File (*.clp)|*.clp|Text File (*.txt)|*.txt|Any File|*.*";
inline constexpr std::string_view RulesFileFilter =
    "Inference Engine Rules File (*.ier)|*.ier|Inference Engine File (*.ie)|*.ie|CLIPS File "
    "(*.clp)|*.clp|Text File (*.txt)|*.txt|Any File|*.*";
inline constexpr std::string_view TypesFileFilter =
    "Inference Engine Defined Types File (*.ied)|*.ied|Inference Engine File (*.ie)|*.ie|CLIPS "
    "File (*.clp)|*.clp|Text File (*.txt)|*.txt|Any File|*.*";

} // namespace ie
