// The rule editor's logic: the editable lines of both sides, the dragged-item encoding and the
// rule built from the fields. Every rule is built by the engine's reader from the text the user
// sees, and Replace reads the new rule back before it deletes the old one, so a text that does not
// read leaves the engine's rules as they were. The edited rule is a private copy the editor frees.
#include "editors/logic/RuleEditor.h"

#include <algorithm>
#include <charconv>

#include "editors/logic/EngineReading.h"
#include "engine/InferenceEngine.h"
#include "engine/lang/IEParser.h"
#include "engine/match/IERule.h"

namespace ie {
namespace {

constexpr std::string_view CRLF = "\r\n";

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Case-insensitive order, as the sorted lists of the editors compare.
bool LessText(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Lower(x) < Lower(y); });
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TRuleLines

void TRuleLines::SetText(TRuleSide side, const std::string& text) {
    std::vector<std::string>& lines = FLines[side];
    lines.clear();
    for (const std::string& line : SplitLines(text)) {
        std::string trimmed = Trimmed(line);
        if (!trimmed.empty()) lines.push_back(std::move(trimmed));
    }
    lines.emplace_back();
    if (FEditSide == side) FEditIndex = -1;
}

std::string TRuleLines::Text(TRuleSide side) const {
    std::string text;
    for (const std::string& line : FLines[side]) {
        if (Trimmed(line).empty()) continue;
        if (!text.empty()) text += CRLF;
        text += line;
    }
    return text;
}

void TRuleLines::EnsureTrailingEmpty(TRuleSide side) {
    std::vector<std::string>& lines = FLines[side];
    if (lines.empty() || !Trimmed(lines.back()).empty()) lines.emplace_back();
}

void TRuleLines::BeginEdit(TRuleSide side, int32_t index) {
    std::vector<std::string>& lines = FLines[side];
    if (index < 0) index = 0;
    if (static_cast<size_t>(index) >= lines.size()) {
        EnsureTrailingEmpty(side);
        index = static_cast<int32_t>(lines.size()) - 1;
    }
    FEditSide = side;
    FEditIndex = index;
    FEditWasEmpty = Trimmed(lines[static_cast<size_t>(index)]).empty();
}

void TRuleLines::EditText(const std::string& text) {
    if (FEditIndex < 0) return;
    std::vector<std::string>& lines = FLines[FEditSide];
    if (FEditWasEmpty) {
        lines.emplace_back();
        FEditWasEmpty = false;
    }
    lines[static_cast<size_t>(FEditIndex)] = text;
}

void TRuleLines::MoveEdit(int32_t delta) {
    if (FEditIndex < 0) return;
    const int32_t last = static_cast<int32_t>(FLines[FEditSide].size()) - 1;
    BeginEdit(FEditSide, std::clamp(FEditIndex + delta, 0, last));
}

void TRuleLines::DeleteLine(TRuleSide side, int32_t index) {
    std::vector<std::string>& lines = FLines[side];
    if (index < 0 || static_cast<size_t>(index) >= lines.size()) return;
    lines.erase(lines.begin() + index);
    EnsureTrailingEmpty(side);
    if (FEditSide == side) FEditIndex = -1;
}

void TRuleLines::InsertLine(TRuleSide side, int32_t index, const std::string& text) {
    std::vector<std::string>& lines = FLines[side];
    // Past the end: after the last entry, before the empty line kept for typing.
    size_t at = lines.size();
    if (!lines.empty() && Trimmed(lines.back()).empty()) at = lines.size() - 1;
    if (index >= 0 && static_cast<size_t>(index) < at) at = static_cast<size_t>(index);
    lines.insert(lines.begin() + static_cast<ptrdiff_t>(at), text);
    EnsureTrailingEmpty(side);
    if (FEditSide == side) FEditIndex = -1;
}

void TRuleLines::DropLine(TRuleSide fromSide, int32_t fromIndex, TRuleSide toSide,
                          int32_t toIndex) {
    std::vector<std::string>& from = FLines[fromSide];
    if (fromIndex < 0 || static_cast<size_t>(fromIndex) >= from.size()) return;
    const std::string text = from[static_cast<size_t>(fromIndex)];
    if (Trimmed(text).empty()) return;
    from.erase(from.begin() + fromIndex);
    if (fromSide == toSide && toIndex > fromIndex) --toIndex;
    EnsureTrailingEmpty(fromSide);
    InsertLine(toSide, toIndex, text);
}

// ---------------------------------------------------------------------------------------------
// TIEDragObject

TIEDragObject TIEDragObject::ForRule(const TRule& rule) {
    TIEDragObject drag;
    drag.Kind = dkRule;
    drag.Name = rule.RuleName();
    drag.Text = rule.RuleName();
    return drag;
}

TIEDragObject TIEDragObject::ForTemplate(const IFactTemplate& factTemplate,
                                         const std::string& slotName) {
    TIEDragObject drag;
    drag.Name = factTemplate.GetName();
    const bool slot = !slotName.empty() && !factTemplate.GetImplied();
    drag.Kind = slot ? dkFactSlot : dkFactTemplate;
    if (slot) drag.SlotName = slotName;
    drag.Text = slot ? slotName : drag.Name;
    return drag;
}

TIEDragObject TIEDragObject::ForFunction(TInferenceEngine& engine, const std::string& name) {
    if (!engine.UserFunctions().Find(name)) throw EIEException("Trouble finding " + name);
    TIEDragObject drag;
    drag.Kind = dkFunction;
    drag.Name = name;
    drag.Text = name;
    return drag;
}

TIEDragObject TIEDragObject::ForText(const std::string& text) {
    TIEDragObject drag;
    drag.Text = text;
    return drag;
}

TIEDragObject TIEDragObject::ForLine(TRuleSide side, int32_t row, const std::string& text) {
    TIEDragObject drag = ForText(text);
    drag.FromSide = side;
    drag.FromRow = row;
    return drag;
}

namespace {

// Fields joined by a tab; a tab or backslash inside a field is escaped with a backslash.
void PutField(std::string& out, std::string_view field) {
    if (!out.empty()) out += '\t';
    for (char c : field) {
        if (c == '\\' || c == '\t') out += '\\';
        out += c == '\t' ? 't' : c;
    }
}

std::vector<std::string> Fields(std::string_view text) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < text.size()) {
            ++i;
            fields.back() += text[i] == 't' ? '\t' : text[i];
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

constexpr std::string_view DragTag = "ie-drag";

} // namespace

std::string TIEDragObject::Encode() const {
    std::string out;
    PutField(out, DragTag);
    PutField(out, std::to_string(static_cast<int>(Kind)));
    PutField(out, Name);
    PutField(out, SlotName);
    PutField(out, FromSide == rsIf ? "0" : "1");
    PutField(out, std::to_string(FromRow));
    PutField(out, Text);
    return out;
}

bool TIEDragObject::Decode(std::string_view text, TIEDragObject& drag) {
    const std::vector<std::string> f = Fields(text);
    if (f.size() != 7 || f[0] != DragTag) return false;
    int kind = 0, row = -1;
    auto number = [](const std::string& s, int& value) {
        const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
        return error == std::errc() && end == s.data() + s.size();
    };
    if (!number(f[1], kind) || kind < dkText || kind > dkFunction || !number(f[5], row))
        return false;
    drag.Kind = static_cast<TIEDragKind>(kind);
    drag.Name = f[2];
    drag.SlotName = f[3];
    drag.FromSide = f[4] == "1" ? rsThen : rsIf;
    drag.FromRow = row < 0 ? -1 : row;
    drag.Text = f[6];
    return true;
}

// ---------------------------------------------------------------------------------------------
// TRuleEditor

TRuleEditor::TRuleEditor(TInferenceEngine& engine) : FEngine(engine) {
    RememberFields({});
}

TRuleEditor::~TRuleEditor() {
    SetEdited(nullptr);
}

void TRuleEditor::SetEdited(TRule* rule) {
    if (FEdited == rule) return;
    if (FEdited) FEdited->Free();
    FEdited = rule;
}

void TRuleEditor::Edit(const TRule* rule) {
    Variables.clear();
    if (!rule) {
        SetEdited(nullptr);
        NewRule();
        return;
    }
    auto* copy = new TRule(nullptr, &FEngine);
    try {
        copy->Assign(rule);
    } catch (...) {
        copy->Free();
        throw;
    }
    SetEdited(copy);
    Name = copy->RuleName();
    Comment = copy->Comment();
    SalienceText = std::to_string(copy->Salience());
    OneShot = copy->OneShot();
    TIEParser* writer = FEngine.Parser();
    Lines.SetText(rsIf, writer ? writer->FormatRuleSide(*copy, 0) : std::string());
    Lines.SetText(rsThen, writer ? writer->FormatRuleSide(*copy, 1) : std::string());
    RememberFields(copy->RuleName());
}

void TRuleEditor::NewRule() {
    Name.clear();
    Comment.clear();
    SalienceText = "0";
    OneShot = false;
    Lines.SetText(rsIf, {});
    Lines.SetText(rsThen, {});
    Variables.clear();
    RememberFields({});
}

std::string TRuleEditor::FieldsText() const {
    // An empty salience and "0" both leave the default.
    std::string salience = Trimmed(SalienceText);
    if (salience.empty()) salience = "0";
    return Name + '\n' + Comment + '\n' + salience + '\n' + (OneShot ? "1" : "0") + '\n' +
           Lines.Text(rsIf) + '\n' + Lines.Text(rsThen);
}

void TRuleEditor::RememberFields(const std::string& ruleName) {
    FShownFields = FieldsText();
    FShownName = ruleName;
}

bool TRuleEditor::FieldsChanged() const {
    return FieldsText() != FShownFields;
}

TRule* TRuleEditor::KeepFields() {
    TRule* kept =
        !FShownName.empty() && FEngine.Rules().Find(FShownName) ? Replace(FShownName) : Add();
    if (kept) Edit(kept);
    return kept;
}

TRule* TRuleEditor::Apply() {
    // The name and the comment are set on the rule read, so that no text of theirs can change
    // what the reader sees.
    // Without a name the reader would complain of text the user never typed.
    if (Trimmed(Name).empty()) throw EIEException(RuleNameMissingMessage);
    std::string text = "(defrule ";
    text += Name;
    text += CRLF;
    text += Lines.Text(rsIf);
    text += CRLF;
    text += "=>";
    text += CRLF;
    text += Lines.Text(rsThen);
    text += ")";
    TRule* rule = FEngine.ParseRule(text);
    try {
        rule->SetComment(Comment);
        const std::string salience = Trimmed(SalienceText);
        int32_t value = 0;
        const auto [end, error] =
            std::from_chars(salience.data(), salience.data() + salience.size(), value);
        if (!salience.empty() && error == std::errc() && end == salience.data() + salience.size() &&
            value != 0)
            rule->SetSalience(value);
        rule->SetOneShot(OneShot);
    } catch (...) {
        rule->Free();
        throw;
    }
    SetEdited(rule);
    return rule;
}

TRule* TRuleEditor::Add() {
    TRule* edited = Apply();
    if (FEngine.Rules().Find(edited->RuleName())) RaiseIE(imDuplicateRules, edited->RuleName());
    auto* rule = new TRule(&FEngine, &FEngine);
    try {
        rule->Assign(edited);
        if (!FEngine.Rules().PutRule(rule->RuleName(), rule)) {
            rule->Free();
            return nullptr;
        }
    } catch (...) {
        rule->Free();
        throw;
    }
    RememberFields(rule->RuleName());
    return rule;
}

TRule* TRuleEditor::Replace(const std::string& selectedName) {
    TRule* edited = Apply();
    TIEParser* writer = FEngine.Parser();
    const std::string text = writer ? writer->FormatRule(*edited) : std::string();
    // Read before anything is deleted: a text that does not read back leaves the rules alone.
    TRule* reread = FEngine.ParseRule(text);
    reread->SetComment(edited->Comment());
    reread->SetOneShot(edited->OneShot());
    SetEdited(reread);
    // Renamed onto another rule's name: refused before the selected rule goes.
    if (reread->RuleName() != selectedName && FEngine.Rules().Find(reread->RuleName()))
        RaiseIE(imDuplicateRules, reread->RuleName());
    if (FEngine.Rules().Find(selectedName)) FEngine.Rules().RemoveRule(selectedName);
    auto* rule = new TRule(&FEngine, &FEngine);
    try {
        rule->Assign(reread);
        if (!FEngine.Rules().PutRule(rule->RuleName(), rule)) {
            rule->Free();
            return nullptr;
        }
    } catch (...) {
        rule->Free();
        throw;
    }
    RememberFields(rule->RuleName());
    return rule;
}

void TRuleEditor::Delete(const std::string& name) {
    if (FEngine.Rules().Find(name)) FEngine.Rules().RemoveRule(name);
}

std::string TRuleEditor::RootText(const TRule& rule) {
    if (rule.Comment().empty()) return rule.RuleName();
    return rule.RuleName() + "  \"" + rule.Comment() + "\"";
}

std::string TRuleEditor::NameOfRootText(const std::string& text) {
    const size_t blanks = text.find("  ");
    return blanks == std::string::npos ? text : text.substr(0, blanks);
}

std::vector<std::string> TRuleEditor::ChildLines(const TRule& rule) const {
    std::vector<std::string> lines;
    TIEParser* writer = FEngine.Parser();
    if (!writer) return lines;
    std::vector<std::string> all = SplitLines(writer->FormatRule(rule));
    for (size_t i = 1; i + 1 < all.size(); ++i)
        lines.push_back(Trimmed(all[i]));
    return lines;
}

std::string TRuleEditor::NewVariable(std::string_view prefix) {
    std::string name = "?" + FEngine.GenSym(prefix);
    Variables.push_back(name);
    return name;
}

std::string TRuleEditor::TemplatePatternText(const IFactTemplate& factTemplate,
                                             bool withVariables) {
    std::string text;
    if (withVariables) text = NewVariable("f") + " <- ";
    text += "(" + factTemplate.GetName();
    if (factTemplate.GetImplied()) {
        if (withVariables) text += " $" + NewVariable("v");
    } else {
        for (int32_t i = 0; i < factTemplate.SlotCount(); ++i) {
            TRefPtr<IFactSlot> slot = factTemplate.SlotAt(i);
            text += " (" + slot->GetName() + " ";
            if (withVariables) text += (slot->IsMultiSlot() ? "$" : "") + NewVariable("v");
            text += ")";
        }
    }
    return text + ")";
}

std::string TRuleEditor::SlotPatternText(const IFactTemplate& factTemplate, const IFactSlot& slot,
                                         bool withVariables) {
    if (factTemplate.GetImplied()) return TemplatePatternText(factTemplate, withVariables);
    std::string text;
    if (withVariables) text = NewVariable("f") + " <- ";
    text += "(" + factTemplate.GetName() + " (" + slot.GetName() + " ";
    if (withVariables) text += (slot.IsMultiSlot() ? "$" : "") + NewVariable("v");
    return text + "))";
}

std::string TRuleEditor::FunctionCallText(const IUserFunction& function) {
    return "(" + function.GetFunctionName() + " " + function.GetArgumentString() + ")";
}

TRefPtr<IUserFunction> TRuleEditor::FindFunction(const std::string& name) const {
    TRefPtr<IUserFunction> function = FEngine.UserFunctions().Find(name);
    if (!function) throw EIEException("Trouble finding " + name);
    return function;
}

std::string TRuleEditor::DropText(const TIEDragObject& drag, TRuleSide side, bool withVariables) {
    const bool bind = withVariables && side == rsIf;
    switch (drag.Kind) {
    case dkFactTemplate:
    case dkFactSlot: {
        TRefPtr<IFactTemplate> t = FEngine.FactTemplates().Find(drag.Name);
        if (!t) break;
        if (drag.Kind == dkFactSlot)
            if (TRefPtr<IFactSlot> slot = t->SlotByName(drag.SlotName))
                return SlotPatternText(*t, *slot, bind);
        return TemplatePatternText(*t, bind);
    }
    case dkRule:
        if (TRule* rule = FEngine.Rules().Find(drag.Name))
            if (TIEParser* writer = FEngine.Parser()) return writer->FormatRule(*rule);
        break;
    case dkFunction:
        return FunctionCallText(*FindFunction(drag.Name));
    case dkText:
        break;
    }
    return drag.Text;
}

bool TRuleEditor::DropOnLines(const TIEDragObject& drag, TRuleSide side, int32_t row,
                              bool withVariables) {
    if (drag.FromRow >= 0) {
        const auto& from = Lines[drag.FromSide];
        if (static_cast<size_t>(drag.FromRow) >= from.size() ||
            Trimmed(from[static_cast<size_t>(drag.FromRow)]).empty())
            return false;
        Lines.DropLine(drag.FromSide, drag.FromRow, side, row);
        return true;
    }
    bool dropped = false;
    for (const std::string& line : SplitLines(DropText(drag, side, withVariables))) {
        std::string trimmed = Trimmed(line);
        if (trimmed.empty()) continue;
        Lines.InsertLine(side, row, trimmed);
        // The next line goes below this one.
        if (row >= 0) ++row;
        dropped = true;
    }
    return dropped;
}

std::vector<std::string> TRuleEditor::FunctionNames() const {
    std::vector<std::string> names;
    auto it = FEngine.UserFunctions().Keys();
    while (it->HasNext())
        if (std::string name = it->NextString(); !IsInternalFunctionName(name))
            names.push_back(std::move(name));
    std::sort(names.begin(), names.end(), LessText);
    return names;
}

bool TRuleEditor::IsInternalFunctionName(std::string_view name) {
    // The reader's own helpers (such as "__get-var") are no functions a rule is written with.
    return name.starts_with("__");
}

int32_t TRuleEditor::SearchFunction(const std::vector<std::string>& names,
                                    const std::string& text) {
    const auto at = std::lower_bound(names.begin(), names.end(), text, LessText);
    return at == names.end() ? -1 : static_cast<int32_t>(at - names.begin());
}

int32_t TRuleEditor::InsertFunctionName(std::vector<std::string>& names, const std::string& name) {
    if (IsInternalFunctionName(name)) return -1;
    const auto at = std::lower_bound(names.begin(), names.end(), name, LessText);
    if (at != names.end() && *at == name) return -1;
    return static_cast<int32_t>(names.insert(at, name) - names.begin());
}

int32_t TRuleEditor::EraseFunctionName(std::vector<std::string>& names, const std::string& name) {
    const auto at = std::lower_bound(names.begin(), names.end(), name, LessText);
    if (at == names.end() || *at != name) return -1;
    const auto index = static_cast<int32_t>(at - names.begin());
    names.erase(at);
    return index;
}

std::string TRuleEditor::FunctionDescription(const IUserFunction& function) {
    std::string text = TIEParser::FunctionSignature(function);
    if (!function.GetComment().empty()) {
        text += CRLF;
        text += function.GetComment();
    }
    return text;
}

} // namespace ie
