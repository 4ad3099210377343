#pragma once
// The thread that serves one accepted connection: it runs the connection instance's Serve, then
// destroys the connection instance and itself.
#include <cstdint>
#include <memory>

class TVexGeneralServer;

class InstantiateServethread {
public:
    // Builds the connection instance for the accepted Socket on the calling thread (the listening
    // instance's) and starts the thread, which owns itself from then on. Errors are swallowed: when the
    // connection instance cannot be built, Socket is closed and the thread serves nothing.
    static void Start(TVexGeneralServer* AOwner, uint16_t Socket);

    // On the serve thread: takes the connection instance out of Connections and destroys it, under
    // ServerLock. Errors are swallowed.
    virtual ~InstantiateServethread();

    InstantiateServethread(const InstantiateServethread&) = delete;
    InstantiateServethread& operator=(const InstantiateServethread&) = delete;

    // The connection instance served; owned by this thread. None when it could not be built.
    TVexGeneralServer* Connection = nullptr;

protected:
    InstantiateServethread(TVexGeneralServer* AOwner, uint16_t Socket);
    // The thread body: Serve of Connection, its errors swallowed.
    virtual void Execute();

private:
    static void Run(std::unique_ptr<InstantiateServethread> Self);
    void BuildConnection(uint16_t Socket);
    void DiscardConnection(uint16_t Socket);

    TVexGeneralServer* FOwner;
};
