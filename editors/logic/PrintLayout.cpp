// Laying lines out on printed pages. A line that would pass the bottom margin starts a new page
// before it is printed, so no line is cut across pages; at least one copy is always asked for.
#include "editors/logic/PrintLayout.h"

namespace ie {

void PrintLines(IPrintCanvas& canvas, const std::string& title, int copies,
                const std::vector<std::string>& lines) {
    canvas.BeginDoc(title, copies < 1 ? 1 : copies);
    const int bottom = canvas.PageHeight() - PrintMargin;
    int y = PrintMargin;
    for (const std::string& line : lines) {
        y += canvas.TextHeight(line + "A");
        if (y > bottom) {
            canvas.NewPage();
            y = PrintMargin;
        }
        canvas.TextOut(PrintMargin, y, line);
    }
    canvas.EndDoc();
}

} // namespace ie
