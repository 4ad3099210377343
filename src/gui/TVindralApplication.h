#pragma once
// The application: its name as the desktop knows it, the exception box, and the start-up.
//
// Any exception that escapes an event handler is caught in notify and shown in a critical message box
// titled "Vindral"; the loop goes on. Qt itself is not exception-safe, so nothing may unwind through it.
#include "app/ProgramOptions.h"

#include <QApplication>

#include <functional>
#include <string>

class TVindralApplication : public QApplication {
    Q_OBJECT

public:
    // Becomes the application's exception handler of the platform layer too, so an exception that escapes
    // a handler run by the socket layer's pump (a timer's OnTimer) is shown in the same box.
    TVindralApplication(int& Argc, char** Argv);
    ~TVindralApplication() override;

    bool notify(QObject* Receiver, QEvent* Event) override;

    // Shows Message (Shift-JIS bytes) in the exception box and returns when the user has dismissed it.
    static void ShowException(const std::string& Message);

    // The program: creates the window with the command line's options, runs FormCreate, shows it and runs
    // the loop until it closes. An exception that escapes start-up is shown in the exception box, and the
    // program still ends with 0. SIGTERM, SIGHUP and SIGINT close the window as the user does
    // (TCloseSignals).
    int Run(const TProgramOptions& Options = {});
    // Runs Body under the same guard as Run; for a start-up of another shape.
    static int RunGuarded(const std::function<int()>& Body);
};
