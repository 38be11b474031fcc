// The names of dialog types, buttons and modal results, the terminal dialog service and the
// process-wide slot the host installs its own service in. The terminal service never blocks on a
// closed input: the end of input answers as the dialog's cancel button would.
#include "platform/DialogService.h"

#include "platform/Format.h"

#include <array>
#include <iostream>

namespace ie {

namespace {

constexpr std::array<std::string_view, 5> TypeNames = {"mtWarning", "mtError", "mtInformation",
                                                       "mtConfirmation", "mtCustom"};
constexpr std::array<std::string_view, 5> TypeCaptions = {"Warning", "Error", "Information",
                                                          "Confirm", ""};
constexpr std::array<std::string_view, 11> ButtonNames = {
    "mbYes",    "mbNo",  "mbOK",      "mbCancel",   "mbAbort", "mbRetry",
    "mbIgnore", "mbAll", "mbNoToAll", "mbYesToAll", "mbHelp"};
constexpr std::array<std::string_view, 11> ButtonCaptions = {
    "Yes",    "No",  "OK",        "Cancel",     "Abort", "Retry",
    "Ignore", "All", "No to All", "Yes to All", "Help"};
constexpr std::array<TModalResult, 11> ButtonResults = {
    mrYes, mrNo, mrOk, mrCancel, mrAbort, mrRetry, mrIgnore, mrAll, mrNoToAll, mrYesToAll, mrNone};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// The buttons of a message box's flags.
TMsgDlgButtons FlagButtons(unsigned flags) {
    using B = TMsgDlgBtn;
    switch (flags & 0xF) {
    case MB_OKCANCEL:
        return {B::mbOK, B::mbCancel};
    case MB_ABORTRETRYIGNORE:
        return {B::mbAbort, B::mbRetry, B::mbIgnore};
    case MB_YESNOCANCEL:
        return {B::mbYes, B::mbNo, B::mbCancel};
    case MB_YESNO:
        return {B::mbYes, B::mbNo};
    case MB_RETRYCANCEL:
        return {B::mbRetry, B::mbCancel};
    default:
        return {B::mbOK};
    }
}

IDialogService*& Installed() {
    static IDialogService* service = nullptr;
    return service;
}

} // namespace

std::string_view MsgDlgTypeName(TMsgDlgType type) {
    return TypeNames[static_cast<size_t>(type)];
}

bool TryStrToMsgDlgType(std::string_view name, TMsgDlgType& type) {
    for (size_t i = 0; i < TypeNames.size(); ++i)
        if (SameText(name, TypeNames[i])) {
            type = static_cast<TMsgDlgType>(i);
            return true;
        }
    return false;
}

std::string_view MsgDlgBtnName(TMsgDlgBtn button) {
    return ButtonNames[static_cast<size_t>(button)];
}

bool TryStrToMsgDlgBtn(std::string_view name, TMsgDlgBtn& button) {
    for (size_t i = 0; i < ButtonNames.size(); ++i)
        if (SameText(name, ButtonNames[i])) {
            button = static_cast<TMsgDlgBtn>(i);
            return true;
        }
    return false;
}

bool TryStrToMsgDlgButtons(std::string_view text, TMsgDlgButtons& buttons) {
    text = Trim(text);
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') return false;
    text = Trim(text.substr(1, text.size() - 2));
    TMsgDlgButtons result;
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view name = Trim(text.substr(0, comma));
        TMsgDlgBtn b;
        if (!TryStrToMsgDlgBtn(name, b)) return false;
        result.Include(b);
        if (comma == std::string_view::npos) break;
        text = text.substr(comma + 1);
        if (Trim(text).empty()) return false; // a trailing comma names nothing
    }
    buttons = result;
    return true;
}

std::string_view ModalResultName(TModalResult result) {
    static constexpr std::array<std::string_view, 11> Names = {
        "",      "mrOk", "mrCancel", "mrAbort",   "mrRetry",   "mrIgnore",
        "mrYes", "mrNo", "mrAll",    "mrNoToAll", "mrYesToAll"};
    if (result >= 1 && result <= 10) return Names[static_cast<size_t>(result)];
    return "mrHelp";
}

TModalResult ModalResultOf(TMsgDlgBtn button) {
    return ButtonResults[static_cast<size_t>(button)];
}

TModalResult CancelResult(TMsgDlgButtons buttons) {
    if (buttons.Contains(TMsgDlgBtn::mbCancel)) return mrCancel;
    if (buttons.Contains(TMsgDlgBtn::mbNo)) return mrNo;
    if (buttons.Contains(TMsgDlgBtn::mbOK)) return mrOk;
    return mrCancel;
}

// ---- Terminal service ----------------------------------------------------------------------

TTerminalDialogService::TTerminalDialogService() : FIn(std::cin), FOut(std::cout) {}

TTerminalDialogService::TTerminalDialogService(std::istream& in, std::ostream& out)
    : FIn(in), FOut(out) {}

bool TTerminalDialogService::ReadLine(std::string& line) {
    if (!std::getline(FIn, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

TModalResult TTerminalDialogService::Choose(std::string_view heading, std::string_view text,
                                            TMsgDlgButtons buttons) {
    if (!heading.empty()) FOut << heading << ": ";
    FOut << text << '\n';
    int choices = 0;
    for (size_t i = 0; i < ButtonNames.size(); ++i)
        if (buttons.Contains(static_cast<TMsgDlgBtn>(i))) ++choices;
    // Nothing to choose: the message is only shown.
    if (choices <= 1 && !buttons.Contains(TMsgDlgBtn::mbHelp)) {
        FOut.flush();
        for (size_t i = 0; i < ButtonNames.size(); ++i)
            if (buttons.Contains(static_cast<TMsgDlgBtn>(i)))
                return ModalResultOf(static_cast<TMsgDlgBtn>(i));
        return mrOk;
    }
    TModalResult defaultResult = mrNone;
    if (buttons.Contains(TMsgDlgBtn::mbOK))
        defaultResult = mrOk;
    else if (buttons.Contains(TMsgDlgBtn::mbYes))
        defaultResult = mrYes;
    for (;;) {
        FOut << '[';
        bool first = true;
        for (size_t i = 0; i < ButtonCaptions.size(); ++i) {
            if (!buttons.Contains(static_cast<TMsgDlgBtn>(i))) continue;
            if (!first) FOut << '/';
            FOut << ButtonCaptions[i];
            first = false;
        }
        FOut << "] " << std::flush;
        std::string line;
        if (!ReadLine(line)) return CancelResult(buttons);
        const std::string_view answer = Trim(line);
        if (answer.empty() && defaultResult != mrNone) return defaultResult;
        for (size_t i = 0; i < ButtonCaptions.size(); ++i) {
            if (!buttons.Contains(static_cast<TMsgDlgBtn>(i))) continue;
            if (SameText(answer, ButtonCaptions[i]) || SameText(answer, ButtonNames[i]))
                return ModalResultOf(static_cast<TMsgDlgBtn>(i));
        }
    }
}

void TTerminalDialogService::ShowMessage(std::string_view text) {
    FOut << text << '\n' << std::flush;
}

int TTerminalDialogService::MessageBox(std::string_view text, std::string_view caption,
                                       unsigned flags) {
    return Choose(caption, text, FlagButtons(flags));
}

TModalResult TTerminalDialogService::MessageDlg(std::string_view text, TMsgDlgType type,
                                                TMsgDlgButtons buttons, int /*helpContext*/) {
    return Choose(TypeCaptions[static_cast<size_t>(type)], text, buttons);
}

std::string TTerminalDialogService::InputBox(std::string_view caption, std::string_view prompt,
                                             std::string_view defaultText) {
    std::string value(defaultText);
    InputQuery(caption, prompt, value);
    return value;
}

bool TTerminalDialogService::InputQuery(std::string_view caption, std::string_view prompt,
                                        std::string& value) {
    if (!caption.empty()) FOut << caption << '\n';
    FOut << prompt;
    if (!value.empty()) FOut << " [" << value << ']';
    FOut << ' ' << std::flush;
    std::string line;
    if (!ReadLine(line)) return false;
    // An empty answer accepts the text offered.
    if (!line.empty()) value = line;
    return true;
}

// ---- The process-wide service --------------------------------------------------------------

IDialogService& GetDialogService() {
    if (IDialogService* s = Installed()) return *s;
    static TTerminalDialogService terminal;
    return terminal;
}

IDialogService* SetDialogService(IDialogService* service) {
    IDialogService* previous = Installed();
    Installed() = service;
    return previous;
}

} // namespace ie
