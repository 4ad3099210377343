#include "cli/TCliRun.h"

#include "app/LocalFailure.h"
#include "app/MemoryControls.h"
#include "app/Unit1.h"
#include "cli/SettingsFileCheck.h"
#include "cli/TConsole.h"
#include "cli/TConsoleStatusBar.h"
#include "cli/TProgressLine.h"
#include "cli/TRunProgress.h"
#include "cli/TStopSignals.h"
#include "cli/TerminalText.h"
#include "cli/WorkingProxiesFile.h"
#include "framework/TextHelpers.h"
#include "platform/Windows.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <unistd.h>

namespace {

// The form as the window runs it, telling of every save that did not reach the disk: the window lets
// such failures pass, but a run nobody watches must not report marks it did not keep.
class TConsoleForm : public TForm1 {
public:
    TConsoleForm(const TForm1Controls& Controls, TConsole& Console)
        : TForm1(nullptr, Controls), FConsole(Console) {}

    int SaveSettings() override {
        const int Result = TForm1::SaveSettings();
        LastSaveFailed = Result != 1;
        if (LastSaveFailed) FConsole.Error("cannot save the settings to '" + SettingsFile() + "'");
        return Result;
    }

    bool LastSaveFailed = false;

private:
    TConsole& FConsole;
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

// The lines a run visits at most: those that are not empty once trimmed.
int ProxyCount(const TMemo& Memo) {
    const std::vector<std::string> Lines = Memo.Lines();
    return static_cast<int>(std::count_if(Lines.begin(), Lines.end(),
                                          [](const std::string& Line) { return !Trim(Line).empty(); }));
}

} // namespace

int TCliRun::Execute() {
    // Declared first, so the line outlives everything that may write above it.
    TRunProgress Progress;
    std::optional<TProgressLine> ProgressLine;
    TConsole Console(stdout, stderr, FOptions.Format, TConsole::WantsColour(stdout));
    TMemoryMemo Memo1;
    TMemoryMemo Memo2;
    TMemoryEdit Edit1{"Edit1"};
    TMemoryEdit Edit2{"100"};
    TConsoleStatusBar StatusBar1(Console);
    TConsoleForm Form(TForm1Controls{&Memo1, &Memo2, &Edit1, &Edit2, &StatusBar1}, Console);
    FOptions.Run.ApplyTo(Form);

    // Nothing is touched before both files are known to serve.
    const std::string SettingsFile = Form.SettingsFile();
    std::string Problem = SettingsFileProblem(SettingsFile);
    if (Problem.empty() && !FOptions.OutputFile.empty())
        Problem = OutputFileProblem(FOptions.OutputFile, SettingsFile);
    if (!Problem.empty()) {
        Console.Error(Problem);
        return Unusable;
    }

    // The progress line only where someone watches it: on a terminal, never in a log or a pipe.
    if (::isatty(::fileno(stderr)) == 1) {
        ProgressLine.emplace(stderr, Progress);
        Console.SetProgressLine(&*ProgressLine);
    }
    auto Tick = [&ProgressLine] {
        if (ProgressLine) ProgressLine->Tick();
    };

    TWorkingProxies Working;
    TStopSignals Signals;
    Form.PauseHook = [&Form, &Tick](int Milliseconds) {
        // In steps, so the progress line keeps its rate and its time left current during a long pause.
        const auto Step = static_cast<int>(TProgressLine::Interval.count());
        for (int Left = Milliseconds; Left > 0 && !TStopSignals::Received(); Left -= Step) {
            TStopSignals::Pause(std::min(Left, Step));
            Tick();
        }
        Tick();
        if (TStopSignals::Received()) Form.RequestStop();
    };
    Form.OnVisitStart = [&Progress, &Memo1, &Tick](TForm1*, int) {
        // The list is prepared by now and stays as it is: nobody edits it during a run.
        if (!Progress.Begun()) Progress.Begin(ProxyCount(Memo1), std::chrono::steady_clock::now());
        Progress.Started();
        Tick();
    };
    Form.OnVisitResult = [&](TForm1*, const TVisitResult& Result) {
        Progress.Finished(Result.Mark);
        Working.Add(Result);
        Console.VisitResult(Result);
        Tick();
    };
    // Runs inside every wait of a request, so a signal aborts the request in progress.
    TEventHookScope Hook([&Form, &Tick] {
        if (TStopSignals::Received()) Form.RequestStop();
        Tick();
    });

    int Status = Done;
    Form.FormCreate(&Form);
    Form.FormShow(&Form);
    // A stop before the run began leaves the output file of an earlier run as it is.
    const bool Began = !TStopSignals::Received();
    if (Began) {
        try {
            Form.Button1Click(&Form);
        } catch (const ELocalFailure& E) {
            // The status line said it on stdout too; a script tells it from a failed run by the status.
            Console.Error(ReasonText(E.what()));
            Status = LocalStop;
        } catch (const std::exception& E) {
            // The window would show it in a message box; the settings are saved all the same below.
            Console.Error(ReasonText(E.what()));
            Status = Failed;
        }
    }
    Form.FormClose(&Form);
    if (ProgressLine) ProgressLine->End();

    bool OutputFailed = false;
    if (Began && !FOptions.OutputFile.empty() && !Working.Write(FOptions.OutputFile)) {
        Console.Error("cannot write the output file '" + FOptions.OutputFile + "'");
        OutputFailed = true;
    }

    if (const int Signal = TStopSignals::Received()) {
        const std::string Text = std::string("Stopped by ") + SignalName(Signal) +
                                 (Form.LastSaveFailed ? "; the settings could not be saved to '"
                                                      : "; the settings are saved in '") +
                                 SettingsFile + "'";
        // Where the output has gone, the word goes to the standard error instead.
        if (Signal == SIGPIPE)
            Console.Error(Text);
        else
            Console.Note(Text);
        return Stopped;
    }
    return Form.LastSaveFailed || OutputFailed ? Failed : Status;
}
