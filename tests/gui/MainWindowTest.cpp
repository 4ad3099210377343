// The window as it opens: caption, controls with their names, places, texts, tab order and font, the
// layout when resized, and the settings file loaded at the first show and written at the close.
#include "GuiFixtures.h"

#include "gui/TEditWidget.h"
#include "gui/TMemoWidget.h"
#include "gui/TStatusBarWidget.h"
#include "gui/WindowPlacement.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ControlPlace {
    const char* Name;
    const char* Parent;
    QRect Geometry;
};

// Left, top, width, height in the parent, as the window was designed.
const ControlPlace Places[] = {
    {"Panel1", "Form1", {0, 0, 472, 137}},      {"Button1", "Panel1", {406, 30, 59, 25}},
    {"Edit2", "Panel1", {434, 8, 30, 20}},      {"Memo2", "Panel1", {48, 8, 337, 97}},
    {"Edit1", "Panel1", {48, 112, 337, 20}},    {"Memo1", "Form1", {0, 137, 472, 177}},
    {"StatusBar1", "Form1", {0, 314, 472, 19}},
};

// Labels size themselves to their text; the design gives their place and the size they had there.
const ControlPlace LabelPlaces[] = {
    {"Label1", "Panel1", {5, 13, 33, 12}},
    {"Label3", "Panel1", {408, 10, 21, 12}},
    {"Label6", "Panel1", {5, 113, 26, 12}},
};

using WindowLayout = WindowFixture;

TEST_F(WindowLayout, ControlsHaveTheirNamesKindsAndPlaces) {
    Window.show();
    EXPECT_EQ(Window.windowTitle(), QStringLiteral("Zarvik"));
    EXPECT_EQ(Window.size(), QSize(472, 333));

    EXPECT_NE(Control<QFrame>("Panel1"), nullptr);
    EXPECT_NE(Control<QPushButton>("Button1"), nullptr);
    EXPECT_NE(Control<TMemoWidget>("Memo1"), nullptr);
    EXPECT_NE(Control<TMemoWidget>("Memo2"), nullptr);
    EXPECT_NE(Control<TEditWidget>("Edit1"), nullptr);
    EXPECT_NE(Control<TEditWidget>("Edit2"), nullptr);
    EXPECT_NE(Control<TStatusBarWidget>("StatusBar1"), nullptr);

    for (const ControlPlace& Place : Places) {
        SCOPED_TRACE(Place.Name);
        const QWidget* Widget = Control<QWidget>(Place.Name);
        ASSERT_NE(Widget, nullptr);
        const QString ParentName = Widget->parentWidget()->objectName();
        EXPECT_EQ(ParentName.toStdString(), Place.Parent);
        EXPECT_EQ(Widget->geometry(), Place.Geometry);
    }
    for (const ControlPlace& Place : LabelPlaces) {
        SCOPED_TRACE(Place.Name);
        const QLabel* Label = Control<QLabel>(Place.Name);
        ASSERT_NE(Label, nullptr);
        EXPECT_EQ(Label->parentWidget()->objectName().toStdString(), Place.Parent);
        EXPECT_EQ(Label->pos(), Place.Geometry.topLeft());
        // The whole text shows.
        EXPECT_GE(Label->width(), Label->fontMetrics().horizontalAdvance(Label->text()));
        EXPECT_GE(Label->width(), Place.Geometry.width());
    }
}

TEST_F(WindowLayout, OpensCentredOnTheScreen) {
    Window.move(0, 0);
    Window.show();
    const QRect Screen = Window.screen()->availableGeometry();
    EXPECT_LE(std::abs(Window.frameGeometry().center().x() - Screen.center().x()), 1);
    EXPECT_LE(std::abs(Window.frameGeometry().center().y() - Screen.center().y()), 1);
}

// It is the frame, title bar included, that is centred: the client area sits lower by half the
// difference between the title bar and the bottom border.
TEST(WindowPlacement, CentresTheFrameAndKeepsItsTitleBarOnTheScreen) {
    struct PlaceCase {
        QMargins Frame;
        QRect Available;
        QPoint ClientTopLeft;
    };
    const QSize Client(472, 333);
    const PlaceCase Cases[] = {
        {QMargins(), QRect(0, 0, 1024, 768), QPoint(276, 217)},
        {QMargins(4, 4, 4, 4), QRect(0, 0, 1024, 768), QPoint(276, 217)},
        {QMargins(1, 30, 1, 2), QRect(0, 0, 1024, 768), QPoint(276, 231)},
        {QMargins(8, 31, 8, 8), QRect(0, 0, 1024, 768), QPoint(276, 229)},
        // A panel at the top or on the left takes its part of the screen.
        {QMargins(1, 30, 1, 2), QRect(64, 40, 960, 728), QPoint(308, 251)},
        // Too small a screen: the frame's top-left corner stays on it.
        {QMargins(1, 30, 1, 2), QRect(0, 0, 400, 300), QPoint(1, 30)},
    };
    for (const PlaceCase& C : Cases) {
        const QRect Area = CentredClientArea(Client, C.Frame, C.Available);
        EXPECT_EQ(Area.size(), Client);
        EXPECT_EQ(Area.topLeft(), C.ClientTopLeft)
            << C.Frame.top() << " " << C.Available.width() << "x" << C.Available.height();
    }
}

// Panel on top at its height, status bar at the bottom at its height, the proxy list between; the
// controls in the panel stay where they are.
TEST_F(WindowLayout, ResizingStretchesTheProxyListOnly) {
    Window.show();
    for (const QSize Size : {QSize(700, 500), QSize(472, 333), QSize(300, 250)}) {
        SCOPED_TRACE(Size.width());
        Window.resize(Size);
        QCoreApplication::processEvents();
        const int W = Window.width();
        const int H = Window.height();
        EXPECT_EQ(Control<QWidget>("Panel1")->geometry(), QRect(0, 0, W, 137));
        EXPECT_EQ(Control<QWidget>("StatusBar1")->geometry(), QRect(0, H - 19, W, 19));
        EXPECT_EQ(Control<QWidget>("Memo1")->geometry(), QRect(0, 137, W, H - 137 - 19));
        EXPECT_EQ(Control<QWidget>("Button1")->geometry(), QRect(406, 30, 59, 25));
        EXPECT_EQ(Control<QWidget>("Memo2")->geometry(), QRect(48, 8, 337, 97));
    }
}

TEST_F(WindowLayout, TabGoesThroughTheControlsInDesignOrder) {
    Window.show();
    std::vector<std::string> Order;
    QWidget* Widget = Control<QWidget>("Button1");
    ASSERT_NE(Widget, nullptr);
    do {
        if (Widget->isVisible() && (Widget->focusPolicy() & Qt::TabFocus))
            Order.push_back(Widget->objectName().toStdString());
        Widget = Widget->nextInFocusChain();
    } while (Widget != Control<QWidget>("Button1") && Order.size() < 20);
    EXPECT_EQ(Order, (std::vector<std::string>{"Button1", "Edit2", "Memo2", "Edit1", "Memo1"}));
    EXPECT_EQ(Window.focusWidget(), Control<QWidget>("Button1"));
}

TEST_F(WindowLayout, EveryControlUsesTheWindowFontAndButtonFace) {
    const QString Expected =
        QFontDatabase::families().contains(QString::fromUtf16(u"\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF"))
            ? QString::fromUtf16(u"\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF")
            : QStringLiteral("IPAPGothic");
    for (const char* Name : {"Label1", "Button1", "Edit2", "Memo2", "Edit1", "Memo1", "StatusBar1"}) {
        SCOPED_TRACE(Name);
        const QFontInfo Info(Control<QWidget>(Name)->font());
        EXPECT_EQ(Info.family(), Expected);
        EXPECT_EQ(Info.pixelSize(), 12);
        EXPECT_FALSE(Info.bold());
        EXPECT_FALSE(Info.italic());
    }
    EXPECT_EQ(Window.palette().color(QPalette::Window), Window.palette().color(QPalette::Button));
}

// The design texts, then what the first show leaves when there is no settings file: empty lists, From
// and Max as designed, an empty status line; closing writes the file all the same.
TEST_F(WindowLayout, FirstShowWithoutSettingsFile) {
    EXPECT_EQ(Control<QLabel>("Label1")->text(), QStringLiteral("Target"));
    EXPECT_EQ(Control<QLabel>("Label3")->text(), QStringLiteral("Max"));
    EXPECT_EQ(Control<QLabel>("Label6")->text(), QStringLiteral("From"));
    EXPECT_EQ(Control<QPushButton>("Button1")->text(), QStringLiteral("Start"));
    EXPECT_EQ(Control<TMemoWidget>("Memo1")->toPlainText(), QStringLiteral("Memo1"));
    EXPECT_EQ(Control<TMemoWidget>("Memo2")->toPlainText(), QStringLiteral("Memo2"));
    EXPECT_EQ(Control<TEditWidget>("Edit1")->text(), QStringLiteral("Edit1"));
    EXPECT_EQ(Control<TEditWidget>("Edit2")->text(), QStringLiteral("100"));

    Window.show();
    EXPECT_EQ(Control<TMemoWidget>("Memo1")->toPlainText(), QString());
    EXPECT_EQ(Control<TMemoWidget>("Memo2")->toPlainText(), QString());
    EXPECT_EQ(Control<TEditWidget>("Edit1")->text(), QStringLiteral("Edit1"));
    EXPECT_EQ(Control<TEditWidget>("Edit2")->text(), QStringLiteral("100"));
    EXPECT_EQ(Control<TStatusBarWidget>("StatusBar1")->currentMessage(), QString());

    EXPECT_TRUE(Window.close());
    EXPECT_EQ(ReadWholeFile(SettingsPath()), "0\r\nEdit1\r\n100\r\n0\r\n");
}

using WindowSettings = WindowFixture;

// The file is loaded into the widgets when the window is first shown (and only then), with the marks
// shown as characters, and comes back byte for byte when the window closes.
TEST_F(WindowSettings, FirstShowLoadsTheFileAndCloseWritesItBack) {
    const std::string Bytes =
        "2\r\nhttp://127.0.0.1/a\r\nhttp://127.0.0.1/b\r\n  from text \r\n7\r\n3\r\n"
        "10.0.0.1:8080(\x81\x9B)\r\n10.0.0.2:3128(\x81\xA2)\r\n10.0.0.3:80(\x81\x7E)\r\n";
    Folder.WriteFile("qelto.ini", Bytes);

    Window.show();
    EXPECT_EQ(Control<TMemoWidget>("Memo2")->toPlainText(),
              QStringLiteral("http://127.0.0.1/a\nhttp://127.0.0.1/b"));
    EXPECT_EQ(Control<TEditWidget>("Edit1")->text(), QStringLiteral("  from text "));
    EXPECT_EQ(Control<TEditWidget>("Edit2")->text(), QStringLiteral("7"));
    EXPECT_EQ(Control<TMemoWidget>("Memo1")->toPlainText(),
              QString::fromUtf8("10.0.0.1:8080(\u25CB)\n10.0.0.2:3128(\u25B3)\n10.0.0.3:80(\u00D7)"));

    // A second show (after the window was hidden) loads nothing again.
    Control<TMemoWidget>("Memo1")->AppendLine("10.0.0.4:8000");
    Window.hide();
    Window.show();
    EXPECT_EQ(Control<TMemoWidget>("Memo1")->LineCount(), 4);

    Control<TMemoWidget>("Memo1")->DeleteLine(3);
    EXPECT_TRUE(Window.close());
    EXPECT_EQ(ReadWholeFile(SettingsPath()), Bytes);
}

// A carriage return that no line feed follows is a character of its line in both lists: loaded and
// saved through the window, the file comes back byte for byte.
TEST_F(WindowSettings, LoneCarriageReturnsStayInTheirLines) {
    // (At the ends of a line a carriage return is trimmed away by the save, as every blank is.)
    const std::string Bytes = "2\r\nhttp://127.0.0.1/a\rb\r\nx\r\ry\r\nEdit1\r\n100\r\n3\r\n"
                              "10.0.0.1:8080\r(\x81\x9B)\r\np\rq\r\n10.0.0.2:80\r\n";
    Folder.WriteFile("qelto.ini", Bytes);
    Window.show();
    EXPECT_EQ(Control<TMemoWidget>("Memo2")->LineCount(), 2);
    EXPECT_EQ(Control<TMemoWidget>("Memo1")->LineCount(), 3);
    EXPECT_EQ(Control<TMemoWidget>("Memo1")->Line(0), "10.0.0.1:8080\r(\x81\x9B)");
    EXPECT_TRUE(Window.close());
    EXPECT_EQ(ReadWholeFile(SettingsPath()), Bytes);
}

} // namespace
