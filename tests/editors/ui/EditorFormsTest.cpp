// Each form built offscreen (QT_QPA_PLATFORM=offscreen) on a real engine.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>
#include <QtCharts/QChart>

#include "editors/GEdit.h"
#include "editors/TypeEditorFrame.h"
#include "engine/IERule.h"

#include "editors/ConsoleEditorForm.h"
#include "editors/FactEditorForm.h"
#include "editors/FactTemplateEditorForm.h"
#include "editors/GListBox.h"
#include "editors/RuleEditorForm.h"
#include "editors/TypeEditorForm.h"

namespace ie {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "test_editors_ui";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

struct TFormsFixture : ::testing::Test {
    TFormsFixture() { App(); }
    std::unique_ptr<TInferenceEngine, TComponentDeleter> Host{new TInferenceEngine(nullptr)};
};

TEST_F(TFormsFixture, ConsoleWindowMirrorsTheConsoleLists) {
    TIEConsoleDlg dlg(true, *Host);
    EXPECT_EQ(dlg.List(clFacts)->count(), static_cast<int>(dlg.Console().Lines(clFacts).size()));
    EXPECT_GE(dlg.List(clFacts)->count(), 1) << "the initial fact";
    dlg.Console().SetShowButtons(true);
    EXPECT_TRUE(dlg.Action(caFileExit)->isVisible());
    dlg.Console().PrintOut(&dlg.Console().Engine(), "t", "hello there");
    EXPECT_TRUE(dlg.Output()->toPlainText().contains("hello there"));
    EXPECT_TRUE(dlg.Find("THERE", false));
    dlg.Console().Engine().Facts().Clear();
    EXPECT_EQ(dlg.List(clFacts)->count(), 0);
}

TEST_F(TFormsFixture, EditorFormsAreBuiltOnTheirPrivateEngines) {
    TFactsEditDlg facts;
    EXPECT_NE(&facts.FormEngine(), Host.get());
    facts.Sort(foID);
    EXPECT_EQ(facts.FactList()->count(), facts.FormEngine().Facts().Count());
    TFactTemplatesEditDlg templates;
    templates.Rebuild();
    templates.NewTemplate();
    EXPECT_EQ(templates.Tree()->topLevelItemCount(), 1);
    TRulesEditDlg rules;
    rules.Rebuild();
    EXPECT_EQ(rules.Tree()->topLevelItemCount(), 0);
    TIETypesEditDlg types;
    types.NewType();
    types.Rebuild();
    EXPECT_EQ(types.Tree()->topLevelItemCount(), 0);
}

TEST_F(TFormsFixture, NewTemplateNamesCountFromTheTemplatesPresent) {
    TFactTemplatesEditDlg templates;
    const int32_t n = templates.FormEngine().FactTemplates().Count();
    templates.NewTemplate();
    EXPECT_TRUE(
        templates.FormEngine().FactTemplates().Find("FactTemplateName" + std::to_string(n)));
    templates.NewTemplate();
    EXPECT_TRUE(
        templates.FormEngine().FactTemplates().Find("FactTemplateName" + std::to_string(n + 1)));
}

TEST_F(TFormsFixture, ListBoxShowsTheBarOnlyWhenALineIsWiderThanTheList) {
    TGListBox list;
    list.resize(100, 100);
    list.SetHorizontalScrollBar(true);
    list.AddLine("short");
    const int narrow = list.WidestExtent();
    list.AddLine(QString(200, 'x'));
    EXPECT_GT(list.WidestExtent(), narrow);
    list.DeleteLine(1);
    EXPECT_EQ(list.WidestExtent(), narrow);
}

TEST_F(TFormsFixture, FactFormBuildsAFactInTheGridAndAddsIt) {
    TFactsEditDlg facts;
    facts.FormEngine().ExecuteCommand("(deftemplate point (slot x (default 0)))", true);
    facts.Prepare();
    facts.BasedOn()->setCurrentText("point");
    ASSERT_TRUE(facts.NewAction()->isEnabled());
    facts.NewFact();
    ASSERT_EQ(facts.Grid()->rowCount(), 3) << "headings, ID and one slot";
    EXPECT_EQ(facts.Grid()->item(1, 1)->text(), "-1");
    facts.Grid()->item(2, 1)->setText("5");
    const int before = facts.FactList()->count();
    facts.AddFact();
    EXPECT_EQ(facts.FactList()->count(), before + 1);
    EXPECT_NE(facts.Grid()->item(1, 1)->text(), "-1");
    facts.DeleteFact();
    EXPECT_EQ(facts.FactList()->count(), before);
}

TEST_F(TFormsFixture, TemplateFormAppliesTheSlotPanel) {
    TFactTemplatesEditDlg templates;
    templates.Rebuild();
    templates.NewTemplate();
    templates.NewSlot();
    ASSERT_FALSE(templates.SlotPanel()->isHidden());
    templates.SlotNameEdit()->setText("size");
    templates.MultiSlotCheck()->setChecked(false);
    templates.DefaultEdit()->setText("3");
    ASSERT_TRUE(templates.ApplySlot());
    TRefPtr<IFactTemplate> t =
        templates.FormEngine().FactTemplates().Find(templates.NameEdit()->text().toStdString());
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->HasSlot("size"));
    EXPECT_EQ(t->SlotByName("size")->GetSlotDefault()->AsInteger(), 3);
}

TEST_F(TFormsFixture, RuleFormAddsAndRefusesADuplicate) {
    TRulesEditDlg rules;
    rules.Prepare();
    rules.NameEdit()->setText("r1");
    rules.ChooseLine(rsIf, 0);
    rules.TypeLine("(a)");
    rules.ChooseLine(rsThen, 0);
    rules.TypeLine("(assert (b))");
    EXPECT_EQ(rules.Lines(rsIf)->count(), 2) << "an empty line stays for the next condition";
    ASSERT_TRUE(rules.AddRule());
    EXPECT_TRUE(rules.FormEngine().Rules().Find("r1"));
    EXPECT_EQ(rules.Tree()->topLevelItemCount(), 1);
    EXPECT_GT(rules.Functions()->count(), 0);
    rules.Search()->setText("asser");
    emit rules.Search()->textEdited("asser");
    ASSERT_TRUE(rules.Functions()->currentItem());
    EXPECT_EQ(rules.Functions()->currentItem()->text(), "assert");
}

TEST_F(TFormsFixture, TypeFrameShowsPagesByKindAndBuildsShapesByClicks) {
    TIETypesEditDlg types;
    types.NewType();
    TIETypeEditorFrame* frame = types.Frame();
    frame->FuzzyCheck()->click();
    EXPECT_TRUE(frame->Editor().Fuzzy());
    EXPECT_TRUE(frame->Pages()->isTabVisible(3));
    EXPECT_FALSE(frame->Pages()->isTabVisible(4));
    frame->Editor().NewTerm();
    frame->ShowTerms();
    ASSERT_EQ(frame->Terms()->count(), 1);
    frame->Terms()->setCurrentRow(0);
    frame->ChooseShape(1);
    EXPECT_EQ(frame->Expression()->text(), "(tri ");
    frame->ChartClick(1, 0);
    frame->ChartClick(2, 1);
    // The third click completes the shape, which needs the engine's fuzzy-text evaluation.
    EXPECT_EQ(frame->Expression()->text(), "(tri 1.0000 2.0000 ");
    frame->FuzzyCheck()->click();
    EXPECT_FALSE(frame->Editor().Fuzzy());
    EXPECT_TRUE(frame->Pages()->isTabVisible(4));
}

} // namespace
} // namespace ie
