// SIGTERM, SIGHUP and SIGINT close the window as the user does: the settings are saved, and a run under
// way (here in its pause) stops and saves first.
#include "GuiFixtures.h"

#include "app/ProxyList.h"
#include "gui/TCloseSignals.h"
#include "gui/TMemoWidget.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace {

class CloseSignal : public WindowFixture, public ::testing::WithParamInterface<int> {
protected:
    CloseSignal() { QObject::connect(&Signals, &TCloseSignals::Received, &Window, &QWidget::close); }

    TCloseSignals Signals;
};

TEST_P(CloseSignal, WhileIdleSavesAndCloses) {
    Folder.WriteFile("qelto.ini", "0\nFrom\n7\n1\n127.0.0.1:1\n");
    Window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window));
    Window.Form().Memo1->AppendLine("127.0.0.1:2");

    std::raise(GetParam());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Window.isVisible(); }, 10000));
    EXPECT_EQ(ReadWholeFile(SettingsPath()), "0\r\nFrom\r\n7\r\n2\r\n127.0.0.1:1\r\n127.0.0.1:2\r\n");
}

// The pause holds Qt's loop back; the signal ends it at once instead of after its 20 s, the visited line
// keeps its mark, the next is not visited, and the window closes once the run has saved.
TEST_P(CloseSignal, DuringThePauseStopsTheRunSavesAndCloses) {
    // No targets: every visit succeeds at once.
    Folder.WriteFile("qelto.ini", "0\nFrom\n100\n2\n127.0.0.1:1\n127.0.0.1:2\n");
    Window.Form().PauseMax = 60000; // the first pause is 18492 ms
    TForm1::TPauseHook WindowPause = Window.Form().PauseHook;
    Window.Form().PauseHook = [&](int Milliseconds) {
        std::raise(GetParam());
        WindowPause(Milliseconds);
    };
    Window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window));

    QElapsedTimer Clock;
    Clock.start();
    Window.Form().Button1Click(&Window.Form());
    EXPECT_LT(Clock.elapsed(), 10000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Window.isVisible(); }, 10000));
    const std::string Saved = ReadWholeFile(SettingsPath());
    const bool FirstVisited = Saved.find("127.0.0.1:1" + std::string(SuccessMark)) != std::string::npos;
    const bool SecondVisited = Saved.find("127.0.0.1:2" + std::string(SuccessMark)) != std::string::npos;
    EXPECT_NE(FirstVisited, SecondVisited) << Saved; // one visited line (the shuffle picks which), one not
    EXPECT_EQ(Saved.rfind("0\r\nFrom\r\n100\r\n2\r\n", 0), 0u) << Saved;
}

INSTANTIATE_TEST_SUITE_P(Signals, CloseSignal, ::testing::Values(SIGTERM, SIGHUP, SIGINT),
                         [](const ::testing::TestParamInfo<int>& Info) {
                             return std::string(Info.param == SIGTERM  ? "Sigterm"
                                                : Info.param == SIGHUP ? "Sighup"
                                                                       : "Sigint");
                         });

} // namespace
