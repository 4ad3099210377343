#include "gui/TMainWindow.h"

#include "gui/TCloseSignals.h"
#include "gui/TEditWidget.h"
#include "gui/TMemoWidget.h"
#include "gui/TStatusBarWidget.h"
#include "gui/WindowPlacement.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <utility>

namespace {

constexpr int ClientWidth = 472;
constexpr int ClientHeight = 333;
constexpr int PanelHeight = 137;
constexpr int StatusBarHeight = 19;
constexpr int FontPixels = 12;
// The longest the pause sleeps between two looks at the window's events, in ms.
constexpr int PauseSlice = 10;

// The face the window was drawn for, and its metric-compatible stand-in on Linux.
const QString DesignFace = QString::fromUtf16(u"\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF");
const QString StandInFace = QStringLiteral("IPAPGothic");

QFont WindowFont() {
    QFont Font(QFontDatabase::families().contains(DesignFace) ? DesignFace : StandInFace);
    Font.setPixelSize(FontPixels);
    Font.setWeight(QFont::Normal);
    Font.setStyle(QFont::StyleNormal);
    return Font;
}

// A label takes the size of its text from the place the table gives, as labels that size themselves
// do; the stand-in face is a few pixels wider than the face the table was measured in.
QLabel* PlaceLabel(QLabel* Label, const char* Name, const QPoint& TopLeft) {
    Label->setObjectName(QString::fromLatin1(Name));
    Label->adjustSize();
    Label->move(TopLeft);
    return Label;
}

template <typename TWidget> TWidget* Place(TWidget* Widget, const char* Name, const QRect& Geometry) {
    Widget->setObjectName(QString::fromLatin1(Name));
    Widget->setGeometry(Geometry);
    return Widget;
}

} // namespace

TMainWindow::TMainWindow(QWidget* Parent) : QWidget(Parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Zarvik"));
    setFont(WindowFont());
    QPalette Palette = palette();
    Palette.setColor(QPalette::Window, Palette.color(QPalette::Button));
    setPalette(Palette);
    setAutoFillBackground(true);

    CreateControls();
    resize(ClientWidth, ClientHeight);

    FForm = std::make_unique<TForm1>(nullptr, TForm1Controls{Memo1, Memo2, Edit1, Edit2, StatusBar1});
    FForm->PauseHook = [this](int Milliseconds) {
        PaintingPause(Milliseconds, [this] { return TCloseSignals::Pending() || FForm->StopRequested(); });
        // The pause holds back the loop that would deliver a close signal; it takes it here instead.
        if (TCloseSignals::Take()) close();
    };
    FForm->OnDeferredClose = [this](TComponent*) {
        FCloseConfirmed = true;
        close();
    };
    // A press of Start made while a run is under way never starts a run, also when its release (the
    // click) comes only after the run has ended.
    connect(Button1, &QPushButton::pressed, this, [this] { FPressedDuringRun = FForm->Running(); });
    connect(Button1, &QPushButton::clicked, this, [this] {
        if (std::exchange(FPressedDuringRun, false)) return;
        FForm->Button1Click(FForm.get());
    });
}

// The form goes first: it borrows the controls, which Qt destroys with the window afterwards.
TMainWindow::~TMainWindow() = default;

void TMainWindow::CreateControls() {
    Panel1 = Place(new QFrame(this), "Panel1", QRect(0, 0, ClientWidth, PanelHeight));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setFixedHeight(PanelHeight);

    Label1 = PlaceLabel(new QLabel(QStringLiteral("Target"), Panel1), "Label1", QPoint(5, 13));
    Button1 = Place(new QPushButton(QStringLiteral("Start"), Panel1), "Button1", QRect(406, 30, 59, 25));
    Edit2 = Place(new TEditWidget(Panel1), "Edit2", QRect(434, 8, 30, 20));
    Edit2->SetText("100");
    Label3 = PlaceLabel(new QLabel(QStringLiteral("Max"), Panel1), "Label3", QPoint(408, 10));
    Label6 = PlaceLabel(new QLabel(QStringLiteral("From"), Panel1), "Label6", QPoint(5, 113));
    Memo2 = Place(new TMemoWidget(Panel1), "Memo2", QRect(48, 8, 337, 97));
    Memo2->AppendLine("Memo2");
    Edit1 = Place(new TEditWidget(Panel1), "Edit1", QRect(48, 112, 337, 20));
    Edit1->SetText("Edit1");

    Memo1 = Place(new TMemoWidget(this), "Memo1", QRect(0, PanelHeight, ClientWidth, 177));
    Memo1->AppendLine("Memo1");
    StatusBar1 = Place(new TStatusBarWidget(this), "StatusBar1",
                       QRect(0, ClientHeight - StatusBarHeight, ClientWidth, StatusBarHeight));
    StatusBar1->setFixedHeight(StatusBarHeight);

    // The panel keeps its height on top, the status bar its height at the bottom, and the proxy list
    // takes what lies between; the controls inside the panel keep their places.
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    Layout->addWidget(Panel1);
    Layout->addWidget(Memo1, 1);
    Layout->addWidget(StatusBar1);

    setTabOrder(Button1, Edit2);
    setTabOrder(Edit2, Memo2);
    setTabOrder(Memo2, Edit1);
    setTabOrder(Edit1, Memo1);
    // The first control of the tab order has the focus when the window opens.
    Button1->setFocus();
}

void TMainWindow::CentreOnScreen() {
    const QScreen* Screen = screen();
    if (!Screen) return;
    FCentredFrame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    setGeometry(CentredClientArea(size(), FCentredFrame, Screen->availableGeometry()));
}

void TMainWindow::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    if (FShown) return;
    FShown = true;
    CentreOnScreen();
    if (QWindow* Native = windowHandle()) {
        FAwaitingFrame = FCentredFrame.isNull();
        Native->installEventFilter(this);
    }
    FForm->FormShow(FForm.get());
}

bool TMainWindow::eventFilter(QObject* Watched, QEvent* Event) {
    if (FAwaitingFrame && Watched == windowHandle() &&
        (Event->type() == QEvent::Expose || Event->type() == QEvent::Move ||
         Event->type() == QEvent::Resize)) {
        const QMargins Frame = windowHandle()->frameMargins();
        if (!Frame.isNull()) {
            FAwaitingFrame = false;
            if (Frame != FCentredFrame) CentreOnScreen();
        }
    }
    return QWidget::eventFilter(Watched, Event);
}

void TMainWindow::closeEvent(QCloseEvent* Event) {
    // Refused unless the handler says so, so a handler that raises leaves the window open.
    Event->ignore();
    if (FCloseConfirmed || FForm->FormClose(FForm.get()) == TCloseAction::Close) Event->accept();
}

void TMainWindow::PaintingPause(int Milliseconds, const std::function<bool()>& EndsEarly) {
    const QDeadlineTimer Deadline(std::max(Milliseconds, 0));
    for (;;) {
        // Paint and other window events go on; input and socket notifications wait, as the run does.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::ExcludeSocketNotifiers);
        const qint64 Left = Deadline.remainingTime();
        if (Left <= 0 || (EndsEarly && EndsEarly())) break;
        QThread::msleep(static_cast<unsigned long>(std::min<qint64>(Left, PauseSlice)));
    }
    // The input that waited, delivered now, inside the run: left to the loop after the last pause, it
    // would reach a window whose run has ended.
    QCoreApplication::processEvents();
}
