#include "net/TVexGeneralServer.h"

#include "net/InstantiateServethread.h"

#include <algorithm>

namespace {

// Longest single block of the destructor's wait. Every ending serve thread wakes the wait with a
// message, so this only bounds the wait when a wake-up is lost.
constexpr int ServeThreadWaitSliceMs = 1000;

} // namespace

std::recursive_mutex& ServerLock() {
    static std::recursive_mutex Lock;
    return Lock;
}

void TVexGeneralServer::TConnectionList::Add(TVexGeneralServer* Connection) {
    std::lock_guard Guard(Lock);
    Items.push_back(Connection);
}

void TVexGeneralServer::TConnectionList::Remove(TVexGeneralServer* Connection) {
    std::lock_guard Guard(Lock);
    auto It = std::find(Items.begin(), Items.end(), Connection);
    if (It != Items.end()) Items.erase(It);
}

int TVexGeneralServer::TConnectionList::Count() const {
    std::lock_guard Guard(Lock);
    return static_cast<int>(Items.size());
}

std::vector<TVexGeneralServer*> TVexGeneralServer::TConnectionList::Snapshot() const {
    std::lock_guard Guard(Lock);
    return Items;
}

TVexGeneralServer::TVexGeneralServer(TComponent* AOwner) : TDovrel(AOwner) {
    if (!dynamic_cast<TVexGeneralServer*>(AOwner)) {
        Connections = std::make_unique<TConnectionList>();
        return;
    }
    // A connection instance's Abort cancels nothing (it is there for the listening instance's list), yet
    // its time-out must end its own wait as any component's does, or a silent client would hold its
    // serve thread for as long as it likes.
    TimeoutTimer->SetOnTimer([this](TComponent* Sender) {
        TimerFired(Sender);
        Cancel();
    });
}

TVexGeneralServer::~TVexGeneralServer() {
    // The serve threads destroy their connection instances, which this instance owns and lists, so
    // they must all have ended before anything of this instance goes.
    EndServing();
    Connections.reset();
}

void TVexGeneralServer::EndServing() {
    // Nothing new is accepted while the serve threads are awaited: the wait dispatches messages.
    OnAcceptReady = nullptr;
    try {
        Abort();
    } catch (...) {
    }
    WaitForServeThreads();
}

TComponent* TVexGeneralServer::CreateSameClass(TComponent* AOwner) const {
    return new TVexGeneralServer(AOwner);
}

void TVexGeneralServer::Loaded() {
    TDovrel::Loaded();
    if (Designing()) return;
    ServerLock();
    OnAcceptReady = [this](TComponent* Sender) { ServerAccept(Sender); };
    FAcceptBackOff = std::make_unique<TAcceptBackOff>(*this);
    Listen(false);
}

void TVexGeneralServer::Connect() {}

void TVexGeneralServer::Abort() {
    if (!Connections) return;
    std::lock_guard Guard(Connections->Lock);
    for (TVexGeneralServer* Connection : Connections->Items) Connection->Cancel();
}

void TVexGeneralServer::ServerAccept(TComponent*) {
    {
        std::lock_guard Guard(ServerLock());
        try {
            WaitDone = true;
            const uint16_t Socket = Accept();
            if (FAcceptBackOff) FAcceptBackOff->Succeeded();
            if (MaxConnections > 0 && Connections && Connections->Count() >= MaxConnections)
                Close(Socket);
            else
                InstantiateServethread::Start(this, Socket);
        } catch (const ERangeError&) {
            // The accept itself failed. When this machine is out of descriptors, accepting pauses instead
            // of failing again as fast as the notification comes back.
            if (FAcceptBackOff) FAcceptBackOff->Failed(LastErrorNo);
        } catch (...) {
            // A failed accept leaves the server listening; the client sees its connection go.
        }
    }
    if (OnClientContact) OnClientContact(this);
}

void TVexGeneralServer::Serve() {}

void TVexGeneralServer::ServeThreadEnded(const InstantiateServethread* Key) {
    std::vector<std::thread> Earlier;
    bool Wake = false;
    {
        std::lock_guard Guard(FServeThreads.Lock);
        Earlier.swap(FServeThreads.Ended);
        auto It = FServeThreads.Running.find(Key);
        if (It != FServeThreads.Running.end()) {
            try {
                FServeThreads.Ended.push_back(std::move(It->second));
            } catch (...) {
                It->second.detach();
            }
            FServeThreads.Running.erase(It);
        }
        Wake = FServeThreads.Awaited;
    }
    // Each ending thread joins those that ended before it, so a busy server keeps at most one finished
    // thread unjoined; the destructor joins the last. This instance stays alive meanwhile: its
    // destructor joins this thread before going on.
    JoinThreads(Earlier);
    if (Wake) platform::PostMessage(WindowHandle, ServeThreadEndedMessage, 0, 0);
}

void TVexGeneralServer::JoinThreads(std::vector<std::thread>& Threads) {
    for (std::thread& Thread : Threads) {
        try {
            Thread.join();
        } catch (...) {
            Thread.detach();
        }
    }
    Threads.clear();
}

void TVexGeneralServer::WaitForServeThreads() {
    const auto AllEnded = [this] {
        std::lock_guard Guard(FServeThreads.Lock);
        FServeThreads.Awaited = true;
        return FServeThreads.Running.empty();
    };
    while (!AllEnded()) {
        try {
            platform::ProcessMessages();
        } catch (...) {
        }
        if (AllEnded()) break;
        platform::WaitForWork(ServeThreadWaitSliceMs);
    }
    std::vector<std::thread> Ended;
    {
        std::lock_guard Guard(FServeThreads.Lock);
        Ended.swap(FServeThreads.Ended);
    }
    JoinThreads(Ended);
}

void TVexGeneralServer::ReleaseWindows() {
    if (TimeoutTimer) {
        platform::KillTimer(TimeoutTimer->WindowHandle, 1);
        platform::DestroyWindow(TimeoutTimer->WindowHandle);
    }
    platform::DestroyWindow(WindowHandle);
}
