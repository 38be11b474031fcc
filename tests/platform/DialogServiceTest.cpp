#include "platform/DialogService.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace ie;
using B = TMsgDlgBtn;

TEST(DialogServiceTest, EnumerationNames) {
    TMsgDlgType type = TMsgDlgType::mtWarning;
    EXPECT_TRUE(TryStrToMsgDlgType("mtConfirmation", type));
    EXPECT_EQ(type, TMsgDlgType::mtConfirmation);
    EXPECT_TRUE(TryStrToMsgDlgType("MTERROR", type));
    EXPECT_EQ(type, TMsgDlgType::mtError);
    EXPECT_FALSE(TryStrToMsgDlgType("mtQuestion", type));
    EXPECT_EQ(MsgDlgTypeName(TMsgDlgType::mtCustom), "mtCustom");
    EXPECT_EQ(MsgDlgBtnName(B::mbNoToAll), "mbNoToAll");
}

TEST(DialogServiceTest, ButtonSets) {
    TMsgDlgButtons buttons;
    ASSERT_TRUE(TryStrToMsgDlgButtons("[mbYes, mbNo, mbCancel]", buttons));
    EXPECT_EQ(buttons, (TMsgDlgButtons{B::mbYes, B::mbNo, B::mbCancel}));
    ASSERT_TRUE(TryStrToMsgDlgButtons(" [ mbOK ] ", buttons));
    EXPECT_EQ(buttons, TMsgDlgButtons{B::mbOK});
    ASSERT_TRUE(TryStrToMsgDlgButtons("[]", buttons));
    EXPECT_TRUE(buttons.Empty());
    buttons = {B::mbHelp};
    EXPECT_FALSE(TryStrToMsgDlgButtons("[mbYes, mbMaybe]", buttons));
    EXPECT_FALSE(TryStrToMsgDlgButtons("mbYes", buttons));
    EXPECT_FALSE(TryStrToMsgDlgButtons("[mbYes,]", buttons));
    EXPECT_EQ(buttons, TMsgDlgButtons{B::mbHelp}); // unchanged by a failure
}

TEST(DialogServiceTest, ModalResults) {
    EXPECT_EQ(ModalResultName(mrOk), "mrOk");
    EXPECT_EQ(ModalResultName(2), "mrCancel");
    EXPECT_EQ(ModalResultName(6), "mrYes");
    EXPECT_EQ(ModalResultName(10), "mrYesToAll");
    EXPECT_EQ(ModalResultName(0), "mrHelp");
    EXPECT_EQ(ModalResultName(11), "mrHelp");
    EXPECT_EQ(ModalResultOf(B::mbNo), 7);
    EXPECT_EQ(ModalResultOf(B::mbAbort), 3);
    EXPECT_EQ(CancelResult({B::mbYes, B::mbNo, B::mbCancel}), mrCancel);
    EXPECT_EQ(CancelResult({B::mbYes, B::mbNo}), mrNo);
    EXPECT_EQ(CancelResult({B::mbOK}), mrOk);
    EXPECT_EQ(CancelResult({B::mbAbort, B::mbRetry}), mrCancel);
}

TEST(DialogServiceTest, TerminalMessageDialogReadsTheChosenButton) {
    std::istringstream in("maybe\nno\n");
    std::ostringstream out;
    TTerminalDialogService dialogs(in, out);
    EXPECT_EQ(dialogs.MessageDlg("Proceed?", TMsgDlgType::mtConfirmation,
                                 {B::mbYes, B::mbNo, B::mbCancel}, 0),
              mrNo);
    EXPECT_EQ(out.str(), "Confirm: Proceed?\n[Yes/No/Cancel] [Yes/No/Cancel] ");
    // At the end of the input the cancel button answers.
    EXPECT_EQ(dialogs.MessageDlg("Again?", TMsgDlgType::mtWarning, {B::mbYes, B::mbNo}, 0), mrNo);
}

TEST(DialogServiceTest, TerminalDefaultsAndNames) {
    std::istringstream in("\nmbRetry\nyes to all\n");
    std::ostringstream out;
    TTerminalDialogService dialogs(in, out);
    EXPECT_EQ(dialogs.MessageDlg("x", TMsgDlgType::mtInformation, {B::mbOK, B::mbCancel}, 0), mrOk);
    EXPECT_EQ(dialogs.MessageBox("Failed", "Disk", MB_RETRYCANCEL | MB_ICONERROR), mrRetry);
    EXPECT_EQ(dialogs.MessageDlg("x", TMsgDlgType::mtCustom, {B::mbYesToAll, B::mbNoToAll}, 0),
              mrYesToAll);
}

TEST(DialogServiceTest, TerminalMessageWithOnlyOkReadsNothing) {
    std::istringstream in("kept\n");
    std::ostringstream out;
    TTerminalDialogService dialogs(in, out);
    EXPECT_EQ(dialogs.MessageBox("No Expert System Available", "", MB_OK), mrOk);
    dialogs.ShowMessage("Hello");
    EXPECT_EQ(out.str(), "No Expert System Available\nHello\n");
    std::string rest;
    std::getline(in, rest);
    EXPECT_EQ(rest, "kept");
}

TEST(DialogServiceTest, TerminalInput) {
    std::istringstream in("typed\n\n");
    std::ostringstream out;
    TTerminalDialogService dialogs(in, out);
    EXPECT_EQ(dialogs.InputBox("Enter line:", "prompt", "dflt"), "typed");
    std::string value = "offered";
    EXPECT_TRUE(dialogs.InputQuery("c", "p", value));
    EXPECT_EQ(value, "offered");
    // The end of the input cancels: the default comes back, the query fails.
    EXPECT_EQ(dialogs.InputBox("c", "p", "dflt"), "dflt");
    value = "v";
    EXPECT_FALSE(dialogs.InputQuery("c", "p", value));
    EXPECT_EQ(value, "v");
}

namespace {

class TScripted : public IDialogService {
public:
    void ShowMessage(std::string_view text) override { Shown = text; }
    int MessageBox(std::string_view, std::string_view, unsigned) override { return mrYes; }
    TModalResult MessageDlg(std::string_view, TMsgDlgType, TMsgDlgButtons, int) override {
        return mrAbort;
    }
    std::string InputBox(std::string_view, std::string_view, std::string_view) override {
        return "scripted";
    }
    bool InputQuery(std::string_view, std::string_view, std::string&) override { return false; }
    std::string Shown;
};

} // namespace

TEST(DialogServiceTest, ProcessWideServiceCanBeReplaced) {
    TScripted scripted;
    IDialogService* previous = SetDialogService(&scripted);
    GetDialogService().ShowMessage("hi");
    EXPECT_EQ(scripted.Shown, "hi");
    EXPECT_EQ(GetDialogService().MessageDlg("", TMsgDlgType::mtError, {B::mbOK}, 0), mrAbort);
    EXPECT_EQ(SetDialogService(previous), &scripted);
    EXPECT_NE(&GetDialogService(), &scripted);
}
