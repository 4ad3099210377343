#pragma once
// What the window's tests share: a window whose settings live in a temporary folder, and a watcher
// that answers the next message box.
#include "framework/Random.h"
#include "gui/TMainWindow.h"
#include "support/RealServers.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>

// The window as the program makes it, its settings file in a fresh folder, the generator at its
// start-up state. Not shown yet.
class WindowFixture : public ::testing::Test {
protected:
    WindowFixture() {
        ResetRandomGenerator();
        Window.Form().SetSettingsFolder(Folder.Path());
    }

    std::string SettingsPath() const { return Folder.Path() + "/qelto.ini"; }

    template <typename TWidget> TWidget* Control(const char* Name) {
        return Window.findChild<TWidget*>(QString::fromLatin1(Name));
    }

    TempFolder Folder;
    TMainWindow Window;
};

// Answers the next modal message box: records what it showed and dismisses it.
class MessageBoxWatcher {
public:
    MessageBoxWatcher() {
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!Box) return;
            ++Shown;
            Title = Box->windowTitle();
            Text = Box->text();
            Icon = Box->icon();
            Box->done(QMessageBox::Ok);
        });
        FTimer.start();
    }

    int Shown = 0;
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;

private:
    QTimer FTimer;
};
