#pragma once
// A socket component that listens on Port and serves every accepted connection on a thread of its own.
//
// The instance that listens (the listening instance) creates, for each accepted connection, a fresh
// instance of its own dynamic class (the connection instance) bound to the accepted socket, and an
// InstantiateServethread that runs the connection instance's Serve and then destroys it. A concrete
// server derives from TVexGeneralServer, overrides Serve, and is instantiated as TServerOf<it>.
#include "net/TAcceptBackOff.h"
#include "net/TDovrel.h"

#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <vector>

class InstantiateServethread;

// The one lock of the process that orders the creation of connection instances (accept handler)
// against their destruction (serve threads). Recursive, so that a handler running inside the accept
// handler may take it again.
std::recursive_mutex& ServerLock();

class TVexGeneralServer : public TDovrel {
public:
    // The connection instances of a listening instance, guarded by their own lock. Lock order:
    // ServerLock first, then this list's lock.
    class TConnectionList {
    public:
        void Add(TVexGeneralServer* Connection);
        void Remove(TVexGeneralServer* Connection);
        int Count() const;
        // The instances in accept order, copied under the lock.
        std::vector<TVexGeneralServer*> Snapshot() const;

        mutable std::mutex Lock;
        std::vector<TVexGeneralServer*> Items;
    };

    // A listening instance gets Connections unless its owner is itself a TVexGeneralServer (a connection
    // instance is owned by the listening instance that accepted it).
    explicit TVexGeneralServer(TComponent* AOwner);
    // Ends serving (see EndServing), then frees Connections. A descendant whose connection instances
    // use its own members is instantiated as TServerOf<it>, which ends serving before those members go.
    ~TVexGeneralServer() override;

    TComponent* CreateSameClass(TComponent* AOwner) const override;
    // At run time: makes ServerAccept the accept handler and listens on Port in event mode.
    void Loaded() override;
    // A server does not connect out.
    void Connect() override;
    // Cancels every connection instance, in accept order; never this instance itself, and a connection
    // instance does nothing. Closes nothing and does not wait.
    void Abort() override;
    // Accept handler: accepts the waiting connection, starts its serve thread (or closes the connection
    // at once when MaxConnections are served), fires OnClientContact.
    void ServerAccept(TComponent* Sender);
    // The conversation with one client, on the serve thread; nothing here.
    virtual void Serve();

    std::unique_ptr<TConnectionList> Connections;
    TNotifyEvent OnClientContact;
    // The most connections served at once; a connection beyond them is accepted and closed at once, so
    // it neither waits in the backlog nor costs a thread. 0: no limit.
    int32_t MaxConnections = 0;
    // In a connection instance: the listening instance that accepted it and the thread serving it.
    TVexGeneralServer* ListeningServer = nullptr;
    InstantiateServethread* ServeThread = nullptr;

protected:
    // Stops accepting, cancels the connections, and waits until every serve thread of this instance has
    // ended, pumping the thread's messages meanwhile (the connection instances' notifications are
    // dispatched here). A Serve that goes on after its cancelled error is waited for.
    void EndServing();

private:
    friend class InstantiateServethread;

    // The serve threads this listening instance started. A thread that ends moves its handle to Ended,
    // where the next ending thread or this instance's destructor joins it, so no serve thread outlives
    // the instance that started it.
    struct TServeThreads {
        std::mutex Lock;
        std::unordered_map<const InstantiateServethread*, std::thread> Running;
        std::vector<std::thread> Ended;
        // Set while the destructor waits: an ending thread then wakes this instance's thread.
        bool Awaited = false;
    };

    // Called by a serve thread as its very last use of this instance.
    void ServeThreadEnded(const InstantiateServethread* Key);
    static void JoinThreads(std::vector<std::thread>& Threads);
    void WaitForServeThreads();
    // Destroys this connection instance's windows before the instance is taken apart, so that the
    // listening thread dispatches nothing to it any more (DestroyWindow waits for a running dispatch).
    void ReleaseWindows();

    TServeThreads FServeThreads;
    // The listening instance's pause after an accept failed for want of descriptors.
    std::unique_ptr<TAcceptBackOff> FAcceptBackOff;
};

// The class to instantiate for a server whose conversation is T's Serve:
//   class TEchoServer : public TVexGeneralServer { using TVexGeneralServer::TVexGeneralServer;
//                                                  void Serve() override; };
//   auto* Server = new TServerOf<TEchoServer>(Form);
// Its connection instances are of its own class, and its destruction ends the serve threads before
// anything of T is taken apart, so a Serve may use the listening instance's own members to the end.
template <class T> class TServerOf final : public T {
    static_assert(std::is_base_of_v<TVexGeneralServer, T>, "a server derives from TVexGeneralServer");

public:
    explicit TServerOf(TComponent* AOwner) : T(AOwner) {}
    ~TServerOf() override { this->EndServing(); }
    TComponent* CreateSameClass(TComponent* AOwner) const override { return new TServerOf(AOwner); }
};

// Posted to a listening instance's window when one of its serve threads has ended while it waits for
// them; TDovrel's notification handler ignores numbers from 1127 on.
constexpr platform::UINT ServeThreadEndedMessage = platform::WM_USER + 103; // 1127
