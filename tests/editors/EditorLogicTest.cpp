// The editors' behaviour apart from their windows: the fact editor's grid and list, the
// template editor's names and slot checks, the rule editor's lines, Add and Replace, the type
// frame's kinds, allowed values, terms and shape clicks, and the print layout.
#include <gtest/gtest.h>

#include "EditorsTestSupport.h"
#include "editors/logic/EngineReading.h"
#include "editors/logic/FactEditor.h"
#include "editors/logic/FactTemplateEditor.h"
#include "editors/logic/PrintLayout.h"
#include "editors/logic/RuleEditor.h"
#include "editors/logic/TypeFrameEditor.h"
#include "engine/match/IERule.h"
#include "engine/model/IEDefinedType.h"

namespace ie {
namespace {

using namespace ie::test;

struct TEngineFixture : ::testing::Test {
    TEngineFixture() { Engine->SetTypeChecks(TTypeChecks{tcStatic, tcDynamic}); }
    TInferenceEngine& E() { return *Engine; }
    void Run(const std::string& text) { Engine->ExecuteCommand(text, true); }
    std::unique_ptr<TInferenceEngine, TComponentDeleter> Engine{new TInferenceEngine(nullptr)};
};

// ---------------------------------------------------------------------------------------------
// Fact editor

using FactEditorTest = TEngineFixture;

TEST_F(FactEditorTest, NewFactShowsMinusOneThenItsIdentifierOnceAdded) {
    Run("(deftemplate point (slot x (type INTEGER) (default 0)) (slot y (default 1)))");
    TFactEditor editor(E());
    EXPECT_FALSE(editor.NewFact("nosuch"));
    ASSERT_TRUE(editor.NewFact("point"));
    ASSERT_EQ(editor.Grid().size(), 3u);
    EXPECT_EQ(editor.Grid()[0].Slot, "ID");
    EXPECT_EQ(editor.Grid()[0].Value, "-1");
    EXPECT_EQ(editor.Grid()[1].Slot, "x");
    EXPECT_EQ(editor.Grid()[1].Value, "0");
    editor.SetGridValue(1, "42");
    editor.ApplyGrid();
    const int32_t id = editor.Add();
    ASSERT_GE(id, 0);
    EXPECT_EQ(editor.Grid()[0].Value, std::to_string(id));
    EXPECT_EQ(editor.Grid()[1].Value, "42");
    // An equal fact is refused, adds nothing and says so.
    const int32_t count = E().Facts().Count();
    try {
        editor.Add();
        ADD_FAILURE() << "an equal fact was taken";
    } catch (const EIEException& e) {
        EXPECT_EQ(std::string(e.what()), "Fact already exists: " + editor.CurrentText());
    }
    EXPECT_EQ(E().Facts().Count(), count);
}

// Replace onto a fact that is there already keeps the replaced fact; the editor tells what it
// holds that no Add or Replace took.
TEST_F(FactEditorTest, ReplaceRefusedKeepsTheFactAndPendingEditsAreSeen) {
    Run("(deftemplate point (slot x (default 0)))");
    const int32_t one = E().AssertString("(point (x 1))");
    E().AssertString("(point (x 2))");
    TFactEditor editor(E());
    ASSERT_TRUE(editor.SelectFact(one));
    EXPECT_FALSE(editor.HasPendingEdit());
    editor.SetGridValue(1, "2");
    EXPECT_TRUE(editor.HasPendingEdit()) << "typed, not applied";
    editor.ApplyGrid();
    EXPECT_TRUE(editor.HasPendingEdit()) << "applied, not replaced";
    EXPECT_THROW(editor.Replace(one), EIEException);
    EXPECT_GE(E().Facts().IndexOfID(one), 0) << "the replaced fact stays";
    EXPECT_EQ(E().Facts().Count(), 3);
    editor.SetGridValue(1, "7");
    editor.ApplyGrid();
    const int32_t kept = editor.KeepCurrent();
    EXPECT_EQ(kept, editor.Current()->GetFactId());
    EXPECT_EQ(editor.CurrentText(), "(point (x 7))");
    EXPECT_LT(E().Facts().IndexOfID(one), 0) << "kept in place of the fact it was made from";
    EXPECT_FALSE(editor.HasPendingEdit());
    ASSERT_TRUE(editor.NewFact("point"));
    EXPECT_FALSE(editor.HasPendingEdit()) << "a new fact untouched";
}

// Add asserts the fact's text, so the fact takes the template as the engine holds it when it
// is added, not the one it was begun with.
TEST_F(FactEditorTest, AddAssertsTheTextUnderTheTemplateOfNow) {
    Run("(deftemplate point (slot x (default 0)))");
    TFactEditor editor(E());
    ASSERT_TRUE(editor.NewFact("point"));
    editor.SetGridValue(1, "5");
    editor.ApplyGrid();
    Run("(deftemplate point (slot x (default 0)) (slot y (default 7)))");
    const int32_t id = editor.Add();
    ASSERT_GE(id, 0);
    const TRefPtr<IFact>& added = E().Facts().Item(E().Facts().IndexOfID(id));
    EXPECT_EQ(added->GetTemplate().get(), E().FactTemplates().Find("point").get());
    EXPECT_EQ(ValueText(E(), added->GetSlotValue("y").get()), "7") << added->GetText();
    EXPECT_EQ(ValueText(E(), added->GetSlotValue("x").get()), "5");
}

TEST_F(FactEditorTest, WrongSlotValueRaisesAndKeepsTheCurrentFact) {
    Run("(deftemplate point (slot x (type INTEGER) (default 0)))");
    TFactEditor editor(E());
    ASSERT_TRUE(editor.NewFact("point"));
    const std::string before = editor.CurrentText();
    editor.SetGridValue(1, "\"text\"");
    EXPECT_THROW(editor.ApplyGrid(), EException);
    EXPECT_EQ(editor.CurrentText(), before);
    EXPECT_THROW(editor.ApplyText("(point (x"), EException);
    EXPECT_EQ(editor.CurrentText(), before);
}

TEST_F(FactEditorTest, OrderedFactRoundTripsThroughTheGrid) {
    E().AssertFact(Ordered(E(), "colour", {"red", "green"}));
    TFactEditor editor(E());
    const int32_t id = E().Facts().Item(E().Facts().Count() - 1)->GetFactId();
    ASSERT_TRUE(editor.SelectFact(id));
    ASSERT_EQ(editor.Grid().size(), 3u);
    EXPECT_EQ(editor.Grid()[1].Value, "colour");
    EXPECT_EQ(editor.Grid()[2].Value, "red green") << "replace must not empty the data";
    editor.SetGridValue(2, "red blue");
    editor.ApplyGrid();
    const int32_t added = editor.Replace(id);
    ASSERT_GE(added, 0);
    EXPECT_LT(E().Facts().IndexOfID(id), 0);
    const std::string text = E().Facts().GetText();
    EXPECT_NE(text.find("(colour red blue"), std::string::npos) << text;
    EXPECT_EQ(text.find("green"), std::string::npos) << text;
}

// The Template row of an ordered fact names its relation: typed over, it gives the fact another.
TEST_F(FactEditorTest, TheTemplateRowOfAnOrderedFactRenamesItsRelation) {
    E().AssertFact(Ordered(E(), "newfact", {"5"}));
    TFactEditor editor(E());
    ASSERT_TRUE(editor.SelectFact(E().Facts().Item(E().Facts().Count() - 1)->GetFactId()));
    editor.SetGridValue(1, "other");
    editor.SetGridValue(2, "6");
    editor.ApplyGrid();
    EXPECT_EQ(editor.CurrentText().rfind("(other 6", 0), 0u) << editor.CurrentText();
    ASSERT_GE(editor.Add(), 0);
    const TRefPtr<IFact>& added = E().Facts().Item(E().Facts().Count() - 1);
    EXPECT_EQ(added->GetTemplate()->GetName(), "other");
}

TEST_F(FactEditorTest, ListOrdersAndDelete) {
    E().AssertFact(Ordered(E(), "zebra"));
    E().AssertFact(Ordered(E(), "apple"));
    TFactEditor editor(E());
    auto index = editor.Lines(foIndex);
    auto byTemplate = editor.Lines(foTemplate);
    ASSERT_EQ(index.size(), byTemplate.size());
    EXPECT_EQ(index.back().Text, "(apple) (f" + std::to_string(index.back().ID) + ")");
    EXPECT_LT(byTemplate.front().Text, byTemplate.back().Text);
    EXPECT_EQ(editor.Lines(foID).front().Text.rfind("f-", 0), 0u);
    EXPECT_FALSE(editor.Delete(12345));
    EXPECT_TRUE(editor.Delete(index.back().ID));
    EXPECT_EQ(editor.Lines(foIndex).size(), index.size() - 1);
}

// ---------------------------------------------------------------------------------------------
// Fact template editor

using TemplateEditorTest = TEngineFixture;

TEST_F(TemplateEditorTest, SlotDetailLinesNameTheKindsAndTheDefault) {
    Run("(deftemplate box (slot size (type INTEGER) (default 3)) (multislot tags))");
    TFactTemplateEditor editor(E());
    TRefPtr<IFactTemplate> t = E().FactTemplates().Find("box");
    ASSERT_TRUE(t);
    const auto size = editor.SlotDetailLines(*t->SlotByName("size"));
    ASSERT_EQ(size.size(), 2u);
    EXPECT_EQ(size[0].rfind("Type: ", 0), 0u);
    EXPECT_EQ(size[0].find("Multislot"), std::string::npos);
    EXPECT_NE(size[0].find("Integer"), std::string::npos) << size[0];
    EXPECT_EQ(size[1], "Default: 3");
    const auto tags = editor.SlotDetailLines(*t->SlotByName("tags"));
    ASSERT_GE(tags.size(), 1u);
    EXPECT_EQ(tags[0].rfind("Type: (Multislot) ", 0), 0u) << tags[0];
    EXPECT_EQ(tags[0].find("List"), std::string::npos) << "the multislot markers are not kinds";
}

TEST_F(TemplateEditorTest, NewNamesCountFromTheTablesAndSkipTakenNames) {
    TFactTemplateEditor editor(E());
    const int32_t n = E().FactTemplates().Count();
    auto t = editor.NewTemplate();
    EXPECT_EQ(t->GetName(), "FactTemplateName" + std::to_string(n));
    EXPECT_EQ(t->GetComment(), "Comment");
    EXPECT_EQ(editor.NewTemplate()->GetName(), "FactTemplateName" + std::to_string(n + 1));
    editor.NewSlot(*t);
    editor.NewSlot(*t);
    EXPECT_TRUE(t->HasSlot("SlotName0"));
    EXPECT_TRUE(t->HasSlot("SlotName1"));
    EXPECT_EQ(TFactTemplateEditor::NewSlotName(*t), "SlotName2");
}

TEST_F(TemplateEditorTest, RenameComplaints) {
    TFactTemplateEditor editor(E());
    auto a = editor.NewTemplate();
    auto b = editor.NewTemplate();
    const std::string old = a->GetName();
    EXPECT_EQ(editor.Rename(*a, ""), "Please fill in a name");
    EXPECT_EQ(editor.Rename(*a, b->GetName()), "Duplicate name found");
    EXPECT_EQ(a->GetName(), old);
    EXPECT_EQ(editor.Rename(*a, "renamed"), "");
    EXPECT_TRUE(E().FactTemplates().Find("renamed"));
}

TEST_F(TemplateEditorTest, DefaultDynamicNeedsACallAndMultislotWrapsOneValue) {
    TFactTemplateEditor editor(E());
    auto t = editor.NewTemplate();
    auto slot = editor.NewSlot(*t);
    const std::string name = slot->GetName();
    TSlotEdit edit{name, "12", false, true, nullptr};
    const std::string message = RaisedMessage([&] { editor.ApplySlot(*t, name, edit); });
    EXPECT_NE(message.find("function call"), std::string::npos) << message;
    edit.DefaultText = "(+ 1 2)";
    auto applied = editor.ApplySlot(*t, name, edit);
    EXPECT_TRUE(applied->GetDefaultDynamic());
    EXPECT_TRUE(TFactTemplateEditor::DefaultDynamicChecked(*applied));

    TSlotEdit multi{name, "red", true, false, nullptr};
    applied = editor.ApplySlot(*t, name, multi);
    ASSERT_TRUE(applied->GetSlotDefault());
    EXPECT_EQ(applied->GetSlotDefault()->GetDType(), dtList);
    EXPECT_TRUE(TFactTemplateEditor::MultiSlotChecked(*applied));
    EXPECT_FALSE(applied->GetDefaultDynamic());
}

TEST_F(TemplateEditorTest, DefaultOutsideTheTypeIsRefusedAndTheSlotKeepsItsSettings) {
    TFactTemplateEditor editor(E());
    auto t = editor.NewTemplate();
    auto slot = editor.NewSlot(*t);
    const std::string name = slot->GetName();
    auto type = TIEDefinedType::Create(&E());
    type->SetBaseTypes({dtInteger});
    TSlotEdit edit{"renamed", "abc", false, false, type};
    // The value and why the type refuses it.
    EXPECT_EQ(
        RaisedMessage([&] { editor.ApplySlot(*t, name, edit); }),
        "Invalid default slot value: abc (Not a INTEGER type.  Value (abc) is a dtAtom type)");
    // A default that shows nil is named as such.
    edit.DefaultText = "nil";
    EXPECT_EQ(RaisedMessage([&] {
                  editor.ApplySlot(*t, name, edit);
              }).rfind("Invalid default slot value: nil (", 0),
              0u);
    EXPECT_TRUE(t->HasSlot(name)) << "the slot keeps its name";
    edit.DefaultText = "7";
    auto applied = editor.ApplySlot(*t, name, edit);
    EXPECT_EQ(applied->GetName(), "renamed");
    EXPECT_EQ(applied->GetSlotDefault()->AsInteger(), 7);
}

// ---------------------------------------------------------------------------------------------
// Rule editor

TEST(RuleLinesTest, TypingIntoTheEmptyLineKeepsAnEmptyLineAtTheEnd) {
    TRuleLines lines;
    lines.SetText(rsIf, "  (a)\r\n(b)  \r\n");
    ASSERT_EQ(lines[rsIf].size(), 3u);
    EXPECT_EQ(lines[rsIf][0], "(a)");
    lines.BeginEdit(rsIf, 2);
    lines.EditText("(");
    lines.EditText("(c)");
    ASSERT_EQ(lines[rsIf].size(), 4u) << "one empty line appended, once";
    EXPECT_EQ(lines[rsIf][2], "(c)");
    EXPECT_EQ(lines[rsIf][3], "");
    lines.BeginEdit(rsIf, 0);
    lines.EditText("(z)");
    EXPECT_EQ(lines[rsIf].size(), 4u) << "editing a filled line appends nothing";
    EXPECT_EQ(lines.Text(rsIf), "(z)\r\n(b)\r\n(c)");
}

TEST(RuleLinesTest, DroppingMovesBetweenAndWithinLists) {
    TRuleLines lines;
    lines.SetText(rsIf, "(a)\r\n(b)\r\n(c)");
    lines.SetText(rsThen, "(x)");
    lines.DropLine(rsIf, 0, rsIf, 3);
    EXPECT_EQ(lines.Text(rsIf), "(b)\r\n(c)\r\n(a)");
    lines.DropLine(rsIf, 1, rsThen, 0);
    EXPECT_EQ(lines.Text(rsIf), "(b)\r\n(a)");
    EXPECT_EQ(lines.Text(rsThen), "(c)\r\n(x)");
    lines.DeleteLine(rsThen, 0);
    lines.DeleteLine(rsThen, 0);
    ASSERT_EQ(lines[rsThen].size(), 1u);
    EXPECT_EQ(lines[rsThen][0], "");
}

struct RuleEditorTest : TEngineFixture {
    TRuleEditor Editor{E()};
    void Compose(const std::string& name, const std::string& cond, const std::string& action) {
        Editor.NewRule();
        Editor.Name = name;
        Editor.Lines.SetText(rsIf, cond);
        Editor.Lines.SetText(rsThen, action);
    }
};

TEST_F(RuleEditorTest, AddingTheSameRuleTwiceRaisesTheDuplicateMessage) {
    Compose("r1", "(a ?x)", "(assert (b ?x))");
    Editor.Comment = "first";
    Editor.SalienceText = "0";
    TRule* rule = Editor.Add();
    ASSERT_TRUE(rule);
    EXPECT_EQ(rule->Comment(), "first");
    EXPECT_EQ(rule->Salience(), 0);
    EXPECT_EQ(RaisedMessage([&] { Editor.Add(); }),
              "Duplicate Rules defined with same name: \"r1\"");
    EXPECT_EQ(E().Rules().Count(), 1);
    // Cleared and added without a name: the user is told that a name is needed.
    Compose("", "(a ?x)", "(assert (b ?x))");
    EXPECT_EQ(RaisedMessage([&] { Editor.Add(); }), RuleNameMissingMessage);
    EXPECT_EQ(E().Rules().Count(), 1);
    EXPECT_EQ(TRuleEditor::RootText(*rule), "r1  \"first\"");
    EXPECT_EQ(TRuleEditor::NameOfRootText(TRuleEditor::RootText(*rule)), "r1");
}

TEST_F(RuleEditorTest, SalienceAndOneShotAreTakenAndEditShowsThemBack) {
    Compose("r2", "(a)", "(assert (b))");
    Editor.SalienceText = " 15 ";
    Editor.OneShot = true;
    TRule* rule = Editor.Add();
    ASSERT_TRUE(rule);
    EXPECT_EQ(rule->Salience(), 15);
    EXPECT_TRUE(rule->OneShot());
    Editor.Edit(rule);
    EXPECT_EQ(Editor.Name, "r2");
    EXPECT_EQ(Editor.SalienceText, "15");
    ASSERT_EQ(Editor.Lines[rsIf].size(), 2u);
    EXPECT_EQ(Editor.Lines[rsIf][0], "(a)");
    EXPECT_EQ(Editor.Lines[rsThen][0], "(assert (b))");
}

TEST_F(RuleEditorTest, ReplaceKeepsTheNameAndPutsTheNewPartsInPlace) {
    Compose("r3", "(a)", "(assert (b))");
    Editor.Add();
    Editor.Edit(E().Rules().Find("r3"));
    Editor.Lines.SetText(rsIf, "(c)");
    ASSERT_TRUE(Editor.Replace("r3"));
    EXPECT_EQ(E().Rules().Count(), 1);
    TRule* rule = E().Rules().Find("r3");
    ASSERT_TRUE(rule);
    const auto lines = Editor.ChildLines(*rule);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "(c)"), lines.end());
}

// The fields tell whether they differ from what Edit put in them, and keeping them replaces
// the rule they came from (a new rule is added); renamed onto another rule, nothing goes.
TEST_F(RuleEditorTest, FieldsChangedAndKeptReplaceTheirRule) {
    Compose("r5", "(a)", "(assert (b))");
    Editor.Add();
    Compose("r6", "(c)", "(assert (d))");
    Editor.Add();
    Editor.Edit(E().Rules().Find("r5"));
    EXPECT_FALSE(Editor.FieldsChanged());
    Editor.SalienceText = "0 ";
    EXPECT_FALSE(Editor.FieldsChanged()) << "the same salience";
    Editor.SalienceText = "7";
    EXPECT_TRUE(Editor.FieldsChanged());
    ASSERT_TRUE(Editor.KeepFields());
    EXPECT_EQ(E().Rules().Find("r5")->Salience(), 7);
    EXPECT_EQ(E().Rules().Count(), 2);
    EXPECT_FALSE(Editor.FieldsChanged());
    Editor.Name = "r6";
    EXPECT_EQ(RaisedMessage([&] { Editor.KeepFields(); }),
              "Duplicate Rules defined with same name: \"r6\"");
    EXPECT_TRUE(E().Rules().Find("r5")) << "a refused rename deletes nothing";
    Editor.NewRule();
    EXPECT_FALSE(Editor.FieldsChanged());
    Compose("r7", "(e)", "(assert (f))");
    EXPECT_TRUE(Editor.FieldsChanged());
    ASSERT_TRUE(Editor.KeepFields());
    EXPECT_EQ(E().Rules().Count(), 3);
}

TEST_F(RuleEditorTest, TextThatDoesNotReadLeavesTheEditedRuleAndTheTable) {
    Compose("r4", "(a)", "(assert (b))");
    TRule* first = Editor.Apply();
    Editor.Lines.SetText(rsIf, "(a");
    EXPECT_THROW(Editor.Add(), EException);
    EXPECT_EQ(Editor.Edited(), first);
    EXPECT_EQ(E().Rules().Count(), 0);
}

TEST_F(RuleEditorTest, DroppedTextsAndFunctionSearch) {
    Run("(deftemplate point (slot x) (multislot tags))");
    auto t = E().FactTemplates().Find("point");
    EXPECT_EQ(Editor.TemplatePatternText(*t, false), "(point (x ) (tags ))");
    const std::string bound = Editor.TemplatePatternText(*t, true);
    ASSERT_EQ(Editor.Variables.size(), 3u);
    EXPECT_EQ(bound.rfind(Editor.Variables[0] + " <- (point (x " + Editor.Variables[1] + ")", 0),
              0u)
        << bound;
    EXPECT_NE(bound.find("(tags $" + Editor.Variables[2] + ")"), std::string::npos) << bound;
    EXPECT_EQ(Editor.SlotPatternText(*t, *t->SlotByName("x"), false), "(point (x ))");

    EXPECT_EQ(RaisedMessage([&] { Editor.FindFunction("no-such-function"); }),
              "Trouble finding no-such-function");
    const auto names = Editor.FunctionNames();
    ASSERT_FALSE(names.empty());
    ASSERT_TRUE(E().UserFunctions().Find("__get-var")) << "an internal function to leave out";
    EXPECT_EQ(std::find(names.begin(), names.end(), "__get-var"), names.end());
    std::vector<std::string> growing = names;
    EXPECT_EQ(TRuleEditor::InsertFunctionName(growing, "__get-var"), -1);
    const int32_t at = TRuleEditor::SearchFunction(names, "asser");
    ASSERT_GE(at, 0);
    EXPECT_EQ(names[static_cast<size_t>(at)], "assert");
    EXPECT_EQ(TRuleEditor::SearchFunction(names, "\x7f"), -1);
    auto fn = Editor.FindFunction("assert");
    EXPECT_EQ(TRuleEditor::FunctionCallText(*fn), "(assert " + fn->GetArgumentString() + ")");
}

TEST_F(RuleEditorTest, DropsInsertWhatTheDraggedThingGivesWhereTheMouseIs) {
    Run("(deftemplate point (slot x) (multislot tags))");
    auto t = E().FactTemplates().Find("point");
    Compose("r5", "(a)\r\n(b)", "(assert (c))");

    // A template onto the line under the mouse; past the end it goes after the last entry.
    ASSERT_TRUE(Editor.DropOnLines(TIEDragObject::ForTemplate(*t), rsIf, 1, false));
    EXPECT_EQ(Editor.Lines.Text(rsIf), "(a)\r\n(point (x ) (tags ))\r\n(b)");
    ASSERT_TRUE(Editor.DropOnLines(TIEDragObject::ForTemplate(*t, "x"), rsIf, 99, false));
    EXPECT_EQ(Editor.Lines[rsIf][3], "(point (x ))");
    EXPECT_EQ(Editor.Lines[rsIf].back(), "") << "the empty line for typing stays last";

    // Variables bind the IF side only; an action gets the bare pattern.
    EXPECT_NE(Editor.DropText(TIEDragObject::ForTemplate(*t), rsIf, true).find(" <- (point"),
              std::string::npos);
    EXPECT_EQ(Editor.DropText(TIEDragObject::ForTemplate(*t), rsThen, true),
              "(point (x ) (tags ))");

    // A slot of an ordered fact's template counts as the template.
    auto implied = E().ImpliedTemplate("colour");
    const TIEDragObject slot = TIEDragObject::ForTemplate(*implied, std::string(DataSlotName));
    EXPECT_EQ(slot.Kind, dkFactTemplate);

    // A function: its call text; one the engine lacks cannot be dragged.
    const TIEDragObject fn = TIEDragObject::ForFunction(E(), "assert");
    EXPECT_EQ(fn.Kind, dkFunction);
    EXPECT_EQ(Editor.DropText(fn, rsThen, false),
              TRuleEditor::FunctionCallText(*Editor.FindFunction("assert")));
    EXPECT_EQ(RaisedMessage([&] { TIEDragObject::ForFunction(E(), "nope"); }),
              "Trouble finding nope");

    // A rule: its text, one line per line.
    TRule* added = Editor.Add();
    ASSERT_TRUE(added);
    Compose("r6", "(z)", "");
    ASSERT_TRUE(Editor.DropOnLines(TIEDragObject::ForRule(*added), rsThen, 0, false));
    EXPECT_EQ(Editor.Lines[rsThen].front().rfind("(defrule r5", 0), 0u)
        << Editor.Lines[rsThen].front();
    EXPECT_GT(Editor.Lines[rsThen].size(), 3u);

    // A line of the other list moves over; a plain text is inserted; nothing empty is dropped.
    Compose("r7", "(a)\r\n(b)", "(assert (c))");
    ASSERT_TRUE(Editor.DropOnLines(TIEDragObject::ForLine(rsIf, 0, "(a)"), rsThen, 0, false));
    EXPECT_EQ(Editor.Lines.Text(rsIf), "(b)");
    EXPECT_EQ(Editor.Lines.Text(rsThen), "(a)\r\n(assert (c))");
    ASSERT_TRUE(Editor.DropOnLines(TIEDragObject::ForText("(q)"), rsIf, -1, false));
    EXPECT_EQ(Editor.Lines.Text(rsIf), "(b)\r\n(q)");
    EXPECT_FALSE(Editor.DropOnLines(TIEDragObject::ForText("  "), rsIf, 0, false));
    EXPECT_FALSE(Editor.DropOnLines(TIEDragObject::ForLine(rsIf, 2, ""), rsThen, 0, false));

    // A template dropped after it was removed gives its name.
    const TIEDragObject gone = TIEDragObject::ForTemplate(*t);
    E().FactTemplates().RemoveTemplate("point");
    EXPECT_EQ(Editor.DropText(gone, rsIf, false), "point");
}

TEST(IEDragObjectTest, EncodingRoundTripsEveryFieldAndRefusesOtherTexts) {
    TIEDragObject drag = TIEDragObject::ForLine(rsThen, 4, "(printout t \"a\tb\\\")");
    drag.Kind = dkFactSlot;
    drag.Name = "point";
    drag.SlotName = "x";
    TIEDragObject back;
    ASSERT_TRUE(TIEDragObject::Decode(drag.Encode(), back));
    EXPECT_EQ(back.Kind, dkFactSlot);
    EXPECT_EQ(back.Name, "point");
    EXPECT_EQ(back.SlotName, "x");
    EXPECT_EQ(back.Text, drag.Text);
    EXPECT_EQ(back.FromSide, rsThen);
    EXPECT_EQ(back.FromRow, 4);
    EXPECT_FALSE(TIEDragObject::Decode("(a)", back));
    EXPECT_FALSE(TIEDragObject::Decode("ie-drag\t9\tx\t\t0\t-1\tt", back));
}

// ---------------------------------------------------------------------------------------------
// Type frame

using TypeFrameTest = TEngineFixture;

TEST_F(TypeFrameTest, EditingANamedTypeMakesAnImplicitCopyAndLeavesTheNamedOne) {
    auto named = TIEDefinedType::Create(&E());
    named->SetName("speed");
    named->SetBaseTypes({dtInteger, dtFloat});
    E().DefinedTypes().PutType("speed", named);
    TTypeFrameEditor frame(&E());
    frame.EnableNonImplicitEditing = false;
    int changes = 0;
    frame.OnChanged = [&] { ++changes; };
    frame.SetType(E().DefinedTypes().Find("speed"));
    frame.SetUnits("km/h");
    EXPECT_EQ(frame.Type()->GetName(), "implicit");
    EXPECT_TRUE(frame.Type()->GetImplicit());
    EXPECT_EQ(frame.Type()->GetUnits(), "km/h");
    EXPECT_EQ(E().DefinedTypes().Find("speed")->GetUnits(), "");
    EXPECT_EQ(changes, 1);
}

// A fuzzy term made by New and given no expression cannot be written back: the complaint names
// the term and the type, for the types table and for a template slot's own type.
TEST_F(TypeFrameTest, AnEmptyFuzzyTermIsNamedBeforeTheTypesAreWrittenBack) {
    Run("(deftype level extends (type FUZZY) (range 0 10)"
        " (values (term low ((0 1) (5 0)))))");
    EXPECT_EQ(EngineTypesKeepComplaint(E()), "");
    TTypeFrameEditor frame(&E());
    frame.SetType(E().DefinedTypes().Find("level"));
    frame.NewTerm();
    EXPECT_EQ(TypeKeepComplaint(*frame.Type()),
              "Fuzzy term \"Term1\" of type \"level\" has no points: give it an expression or "
              "delete it");
    EXPECT_EQ(EngineTypesKeepComplaint(E()), TypeKeepComplaint(*frame.Type()));
    frame.SetTermExpression("Term1", "((2 0) (3 1))", true);
    EXPECT_EQ(EngineTypesKeepComplaint(E()), "");
}

// Points typed without the list around them are refused with the reader's complaint and the
// way a set is written.
TEST_F(TypeFrameTest, PointsWithoutTheirListAreRefusedWithTheSyntax) {
    Run("(deftype level extends (type FUZZY) (range 0 100))");
    TTypeFrameEditor frame(&E());
    frame.SetType(E().DefinedTypes().Find("level"));
    const std::string term = frame.NewTerm();
    const std::string message =
        RaisedMessage([&] { frame.SetTermExpression(term, "(20 0) (30 1)", true); });
    EXPECT_NE(message.find("((20 0) (30 1))"), std::string::npos) << message;
    EXPECT_NE(message.find("(tri 10 20 30)"), std::string::npos) << message;
    EXPECT_TRUE(frame.SetTermExpression(term, "((20 0) (30 1))", true));
}

TEST_F(TypeFrameTest, FuzzyReplacesTheKindsAndUncheckingRestoresTheCheckedOnes) {
    TTypeFrameEditor frame(&E());
    frame.SetType(nullptr);
    frame.SetBaseKinds({dtAtom, dtInteger});
    frame.SetFuzzy(true, frame.Type()->GetBaseTypes());
    EXPECT_EQ(frame.Type()->GetBaseTypes(), (TIETypes{dtFuzzy}));
    EXPECT_TRUE(frame.RangePageShown());
    EXPECT_FALSE(frame.AllowedPageShown());
    frame.SetFuzzy(false, {dtAtom, dtInteger});
    EXPECT_EQ(frame.Type()->GetBaseTypes(), (TIETypes{dtAtom, dtInteger}));
    EXPECT_TRUE(frame.AllowedTabShown(atSymbols));
    EXPECT_FALSE(frame.AllowedTabShown(atStrings));
}

// A term typed before the range was set is read again when the range changes: it reaches as far
// as its expression says once the range allows it.
TEST_F(TypeFrameTest, ATermTypedBeforeTheRangeFollowsTheRangeSetAfterIt) {
    TTypeFrameEditor frame(&E());
    frame.SetType(nullptr);
    frame.SetFuzzy(true, {});
    ASSERT_TRUE(frame.StoreMinRange("0"));
    ASSERT_TRUE(frame.StoreMaxRange("1"));
    const std::string term = frame.NewTerm("high");
    ASSERT_TRUE(frame.SetTermExpression(term, "(tri 0 5 10)", true));
    const auto reach = [&] {
        double x = 0;
        for (const auto& p : frame.Term(term)->Points())
            x = std::max(x, p.X);
        return x;
    };
    EXPECT_LE(reach(), 1.0);
    ASSERT_TRUE(frame.StoreMaxRange("10"));
    EXPECT_DOUBLE_EQ(reach(), 10.0);
    EXPECT_EQ(frame.TermExpression(term), "(tri 0 5 10)");
}

TEST_F(TypeFrameTest, MinAndMaxTextsAreStoredOnlyWhenTheyConvert) {
    TTypeFrameEditor frame(&E());
    frame.SetType(nullptr);
    EXPECT_FALSE(frame.StoreMinCardinality("1.5"));
    EXPECT_TRUE(frame.StoreMaxCardinality("7"));
    EXPECT_EQ(frame.Type()->GetMaxCardinality(), 7);
    EXPECT_FALSE(frame.StoreMinRange("abc"));
    EXPECT_TRUE(frame.StoreMinRange("-2.5"));
    EXPECT_DOUBLE_EQ(frame.Type()->GetMinRange(), -2.5);
    EXPECT_EQ(TTypeFrameEditor::RangeText(-2.5), "-2.5000");
    // No limit is shown empty, and an emptied bound is no limit again.
    EXPECT_EQ(TTypeFrameEditor::RangeText(-2147483648.0), "");
    EXPECT_EQ(TTypeFrameEditor::RangeText(2147483647.0), "");
    EXPECT_EQ(TTypeFrameEditor::MaxCardinalityText(2147483647), "");
    EXPECT_EQ(TTypeFrameEditor::MaxCardinalityText(7), "7");
    EXPECT_TRUE(frame.StoreMinRange(" "));
    EXPECT_DOUBLE_EQ(frame.Type()->GetMinRange(), -2147483648.0);
    EXPECT_TRUE(frame.StoreMaxCardinality(""));
    EXPECT_EQ(frame.Type()->GetMaxCardinality(), 2147483647);
    EXPECT_TRUE(TTypeFrameEditor::IsIntegerText("12"));
    EXPECT_FALSE(TTypeFrameEditor::IsIntegerText("12x"));
}

TEST_F(TypeFrameTest, AllowedValuesByTab) {
    TTypeFrameEditor frame(&E());
    frame.SetType(nullptr);
    frame.SetBaseKinds({dtAtom, dtString, dtInteger, dtFloat});
    EXPECT_EQ(TTypeFrameEditor::ValueFromText("12")->GetDType(), dtInteger);
    EXPECT_EQ(TTypeFrameEditor::ValueFromText("1.5")->GetDType(), dtFloat);
    EXPECT_EQ(TTypeFrameEditor::ValueFromText("a b")->GetDType(), dtString);
    EXPECT_EQ(TTypeFrameEditor::ValueFromText("ab")->GetDType(), dtAtom);
    EXPECT_FALSE(frame.CanAdd(atIntegers, "1.5"));
    EXPECT_TRUE(frame.CanAdd(atFloats, "2"));
    EXPECT_FALSE(frame.CanAdd(atSymbols, "a b"));
    frame.AddAllowed(atSymbols, "red");
    frame.AddAllowed(atStrings, "blue");
    frame.AddAllowed(atIntegers, "3");
    frame.AddAllowed(atFloats, "2");
    EXPECT_EQ(frame.AllowedLines(atAny), (std::vector<std::string>{"red", "blue", "3", "2.0000"}));
    // "blue" is a string though it reads as an atom: the Any tab deletes by position.
    frame.DeleteAllowed(atAny, 1, "blue");
    EXPECT_EQ(frame.AllowedLines(atStrings), std::vector<std::string>{});
    EXPECT_EQ(frame.AllowedLines(atSymbols), std::vector<std::string>{"red"});
    frame.ClearAllowed(atAny);
    EXPECT_TRUE(frame.AllowedLines(atAny).empty());
}

TEST_F(TypeFrameTest, TermsGetTheFirstFreeNumber) {
    TTypeFrameEditor frame(&E());
    frame.SetType(nullptr);
    frame.SetFuzzy(true, {});
    EXPECT_EQ(frame.NewTerm(), "Term1");
    EXPECT_EQ(frame.NewTerm(), "Term2");
    EXPECT_EQ(frame.NewTermName(), "Term3");
    frame.RenameTerm("Term1", "low");
    EXPECT_EQ(frame.NewTermName(), "Term1");
    frame.RemoveTerm("Term2");
    EXPECT_EQ(frame.TermNames(), std::vector<std::string>{"low"});
}

TEST_F(TypeFrameTest, ExpressionThatDoesNotEvaluateKeepsTheTermsSet) {
    TTypeFrameEditor frame(&E());
    frame.SetType(nullptr);
    frame.SetFuzzy(true, {});
    const std::string term = frame.NewTerm();
    const std::string before = frame.TermExpression(term);
    EXPECT_FALSE(frame.SetTermExpression(term, "(tri 1 2", false));
    EXPECT_EQ(frame.TermExpression(term), before);
    EXPECT_THROW(frame.SetTermExpression(term, "(tri 1 2", true), EException);
}

TEST_F(TypeFrameTest, ShapeExpressionsBecomeTheTermsSet) {
    TTypeFrameEditor frame(&E());
    frame.SetType(nullptr);
    frame.SetFuzzy(true, {});
    // The variable's universe follows the type's range; a set is clipped to it.
    ASSERT_TRUE(frame.StoreMinRange("0"));
    ASSERT_TRUE(frame.StoreMaxRange("10"));
    const std::string term = frame.NewTerm();
    ASSERT_TRUE(frame.SetTermExpression(term, "(tri 1.0000 2.0000 3.0000 )", true));
    TRefPtr<IFuzzySet> set = frame.Term(term);
    ASSERT_TRUE(set);
    EXPECT_NEAR(set->GetMembership(2.0), 1.0, 1e-4);
    EXPECT_NEAR(set->GetMembership(1.5), 0.5, 1e-4);
    EXPECT_NEAR(set->GetMembership(3.5), 0.0, 1e-4);
    EXPECT_EQ(frame.TermExpression(term), "(tri 1.0000 2.0000 3.0000 )");
    // A PI shape from two clicks: centre and width.
    ASSERT_TRUE(frame.SetTermExpression(term, "(pi 5.0000 2.0000)", true));
    EXPECT_NEAR(frame.Term(term)->GetMembership(5.0), 1.0, 1e-4);
    EXPECT_NEAR(frame.Term(term)->GetMembership(9.0), 0.0, 1e-4);
}

TEST(FuzzyShapeClicksTest, TriangleTakesThreeClicksAndPITakesAWidth) {
    TFuzzyShapeClicks clicks;
    EXPECT_EQ(clicks.Choose(1, "old"), "(tri ");
    bool complete = false;
    clicks.Click(1, complete);
    EXPECT_EQ(clicks.Preview(2.5), "") << "no preview before the last click is pending";
    clicks.Click(2, complete);
    EXPECT_FALSE(complete);
    EXPECT_EQ(clicks.Preview(2.5), "(tri 1.0000 2.0000 2.5000 )");
    EXPECT_EQ(clicks.Click(3, complete), "(tri 1.0000 2.0000 3.0000 )");
    EXPECT_TRUE(complete);
    clicks.Click(4, complete);
    EXPECT_EQ(clicks.Text(), "(tri 4.0000 ") << "the next click starts again";

    EXPECT_EQ(clicks.Choose(3, ""), "(pi ");
    clicks.Click(2, complete);
    EXPECT_EQ(clicks.Click(5.5, complete), "(pi 2.0000 3.5000)");
    EXPECT_TRUE(complete);
    EXPECT_EQ(clicks.Choose(0, "(z 1 2)"), "(z 1 2)");
    EXPECT_EQ(clicks.Preview(3), "");
}

// ---------------------------------------------------------------------------------------------
// Printing

struct TRecordingCanvas : IPrintCanvas {
    void BeginDoc(const std::string& title, int copies) override {
        Title = title;
        Copies = copies;
    }
    void EndDoc() override { Ended = true; }
    void NewPage() override { ++Pages; }
    int PageHeight() const override { return 1000; }
    int TextHeight(const std::string&) const override { return 100; }
    void TextOut(int x, int y, const std::string& text) override {
        Out.push_back({x, y, Pages, text});
    }
    struct TLine {
        int X, Y, Page;
        std::string Text;
    };
    std::string Title;
    int Copies = 0, Pages = 1;
    bool Ended = false;
    std::vector<TLine> Out;
};

TEST(PrintLayoutTest, LinesGoDownAtTheMarginAndBreakBeforeTheBottomMargin) {
    TRecordingCanvas canvas;
    std::vector<std::string> lines(8, "x");
    PrintLines(canvas, "Facts", 0, lines);
    EXPECT_EQ(canvas.Title, "Facts");
    EXPECT_EQ(canvas.Copies, 1);
    EXPECT_TRUE(canvas.Ended);
    ASSERT_EQ(canvas.Out.size(), 8u);
    EXPECT_EQ(canvas.Out[0].X, PrintMargin);
    EXPECT_EQ(canvas.Out[0].Y, 300);
    EXPECT_EQ(canvas.Out[5].Y, 800) << "800 is not past 1000 - 200";
    EXPECT_EQ(canvas.Out[5].Page, 1);
    EXPECT_EQ(canvas.Out[6].Page, 2);
    EXPECT_EQ(canvas.Out[6].Y, PrintMargin);
    EXPECT_EQ(canvas.Out[7].Y, 300);
}

TEST(EngineReadingTest, SplitAndTrim) {
    EXPECT_EQ(SplitLines("a\r\nb\nc\r"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(Trimmed("  x y \t"), "x y");
}

} // namespace
} // namespace ie
