#include "gui/TVindralApplication.h"

#include "framework/Exceptions.h"
#include "gui/TCloseSignals.h"
#include "gui/TMainWindow.h"
#include "gui/TQueueBridge.h"
#include "gui/TextBridge.h"
#include "platform/ApplicationExceptions.h"

#include <QIcon>
#include <QMessageBox>
#include <QThread>

#include <exception>

namespace {

// The application as the desktop knows it: the task bar's name, the class part of WM_CLASS (the
// instance part is the program's file name, vindral) and the desktop file vindral.desktop.
constexpr const char* ApplicationName = "Vindral";
constexpr const char* DesktopFileName = "vindral";
// Drawn as SVG: Qt renders it through its SVG plug-in at whatever size the window manager asks for.
constexpr const char* IconResource = ":/vindral.svg";
constexpr const char* UnknownExceptionText = "Unknown exception";

// Calls Body; an exception that escapes it is shown in the exception box. False when one did.
template <typename TBody> bool ShowingExceptions(const TBody& Body) {
    try {
        Body();
        return true;
    } catch (const std::exception& E) {
        // Exception derives from std::exception; its what() is its Message.
        TVindralApplication::ShowException(E.what());
    } catch (...) {
        TVindralApplication::ShowException(UnknownExceptionText);
    }
    return false;
}

} // namespace

TVindralApplication::TVindralApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {
    // No application display name: Qt would append it to every window title, and the caption is
    // the window's own text alone.
    setApplicationName(ApplicationName);
    setDesktopFileName(DesktopFileName);
    setWindowIcon(QIcon(QString::fromLatin1(IconResource)));
    platform::SetApplicationExceptionHandler([this](const std::string& Message) {
        // A handler that failed on another thread (a visit's own) has its box shown by the window's.
        if (QThread::currentThread() == thread())
            ShowException(Message);
        else
            QMetaObject::invokeMethod(
                this, [Message] { ShowException(Message); }, Qt::QueuedConnection);
    });
}

TVindralApplication::~TVindralApplication() {
    platform::SetApplicationExceptionHandler({});
}

bool TVindralApplication::notify(QObject* Receiver, QEvent* Event) {
    bool Result = false;
    ShowingExceptions([&] { Result = QApplication::notify(Receiver, Event); });
    return Result;
}

void TVindralApplication::ShowException(const std::string& Message) {
    QMessageBox Box(QMessageBox::Critical, QString::fromLatin1(ApplicationName), FromSjis(Message),
                    QMessageBox::Ok, QApplication::activeWindow());
    Box.exec();
}

int TVindralApplication::Run(const TProgramOptions& Options) {
    return RunGuarded([&Options] {
        TQueueBridge Bridge;
        TMainWindow Window;
        TCloseSignals Signals;
        QObject::connect(&Signals, &TCloseSignals::Received, &Window, &QWidget::close);
        Options.ApplyTo(Window.Form());
        Window.Form().FormCreate(&Window.Form());
        Window.show();
        return exec();
    });
}

int TVindralApplication::RunGuarded(const std::function<int()>& Body) {
    int Code = 0;
    if (!ShowingExceptions([&] { Code = Body(); })) return 0;
    return Code;
}
