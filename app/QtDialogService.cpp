// The Qt dialog service: message boxes, message dialogs and input queries over the active window.
// Buttons are laid out in one fixed order whatever order the caller names them in, and closing a
// box or pressing Escape gives the same cancel result as the terminal service, so rule code sees
// the same answers whichever host runs it.
#include "app/QtDialogService.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include <array>
#include <utility>

namespace ie {

namespace {

QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

struct TButtonInfo {
    TMsgDlgBtn Button;
    QMessageBox::StandardButton Standard; // NoButton: a button of our own with Caption
    const char* Caption;
};

// Added in this order whatever order the caller names them in, so that dialogs offering the same
// choices lay their buttons out alike.
constexpr std::array<TButtonInfo, 11> ButtonInfos = {{
    {TMsgDlgBtn::mbYes, QMessageBox::Yes, nullptr},
    {TMsgDlgBtn::mbNo, QMessageBox::No, nullptr},
    {TMsgDlgBtn::mbOK, QMessageBox::Ok, nullptr},
    {TMsgDlgBtn::mbCancel, QMessageBox::Cancel, nullptr},
    {TMsgDlgBtn::mbAbort, QMessageBox::Abort, nullptr},
    {TMsgDlgBtn::mbRetry, QMessageBox::Retry, nullptr},
    {TMsgDlgBtn::mbIgnore, QMessageBox::Ignore, nullptr},
    {TMsgDlgBtn::mbAll, QMessageBox::NoButton, "&All"},
    {TMsgDlgBtn::mbNoToAll, QMessageBox::NoToAll, nullptr},
    {TMsgDlgBtn::mbYesToAll, QMessageBox::YesToAll, nullptr},
    {TMsgDlgBtn::mbHelp, QMessageBox::Help, nullptr},
}};

QMessageBox::Icon IconOf(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::mtWarning:
        return QMessageBox::Warning;
    case TMsgDlgType::mtError:
        return QMessageBox::Critical;
    case TMsgDlgType::mtInformation:
        return QMessageBox::Information;
    case TMsgDlgType::mtConfirmation:
        return QMessageBox::Question;
    case TMsgDlgType::mtCustom:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::Icon IconOfFlags(unsigned flags) {
    switch (flags & 0xF0) {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONWARNING:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// Shows a modal box with the buttons and returns the result of the button pressed; closing the
// box or Escape gives the cancel result of the buttons.
TModalResult Run(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                 const QString& text, TMsgDlgButtons buttons) {
    if (buttons.Empty()) buttons.Include(TMsgDlgBtn::mbOK);
    QMessageBox box(icon, caption, text, QMessageBox::NoButton, parent);
    std::vector<std::pair<QAbstractButton*, TMsgDlgBtn>> shown;
    for (const TButtonInfo& info : ButtonInfos) {
        if (!buttons.Contains(info.Button)) continue;
        QAbstractButton* button =
            info.Standard != QMessageBox::NoButton
                ? static_cast<QAbstractButton*>(box.addButton(info.Standard))
                : static_cast<QAbstractButton*>(
                      box.addButton(QString::fromLatin1(info.Caption), QMessageBox::AcceptRole));
        shown.emplace_back(button, info.Button);
    }
    // Escape presses the button whose result closing the box gives.
    const TModalResult cancel = CancelResult(buttons);
    for (const auto& [button, id] : shown)
        if (ModalResultOf(id) == cancel) box.setEscapeButton(button);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (const auto& [button, id] : shown)
        if (button == clicked) return ModalResultOf(id);
    return CancelResult(buttons);
}

} // namespace

QWidget* TQtDialogService::Parent() {
    return QApplication::activeWindow();
}

TMsgDlgButtons TQtDialogService::ButtonsOfFlags(unsigned flags) {
    using enum TMsgDlgBtn;
    switch (flags & 0x0F) {
    case MB_OKCANCEL:
        return {mbOK, mbCancel};
    case MB_ABORTRETRYIGNORE:
        return {mbAbort, mbRetry, mbIgnore};
    case MB_YESNOCANCEL:
        return {mbYes, mbNo, mbCancel};
    case MB_YESNO:
        return {mbYes, mbNo};
    case MB_RETRYCANCEL:
        return {mbRetry, mbCancel};
    default:
        return {mbOK};
    }
}

std::string TQtDialogService::DialogCaption(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::mtWarning:
        return "Warning";
    case TMsgDlgType::mtError:
        return "Error";
    case TMsgDlgType::mtInformation:
        return "Information";
    case TMsgDlgType::mtConfirmation:
        return "Confirm";
    case TMsgDlgType::mtCustom:
        break;
    }
    return QApplication::applicationName().toStdString();
}

void TQtDialogService::ShowMessage(std::string_view text) {
    Run(Parent(), QMessageBox::NoIcon, QApplication::applicationName(), ToQString(text),
        {TMsgDlgBtn::mbOK});
}

int TQtDialogService::MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
    return Run(Parent(), IconOfFlags(flags), ToQString(caption), ToQString(text),
               ButtonsOfFlags(flags));
}

TModalResult TQtDialogService::MessageDlg(std::string_view text, TMsgDlgType type,
                                          TMsgDlgButtons buttons, int /*helpContext*/) {
    return Run(Parent(), IconOf(type), QString::fromStdString(DialogCaption(type)), ToQString(text),
               buttons);
}

std::string TQtDialogService::InputBox(std::string_view caption, std::string_view prompt,
                                       std::string_view defaultText) {
    std::string value(defaultText);
    InputQuery(caption, prompt, value);
    return value;
}

bool TQtDialogService::InputQuery(std::string_view caption, std::string_view prompt,
                                  std::string& value) {
    bool ok = false;
    const QString text = QInputDialog::getText(Parent(), ToQString(caption), ToQString(prompt),
                                               QLineEdit::Normal, ToQString(value), &ok);
    if (ok) value = text.toStdString();
    return ok;
}

} // namespace ie
