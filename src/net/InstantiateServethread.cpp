#include "net/InstantiateServethread.h"

#include "net/TVexGeneralServer.h"
#include "platform/Sockets.h"
#include "platform/Windows.h"

#include <thread>
#include <typeinfo>

namespace {

constexpr long ConnectionEvents =
    platform::FD_READ | platform::FD_OOB | platform::FD_ACCEPT | platform::FD_CONNECT | platform::FD_CLOSE;

} // namespace

void InstantiateServethread::Start(TVexGeneralServer* AOwner, uint16_t Socket) {
    std::unique_ptr<InstantiateServethread> Self;
    try {
        Self.reset(new InstantiateServethread(AOwner, Socket));
    } catch (...) {
        // Only the allocation can fail here (the constructor swallows the rest); nobody owns the socket.
        platform::closesocket(Socket);
        return;
    }
    try {
        auto& Threads = AOwner->FServeThreads;
        const InstantiateServethread* Key = Self.get();
        // Registered under the lock the ending thread takes, so a thread that ends at once still finds
        // its entry. The slot is made before the thread, so a failed insertion starts nothing.
        std::lock_guard Guard(Threads.Lock);
        auto [Slot, Inserted] = Threads.Running.try_emplace(Key);
        try {
            // The thread owns its object from here on and frees it when its body returns. When the
            // thread cannot be started, the object dies with the failed start and takes the connection
            // instance (and with it the accepted socket) along.
            Slot->second = std::thread(&InstantiateServethread::Run, std::move(Self));
        } catch (...) {
            Threads.Running.erase(Slot);
            throw;
        }
    } catch (...) {
    }
}

InstantiateServethread::InstantiateServethread(TVexGeneralServer* AOwner, uint16_t Socket) : FOwner(AOwner) {
    try {
        BuildConnection(Socket);
    } catch (...) {
        DiscardConnection(Socket);
    }
}

void InstantiateServethread::BuildConnection(uint16_t Socket) {
    std::unique_ptr<TComponent> Made(FOwner->CreateSameClass(FOwner));
    auto* Instance = dynamic_cast<TVexGeneralServer*>(Made.get());
    // A descendant that does not make instances of its own class would be served by another class's
    // Serve; it gets no connection instance at all instead.
    if (!Instance || typeid(*Instance) != typeid(*FOwner) || !FOwner->Connections)
        throw ESockError("Error creating Data Connection");
    Made.release();
    Connection = Instance;

    Connection->IsConnected = true;
    Connection->RemoteAddress = FOwner->RemoteAddress;
    Connection->ServeThread = this;
    Connection->OnConnect = FOwner->OnConnect;
    Connection->OnDisconnect = FOwner->OnDisconnect;
    // The socket is on its way to the serve thread, which owns it from its start: no close notification
    // dispatched here may close it meanwhile.
    Connection->SocketOwner = std::thread::id();
    const uint16_t Own = Connection->SocketHandle.exchange(Socket);
    if (Own != NoSocket) platform::closesocket(Own);
    FOwner->Connections->Add(Connection);
    platform::WSAAsyncSelect(Socket, Connection->WindowHandle, SocketNotifyMessage, ConnectionEvents);
    Connection->ListeningServer = FOwner;
}

void InstantiateServethread::DiscardConnection(uint16_t Socket) {
    try {
        bool SocketClosed = false;
        if (Connection) {
            if (FOwner->Connections) FOwner->Connections->Remove(Connection);
            SocketClosed = Connection->SocketHandle == Socket;
            delete Connection;
            Connection = nullptr;
        }
        if (!SocketClosed) platform::closesocket(Socket);
    } catch (...) {
    }
}

void InstantiateServethread::Execute() {
    if (!Connection) return;
    try {
        Connection->Serve();
    } catch (...) {
    }
}

InstantiateServethread::~InstantiateServethread() {
    if (!Connection) return;
    try {
        std::lock_guard Guard(ServerLock());
        try {
            if (Connection->ListeningServer && Connection->ListeningServer->Connections)
                Connection->ListeningServer->Connections->Remove(Connection);
        } catch (...) {
        }
        try {
            Connection->ReleaseWindows();
            delete Connection;
        } catch (...) {
        }
        Connection = nullptr;
    } catch (...) {
    }
}

void InstantiateServethread::Run(std::unique_ptr<InstantiateServethread> Self) {
    TVexGeneralServer* Owner = Self->FOwner;
    const InstantiateServethread* Key = Self.get();
    try {
        if (Self->Connection) Self->Connection->SocketOwner = std::this_thread::get_id();
        // A thread without a message queue of its own (no descriptor left to make one) could wait for
        // its client only by spinning; it serves nothing, and its destruction below closes the
        // connection.
        if (platform::QueueFd() >= 0) Self->Execute();
    } catch (...) {
    }
    Self.reset();
    Owner->ServeThreadEnded(Key);
}
