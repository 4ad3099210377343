#pragma once
// A scripted HTTP peer on a loopback port: it serves one connection after another, records the exact
// bytes of each request and answers with the next scripted reply, sent in the given packets.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

// What the peer does once it has sent its reply.
enum class HttpPeerEnd {
    Close,    // half-closes, then reads until the client closes
    HoldOpen, // keeps the connection open until the client closes it (a keep-alive proxy)
    Reset,    // drops the connection with a reset
    Silent,   // sends nothing at all and waits for the client to close
};

struct HttpPeerReply {
    std::vector<std::string> Packets; // each goes out as a segment of its own
    HttpPeerEnd End = HttpPeerEnd::Close;
};

// A reply of one packet.
HttpPeerReply OnePacket(std::string Bytes, HttpPeerEnd End = HttpPeerEnd::Close);

// Bytes cut into pieces of 1 to MaxPiece bytes at places drawn from Rng.
std::vector<std::string> SplitRandomly(const std::string& Bytes, std::mt19937& Rng, size_t MaxPiece);

class HttpPeer {
public:
    // Connections beyond the last reply get the last reply again; a peer without replies stays silent.
    // Address is a loopback address.
    explicit HttpPeer(std::vector<HttpPeerReply> Replies = {}, const std::string& Address = "127.0.0.1");
    ~HttpPeer();
    HttpPeer(const HttpPeer&) = delete;
    HttpPeer& operator=(const HttpPeer&) = delete;

    uint16_t Port() const { return FPort; }
    // Replaces the script, for replies that name the peer's own port.
    void SetReplies(std::vector<HttpPeerReply> Replies);

    // Waits (up to the deadline) until Count connections have ended, then returns every request so far:
    // the request bytes and anything the client sent after them on the same connection.
    std::vector<std::string> Requests(size_t Count,
                                      std::chrono::milliseconds Deadline = std::chrono::seconds(10));
    // Connections accepted so far.
    size_t Connections();
    // Waits until connection Index (from 0) has been closed by the client; false at the deadline.
    bool WaitClientClosed(size_t Index, std::chrono::milliseconds Deadline = std::chrono::seconds(10));

private:
    struct Record {
        std::string Request;
        bool ClientClosed = false;
    };

    void Serve();
    void ServeConnection(int Fd, const HttpPeerReply& Reply, size_t Index);
    // Reads until Fd has data, the stop pipe fires, or the deadline passes; false unless data is there.
    bool WaitReadable(int Fd, std::chrono::steady_clock::time_point Deadline) const;
    void Append(size_t Index, const char* Data, size_t Size);
    void MarkClosed(size_t Index);

    std::vector<HttpPeerReply> FReplies;
    int FListener = -1;
    int FStopPipe[2] = {-1, -1};
    uint16_t FPort = 0;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<Record> FRecords;
    std::thread FThread;
};
