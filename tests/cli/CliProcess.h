#pragma once
// vindral-cli run as a child process: its stdout and stderr read through pipes (or either through a
// pseudo-terminal of its own), lines waited for with a deadline, signals sent, and the exit status collected.
#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

class CliProcess {
public:
    enum class Output { Pipe, Terminal };

    // Starts Program (the built vindral-cli by default) with Arguments. SIGINT and SIGTERM start at their
    // default dispositions and unblocked, whatever the test runner inherited; NO_COLOR is not passed on.
    explicit CliProcess(const std::vector<std::string>& Arguments, Output Stdout = Output::Pipe,
                        const std::string& Program = VINDRAL_CLI_PROGRAM, Output Stderr = Output::Pipe);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Reads until stdout holds a whole line containing Text; false at the deadline or at the end of
    // the output.
    bool WaitForLine(const std::string& Text, std::chrono::milliseconds Deadline = std::chrono::seconds(30));
    void Signal(int Number);
    // Stops reading stdout and closes it, as a reader does that has seen enough (head -1).
    void CloseStdout();
    // Reads both outputs to their end and reaps the program. Its exit status, 128 + the number of the
    // signal that ended it, or -1 when it had not ended by the deadline (it is killed then).
    int Finish(std::chrono::milliseconds Deadline = std::chrono::seconds(60));

    const std::string& Stdout() const { return FOut.Text; }
    const std::string& Stderr() const { return FErr.Text; }
    // The lines of stdout, without line ends (a terminal's CR LF included).
    std::vector<std::string> StdoutLines() const;

private:
    struct Stream {
        int Fd = -1;
        std::string Text;
    };
    // Waits for either output until the deadline and takes what has come; false when nothing is open.
    bool ReadSome(std::chrono::steady_clock::time_point Deadline);
    void Kill();

    pid_t FPid = -1;
    Stream FOut;
    Stream FErr;
};
