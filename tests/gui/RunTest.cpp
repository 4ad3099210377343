// The window at work: the bridge between Qt's loop and the platform queue, a run started with the
// Start button through a real proxy, a close during a run, and the pause that keeps the window painted.
#include "GuiFixtures.h"

#include "gui/TMemoWidget.h"
#include "gui/TQueueBridge.h"
#include "gui/TStatusBarWidget.h"
#include "platform/Windows.h"
#include "support/HttpPeer.h"
#include "support/LoopbackPorts.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
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

// A press and a release of the left button on Widget, queued as the window system delivers them: behind
// what the loop has not taken yet, so a pause that holds input back holds these too.
enum class ClickPart { Press, Release, Both };

void QueueClick(QWidget* Widget, ClickPart Part) {
    QWindow* Window = Widget->window()->windowHandle();
    const QPointF Local = Widget->mapTo(Widget->window(), Widget->rect().center());
    const QPointF Global = Widget->mapToGlobal(Widget->rect().center());
    using Async = QWindowSystemInterface::AsynchronousDelivery;
    if (Part != ClickPart::Release)
        QWindowSystemInterface::handleMouseEvent<Async>(Window, Local, Global, Qt::LeftButton, Qt::LeftButton,
                                                        QEvent::MouseButtonPress);
    if (Part != ClickPart::Press)
        QWindowSystemInterface::handleMouseEvent<Async>(Window, Local, Global, Qt::NoButton, Qt::LeftButton,
                                                        QEvent::MouseButtonRelease);
}

class StartDuringTheLastPause : public WindowRun, public ::testing::WithParamInterface<ClickPart> {};

// Start is pressed during the last pause of a run; the window holds the input back until the pause
// ends. Neither that click, nor a click whose press came then and whose release comes after the run,
// starts a second run.
TEST_P(StartDuringTheLastPause, StartsNoRun) {
    // No targets: the one visit succeeds without a request.
    Folder.WriteFile("qelto.ini", SettingsBytes({}, {"127.0.0.1:1"}));
    Window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window));
    int Visits = 0;
    Window.Form().OnVisitResult = [&](TForm1*, const TVisitResult&) { ++Visits; };
    bool Clicked = false;
    Window.Form().PauseHook = [&](int) {
        if (!std::exchange(Clicked, true)) QueueClick(Start(), GetParam());
        TMainWindow::PaintingPause(20);
    };
    QTest::mouseClick(Start(), Qt::LeftButton);
    EXPECT_FALSE(Window.Form().Running());
    if (GetParam() == ClickPart::Press) QueueClick(Start(), ClickPart::Release);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(Visits, 1);

    // The next click, made with no run under way, starts one.
    QueueClick(Start(), ClickPart::Both);
    QCoreApplication::processEvents();
    EXPECT_EQ(Visits, 2);
}

INSTANTIATE_TEST_SUITE_P(Clicks, StartDuringTheLastPause,
                         ::testing::Values(ClickPart::Both, ClickPart::Press),
                         [](const ::testing::TestParamInfo<ClickPart>& Info) {
                             return std::string(Info.param == ClickPart::Both ? "WholeClick" : "PressOnly");
                         });

// Many at once from the window: every proxy marked on screen and in the file.
TEST_F(WindowRun, StartWithManyAtOnceMarksEveryProxy) {
    std::vector<std::unique_ptr<HttpPeer>> Working;
    std::vector<std::unique_ptr<ClosedPort>> Refused;
    std::vector<std::string> Lines;
    std::vector<std::string> Expected;
    for (int I = 0; I < 6; ++I) {
        Working.push_back(std::make_unique<HttpPeer>(
            std::vector<HttpPeerReply>{OnePacket("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")}));
        Refused.push_back(std::make_unique<ClosedPort>());
        Lines.push_back("127.0.0.1:" + std::to_string(Working.back()->Port()));
        Expected.push_back(Lines.back() + "(\u25CB)");
        Lines.push_back("127.0.0.1:" + std::to_string(Refused.back()->Port()));
        Expected.push_back(Lines.back() + "(\u00D7)");
    }
    Folder.WriteFile("qelto.ini", SettingsBytes({"http://127.0.0.1:9/a.html"}, Lines));
    Window.Form().Jobs = 4;
    Window.Form().PauseMax = 0;
    Window.show();
    QTest::mouseClick(Start(), Qt::LeftButton);

    std::sort(Expected.begin(), Expected.end());
    EXPECT_EQ(SortedLines(Proxies()->toPlainText()), Expected);
    EXPECT_EQ(Control<TStatusBarWidget>("StatusBar1")->currentMessage(), QString());
    const std::string Saved = ReadWholeFile(SettingsPath());
    for (const std::string& Line : Proxies()->Lines())
        EXPECT_NE(Saved.find(Line + "\r\n"), std::string::npos) << Line;
}

// Closing the window while four silent proxies are visited at once: the close waits for the run to stop,
// all four lines keep their text, the file is saved and the window then closes by itself.
TEST_F(WindowRun, CloseDuringManyVisitsStopsSavesAndCloses) {
    std::vector<std::unique_ptr<HttpPeer>> Silent;
    std::vector<std::string> Lines;
    for (int I = 0; I < 6; ++I) {
        Silent.push_back(
            std::make_unique<HttpPeer>(std::vector<HttpPeerReply>{HttpPeerReply{{}, HttpPeerEnd::Silent}}));
        Lines.push_back("127.0.0.1:" + std::to_string(Silent.back()->Port()));
    }
    Folder.WriteFile("qelto.ini", SettingsBytes({"http://127.0.0.1:9/a.html"}, Lines));
    Window.Form().Jobs = 4;
    Window.show();
    auto Connections = [&] {
        size_t Count = 0;
        for (const auto& Peer : Silent) Count += Peer->Connections();
        return Count;
    };
    bool Asked = false;
    QTimer Closer;
    Closer.setInterval(10);
    QObject::connect(&Closer, &QTimer::timeout, [&] {
        if (Asked || Connections() < 4) return;
        Asked = true;
        EXPECT_FALSE(Window.close());
    });
    Closer.start();
    QTest::mouseClick(Start(), Qt::LeftButton);

    EXPECT_TRUE(Asked);
    EXPECT_FALSE(Window.isVisible());
    EXPECT_FALSE(Window.Form().Running());
    EXPECT_EQ(Connections(), 4u);
    for (const auto& Peer : Silent) {
        if (Peer->Connections() > 0) {
            EXPECT_TRUE(Peer->WaitClientClosed(0));
        }
    }
    // Shuffled, but every line as it was, and saved so.
    std::vector<std::string> Shown = Proxies()->Lines();
    EXPECT_EQ(ReadWholeFile(SettingsPath()), SettingsBytes({"http://127.0.0.1:9/a.html"}, Shown));
    std::sort(Shown.begin(), Shown.end());
    std::sort(Lines.begin(), Lines.end());
    EXPECT_EQ(Shown, Lines);
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
