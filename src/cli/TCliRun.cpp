#include "cli/TCliRun.h"

#include "app/LocalFailure.h"
#include "app/MemoryControls.h"
#include "app/Unit1.h"
#include "cli/SettingsFileCheck.h"
#include "cli/TConsole.h"
#include "cli/TConsoleStatusBar.h"
#include "cli/TStopSignals.h"
#include "cli/TerminalText.h"
#include "platform/System.h"
#include "platform/Windows.h"

#include <csignal>
#include <cstdio>
#include <exception>

namespace {

// The form as the window runs it, telling of every save that did not reach the disk: the window lets
// such failures pass, but a run nobody watches must not report marks it did not keep.
class TConsoleForm : public TForm1 {
public:
    using TForm1::TForm1;

    int SaveSettings() override {
        const int Result = TForm1::SaveSettings();
        LastSaveFailed = Result != 1;
        if (LastSaveFailed)
            std::fprintf(stderr, "vindral-cli: cannot save the settings to '%s'\n", SettingsFile().c_str());
        return Result;
    }

    bool LastSaveFailed = false;
};

// Installs the socket layer's event hook for the length of a scope.
class TEventHookScope {
public:
    explicit TEventHookScope(std::function<void()> Hook) { platform::SetEventHook(std::move(Hook)); }
    ~TEventHookScope() { platform::SetEventHook(nullptr); }
    TEventHookScope(const TEventHookScope&) = delete;
    TEventHookScope& operator=(const TEventHookScope&) = delete;
};

const char* SignalName(int Signal) {
    return Signal == SIGINT    ? "SIGINT"
           : Signal == SIGTERM ? "SIGTERM"
           : Signal == SIGPIPE ? "a closed output"
                               : "a signal";
}

} // namespace

int TCliRun::Execute() {
    TConsole Console(stdout, TConsole::WantsColour(stdout));
    TMemoryMemo Memo1;
    TMemoryMemo Memo2;
    TMemoryEdit Edit1{"Edit1"};
    TMemoryEdit Edit2{"100"};
    TConsoleStatusBar StatusBar1(Console);
    TConsoleForm Form(nullptr, TForm1Controls{&Memo1, &Memo2, &Edit1, &Edit2, &StatusBar1});
    FOptions.ApplyTo(Form);

    const std::string SettingsFile = Form.SettingsFile();
    if (const std::string Problem = SettingsFileProblem(SettingsFile); !Problem.empty()) {
        std::fprintf(stderr, "vindral-cli: %s\n", Problem.c_str());
        return Unusable;
    }

    TStopSignals Signals;
    Form.PauseHook = [&Form](int Milliseconds) {
        TStopSignals::Pause(Milliseconds);
        if (TStopSignals::Received()) Form.RequestStop();
    };
    Form.OnVisitResult = [&Console](TForm1*, const TVisitResult& Result) { Console.VisitResult(Result); };
    // Runs inside every wait of a request, so a signal aborts the request in progress.
    TEventHookScope Hook([&Form] {
        if (TStopSignals::Received()) Form.RequestStop();
    });

    int Status = Done;
    Form.FormCreate(&Form);
    Form.FormShow(&Form);
    if (!TStopSignals::Received()) {
        try {
            Form.Button1Click(&Form);
        } catch (const ELocalFailure& E) {
            // The status line said it on stdout too; a script tells it from a failed run by the status.
            std::fprintf(stderr, "vindral-cli: %s\n", ReasonText(E.what()).c_str());
            Status = LocalStop;
        } catch (const std::exception& E) {
            // The window would show it in a message box; the settings are saved all the same below.
            std::fprintf(stderr, "vindral-cli: %s\n", ReasonText(E.what()).c_str());
            Status = Failed;
        }
    }
    Form.FormClose(&Form);

    if (const int Signal = TStopSignals::Received()) {
        const std::string Text = std::string("Stopped by ") + SignalName(Signal) +
                                 (Form.LastSaveFailed ? "; the settings could not be saved to '"
                                                      : "; the settings are saved in '") +
                                 SettingsFile + "'";
        // Where the output has gone, the word goes to the standard error instead.
        if (Signal == SIGPIPE)
            std::fprintf(stderr, "vindral-cli: %s\n", Text.c_str());
        else
            Console.Line(Text);
        return Stopped;
    }
    return Form.LastSaveFailed ? Failed : Status;
}
