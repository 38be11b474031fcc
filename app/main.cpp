// The program's main block: the application object, the main window, the rule exchange, the
// message loop. "--screenshot FILE [--steps N]" makes N iterations, saves the window as an
// image and ends, for checking the window without a person in front of it.
#include "app/CorvaneMain.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

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

    ie::TfrmCorvane window;
    // The rule file and its engine are not part of this build: run as when no rule file was
    // chosen.
    window.NoExpertSystem(screenshot.isEmpty());
    window.show();

    if (!screenshot.isEmpty()) {
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
