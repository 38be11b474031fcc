// The dialogs the engine and the application open: message boxes, message dialogs with a type
// and a set of buttons, input boxes and input queries. The engine reaches them only through the
// process-wide IDialogService, so a windowing front end installs its own and tests install
// scripted ones; the default service works on a terminal.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <string>
#include <string_view>

namespace ie {

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum class TMsgDlgBtn {
    mbYes,
    mbNo,
    mbOK,
    mbCancel,
    mbAbort,
    mbRetry,
    mbIgnore,
    mbAll,
    mbNoToAll,
    mbYesToAll,
    mbHelp
};

// A set of TMsgDlgBtn.
class TMsgDlgButtons {
public:
    constexpr TMsgDlgButtons() = default;
    constexpr TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons) {
        for (TMsgDlgBtn b : buttons)
            Include(b);
    }
    constexpr void Include(TMsgDlgBtn b) { FBits |= Bit(b); }
    constexpr void Exclude(TMsgDlgBtn b) { FBits &= ~Bit(b); }
    constexpr bool Contains(TMsgDlgBtn b) const { return (FBits & Bit(b)) != 0; }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr bool operator==(const TMsgDlgButtons&) const = default;

private:
    static constexpr uint32_t Bit(TMsgDlgBtn b) { return 1u << static_cast<unsigned>(b); }
    uint32_t FBits = 0;
};

// What closed a modal dialog; message boxes return the same numbers (IDOK = mrOk, ...).
using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;
constexpr TModalResult mrAll = 8;
constexpr TModalResult mrNoToAll = 9;
constexpr TModalResult mrYesToAll = 10;

// Message box flags: the buttons in the low four bits, the icon above them.
constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_OKCANCEL = 0x1;
constexpr unsigned MB_ABORTRETRYIGNORE = 0x2;
constexpr unsigned MB_YESNOCANCEL = 0x3;
constexpr unsigned MB_YESNO = 0x4;
constexpr unsigned MB_RETRYCANCEL = 0x5;
constexpr unsigned MB_ICONERROR = 0x10;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONWARNING = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;

// Enumeration names ("mtWarning", "mbYesToAll") and their case-insensitive lookup.
std::string_view MsgDlgTypeName(TMsgDlgType type);
bool TryStrToMsgDlgType(std::string_view name, TMsgDlgType& type);
std::string_view MsgDlgBtnName(TMsgDlgBtn button);
bool TryStrToMsgDlgBtn(std::string_view name, TMsgDlgBtn& button);
// Set notation: "[mbYes, mbNo]", "[]"; blanks around names are ignored.
bool TryStrToMsgDlgButtons(std::string_view text, TMsgDlgButtons& buttons);
// "mrOk" ... "mrYesToAll"; any other result (mrNone included) is "mrHelp".
std::string_view ModalResultName(TModalResult result);
// The result of pressing a button (mbHelp has none: mrNone).
TModalResult ModalResultOf(TMsgDlgBtn button);
// The button that Escape or closing the window presses: Cancel, else No, else OK; none gives
// mrCancel.
TModalResult CancelResult(TMsgDlgButtons buttons);

class IDialogService {
public:
    virtual ~IDialogService() = default;
    // A message with an OK button.
    virtual void ShowMessage(std::string_view text) = 0;
    // Returns the pressed button's number (mrOk, mrCancel, mrYes, ...).
    virtual int MessageBox(std::string_view text, std::string_view caption, unsigned flags) = 0;
    virtual TModalResult MessageDlg(std::string_view text, TMsgDlgType type, TMsgDlgButtons buttons,
                                    int helpContext) = 0;
    // The text entered, or Default when the user cancels.
    virtual std::string InputBox(std::string_view caption, std::string_view prompt,
                                 std::string_view defaultText) = 0;
    // True with Value set to the text entered when the user confirms; Value unchanged otherwise.
    virtual bool InputQuery(std::string_view caption, std::string_view prompt,
                            std::string& value) = 0;
};

// A dialog service on text streams: writes the message and its choices to Out and reads the
// answer as one line from In. A message with nothing to choose reads nothing. An empty line
// takes the default answer (the input's default text, the OK or Yes button); the end of the
// input takes the cancel answer.
class TTerminalDialogService : public IDialogService {
public:
    TTerminalDialogService(); // standard input and output
    TTerminalDialogService(std::istream& in, std::ostream& out);

    void ShowMessage(std::string_view text) override;
    int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
    TModalResult MessageDlg(std::string_view text, TMsgDlgType type, TMsgDlgButtons buttons,
                            int helpContext) override;
    std::string InputBox(std::string_view caption, std::string_view prompt,
                         std::string_view defaultText) override;
    bool InputQuery(std::string_view caption, std::string_view prompt, std::string& value) override;

private:
    TModalResult Choose(std::string_view heading, std::string_view text, TMsgDlgButtons buttons);
    bool ReadLine(std::string& line);

    std::istream& FIn;
    std::ostream& FOut;
};

// The process-wide service. SetDialogService does not take ownership: the service must outlive
// its installation; nullptr restores the terminal service. Returns the previous service.
IDialogService& GetDialogService();
IDialogService* SetDialogService(IDialogService* service);

} // namespace ie
