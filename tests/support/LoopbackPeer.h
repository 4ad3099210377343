#pragma once
// A scripted TCP peer on 127.0.0.1 for protocol tests. It listens on a port the system picks, serves the
// connections it accepts one after another, each with a script of its own (send exact bytes, send them
// in separate packets, stall, half-close, reset, stop reading), and records every byte it receives.
// Its thread is stopped and joined by the destructor, whatever step it is in.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What the peer does on one connection, step by step. When the steps are done the peer half-closes
// and keeps receiving until the client closes (as Close does).
class PeerScript {
public:
    PeerScript& Send(std::string Bytes);
    // Bytes cut before each offset of Cuts (ascending), each piece its own packet, Gap apart, so the
    // reader gets the pieces apart whenever it keeps up.
    PeerScript& SendInPackets(const std::string& Bytes, const std::vector<size_t>& Cuts,
                              std::chrono::milliseconds Gap = std::chrono::milliseconds(5));
    // Sends Count bytes of a repeating pattern (see PatternBytes) without building them all at once.
    PeerScript& SendPattern(uint64_t Count);
    // Sends Unit Count times over, without building the whole stream at once (a line of 100 MB, a
    // header that never ends). A client that closes ends the step early.
    PeerScript& SendRepeated(std::string Unit, uint64_t Count);
    // Sends nothing for Time; still receives unless reading was stopped.
    PeerScript& Stall(std::chrono::milliseconds Time);
    // Waits until the bytes received on this connection contain Marker, or hold at least Count bytes.
    PeerScript& ReceiveUntil(std::string Marker);
    PeerScript& ReceiveAtLeast(uint64_t Count);
    // Takes nothing more off the socket, so the client's sends fill the buffers.
    PeerScript& StopReading();
    // Keeps the connection open until the client closes it, Release is called, or another client waits.
    PeerScript& Hold();
    // Half-closes (the client reads the end of the stream), then holds as Hold does.
    PeerScript& Close();
    // Drops the connection with a reset (linger 0); nothing more is done on it.
    PeerScript& Reset();

private:
    friend class LoopbackPeer;
    enum class TKind {
        Send,
        Pattern,
        Repeated,
        Stall,
        ReceiveUntil,
        ReceiveAtLeast,
        StopReading,
        Hold,
        Close,
        Reset
    };
    struct TStep {
        TKind Kind;
        std::string Bytes;
        uint64_t Count = 0;
        std::chrono::milliseconds Time{0};
    };
    std::vector<TStep> FSteps;
};

// The byte at Offset of the pattern that SendPattern sends.
char PatternByte(uint64_t Offset);
std::string PatternBytes(uint64_t Offset, size_t Count);

struct PeerOptions {
    // Receive buffer of accepted connections (0: the system's); small makes a peer that stops reading
    // push back at once.
    int ReceiveBufferSize = 0;
    // How long a receive step waits before it gives up on the client.
    std::chrono::milliseconds ReceiveDeadline = std::chrono::seconds(20);
};

class LoopbackPeer {
public:
    // Connection N gets Scripts[N]; connections beyond the scripts are closed at once.
    explicit LoopbackPeer(std::vector<PeerScript> Scripts, PeerOptions Options = {});
    explicit LoopbackPeer(PeerScript Script, PeerOptions Options = {});
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    uint16_t Port() const { return FPort; }

    // Bytes received on connection Index so far.
    std::string Received(size_t Index = 0);
    size_t Accepted();
    // Waits until Condition holds for the bytes received on connection Index; false at the deadline.
    bool WaitReceived(const std::function<bool(const std::string&)>& Condition,
                      std::chrono::milliseconds Deadline = std::chrono::seconds(10), size_t Index = 0);
    // Waits until the client closed connection Index (the peer read the end of its stream, or a reset).
    bool WaitClientClosed(size_t Index = 0, std::chrono::milliseconds Deadline = std::chrono::seconds(10));
    // Waits until the script of connection Index has run all its steps (its Hold or Close included).
    bool WaitScriptDone(size_t Index = 0, std::chrono::milliseconds Deadline = std::chrono::seconds(10));
    // Ends the Hold or Close step that is waiting, and every later one at once.
    void Release();

private:
    struct TRecord {
        std::string Received;
        bool ClientClosed = false;
        bool Done = false;
    };
    class TConnection;

    void Serve();
    void RunScript(int Fd, const PeerScript& Script, size_t Index);
    void Append(size_t Index, const char* Data, size_t Size);
    void Mark(size_t Index, bool TRecord::*Flag);
    bool WaitFor(const std::function<bool()>& Condition, std::chrono::milliseconds Deadline);

    std::vector<PeerScript> FScripts;
    PeerOptions FOptions;
    int FListener = -1;
    int FStopEvent = -1;    // readable once the peer is being destroyed
    int FReleaseEvent = -1; // readable once Release was called
    uint16_t FPort = 0;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<TRecord> FRecords;
    std::thread FThread;
};
