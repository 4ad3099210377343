// The transfer operations of the socket component: texts, lines, files and streams.
#include "framework/Exceptions.h"
#include "framework/TFileStream.h"
#include "framework/TStream.h"
#include "net/TDovrel.h"
#include "net/TTimeoutScope.h"
#include "platform/Sockets.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* SendAborted = "Socket send aborted";
constexpr const char* ReadLnAborted = "Socket readln aborted";
constexpr const char* CaptureAborted = "Socket capture aborted";
constexpr const char* ClosedEarly = "Connection closed before all data arrived";

// The counters are 32-bit like the rest of the component's state; a transfer beyond 2 GB wraps them
// instead of overflowing a signed number.
void AddWrapping(int32_t& Counter, int64_t Amount) {
    Counter = static_cast<int32_t>(static_cast<uint32_t>(Counter) + static_cast<uint32_t>(Amount));
}

int ChunkOf(int64_t Left) {
    return static_cast<int>(std::min<int64_t>(Left, IoBufferSize));
}

} // namespace

void TDovrel::SendBuffer(const char* Data, size_t Length) {
    StatusMessage(4, "Sending Buffer");
    TTimeoutScope Timeout(*this);
    if (!CancelRequested) {
        // Length 0 asks for the bytes before the first zero byte.
        if (Length == 0) Length = Data ? std::strlen(Data) : 0;
        size_t Sent = 0;
        // A full socket buffer is waited out under the time-out instead of retried at once, so a peer
        // that never reads ends in the abort rather than in a window that hangs.
        PumpUntil(
            [&] {
                if (Sent == Length || CancelRequested) return true;
                int N = SendBytes(Data + Sent, ChunkOf(static_cast<int64_t>(Length - Sent)));
                if (N == 0) return true;
                if (N > 0) {
                    Sent += static_cast<size_t>(N);
                } else {
                    std::string Text;
                    ErrorManager(platform::WSAEWOULDBLOCK, Text);
                }
                return Sent == Length;
            },
            TWaitFor::Writable);
    }
    ReportAbort(SendAborted);
}

void TDovrel::Write(const std::string& Text) {
    StatusMessage(8, "Write");
    // The length is passed, so zero bytes inside the text are sent like any other byte.
    if (Text.empty())
        SendBuffer("", 0);
    else
        SendBuffer(Text.data(), Text.size());
}

void TDovrel::Writeln(const std::string& Text) {
    StatusMessage(8, "Writeln");
    Write(Text + "\r\n");
}

std::string TDovrel::Read(uint16_t Count) {
    StatusMessage(8, "Read( " + std::to_string(Count) + " )");
    size_t Want = Count;
    if (Want == 0) {
        int N = ReceiveBytes(IoBuffer.data(), IoBufferSize, platform::MSG_PEEK_FLAG);
        if (N == platform::SOCKET_ERROR) {
            std::string Text;
            ErrorManager(platform::WSAEWOULDBLOCK, Text);
        } else if (N >= IoBufferSize) {
            throw ERangeError("Read: " + std::to_string(N) + " bytes queued, more than a count can hold");
        } else {
            Want = static_cast<size_t>(N);
        }
    } else {
        for (;;) {
            if (CancelRequested) break;
            int N = ReceiveBytes(IoBuffer.data(), IoBufferSize, platform::MSG_PEEK_FLAG);
            if (N >= static_cast<int>(Want)) break;
            // The bytes queued are all the peer will ever send, so the count can never be reached.
            if (N == 0 || (N > 0 && FPeerClosed)) return std::string();
            if (N == platform::SOCKET_ERROR) {
                std::string Text;
                ErrorManager(platform::WSAEWOULDBLOCK, Text);
            }
            // With some bytes queued the socket stays readable, so waiting on it would return at once;
            // wait a slice on the message queue alone before looking again.
            PumpUntil([this] { return CancelRequested.load(); }, TWaitFor::Messages,
                      TClock::now() + std::chrono::milliseconds(WaitSliceMs));
        }
    }
    ReportAbort(SendAborted);
    if (Want == 0) return std::string();
    std::string Result(Want, '\0');
    int N = ReceiveBytes(Result.data(), static_cast<int>(Want), 0);
    Result.resize(N > 0 ? static_cast<size_t>(N) : 0);
    return Result;
}

std::string TDovrel::ReadLn() {
    StatusMessage(8, "ReadLn");
    std::string Result;
    size_t Held = 0;
    bool Found = false;
    bool Closed = false;
    size_t LineEnd = 0;
    {
        TTimeoutScope Timeout(*this);
        // IoBuffer holds a copy of the line taken so far followed by the newly queued bytes, so the line
        // end is found by peeking and only the line's own bytes are taken off the socket.
        PumpUntil(
            [&] {
                if (CancelRequested) return true;
                if (Held >= IoBuffer.size())
                    throw ERangeError("ReadLn: line longer than " + std::to_string(IoBufferSize) + " bytes");
                int N = ReceiveBytes(IoBuffer.data() + Held, static_cast<int>(IoBuffer.size() - Held),
                                     platform::MSG_PEEK_FLAG);
                if (N == 0) {
                    Closed = true;
                    return true;
                }
                if (N > 0) {
                    const char* Begin = IoBuffer.data() + Held;
                    const char* Lf =
                        static_cast<const char*>(std::memchr(Begin, '\n', static_cast<size_t>(N)));
                    if (Lf) {
                        LineEnd = static_cast<size_t>(Lf - IoBuffer.data());
                        Found = true;
                        return true;
                    }
                    Result.resize(Held + static_cast<size_t>(N));
                    int Got = ReceiveBytes(Result.data() + Held, N, 0);
                    if (Got > 0) Held += static_cast<size_t>(Got);
                    Result.resize(Held);
                    return false;
                }
                if (ReceiveFailureEnds()) return true;
                return false;
            },
            TWaitFor::Readable);
    }
    if (Closed) return std::string();
    ReportAbort(ReadLnAborted);
    if (!Found) return std::string();
    Result.resize(LineEnd + 1);
    int Got = ReceiveBytes(Result.data() + Held, static_cast<int>(LineEnd + 1 - Held), 0);
    Result.resize(Held + (Got > 0 ? static_cast<size_t>(Got) : 0));
    return Result;
}

std::string TDovrel::Transaction(const std::string& Text) {
    StatusMessage(8, "Transaction");
    ReplyCode = 0;
    Writeln(Text);
    ReplyText = ReadLn();
    if (!ReplyText.empty()) {
        StatusMessage(1, ReplyText);
        size_t Digits = 0;
        while (Digits < ReplyText.size() && Digits < 10 && ReplyText[Digits] >= '0' &&
               ReplyText[Digits] <= '9')
            ++Digits;
        if (Digits > 0) {
            int64_t Value = std::stoll(ReplyText.substr(0, Digits));
            if (Value > INT32_MAX) Value = 0;
            if (Value < INT16_MIN || Value > INT16_MAX)
                throw ERangeError("Reply code " + std::to_string(Value) + " out of range");
            ReplyCode = static_cast<int16_t>(Value);
        }
    }
    return ReplyText;
}

void TDovrel::SendFile(const std::string& FileName) {
    StatusMessage(8, "SendFile");
    {
        TFileStream File(FileName, TFileMode::OpenRead);
        do {
            if (CancelRequested) break;
            int64_t Chunk = File.Read(IoBuffer.data(), IoBufferSize);
            // A file that ends before its size said (it shrank) has nothing more to give.
            if (Chunk == 0) break;
            // A send that takes nothing ends this chunk only; the file goes on with the next.
            SendChunk(Chunk);
        } while (File.Position() != File.Size() && !CancelRequested);
    }
    ReportAbort(SendAborted);
}

bool TDovrel::SendChunk(int64_t Chunk) {
    int64_t Sent = 0;
    bool Taken = true;
    PumpUntil(
        [&] {
            if (Sent == Chunk || CancelRequested) return true;
            int N = SendBytes(IoBuffer.data() + Sent, static_cast<int>(Chunk - Sent));
            if (N == 0) {
                Taken = false;
                return true;
            }
            if (N > 0) {
                Sent += N;
                AddWrapping(SentCount, N);
                if (OnPacketSent) OnPacketSent(this);
            } else {
                std::string Text;
                ErrorManager(platform::WSAEWOULDBLOCK, Text);
            }
            return false;
        },
        TWaitFor::Writable);
    return Taken;
}

void TDovrel::SendStream(TStream& Stream) {
    StatusMessage(8, "SendStream");
    Stream.SetPosition(0);
    if (!CancelRequested) {
        SentCount = 0;
        const int64_t Size = Stream.Size();
        TransferTotal = static_cast<int32_t>(Size);
        bool Ended = false;
        do {
            int64_t Chunk = Stream.Read(IoBuffer.data(), ChunkOf(Size - Stream.Position()));
            if (Chunk == 0) break;
            // A send that takes nothing ends the stream at once, without an error.
            Ended = !SendChunk(Chunk);
        } while (!Ended && Stream.Position() < Size && !CancelRequested);
    }
    ReportAbort(SendAborted);
}

void TDovrel::AppendFile(const std::string& FileName) {
    StatusMessage(8, "Append File");
    ReceivedCount = 0;
    {
        TFileStream File(FileName, TFileMode::OpenWrite);
        File.SetPosition(File.Size());
        PumpUntil(
            [&] {
                if (!IsConnected || CancelRequested) return true;
                int N = ReceiveBytes(IoBuffer.data(), IoBufferSize, 0);
                if (N > 0) {
                    File.WriteBuffer(IoBuffer.data(), N);
                    AddWrapping(ReceivedCount, N);
                    if (OnPacketRecvd) OnPacketRecvd(this);
                    return false;
                }
                // The peer closed and nothing is left. Its close notification may have been dropped
                // because bytes were still queued then, so waiting for IsConnected to drop would never end.
                if (N == 0) return true;
                std::string Text;
                ErrorManager(platform::WSAEWOULDBLOCK, Text);
                return false;
            },
            TWaitFor::Readable);
    }
    ReportAbort(SendAborted);
}

int TDovrel::ReceiveChunk(int Limit, const TChunkSink& Sink) {
    int N = ReceiveBytes(IoBuffer.data(), Limit, 0);
    if (N > 0) {
        Sink(IoBuffer.data(), N);
        AddWrapping(ReceivedCount, N);
        if (OnPacketRecvd) OnPacketRecvd(this);
        TimerOn();
        return N;
    }
    if (N == 0 || ReceiveFailureEnds()) return 0;
    return -1;
}

void TDovrel::CaptureFile(const std::string& FileName, int64_t Size) {
    StatusMessage(8, "CaptureFile");
    ReceivedCount = 0;
    TTimeoutScope Timeout(*this);
    {
        TFileStream File(FileName, TFileMode::Create);
        int64_t Held = 0;
        PumpUntil(
            [&] {
                if (CancelRequested || (Size != -1 && Held >= Size)) return true;
                return ReceiveChunk(IoBufferSize, [&](const char* Data, int Length) {
                           File.WriteBuffer(Data, Length);
                           Held += Length;
                       }) == 0;
            },
            TWaitFor::Readable);
    }
    ReportAbort(SendAborted);
}

void TDovrel::CaptureStream(TStream& Stream, int32_t Size) {
    StatusMessage(8, "Capture Stream");
    ReceivedCount = 0;
    TTimeoutScope Timeout(*this);
    // One receive; true when it ends the capture (the peer closed, or the socket is not connected).
    auto ReceiveOnce = [&] {
        return ReceiveChunk(IoBufferSize,
                            [&](const char* Data, int Length) { Stream.WriteBuffer(Data, Length); }) == 0;
    };
    if (Size == -1) {
        // Whatever one receive brings, then one pump; no waiting for more.
        if (!CancelRequested) {
            ReceiveOnce();
            platform::ProcessMessages();
        }
    } else {
        PumpUntil(
            [&] {
                if (CancelRequested || Stream.Size() >= Size) return true;
                return ReceiveOnce();
            },
            TWaitFor::Readable);
    }
    ReportAbort(CaptureAborted);
}

void TDovrel::CaptureString(std::string& Text, int32_t Size) {
    StatusMessage(8, "Capture String");
    Text.clear();
    ReceivedCount = 0;
    TTimeoutScope Timeout(*this);
    PumpUntil(
        [&] {
            if (CancelRequested || (Size != -1 && static_cast<int64_t>(Text.size()) >= Size)) return true;
            return ReceiveChunk(IoBufferSize, [&](const char* Data, int Length) {
                       Text.append(Data, static_cast<size_t>(Length));
                   }) == 0;
        },
        TWaitFor::Readable);
    ReportAbort(CaptureAborted);
}

bool TDovrel::ReceiveCounted(int64_t Count, const TChunkSink& Sink) {
    if (Count < 0) throw ERangeError("Capture of a negative count " + std::to_string(Count));
    ReceivedCount = 0;
    TTimeoutScope Timeout(*this);
    int64_t Left = Count;
    bool Closed = false;
    // Never more than what is still due is taken, so bytes that follow the body stay queued.
    PumpUntil(
        [&] {
            if (Left == 0 || CancelRequested) return true;
            int N = ReceiveChunk(ChunkOf(Left), Sink);
            if (N > 0) {
                Left -= N;
                return Left == 0;
            }
            Closed = N == 0;
            return Closed;
        },
        TWaitFor::Readable);
    return Closed;
}

void TDovrel::CaptureFileCount(const std::string& FileName, int64_t Count) {
    StatusMessage(8, "CaptureFile");
    bool Closed = false;
    {
        TFileStream File(FileName, TFileMode::Create);
        Closed = ReceiveCounted(Count, [&](const char* Data, int Length) { File.WriteBuffer(Data, Length); });
    }
    ReportAbort(SendAborted);
    if (Closed) throw ESockError(ClosedEarly);
}

void TDovrel::CaptureStringCount(std::string& Text, int64_t Count) {
    StatusMessage(8, "Capture String");
    bool Closed = ReceiveCounted(
        Count, [&](const char* Data, int Length) { Text.append(Data, static_cast<size_t>(Length)); });
    ReportAbort(CaptureAborted);
    if (Closed) throw ESockError(ClosedEarly);
}

void TDovrel::FilterHeader(TFileStream& Stream) {
    StatusMessage(8, "FilterHeader");
    for (;;) {
        std::string Line = ReadLn();
        if (Line.empty()) return;
        Stream.WriteBuffer(Line.data(), static_cast<int64_t>(Line.size()));
        if (Line == "\n" || Line == "\r\n") return;
    }
}

bool TDovrel::DataAvailable() {
    StatusMessage(8, "Data Available");
    // Over TLS, decrypted bytes held count, and so do encrypted ones queued (the rest of a record).
    if (FTls && FTls->ReadyToRead()) return true;
    // A scratch byte, so that a ReadLn in progress keeps its copy of the line in IoBuffer.
    char Scratch = 0;
    return platform::recv(SocketFd(), &Scratch, 1, platform::MSG_PEEK_FLAG) >= 1;
}

void TDovrel::ClearInput() {
    StatusMessage(8, "Clearing Input");
    auto Scratch = std::make_unique<char[]>(IoBufferSize);
    ReceiveBytes(Scratch.get(), IoBufferSize, 0);
}
