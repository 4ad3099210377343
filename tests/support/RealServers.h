#pragma once
// Real servers for end-to-end tests, each run by the fixture on a free loopback port with its own
// temporary folder and configuration, and stopped (and its folder removed) when the fixture goes.
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// A folder under the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder's path with no trailing "/".
    const std::string& Path() const { return FPath; }
    // Writes Bytes to the file Name in the folder and returns its path.
    std::string WriteFile(const std::string& Name, const std::string& Bytes) const;

private:
    std::string FPath;
};

// A loopback port that nothing listens on at the moment of the call.
uint16_t FreeLoopbackPort();

// The whole content of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& FileName);

// A child process started with Arguments, ended with SIGTERM (SIGKILL if it lingers) and reaped.
class ChildProcess {
public:
    ChildProcess() = default;
    explicit ChildProcess(const std::vector<std::string>& Arguments, const std::string& LogFile);
    ~ChildProcess();
    ChildProcess(ChildProcess&& Other) noexcept;
    ChildProcess& operator=(ChildProcess&& Other) noexcept;

    bool Running();
    void Stop();

private:
    pid_t FPid = -1;
};

// Starts a server with Make(port) until it accepts connections on that port, trying again on another
// free port when the first is taken in between; raises with the text of LogFile when it does not start.
std::pair<uint16_t, ChildProcess> StartOnFreePort(const std::string& What, const std::string& LogFile,
                                                  const std::function<ChildProcess(uint16_t)>& Make);

// The start of an nginx configuration that keeps everything in Dir (pid, log, temporary files) and
// opens its http block; the servers and the closing brace follow.
std::string NginxConfigStart(const std::string& Dir);

// nginx serving the folder Root() on 127.0.0.1:Port().
class NginxServer {
public:
    NginxServer();
    uint16_t Port() const { return FPort; }
    // The document root; files written there are served at "/" + name.
    std::string Root() const { return FFolder.Path() + "/www"; }
    std::string Url(const std::string& Name) const;
    // Writes a file to be served at "/" + Name (folders in Name are created).
    void AddFile(const std::string& Name, const std::string& Bytes) const;

private:
    TempFolder FFolder;
    uint16_t FPort = 0;
    ChildProcess FProcess;
};

// tinyproxy on 127.0.0.1:Port(), taking clients from 127.0.0.1 only.
class TinyproxyServer {
public:
    TinyproxyServer();
    uint16_t Port() const { return FPort; }

private:
    TempFolder FFolder;
    uint16_t FPort = 0;
    ChildProcess FProcess;
};

// squid on 127.0.0.1:Port(), caching nothing, taking clients from the loopback only. Unlike tinyproxy it
// keeps a client's connection open after a response with a length, as "Proxy-Connection: Keep-Alive"
// invites.
class SquidServer {
public:
    SquidServer();
    uint16_t Port() const { return FPort; }

private:
    TempFolder FFolder;
    uint16_t FPort = 0;
    ChildProcess FProcess;
};
