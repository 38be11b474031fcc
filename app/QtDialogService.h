// The application's dialog service: the message boxes, message dialogs and input boxes that the
// engine and its functions open appear as Qt dialogs over the active window. main() installs it
// for the lifetime of the application object.
#pragma once

#include "platform/DialogService.h"

class QWidget;

namespace ie {

class TQtDialogService : public IDialogService {
public:
    void ShowMessage(std::string_view text) override;
    int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
    TModalResult MessageDlg(std::string_view text, TMsgDlgType type, TMsgDlgButtons buttons,
                            int helpContext) override;
    std::string InputBox(std::string_view caption, std::string_view prompt,
                         std::string_view defaultText) override;
    bool InputQuery(std::string_view caption, std::string_view prompt, std::string& value) override;

    // The buttons of a message box's flags (the low four bits), in the order they are shown.
    static TMsgDlgButtons ButtonsOfFlags(unsigned flags);
    // The caption of a message dialog of the type; a custom dialog shows the application's name.
    static std::string DialogCaption(TMsgDlgType type);

private:
    static QWidget* Parent();
};

// Installs the service for as long as it lives and restores the previous one afterwards.
class TQtDialogServiceInstaller {
public:
    TQtDialogServiceInstaller() : FPrevious(SetDialogService(&FService)) {}
    ~TQtDialogServiceInstaller() { SetDialogService(FPrevious); }
    TQtDialogServiceInstaller(const TQtDialogServiceInstaller&) = delete;
    TQtDialogServiceInstaller& operator=(const TQtDialogServiceInstaller&) = delete;

private:
    TQtDialogService FService;
    IDialogService* FPrevious;
};

} // namespace ie
