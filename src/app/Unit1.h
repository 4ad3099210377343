#pragma once
// The main window's logic: the settings file, the preparation of the proxy list, the run loop with its
// result marks and the visit of one proxy. It works only through the control interfaces of Controls.h,
// so the Qt window, the headless runner and the tests drive the same code.
#include "app/Controls.h"
#include "app/ProxyList.h"
#include "app/TProxyVisit.h"
#include "framework/Events.h"
#include "framework/TComponent.h"
#include "http/TVexHTTP.h"
#include "platform/PrivateFiles.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class TSaveThrottle;

// The controls the logic reads and writes; the window owns them and outlives the form. The purely
// visual ones (Panel1, Label1, Label3, Label6, Button1) stay with the window.
struct TForm1Controls {
    TMemo* Memo1 = nullptr;           // proxy list
    TMemo* Memo2 = nullptr;           // target list
    TEdit* Edit1 = nullptr;           // From: sent as the Referer
    TEdit* Edit2 = nullptr;           // Max
    TStatusBar* StatusBar1 = nullptr; // status line
};

// What one visit of a run came to, reported as soon as the line is rewritten.
struct TVisitResult {
    int Index = 0;    // 0-based line of Memo1
    int Count = 0;    // line count of Memo1 at that moment
    std::string Line; // the line as it now stands (unchanged when Mark is None)
    TProxyMark Mark = TProxyMark::None;
    int64_t Milliseconds = 0; // time VisitProxy took
    std::string Failure;      // LastVisitError; empty after a success
};

// What the window should do with a close request.
enum class TCloseAction {
    Close, // settings saved; close now
    Later  // a run is under way and has been asked to stop; OnDeferredClose fires when it has unwound
};

class TForm1 : public TComponent {
public:
    using TPauseHook = std::function<void(int Milliseconds)>;
    using TVisitStartEvent = std::function<void(TForm1* Sender, int Index)>;
    using TVisitResultEvent = std::function<void(TForm1* Sender, const TVisitResult& Result)>;
    using TClock = std::function<std::chrono::steady_clock::time_point()>;

    // The controls are borrowed; VexHTTP1 is created here, owned as a component.
    TForm1(TComponent* AOwner, const TForm1Controls& Controls);
    ~TForm1() override;

    // Event handlers, called by the window.
    void FormCreate(TComponent* Sender);
    // Clears both lists and loads the settings file into the lists and fields.
    void FormShow(TComponent* Sender);
    // Idle: saves the settings and answers Close. During a run: asks the run to stop (as RequestStop)
    // and answers Later; the window keeps itself open, and once the run has unwound and saved the
    // settings, OnDeferredClose fires (from inside the Button1Click that is ending). The window then
    // closes for good; calling FormClose again at that point is harmless (it saves the same state).
    TCloseAction FormClose(TComponent* Sender);
    // The whole run: Max check, shuffle, promotion, de-duplication, then the visits, one at a time or, with
    // Jobs above 1, many at once (TParallelRun). Ignored while a run is under way (the socket layer services
    // the window during a visit, so Start can be pressed). When this computer fails a visit (no descriptor,
    // memory or disk), the line is left unmarked and the run stops, saves and raises ELocalFailure; many at
    // once, the line is visited again later with fewer visits at a time, and the run stops only when a
    // visit made alone fails so.
    void Button1Click(TComponent* Sender);

    // Writes the settings file atomically; 1 when written, 0 when the old file was left as it was. A run
    // saves through a throttle instead (see SaveInterval).
    virtual int SaveSettings();
    // Fetches every target URL through the proxy; 1 when all came back, 0 at the first failure. A failure
    // of this computer rather than of the proxy (see LocalFailure.h) is a 0 too; the run tells it by
    // LastVisitOutcome, leaves the line unmarked and stops.
    virtual int VisitProxy(const std::string& ProxyHost, int32_t ProxyPort);

    // True from the start of Button1Click's run until it has returned.
    bool Running() const { return FRunning; }
    // Ends the run after the line being visited: the request in progress is aborted, that line keeps
    // its text (a stop is no failure of the proxy), no pause follows, the settings are saved. With many
    // visits at once, every visit under way is aborted and keeps its line. Does nothing when no run is
    // under way. Call it on the thread that runs the form (from a handler the socket layer's pump
    // dispatches, or from the pause hook).
    void RequestStop();
    bool StopRequested() const { return FStopRequested; }

    // The settings file; by default "qelto.ini" in platform::ExecutableDirectory().
    std::string SettingsFile() const;
    void SetSettingsFile(const std::string& FileName);
    // Puts the settings file in Folder (a missing trailing "/" is supplied).
    void SetSettingsFolder(const std::string& Folder);
    // Where a run keeps the response bodies: a folder that only this user can enter, made afresh in the
    // settings file's folder (ScratchParent) and removed with its contents when the run ends, so that
    // nobody can plant a link in a body's place, read a body, or find one left behind.
    std::string ScratchParent() const;
    // The scratch file "temp.html" of the form's own visits; empty while no run (or visit) has a folder.
    std::string ScratchFile() const;
    // The scratch file of worker Number (from 1) of a run of many at once, beside the form's own. Makes
    // the run's folder when there is none yet, and raises EFileCreateError when it cannot.
    std::string WorkerScratchFile(int Number);

    // Components and controls, in the window's order.
    TMemo* Memo1;
    TVexHTTP* VexHTTP1; // owned as a component
    TEdit* Edit2;
    TStatusBar* StatusBar1;
    TMemo* Memo2;
    TEdit* Edit1;

    // Runs the pause between two proxies; platform::Sleep by default. The window's hook repaints while
    // it waits but takes no input. The length is drawn from the random generator whatever the hook does;
    // a hook that serves a stop request (StopRequested()) may return early.
    TPauseHook PauseHook;
    // The pause lasts a draw modulo this, in ms; at 0 or below the draw is still taken, so the sequence of
    // draws stays the window's, but the pause is 0. With many at once each worker pauses this way between
    // its own visits.
    int PauseMax = 15000;
    // Proxies visited at the same time; 1 is the run of one proxy after another, draw for draw.
    int Jobs = 1;
    // The time-out of each target's request (look-up, connect, header, body and redirects), in ms.
    int32_t VisitTimeOut = 30000;
    // During a run, a finished proxy is saved at once when the last save is at least this old; otherwise
    // it is saved with the others that finish meanwhile when this interval ends. 0 saves after every one.
    std::chrono::milliseconds SaveInterval{1000};
    // The time of the visits' durations and of the saves' interval.
    TClock Clock = [] { return std::chrono::steady_clock::now(); };
    // Fired as the visit of line Index (0-based) of Memo1 begins; each visit that begins ends in one
    // OnVisitResult. Empty lines are not visited.
    TVisitStartEvent OnVisitStart;
    // Fired after each visited line has been rewritten (also for a stopped visit, with Mark None).
    TVisitResultEvent OnVisitResult;
    // Fired at the end of a run that a FormClose asked to stop; see FormClose. When the run ends by an
    // exception instead, it fires before the exception leaves Button1Click.
    TNotifyEvent OnDeferredClose;
    // The message of the exception that ended the latest failed visit; empty after a success.
    std::string LastVisitError;
    // The latest visit of VisitProxy, with the exception that ended it.
    TVisitOutcome LastVisitOutcome;
    // A certificate authority that https targets may lead to besides those of the system's store (a PEM
    // file); empty for the store alone.
    std::string CaFile;

private:
    friend class TParallelRun;

    void PrepareProxyList();
    void RunLoop();
    void EndRun();
    const platform::TPrivateFolder& ScratchFolder();
    // Ends the run that a failure of this computer interrupted at line Index (-1: before any line): the
    // status line says why, the settings are saved, and ELocalFailure carries the reason out.
    [[noreturn]] void StopOnLocalFailure(int Index, const std::exception_ptr& Error);

    std::unique_ptr<TSaveThrottle> FSaves;
    std::optional<platform::TPrivateFolder> FScratchFolder;

    std::string FSettingsFile; // empty: the default, resolved at first use
    bool FRunning = false;
    bool FVisiting = false;
    bool FStopRequested = false;
    bool FCloseRequested = false;
};
