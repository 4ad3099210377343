// The exception box: an exception escaping an event handler or the start-up is shown in a critical
// message box titled "Vindral", with its message converted from Shift-JIS; the loop goes on, and the
// start-up ends with 0.
#include "GuiFixtures.h"

#include "framework/Exceptions.h"
#include "gui/TQueueBridge.h"
#include "gui/TVindralApplication.h"
#include "net/TThreadTimer.h"

#include <QEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <stdexcept>

namespace {

// Raises from its event handler what Raise raises.
class RaisingObject : public QObject {
public:
    explicit RaisingObject(std::function<void()> Raise) : FRaise(std::move(Raise)) {}
    int Delivered = 0;

protected:
    bool event(QEvent* Event) override {
        if (Event->type() != QEvent::User) return QObject::event(Event);
        ++Delivered;
        FRaise();
        return true;
    }

private:
    std::function<void()> FRaise;
};

struct BoxCase {
    const char* Name;
    std::function<void()> Raise;
    const char* Text; // UTF-8
};

void PrintTo(const BoxCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class ExceptionBox : public ::testing::TestWithParam<BoxCase> {};

TEST_P(ExceptionBox, HandlerExceptionIsShownAndTheLoopGoesOn) {
    const BoxCase& Case = GetParam();
    MessageBoxWatcher Watcher;
    RaisingObject Object(Case.Raise);
    QCoreApplication::postEvent(&Object, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&Object, new QEvent(QEvent::User));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Object.Delivered == 2 && Watcher.Shown == 2; }, 10000));
    EXPECT_EQ(Watcher.Title, QStringLiteral("Vindral"));
    EXPECT_EQ(Watcher.Icon, QMessageBox::Critical);
    EXPECT_EQ(Watcher.Text, QString::fromUtf8(Case.Text));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ExceptionBox,
    ::testing::Values(BoxCase{"FrameworkException", [] { throw Exception("Socket Error \x81\x9B"); },
                              "Socket Error \u25CB"},
                      BoxCase{"StandardException", [] { throw std::runtime_error("plain failure"); },
                              "plain failure"},
                      BoxCase{"AnythingElse", [] { throw 42; }, "Unknown exception"}),
    [](const ::testing::TestParamInfo<BoxCase>& Info) { return Info.param.Name; });

// A timer's handler runs inside the socket layer's pump, not inside Qt's; its exception is shown in the
// same box.
TEST(ExceptionBoxTimer, ATimerHandlersExceptionIsShown) {
    MessageBoxWatcher Watcher;
    TQueueBridge Bridge;
    TThreadTimer Timer(nullptr);
    Timer.SetInterval(10);
    Timer.SetOnTimer([&](TComponent*) {
        Timer.SetEnabled(false);
        throw Exception("Timer \x81\x9B");
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return Watcher.Shown == 1; }, 10000));
    EXPECT_EQ(Watcher.Title, QStringLiteral("Vindral"));
    EXPECT_EQ(Watcher.Icon, QMessageBox::Critical);
    EXPECT_EQ(Watcher.Text, QString::fromUtf8("Timer \u25CB"));
}

TEST(StartUp, AnExceptionIsShownAndTheProgramEndsWithZero) {
    MessageBoxWatcher Watcher;
    const int Code = TVindralApplication::RunGuarded([]() -> int { throw EListError("no window"); });
    EXPECT_EQ(Code, 0);
    EXPECT_EQ(Watcher.Shown, 1);
    EXPECT_EQ(Watcher.Title, QStringLiteral("Vindral"));
    EXPECT_EQ(Watcher.Text, QStringLiteral("no window"));
    EXPECT_EQ(TVindralApplication::RunGuarded([] { return 3; }), 3);
}

} // namespace
