// How the editors print: the lines of a table's text go down the page at a margin of 200
// printer units; a line that would pass the page height less the margin starts a new page. The
// printer is reached through a small canvas interface so that the layout runs (and is tested)
// without a printer.
#pragma once

#include <string>
#include <vector>

namespace ie {

inline constexpr int PrintMargin = 200;

class IPrintCanvas {
public:
    virtual ~IPrintCanvas() = default;
    virtual void BeginDoc(const std::string& title, int copies) = 0;
    virtual void EndDoc() = 0;
    virtual void NewPage() = 0;
    virtual int PageHeight() const = 0;
    // The height of a text in printer units.
    virtual int TextHeight(const std::string& text) const = 0;
    virtual void TextOut(int x, int y, const std::string& text) = 0;
};

// Prints the lines as one job: each line advances the position by the height of the line's text
// followed by "A" (so an empty line still takes a line's height) and is printed at the left
// margin at that position.
void PrintLines(IPrintCanvas& canvas, const std::string& title, int copies,
                const std::vector<std::string>& lines);

} // namespace ie
