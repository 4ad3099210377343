#pragma once
// Servers for the threaded server's tests: connection instances that record what they saw of themselves
// and how their Serve ended, and the start of a listening instance as the framework starts one.
#include "net/InstantiateServethread.h"
#include "net/TVexGeneralServer.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

namespace servertest {

// What a connection instance saw of itself when its Serve began, and how its Serve ended.
struct TServeRecord {
    bool OwnClass = false;
    bool Connected = false;
    bool Listed = false;
    bool OwnedByListener = false;
    bool HasServeThread = false;
    bool HandlersCopied = false;
    uint16_t RemotePort = 0;
    std::string Outcome;
};

// Shared by the serve threads of one listening instance.
class TRecorder {
public:
    void Add(TServeRecord Record) {
        std::lock_guard Guard(FLock);
        FRecords.push_back(std::move(Record));
    }
    std::vector<TServeRecord> Records() const {
        std::lock_guard Guard(FLock);
        return FRecords;
    }
    size_t Count() const {
        std::lock_guard Guard(FLock);
        return FRecords.size();
    }

private:
    mutable std::mutex FLock;
    std::vector<TServeRecord> FRecords;
};

// The conversation of a server served as TServerOf<T>, whose connection instances report to the listening
// instance's recorder.
template <class T> class TRecordingServer : public TVexGeneralServer {
public:
    using TVexGeneralServer::TVexGeneralServer;
    TRecorder* Recorder = nullptr;

protected:
    TServeRecord Observe() {
        TServeRecord Record;
        auto* Listener = static_cast<TRecordingServer*>(this->ListeningServer);
        Record.OwnClass = typeid(*this) == typeid(TServerOf<T>);
        Record.Connected = this->IsConnected;
        const std::vector<TVexGeneralServer*> Listed = Listener->Connections->Snapshot();
        Record.Listed = std::find(Listed.begin(), Listed.end(), this) != Listed.end();
        Record.OwnedByListener = this->Owner() == Listener;
        Record.HasServeThread = this->ServeThread != nullptr && this->ServeThread->Connection == this;
        Record.HandlersCopied = static_cast<bool>(this->OnConnect) && static_cast<bool>(this->OnDisconnect);
        Record.RemotePort = platform::ntohs(this->RemoteAddress.sin_port);
        return Record;
    }
    TRecorder& ListenerRecorder() { return *static_cast<TRecordingServer*>(this->ListeningServer)->Recorder; }
};

// Greets the client with its own address, then ends (which closes the connection).
class TGreetingServer : public TRecordingServer<TGreetingServer> {
public:
    using TRecordingServer::TRecordingServer;
    void Serve() override {
        TServeRecord Record = Observe();
        Writeln("HELLO " + GetRemoteIP() + " " + std::to_string(platform::ntohs(RemoteAddress.sin_port)));
        Record.Outcome = "greeted";
        ListenerRecorder().Add(Record);
    }
};

// Answers each line with "ECHO " and the line, until the client closes or the wait is cancelled.
class TEchoServer : public TRecordingServer<TEchoServer> {
public:
    using TRecordingServer::TRecordingServer;
    void Serve() override {
        TServeRecord Record = Observe();
        try {
            for (;;) {
                const std::string Line = ReadLn();
                if (Line.empty()) break;
                Write("ECHO " + Line);
            }
            Record.Outcome = "closed";
        } catch (const EAbortError&) {
            // The cancel may meet the wait for a line or the end of the echo before it.
            Record.Outcome = "aborted";
        }
        ListenerRecorder().Add(Record);
    }
};

inline std::string Greeting(uint16_t ClientPort) {
    return "HELLO 127.0.0.1 " + std::to_string(ClientPort) + "\r\n";
}

// A listening instance started as the framework starts one: properties set, then Loaded.
template <class TServer> void StartListening(TServer& Server, TRecorder& Recorder) {
    Server.Port = 0;
    Server.Recorder = &Recorder;
    Server.OnConnect = [](TComponent*) {};
    Server.OnDisconnect = [](TComponent*) {};
    Server.Loaded();
}

inline int ConnectionCount(const TVexGeneralServer& Server) {
    return Server.Connections->Count();
}

// ServerLock is recursive, so only another thread can tell whether it is held.
inline bool ServerLockIsFree() {
    bool Free = false;
    std::thread Probe([&] {
        if (ServerLock().try_lock()) {
            Free = true;
            ServerLock().unlock();
        }
    });
    Probe.join();
    return Free;
}

} // namespace servertest
