// Each form built offscreen (QT_QPA_PLATFORM=offscreen) on a real engine.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTreeWidget>

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
    facts.Sort(1);
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

} // namespace
} // namespace ie
