// The program's main block: the application object, the main window, the rule exchange, the
// message loop. "--screenshot FILE [--steps N] [--print-log] [--size WxH]" makes N iterations in
// a window of that size (its own size by default), saves the
// window as an image (and writes the log to the standard output) and ends, for checking the
// window without a person in front of it (no dialog opens then: messages go to the terminal and
// a missing rule file is not asked for).
#include "app/CorvaneMain.h"
#include "app/QtDialogService.h"
#include "app/model/CorvaneDataModule.h"
#include "editors/ConsoleEditorForm.h"
#include "editors/EditorFormBase.h"
#include "editors/logic/IEDialogs.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Corvane");

    QString screenshot;
    int steps = 20;
    bool printLog = false;
    QString size;
    const QStringList arguments = QApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--screenshot" && i + 1 < arguments.size())
            screenshot = arguments[++i];
        else if (arguments[i] == "--steps" && i + 1 < arguments.size())
            steps = arguments[++i].toInt();
        else if (arguments[i] == "--print-log")
            printLog = true;
        else if (arguments[i] == "--size" && i + 1 < arguments.size())
            size = arguments[++i];
    }
    const bool interactive = screenshot.isEmpty();
    std::unique_ptr<ie::TQtDialogServiceInstaller> dialogs;
    if (interactive) dialogs = std::make_unique<ie::TQtDialogServiceInstaller>();

    ie::TfrmCorvane window;
    ie::TDataModule1 dataModule(window.Simulation());
    ie::TDataModule1::TOpenDialog openDialog;
    if (interactive)
        openDialog = [&window](std::string& fileName) {
            // The user picks the file under the usual cursor; reading it is the busy part.
            QApplication::restoreOverrideCursor();
            const bool chosen = window.AskRuleFile(fileName);
            QApplication::setOverrideCursor(Qt::WaitCursor);
            return chosen;
        };
    {
        // A rule file of megabytes takes seconds to read: the cursor says the program works.
        const ie::TBusyCursor busy;
        dataModule.DataModuleCreate(openDialog);
    }

    // The console opens modal on a copy of the data module's engine; OK hands the copy back.
    ie::InstallQtEditorForms();
    ie::TConsoleDialog consoleDialog(nullptr);
    consoleDialog.SetCaption("Console Editor");
    consoleDialog.SetEngine(&dataModule.InferenceEngine1());
    dataModule.ConsoleDialog1 = [&consoleDialog](std::string& openedFile) {
        const bool wroteBack = consoleDialog.Execute() && consoleDialog.WroteBack();
        openedFile = consoleDialog.OpenedFile();
        return wroteBack;
    };
    consoleDialog.OnWriteBackFailed = [&dataModule](const std::string& message) {
        dataModule.ConsoleWriteBackFailed(message);
    };
    window.SetConsole([&dataModule] { dataModule.ExecuteConsole(); });
    const QStringList extent = size.split('x');
    if (extent.size() == 2 && extent[0].toInt() > 0 && extent[1].toInt() > 0)
        window.resize(extent[0].toInt(), extent[1].toInt());
    window.show();

    if (!interactive) {
        QTimer::singleShot(200, &window, [&] {
            for (int i = 0; i < steps; ++i)
                window.Simulation().StepClick();
            QApplication::processEvents();
            const bool saved = window.grab().save(screenshot);
            if (printLog) std::fputs(window.LogText().toStdString().c_str(), stdout);
            QApplication::exit(saved ? 0 : 1);
        });
    }
    return QApplication::exec();
}
