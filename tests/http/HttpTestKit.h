#pragma once
// What the HTTP client's tests share: a component that opens its steps to the tests, records the driver's
// calls and events in order, and can route every connection to a loopback peer; running a command by
// kind; and a working folder of its own for the files the component names relative to it.
#include "http/TVexHTTP.h"
#include "net/TThreadTimer.h"
#include "support/RealServers.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <utility>
#include <vector>

class TestHTTP : public TVexHTTP {
public:
    using TVexHTTP::AssembleHTTPHeader;
    using TVexHTTP::ParseURL;
    using TVexHTTP::TVexHTTP;

    // When not 0, every connection goes to 127.0.0.1 at this port as if through a proxy, whatever the
    // request names; the request itself is assembled from the real Proxy before connecting.
    uint16_t RouteToPort = 0;
    std::vector<std::string> Log;

    void Connect() override {
        Log.push_back("Connect");
        if (RouteToPort == 0) return TVexHTTP::Connect();
        const std::string SavedProxy = std::exchange(Proxy, "127.0.0.1");
        const int32_t SavedPort = std::exchange(ProxyPort, RouteToPort);
        struct Restore {
            TestHTTP& H;
            const std::string& P;
            int32_t Port;
            ~Restore() {
                H.Proxy = P;
                H.ProxyPort = Port;
            }
        } Guard{*this, SavedProxy, SavedPort};
        TVexHTTP::Connect();
    }

    void Disconnect() override {
        Log.push_back("Disconnect");
        TVexHTTP::Disconnect();
    }

    // Records the outcome events, redirects (with the cookie they see) and level 1-2 status texts.
    void RecordEvents(bool HandleRedirects = false) {
        ReportLevel = 2;
        OnAboutToSend = [this](TComponent*) { Log.push_back("AboutToSend " + URL); };
        OnSuccess = [this](CmdType Cmd) {
            Log.push_back("Success " + std::to_string(static_cast<int>(Cmd)));
        };
        OnFailure = [this](CmdType Cmd) {
            Log.push_back("Failure " + std::to_string(static_cast<int>(Cmd)));
        };
        OnRedirect = [this, HandleRedirects](bool& Handled) {
            Log.push_back("Redirect " + HeaderInfo->Cookie);
            Handled = HandleRedirects;
        };
        OnAuthenticationNeeded = [this](TComponent*) { Log.push_back("AuthenticationNeeded"); };
        OnConnectionFailed = [this](TComponent*) { Log.push_back("ConnectionFailed"); };
        OnStatus = [this](TComponent*, const std::string& Status) { Log.push_back("Status " + Status); };
    }
};

enum class Command { Get, Options, Head, Delete, Post, Put, Patch, Trace, Copy, Move, Link, UnLink, Wrapped };

// Runs Cmd with its arguments: the URL, and the data, destination or link where the command takes one.
inline void RunCommand(TVexHTTP& H, Command Cmd, const std::string& URL, const std::string& Argument = {}) {
    switch (Cmd) {
    case Command::Get:
        return H.Get(URL);
    case Command::Options:
        return H.Options(URL);
    case Command::Head:
        return H.Head(URL);
    case Command::Delete:
        return H.Delete(URL);
    case Command::Post:
        return H.Post(URL, Argument);
    case Command::Put:
        return H.Put(URL, Argument);
    case Command::Patch:
        return H.Patch(URL, Argument);
    case Command::Trace:
        return H.Trace(URL, Argument);
    case Command::Copy:
        return H.Copy(URL, Argument);
    case Command::Move:
        return H.Move(URL, Argument);
    case Command::Link:
        return H.Link(URL, Argument);
    case Command::UnLink:
        return H.UnLink(URL, Argument);
    case Command::Wrapped:
        return H.Wrapped(URL, Argument);
    }
}

// How long a command with the given time-out may run before it counts as hung (for a HangGuard): the
// time-out twice over and a loaded machine's scheduling on top.
inline std::chrono::milliseconds HangBound(int32_t TimeOut) {
    return std::chrono::milliseconds(2 * TimeOut + 3000);
}

// Calls Abort on Target once, Milliseconds after construction, from a window timer of the test's thread:
// a stop that arrives inside whatever wait runs then, as the window's stop does.
class AbortLater {
public:
    AbortLater(TVexHTTP& Target, uint32_t Milliseconds) : FTimer(nullptr) {
        FTimer.SetInterval(Milliseconds);
        FTimer.SetOnTimer([this, &Target](TComponent*) {
            FTimer.SetEnabled(false);
            Target.Abort();
        });
    }

private:
    TThreadTimer FTimer;
};

// Makes a fresh temporary folder the working folder for the scope, so that the files the component
// names relatively ("Send.dat", "Head.txt", "Default.htm") never meet another test's.
class InTempFolder {
public:
    InTempFolder() : FSaved(std::filesystem::current_path()) {
        std::filesystem::current_path(FFolder.Path());
    }
    ~InTempFolder() { std::filesystem::current_path(FSaved); }
    InTempFolder(const InTempFolder&) = delete;
    InTempFolder& operator=(const InTempFolder&) = delete;
    const TempFolder& Folder() const { return FFolder; }

private:
    TempFolder FFolder;
    std::filesystem::path FSaved;
};

// Replaces every "{port}" in Text by Port.
inline std::string WithPort(std::string Text, uint16_t Port, const std::string& Mark = "{port}") {
    for (size_t Pos; (Pos = Text.find(Mark)) != std::string::npos;)
        Text.replace(Pos, Mark.size(), std::to_string(Port));
    return Text;
}

// The exact class of an exception, for tables that name the class they expect.
template <typename E> std::type_index ClassOf() {
    return std::type_index(typeid(E));
}
inline std::type_index ClassOf(const std::exception& E) {
    return std::type_index(typeid(E));
}
