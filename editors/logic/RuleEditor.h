// The rule editor's behaviour apart from its window: the edited rule's fields and its
// conditions (IF) and actions (THEN) as editable lines, building the rule from them with the
// engine's reader, Add with its duplicate check, Replace, the texts that dragging templates,
// slots and functions drops, and the functions page's search.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model/IEInterfaces.h"

namespace ie {

// Add, Replace or OK with an empty Name.
inline constexpr const char* RuleNameMissingMessage =
    "A rule needs a name: fill in the Name field.";

class TInferenceEngine;
class TRule;

enum TRuleSide : uint8_t { rsIf, rsThen };

// The IF and THEN lines of the Editor page: one condition or action per line, with an empty
// line at the end of each list for typing the next entry.
class TRuleLines {
public:
    std::vector<std::string>& operator[](TRuleSide side) { return FLines[side]; }
    const std::vector<std::string>& operator[](TRuleSide side) const { return FLines[side]; }

    // Fills a side with the lines of a text, trimmed, and one empty line at the end.
    void SetText(TRuleSide side, const std::string& text);
    // The side's non-empty lines joined by CR LF.
    std::string Text(TRuleSide side) const;

    // Choosing a line for the one-line editor (index past the end chooses a new last line).
    void BeginEdit(TRuleSide side, int32_t index);
    bool Editing() const noexcept { return FEditIndex >= 0; }
    TRuleSide EditSide() const noexcept { return FEditSide; }
    int32_t EditIndex() const noexcept { return FEditIndex; }
    // Typing in the one-line editor: the text goes into the chosen line; when that line was
    // empty when chosen, an empty line is appended first (once), so that an empty line stays
    // at the end for the next entry.
    void EditText(const std::string& text);
    // The arrow keys: choose the line above or below on the same side.
    void MoveEdit(int32_t delta);

    void DeleteLine(TRuleSide side, int32_t index);
    void InsertLine(TRuleSide side, int32_t index, const std::string& text);
    // A line dragged onto a list: inserted at `toIndex` (past the end: after the last line);
    // from the other list it leaves that list, on the same list it moves.
    void DropLine(TRuleSide fromSide, int32_t fromIndex, TRuleSide toSide, int32_t toIndex);

private:
    void EnsureTrailingEmpty(TRuleSide side);

    std::array<std::vector<std::string>, 2> FLines{{{""}, {""}}};
    TRuleSide FEditSide = rsIf;
    int32_t FEditIndex = -1;
    bool FEditWasEmpty = false;
};

// What a drag in the rule editor carries: a rule, a fact template, one of its slots or a
// function (by name, looked up in the editor's engine when dropped), or only a text (a line of
// the IF or THEN list, a memo's selection, the line editor's text, a tree item of no object).
enum TIEDragKind : uint8_t {
    dkText = 0,
    dkFactSlot = 1,
    dkRule = 2,
    dkFactTemplate = 3,
    dkFunction = 4
};

struct TIEDragObject {
    TIEDragKind Kind = dkText;
    // The rule, template or function name (the template's for a slot).
    std::string Name;
    std::string SlotName;
    // The dragged text: what a drop gives when the object is gone (and all it gives for dkText).
    std::string Text;
    // A line of the IF or THEN list being dragged; FromRow -1 for anything else.
    TRuleSide FromSide = rsIf;
    int32_t FromRow = -1;

    static TIEDragObject ForRule(const TRule& rule);
    // A templates-tree item: the template, or one of its slots (a slot of an implied template
    // counts as its template).
    static TIEDragObject ForTemplate(const IFactTemplate& factTemplate,
                                     const std::string& slotName = {});
    // "Trouble finding <name>" when the engine has no such function.
    static TIEDragObject ForFunction(TInferenceEngine& engine, const std::string& name);
    static TIEDragObject ForText(const std::string& text);
    static TIEDragObject ForLine(TRuleSide side, int32_t row, const std::string& text);

    // A one-line form for a drag's data, and back (false for a text that is none).
    std::string Encode() const;
    static bool Decode(std::string_view text, TIEDragObject& drag);
};

class TRuleEditor {
public:
    explicit TRuleEditor(TInferenceEngine& engine);
    ~TRuleEditor();
    TRuleEditor(const TRuleEditor&) = delete;
    TRuleEditor& operator=(const TRuleEditor&) = delete;

    TInferenceEngine& Engine() const noexcept { return FEngine; }

    // The fields of the form.
    std::string Name;
    std::string Comment;
    std::string SalienceText = "0";
    bool OneShot = false;
    TRuleLines Lines;

    // The edited rule (owned by the editor), or null.
    TRule* Edited() const noexcept { return FEdited; }
    // A copy of the rule becomes the edited rule and fills the fields; null empties them.
    void Edit(const TRule* rule);
    // A new empty rule: the fields are emptied.
    void NewRule();
    // Builds a rule from the fields with the engine's reader; it becomes the edited rule. On a
    // read error the exception passes and the edited rule stays as it was.
    TRule* Apply();
    // Apply, then add a copy to the engine ("Duplicate Rules defined with same name: "%s""
    // when the engine has a rule of that name). Returns the added rule.
    TRule* Add();
    // Apply, delete the rule `selectedName`, read the edited rule's text back and Add it.
    TRule* Replace(const std::string& selectedName);
    void Delete(const std::string& name);

    // Whether the fields differ from what Edit or NewRule put in them.
    bool FieldsChanged() const;
    // Keeps what the fields show: replaces the rule they were filled from while the engine has
    // it, else adds; the kept rule is edited again. Raises as Add and Replace do.
    TRule* KeepFields();

    // A rule's root line in the rules tree, and its child lines: the rule's text without its
    // first and last line, trimmed.
    static std::string RootText(const TRule& rule);
    std::vector<std::string> ChildLines(const TRule& rule) const;
    // The rule name a root line stands for.
    static std::string NameOfRootText(const std::string& text);

    // Dropped texts. With variables the pattern is bound to a new fact variable and each slot
    // to a new variable, their names generated by the engine and remembered in Variables.
    std::string TemplatePatternText(const IFactTemplate& factTemplate, bool withVariables);
    std::string SlotPatternText(const IFactTemplate& factTemplate, const IFactSlot& slot,
                                bool withVariables);
    static std::string FunctionCallText(const IUserFunction& function);
    // "Trouble finding <name>" when the engine has no such function.
    TRefPtr<IUserFunction> FindFunction(const std::string& name) const;
    std::vector<std::string> Variables;

    // The text a drop inserts. A template or slot gives its pattern, bound to new variables
    // only on the IF side with `withVariables` (an action has no fact variable); a rule its
    // text; a function its call text; anything else (or an object no longer there) its text.
    std::string DropText(const TIEDragObject& drag, TRuleSide side, bool withVariables);
    // Dropping onto a list at `row` (past the end: after the last line). A line of a list moves
    // (leaving the other list, or moving within the same); anything else is inserted, one line
    // per line of its text. False when nothing was dropped.
    bool DropOnLines(const TIEDragObject& drag, TRuleSide side, int32_t row, bool withVariables);

    // The functions page: the names sorted without regard to letter case, the first name not
    // less than a search text (-1 when none), and a function's call form and help text.
    std::vector<std::string> FunctionNames() const;
    // The engine's internal functions, left out of the list.
    static bool IsInternalFunctionName(std::string_view name);
    static int32_t SearchFunction(const std::vector<std::string>& names, const std::string& text);
    // A function the engine gained or lost, in the sorted list of names: the position where
    // the name went in or came out, -1 when there was nothing to do.
    static int32_t InsertFunctionName(std::vector<std::string>& names, const std::string& name);
    static int32_t EraseFunctionName(std::vector<std::string>& names, const std::string& name);
    static std::string FunctionDescription(const IUserFunction& function);

private:
    void SetEdited(TRule* rule);
    std::string FieldsText() const;
    void RememberFields(const std::string& ruleName);
    std::string NewVariable(std::string_view prefix);

    TInferenceEngine& FEngine;
    TRule* FEdited = nullptr;
    // The fields as Edit or NewRule filled them, and the rule they came from (empty: new).
    std::string FShownFields;
    std::string FShownName;
};

} // namespace ie
