#include "app/QtDialogService.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>

#include "QtTestApplication.h"

namespace ie {
namespace {

class QtDialogServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test::StartOffscreenApplication();
        QApplication::setApplicationName("Corvane");
    }

    // Acts on the modal dialog as soon as it is open.
    template <class TDialog> void WhenOpen(std::function<void(TDialog&)> act) {
        QTimer::singleShot(0, [act] {
            auto* dialog = qobject_cast<TDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            act(*dialog);
        });
    }

    TQtDialogService Service;
};

TEST_F(QtDialogServiceTest, MessageBoxFlagsGiveTheirButtons) {
    using enum TMsgDlgBtn;
    EXPECT_EQ(TQtDialogService::ButtonsOfFlags(MB_OK | MB_ICONERROR), TMsgDlgButtons{mbOK});
    EXPECT_EQ(TQtDialogService::ButtonsOfFlags(MB_OKCANCEL), (TMsgDlgButtons{mbOK, mbCancel}));
    EXPECT_EQ(TQtDialogService::ButtonsOfFlags(MB_ABORTRETRYIGNORE),
              (TMsgDlgButtons{mbAbort, mbRetry, mbIgnore}));
    EXPECT_EQ(TQtDialogService::ButtonsOfFlags(MB_YESNOCANCEL | MB_ICONQUESTION),
              (TMsgDlgButtons{mbYes, mbNo, mbCancel}));
    EXPECT_EQ(TQtDialogService::ButtonsOfFlags(MB_YESNO), (TMsgDlgButtons{mbYes, mbNo}));
    EXPECT_EQ(TQtDialogService::ButtonsOfFlags(MB_RETRYCANCEL),
              (TMsgDlgButtons{mbRetry, mbCancel}));
    EXPECT_EQ(TQtDialogService::DialogCaption(TMsgDlgType::mtConfirmation), "Confirm");
    EXPECT_EQ(TQtDialogService::DialogCaption(TMsgDlgType::mtCustom), "Corvane");
}

TEST_F(QtDialogServiceTest, TheButtonPressedIsTheResult) {
    WhenOpen<QMessageBox>([](QMessageBox& box) {
        EXPECT_EQ(box.text(), "Save?");
        EXPECT_EQ(box.windowTitle(), "Confirm");
        EXPECT_EQ(box.buttons().size(), 3);
        box.button(QMessageBox::No)->click();
    });
    EXPECT_EQ(Service.MessageDlg("Save?", TMsgDlgType::mtConfirmation,
                                 {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbCancel}, 0),
              mrNo);

    WhenOpen<QMessageBox>([](QMessageBox& box) {
        EXPECT_EQ(box.windowTitle(), "Title");
        box.button(QMessageBox::Retry)->click();
    });
    EXPECT_EQ(Service.MessageBox("Again?", "Title", MB_RETRYCANCEL), mrRetry);
}

TEST_F(QtDialogServiceTest, ClosingTheBoxGivesTheCancelResult) {
    WhenOpen<QMessageBox>([](QMessageBox& box) { box.escapeButton()->click(); });
    EXPECT_EQ(
        Service.MessageDlg("Go?", TMsgDlgType::mtWarning, {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo}, 0),
        mrNo);
    WhenOpen<QMessageBox>([](QMessageBox& box) { box.escapeButton()->click(); });
    EXPECT_EQ(Service.MessageBox("Go?", "t", MB_OKCANCEL), mrCancel);
}

TEST_F(QtDialogServiceTest, InputBoxesGiveTheTextOrKeepTheDefault) {
    WhenOpen<QInputDialog>([](QInputDialog& dialog) {
        EXPECT_EQ(dialog.textValue(), "old");
        dialog.setTextValue("new");
        dialog.accept();
    });
    std::string value = "old";
    EXPECT_TRUE(Service.InputQuery("Caption", "Prompt", value));
    EXPECT_EQ(value, "new");

    WhenOpen<QInputDialog>([](QInputDialog& dialog) {
        dialog.setTextValue("typed");
        dialog.reject();
    });
    EXPECT_EQ(Service.InputBox("Caption", "Prompt", "default"), "default");
}

} // namespace
} // namespace ie
