#pragma once
// The main window Form1: the controls at their places, with the window's logic TForm1 behind them.
//
// The window calls the logic's handlers: FormShow when it is first shown, Button1Click when Start is
// pressed, FormClose when the user closes it. A close during a run is refused until the run has
// stopped and saved; then the window closes by itself.
#include "app/Unit1.h"

#include <QMargins>
#include <QWidget>

#include <functional>
#include <memory>

class QFrame;
class QLabel;
class QPushButton;
class TEditWidget;
class TMemoWidget;
class TStatusBarWidget;

class TMainWindow : public QWidget {
    Q_OBJECT

public:
    explicit TMainWindow(QWidget* Parent = nullptr);
    ~TMainWindow() override;

    TForm1& Form() { return *FForm; }

    // The pause between two proxies: waits Milliseconds while the window repaints, taking no input;
    // input that arrives meanwhile is delivered when the pause ends, while the run still holds the
    // window, so a press of Start made during the last pause of a run meets a run under way. It ends early
    // once EndsEarly says so (the window's pause: a close signal has come, or the run has been asked to
    // stop).
    static void PaintingPause(int Milliseconds, const std::function<bool()>& EndsEarly = {});

protected:
    void showEvent(QShowEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void CreateControls();
    // Centres the window's frame as far as the frame is known; the window manager tells its size only
    // once it has framed the window, so the first events of the native window centre it again.
    void CentreOnScreen();

    // Children of the window; Qt destroys them after the form.
    QFrame* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Button1 = nullptr;
    TMemoWidget* Memo1 = nullptr;
    TEditWidget* Edit2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label6 = nullptr;
    TStatusBarWidget* StatusBar1 = nullptr;
    TMemoWidget* Memo2 = nullptr;
    TEditWidget* Edit1 = nullptr;

    std::unique_ptr<TForm1> FForm;
    bool FShown = false;
    bool FCloseConfirmed = false;   // the deferred close of a run has come: close without asking again
    bool FPressedDuringRun = false; // Start went down while a run was under way: its click starts nothing
    QMargins FCentredFrame;         // the frame the window was last centred with
    bool FAwaitingFrame = false;    // shown, and the window manager has not told the frame yet
};
