// The program's main block: the application object, the main window, the rule exchange, the
// message loop. "--screenshot FILE [--steps N]" makes N iterations, saves the window as an
// image and ends, for checking the window without a person in front of it (no dialog opens
// then: messages go to the terminal and a missing rule file is not asked for).
#include "app/CorvaneMain.h"
#include "app/QtDialogService.h"
#ifdef IE_APP_RULES
#include "app/model/CorvaneDataModule.h"
#endif

#include <QApplication>
#include <QFileDialog>
#include <QPixmap>
#include <QTimer>

#include <memory>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Corvane");

    QString screenshot;
    int steps = 20;
    const QStringList arguments = QApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--screenshot" && i + 1 < arguments.size())
            screenshot = arguments[++i];
        else if (arguments[i] == "--steps" && i + 1 < arguments.size())
            steps = arguments[++i].toInt();
    }
    const bool interactive = screenshot.isEmpty();
    std::unique_ptr<ie::TQtDialogServiceInstaller> dialogs;
    if (interactive) dialogs = std::make_unique<ie::TQtDialogServiceInstaller>();

    ie::TfrmCorvane window;
#ifdef IE_APP_RULES
    ie::TDataModule1 dataModule(window.Simulation());
    ie::TDataModule1::TOpenDialog openDialog;
    if (interactive)
        openDialog = [&window](std::string& fileName) {
            const QString chosen = QFileDialog::getOpenFileName(
                &window, QString(), QString::fromStdString(fileName), "Expert System (*.ie *.clp)");
            if (chosen.isEmpty()) return false;
            fileName = chosen.toStdString();
            return true;
        };
    dataModule.DataModuleCreate(openDialog);
    if (dataModule.ConsoleDialog1) window.SetConsole(dataModule.ConsoleDialog1);
#else
    // This build has no rule engine: run as when no rule file was chosen.
    window.NoExpertSystem(interactive);
#endif
    window.show();

    if (!interactive) {
        QTimer::singleShot(200, &window, [&] {
            for (int i = 0; i < steps; ++i)
                window.Simulation().StepClick();
            QApplication::processEvents();
            const bool saved = window.grab().save(screenshot);
            QApplication::exit(saved ? 0 : 1);
        });
    }
    return QApplication::exec();
}
