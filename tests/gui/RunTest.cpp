// The window at work: the bridge between Qt's loop and the platform queue, a run started with the
// Start button through a real proxy, a close during a run, and the pause that keeps the window painted.
#include "GuiFixtures.h"

#include "gui/TMemoWidget.h"
#include "gui/TQueueBridge.h"
#include "gui/TStatusBarWidget.h"
#include "platform/Windows.h"
#include "support/HttpPeer.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::vector<platform::UINT> Received;

platform::LRESULT RecordingProc(platform::HWND, platform::UINT Message, platform::WPARAM, platform::LPARAM) {
    Received.push_back(Message);
    return 0;
}

// Posted messages and timer ticks of the window's thread are dispatched while Qt's own loop waits, and
// the socket layer's pump runs Qt's events.
TEST(QueueBridge, CarriesMessagesBothWays) {
    TQueueBridge Bridge;
    platform::WNDCLASS Class;
    Class.ClassName = "VindralGuiBridgeTest";
    Class.WndProc = RecordingProc;
    ASSERT_TRUE(platform::RegisterClass(Class) || platform::GetClassInfo(Class.ClassName, &Class));
    const platform::HWND Window = platform::CreateWindowEx(Class.ClassName);
    ASSERT_NE(Window, 0u);
    Received.clear();

    ASSERT_TRUE(platform::PostMessage(Window, platform::WM_USER + 7, 0, 0));
    EXPECT_TRUE(QTest::qWaitFor([] { return !Received.empty(); }, 5000));
    ASSERT_EQ(platform::SetTimer(Window, 1, 20), 1u);
    EXPECT_TRUE(QTest::qWaitFor(
        [] { return std::count(Received.begin(), Received.end(), platform::WM_TIMER) > 0; }, 5000));
    platform::KillTimer(Window, 1);
    EXPECT_EQ(Received.front(), platform::WM_USER + 7);

    bool QtEventRan = false;
    QTimer::singleShot(0, [&] { QtEventRan = true; });
    for (int I = 0; I < 100 && !QtEventRan; ++I) {
        platform::WaitForWork(10);
        platform::ProcessMessages();
    }
    EXPECT_TRUE(QtEventRan);
    platform::DestroyWindow(Window);
}

// The window with the bridge the program runs it with.
class WindowRun : public WindowFixture {
protected:
    QPushButton* Start() { return Control<QPushButton>("Button1"); }
    TMemoWidget* Proxies() { return Control<TMemoWidget>("Memo1"); }

    TQueueBridge Bridge;
};

std::string SettingsBytes(const std::vector<std::string>& Targets, const std::vector<std::string>& Proxies) {
    std::string Bytes = std::to_string(Targets.size()) + "\r\n";
    for (const std::string& Line : Targets) Bytes += Line + "\r\n";
    Bytes += "http://from.example/\r\n100\r\n" + std::to_string(Proxies.size()) + "\r\n";
    for (const std::string& Line : Proxies) Bytes += Line + "\r\n";
    return Bytes;
}

std::vector<std::string> SortedLines(const QString& Text) {
    std::vector<std::string> Lines;
    for (const QString& Line : Text.split(QLatin1Char('\n'))) Lines.push_back(Line.toStdString());
    std::sort(Lines.begin(), Lines.end());
    return Lines;
}

// Start runs the whole list through a real proxy to a real origin: the working proxy gets the success
// mark and the dead one the failure mark, on screen and in the file saved after each proxy.
TEST_F(WindowRun, StartMarksTheProxiesOnScreenAndInTheFile) {
    NginxServer Origin;
    std::ofstream(Origin.Root() + "/a.html") << "<html>a</html>";
    std::ofstream(Origin.Root() + "/b.html") << "<html>b</html>";
    TinyproxyServer Proxy;
    const std::string Working = "127.0.0.1:" + std::to_string(Proxy.Port());
    const std::string Dead = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
    Folder.WriteFile("qelto.ini", SettingsBytes({Origin.Url("a.html"), Origin.Url("b.html")},
                                                {Dead + "(\x81\x9B)", Working + "(\x81\x7E)"}));
    Window.show();

    std::vector<int> Pauses;
    Window.Form().PauseHook = [&](int Milliseconds) {
        Pauses.push_back(Milliseconds);
        TMainWindow::PaintingPause(1);
    };
    QTest::mouseClick(Start(), Qt::LeftButton);

    std::vector<std::string> Expected = {Working + "(\u25CB)", Dead + "(\u25B3)"};
    std::sort(Expected.begin(), Expected.end());
    EXPECT_EQ(SortedLines(Proxies()->toPlainText()), Expected);
    EXPECT_EQ(Pauses.size(), 2u);
    EXPECT_EQ(Control<TStatusBarWidget>("StatusBar1")->currentMessage(), QString());
    const std::string Saved = ReadWholeFile(SettingsPath());
    EXPECT_NE(Saved.find(Working + "(\x81\x9B)\r\n"), std::string::npos) << Saved;
    EXPECT_NE(Saved.find(Dead + "(\x81\xA2)\r\n"), std::string::npos) << Saved;
}

// Closing the window while a proxy is being visited: a second press of Start meanwhile is ignored, the
// close waits for the run to stop, the visited line keeps its text, the file is saved and the window
// then closes by itself.
TEST_F(WindowRun, CloseDuringAVisitStopsSavesAndCloses) {
    HttpPeer Peer({HttpPeerReply{{}, HttpPeerEnd::Silent}});
    const std::string Line = "127.0.0.1:" + std::to_string(Peer.Port()) + "(\x81\x7E)";
    const std::string Bytes = SettingsBytes({"http://127.0.0.1:9/a.html"}, {Line});
    Folder.WriteFile("qelto.ini", Bytes);
    Window.show();

    bool Asked = false;
    bool ClosedAtOnce = true;
    QTimer Closer;
    Closer.setInterval(10);
    QObject::connect(&Closer, &QTimer::timeout, [&] {
        if (Asked || Peer.Connections() == 0) return;
        Asked = true;
        QTest::mouseClick(Start(), Qt::LeftButton);
        ClosedAtOnce = Window.close();
    });
    Closer.start();
    QTest::mouseClick(Start(), Qt::LeftButton);

    EXPECT_TRUE(Asked);
    EXPECT_FALSE(ClosedAtOnce);
    EXPECT_FALSE(Window.isVisible());
    EXPECT_FALSE(Window.Form().Running());
    EXPECT_EQ(Peer.Connections(), 1u);
    EXPECT_TRUE(Peer.WaitClientClosed(0));
    EXPECT_EQ(Proxies()->Line(0), Line);
    EXPECT_EQ(Proxies()->LineCount(), 1);
    EXPECT_EQ(ReadWholeFile(SettingsPath()), Bytes);
}

// A widget that counts its paints.
class PaintCounter : public QWidget {
public:
    int Paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++Paints; }
};

// The pause repaints and serves timers, and lasts at least its time.
TEST(PaintingPause, KeepsTheWindowPaintedForItsWholeLength) {
    PaintCounter Widget;
    Widget.resize(100, 100);
    Widget.show();
    QCoreApplication::processEvents();
    Widget.Paints = 0;
    bool TimerRan = false;
    QTimer::singleShot(20, [&] { TimerRan = true; });
    Widget.update();

    QElapsedTimer Clock;
    Clock.start();
    TMainWindow::PaintingPause(150);
    EXPECT_GE(Clock.elapsed(), 150);
    EXPECT_GE(Widget.Paints, 1);
    EXPECT_TRUE(TimerRan);
}

} // namespace
