// The socket component's transfers against scripted loopback peers.
#include "SocketTestKit.h"
#include "framework/Exceptions.h"
#include "framework/TFileStream.h"
#include "framework/TMemoryStream.h"
#include "net/SocketErrors.h"
#include "net/TDovrel.h"
#include "support/LoopbackPeer.h"
#include "support/RealServers.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace sockettest;

namespace {

// Compares long byte strings without printing them whole when they differ.
testing::AssertionResult SameBytes(const std::string& Got, const std::string& Expected) {
    if (Got == Expected) return testing::AssertionSuccess();
    size_t At = 0;
    while (At < Got.size() && At < Expected.size() && Got[At] == Expected[At]) ++At;
    return testing::AssertionFailure()
           << Got.size() << " bytes instead of " << Expected.size() << ", first difference at byte " << At;
}

std::string Received(LoopbackPeer& Peer, size_t Count) {
    EXPECT_TRUE(Peer.WaitReceived([&](const std::string& Got) { return Got.size() >= Count; }))
        << "the peer got " << Peer.Received().size() << " of " << Count << " bytes";
    return Peer.Received();
}

// ---- ReadLn ----

struct TLineStream {
    const char* Name;
    std::string Bytes;
    std::vector<std::string> Lines; // what ReadLn returns, call by call, the last after the peer closed
};

class ReadLnSplitTest : public testing::TestWithParam<TLineStream> {};

// The lines come out the same wherever the stream is cut into packets.
TEST_P(ReadLnSplitTest, ReturnsEachLineWithItsTerminatorWhereverThePacketsAreCut) {
    const TLineStream& Stream = GetParam();
    for (size_t Cut = 0; Cut < Stream.Bytes.size(); ++Cut) {
        SCOPED_TRACE("cut before byte " + std::to_string(Cut));
        TConnected Pair(PeerScript().SendInPackets(Stream.Bytes, {Cut}).Close());
        Pair.Socket.TimeOut = 10000;
        std::vector<std::string> Lines;
        for (size_t I = 0; I < Stream.Lines.size(); ++I) Lines.push_back(Pair.Socket.ReadLn());
        EXPECT_EQ(Lines, Stream.Lines);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ReadLnSplitTest,
    testing::Values(TLineStream{"StatusAndHeader",
                                "HTTP/1.0 200 OK\r\nServer: x\r\n\r\n",
                                {"HTTP/1.0 200 OK\r\n", "Server: x\r\n", "\r\n", ""}},
                    TLineStream{"BareLineFeeds", "a\nbb\n\ncc\r\n", {"a\n", "bb\n", "\n", "cc\r\n", ""}},
                    TLineStream{"PeerClosesMidLine", "abc\r\nde", {"abc\r\n", ""}},
                    TLineStream{"ZeroBytesInsideALine",
                                std::string("a\0b\r\n\0\n", 7),
                                {std::string("a\0b\r\n", 5), std::string("\0\n", 2), ""}}),
    [](const testing::TestParamInfo<TLineStream>& Info) { return Info.param.Name; });

TEST(ReadLnTest, ALineInThreePacketsComesWholeAndTheBytesAfterItStayQueued) {
    TConnected Pair(PeerScript().SendInPackets("GET / HTTP/1.0\r\nrest", {3, 9}, 20ms).Hold());
    EXPECT_EQ(Pair.Socket.ReadLn(), "GET / HTTP/1.0\r\n");
    ASSERT_TRUE(PumpUntil([&] { return QueuedBytes(Pair.Socket) == 4; }));
    EXPECT_EQ(Pair.Socket.Read(0), "rest");
}

struct TLongLineCase {
    size_t Length; // bytes before the LF
    bool Fits;
};
void PrintTo(const TLongLineCase& Case, std::ostream* Out) {
    *Out << Case.Length << " bytes and LF";
}

class ReadLnLengthTest : public testing::TestWithParam<TLongLineCase> {};

TEST_P(ReadLnLengthTest, ALineMustFitTheTransferBuffer) {
    const std::string Line(GetParam().Length, 'x');
    TConnected Pair(PeerScript().Send(Line + "\n").Hold());
    Pair.Socket.TimeOut = 10000;
    if (GetParam().Fits)
        EXPECT_TRUE(SameBytes(Pair.Socket.ReadLn(), Line + "\n"));
    else
        EXPECT_THROW(Pair.Socket.ReadLn(), ERangeError);
}

INSTANTIATE_TEST_SUITE_P(Boundary, ReadLnLengthTest,
                         testing::Values(TLongLineCase{65535, true}, TLongLineCase{65536, false},
                                         TLongLineCase{200000, false}));

// ---- time-out and cancel ----

// Each operation that arms the time-out, against a peer that stays silent.
struct TSilentCase {
    const char* Name;
    std::function<void(TDovrel&, TempFolder&)> Operation;
    const char* Aborted;
};

class TimeOutTest : public testing::TestWithParam<TSilentCase> {};

TEST_P(TimeOutTest, ASilentPeerEndsInTheAbortMessageWithTimedOutSet) {
    TempFolder Folder;
    TConnected Pair(PeerScript().Hold());
    Pair.Socket.TimeOut = 300;
    EXPECT_EQ(MessageOf<EAbortError>([&] { GetParam().Operation(Pair.Socket, Folder); }), GetParam().Aborted);
    EXPECT_TRUE(Pair.Socket.TimedOut);
    EXPECT_FALSE(Pair.Socket.CancelRequested);
}

TEST_P(TimeOutTest, CancelFromAHandlerEndsTheWaitWithoutATimeOut) {
    TempFolder Folder;
    TConnected Pair(PeerScript().Hold());
    TCancelLater Cancel(Pair.Socket, 50);
    EXPECT_EQ(MessageOf<EAbortError>([&] { GetParam().Operation(Pair.Socket, Folder); }), GetParam().Aborted);
    EXPECT_EQ(Cancel.Fired, 1);
    EXPECT_FALSE(Pair.Socket.TimedOut);
    EXPECT_FALSE(Pair.Socket.CancelRequested);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, TimeOutTest,
    testing::Values(
        TSilentCase{"ReadLn", [](TDovrel& S, TempFolder&) { S.ReadLn(); }, "Socket readln aborted"},
        TSilentCase{"CaptureFile", [](TDovrel& S, TempFolder& F) { S.CaptureFile(F.Path() + "/body"); },
                    "Socket send aborted"},
        TSilentCase{"CaptureStream",
                    [](TDovrel& S, TempFolder&) {
                        TMemoryStream Stream;
                        S.CaptureStream(Stream, 10);
                    },
                    "Socket capture aborted"},
        TSilentCase{"CaptureString",
                    [](TDovrel& S, TempFolder&) {
                        std::string Text;
                        S.CaptureString(Text, -1);
                    },
                    "Socket capture aborted"},
        TSilentCase{"CaptureFileCount",
                    [](TDovrel& S, TempFolder& F) { S.CaptureFileCount(F.Path() + "/body", 10); },
                    "Socket send aborted"},
        TSilentCase{"CaptureStringCount",
                    [](TDovrel& S, TempFolder&) {
                        std::string Text;
                        S.CaptureStringCount(Text, 10);
                    },
                    "Socket capture aborted"}),
    [](const testing::TestParamInfo<TSilentCase>& Info) { return Info.param.Name; });

TEST(CaptureTimeOutTest, LimitsTheWholeCaptureNotEachChunk) {
    // A chunk every 100 ms for far longer than the time-out: re-arming after each chunk keeps the
    // first period, so the capture still ends at the time-out.
    PeerScript Script;
    for (int I = 0; I < 100; ++I) Script.Send("x").Stall(100ms);
    TConnected Pair(std::move(Script));
    Pair.Socket.TimeOut = 500;
    std::string Text;
    EXPECT_EQ(MessageOf<EAbortError>([&] { Pair.Socket.CaptureString(Text, -1); }), "Socket capture aborted");
    EXPECT_TRUE(Pair.Socket.TimedOut);
    EXPECT_GE(Text.size(), 1u);
    EXPECT_LT(Text.size(), 100u);
}

// ---- sending ----

TEST(SendTest, WritelnAndWriteSendExactlyTheirBytes) {
    TConnected Pair(PeerScript().Hold());
    Pair.Socket.Writeln("GET / HTTP/1.0");
    Pair.Socket.Write("");
    Pair.Socket.Write(std::string("a\0b\0", 4));
    const std::string Expected = std::string("GET / HTTP/1.0\r\na\0b\0", 20);
    EXPECT_EQ(Received(Pair.Peer, Expected.size()), Expected);
}

TEST(SendTest, AMegabyteTextArrivesWhole) {
    const std::string Text = PatternBytes(7, 1 << 20);
    TConnected Pair(PeerScript().Hold());
    Pair.Socket.TimeOut = 30000;
    Pair.Socket.Write(Text);
    EXPECT_TRUE(SameBytes(Received(Pair.Peer, Text.size()), Text));
}

TEST(SendTest, APeerThatNeverReadsEndsTheWriteAtTheTimeOut) {
    TConnected Pair(PeerScript().StopReading().Hold(), PeerOptions{.ReceiveBufferSize = 4096});
    Pair.Socket.TimeOut = 500;
    const std::string Text(16 << 20, 'x');
    EXPECT_EQ(MessageOf<EAbortError>([&] { Pair.Socket.Write(Text); }), "Socket send aborted");
    EXPECT_TRUE(Pair.Socket.TimedOut);
}

TEST(SendTest, SendBufferWithACancelLeftSetSendsNothingAndClearsIt) {
    TConnected Pair(PeerScript().Hold());
    Pair.Socket.Cancel();
    EXPECT_EQ(MessageOf<EAbortError>([&] { Pair.Socket.SendBuffer("lost", 4); }), "Socket send aborted");
    EXPECT_FALSE(Pair.Socket.CancelRequested);
    Pair.Socket.Write("kept");
    EXPECT_EQ(Received(Pair.Peer, 4), "kept");
}

// What a send meets on a socket without a connection (never connected, or the fresh one that replaced
// the connection after the peer's close) is "not connected"; only a connection the peer reset is a reset.
struct TSendWithoutConnectionCase {
    const char* Name;
    PeerScript Script; // what the peer does after the component's greeting
    bool Connects;
    int Error;
    const char* Message;
};
void PrintTo(const TSendWithoutConnectionCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class SendWithoutConnectionTest : public testing::TestWithParam<TSendWithoutConnectionCase> {};

TEST_P(SendWithoutConnectionTest, RaisesTheErrorOfWhatBecameOfTheConnectionAfterOnError) {
    const auto& Case = GetParam();
    LoopbackPeer Peer(Case.Script);
    TDovrel Socket(nullptr);
    if (Case.Connects) {
        Socket.Host = "127.0.0.1";
        Socket.Port = Peer.Port();
        Socket.Connect();
        Socket.Writeln("hello");
        // The peer's close reaches the component: an orderly one replaces the socket, a reset keeps it
        // and clears LastEventOk.
        ASSERT_TRUE(PumpUntil([&] { return !Socket.IsConnected || !Socket.LastEventOk; }));
    }
    int Reported = 0;
    Socket.OnError = [&](TComponent*, uint16_t Errno, const std::string&) { Reported = Errno; };
    int Carried = 0;
    const std::string Message = MessageOf<ESockError>([&] {
        try {
            Socket.Write("request\r\n");
        } catch (const ESockError& Error) {
            Carried = Error.ErrorNo;
            throw;
        }
    });
    EXPECT_EQ(Message, Case.Message);
    EXPECT_EQ(Reported, Case.Error);
    EXPECT_EQ(Carried, Case.Error);
    EXPECT_EQ(Socket.LastErrorNo, Case.Error);
}

INSTANTIATE_TEST_SUITE_P(
    SendTest, SendWithoutConnectionTest,
    testing::Values(TSendWithoutConnectionCase{"NeverConnected", PeerScript(), false, 10057,
                                               "10057:Socket is not connected"},
                    TSendWithoutConnectionCase{"ReplacedAfterThePeersClose",
                                               PeerScript().ReceiveUntil("hello").Close(), true, 10057,
                                               "10057:Socket is not connected"},
                    TSendWithoutConnectionCase{"ResetByThePeer", PeerScript().ReceiveUntil("hello").Reset(),
                                               true, 10054, "10054:Connection reset by peer"}),
    [](const testing::TestParamInfo<TSendWithoutConnectionCase>& Info) {
        return std::string(Info.param.Name);
    });

TEST(SendTest, SendBufferOfLengthZeroSendsUpToTheFirstZeroByte) {
    TConnected Pair(PeerScript().Hold());
    Pair.Socket.SendBuffer("abc\0def", 0);
    Pair.Socket.SendBuffer("!", 1);
    EXPECT_EQ(Received(Pair.Peer, 4), "abc!");
}

TEST(SendTest, SendFileAndSendStreamSendEveryByteAndCount) {
    TempFolder Folder;
    const std::string FileBytes = PatternBytes(1, 200000);
    const std::string File = Folder.WriteFile("out.bin", FileBytes);
    TMemoryStream Stream;
    const std::string StreamBytes = PatternBytes(2, 100000);
    Stream.WriteBuffer(StreamBytes.data(), static_cast<int64_t>(StreamBytes.size()));
    TConnected Pair(PeerScript().Hold());
    int Packets = 0;
    Pair.Socket.OnPacketSent = [&](TComponent*) { ++Packets; };

    Pair.Socket.SendFile(File);
    Pair.Socket.SendFile(File);
    EXPECT_EQ(Pair.Socket.SentCount, 400000); // SendFile adds to the count
    Pair.Socket.SendStream(Stream);
    EXPECT_EQ(Pair.Socket.SentCount, 100000); // SendStream starts it again
    EXPECT_EQ(Pair.Socket.TransferTotal, 100000);
    EXPECT_GE(Packets, 3);
    EXPECT_TRUE(SameBytes(Received(Pair.Peer, 500000), FileBytes + FileBytes + StreamBytes));
}

TEST(SendTest, SendFileOfAMissingFileFails) {
    TempFolder Folder;
    TConnected Pair(PeerScript().Hold());
    EXPECT_THROW(Pair.Socket.SendFile(Folder.Path() + "/missing"), EFileOpenError);
}

// ---- reading counted blocks ----

TEST(ReadTest, ReadWaitsForTheCountAndZeroTakesWhatIsThere) {
    TConnected Pair(PeerScript().SendInPackets("abcdefgh", {3}, 50ms).Hold());
    EXPECT_EQ(Pair.Socket.Read(5), "abcde");
    ASSERT_TRUE(PumpUntil([&] { return QueuedBytes(Pair.Socket) == 3; }));
    EXPECT_EQ(Pair.Socket.Read(0), "fgh");
    EXPECT_EQ(Pair.Socket.Read(0), "");
}

TEST(ReadTest, ReadOfMoreThanThePeerSentBeforeClosingIsEmptyAndLeavesTheBytes) {
    TConnected Pair(PeerScript().Send("abc").Close());
    ASSERT_TRUE(WaitForCloseWithBytesQueued(Pair.Socket));
    // Only a safety net: the read must end by itself, long before.
    TCancelLater Cancel(Pair.Socket, 5000);
    EXPECT_EQ(Pair.Socket.Read(5), "");
    EXPECT_EQ(Pair.Socket.Read(3), "abc");
    EXPECT_EQ(Cancel.Fired, 0);
}

TEST(ReadTest, ReadEndsByCancel) {
    TConnected Pair(PeerScript().Send("abc").Hold());
    TCancelLater Cancel(Pair.Socket, 50);
    EXPECT_EQ(MessageOf<EAbortError>([&] { Pair.Socket.Read(5); }), "Socket send aborted");
}

// ---- Transaction ----

struct TReplyCase {
    std::string Reply;
    int16_t Code;
    bool RangeError;
};
void PrintTo(const TReplyCase& Case, std::ostream* Out) {
    *Out << testing::PrintToString(Case.Reply);
}

class TransactionTest : public testing::TestWithParam<TReplyCase> {};

TEST_P(TransactionTest, SendsTheLineAndTakesTheCodeFromTheReply) {
    TConnected Pair(PeerScript().ReceiveUntil("NOOP\r\n").Send(GetParam().Reply).Hold());
    if (GetParam().RangeError) {
        EXPECT_THROW(Pair.Socket.Transaction("NOOP"), ERangeError);
    } else {
        EXPECT_EQ(Pair.Socket.Transaction("NOOP"), GetParam().Reply);
        EXPECT_EQ(Pair.Socket.ReplyText, GetParam().Reply);
        EXPECT_EQ(Pair.Socket.ReplyCode, GetParam().Code);
    }
    EXPECT_EQ(Pair.Peer.Received(), "NOOP\r\n");
}

INSTANTIATE_TEST_SUITE_P(Replies, TransactionTest,
                         testing::Values(TReplyCase{"200 Command okay\r\n", 200, false},
                                         TReplyCase{"OK 200\r\n", 0, false}, TReplyCase{"-5\n", 0, false},
                                         TReplyCase{"32767\n", 32767, false},
                                         TReplyCase{"32768 too big\n", 0, true},
                                         // Ten digits are taken; beyond 32 bits they count as 0.
                                         TReplyCase{"99999999999\r\n", 0, false},
                                         TReplyCase{"12345678901\r\n", 0, true}));

// ---- capturing ----

TEST(CaptureTest, CaptureStringUntilThePeerClosesTakesSingleByteChunks) {
    const std::string Text = "hello, world";
    std::vector<size_t> Cuts;
    for (size_t I = 1; I < Text.size(); ++I) Cuts.push_back(I);
    TConnected Pair(PeerScript().SendInPackets(Text, Cuts, 2ms).Close());
    Pair.Socket.TimeOut = 10000;
    int Packets = 0;
    Pair.Socket.OnPacketRecvd = [&](TComponent*) { ++Packets; };
    std::string Got = "old";
    Pair.Socket.CaptureString(Got, -1);
    EXPECT_EQ(Got, Text);
    EXPECT_EQ(Pair.Socket.ReceivedCount, static_cast<int32_t>(Text.size()));
    EXPECT_GE(Packets, 1);
}

TEST(CaptureTest, CaptureStringWithASizeKeepsTheWholeChunkThatReachesIt) {
    TConnected Pair(PeerScript().Send(std::string(25, 'z')).Hold());
    std::string Got;
    Pair.Socket.CaptureString(Got, 10);
    EXPECT_EQ(Got, std::string(25, 'z'));
}

TEST(CaptureTest, CaptureStreamWithMinusOneReceivesOnce) {
    TConnected Pair(PeerScript().Send(PatternBytes(0, 70000)).Hold());
    ASSERT_TRUE(PumpUntil([&] { return QueuedBytes(Pair.Socket) == 70000; }));
    TMemoryStream Stream;
    Pair.Socket.CaptureStream(Stream, -1);
    EXPECT_TRUE(SameBytes(Stream.DataString(), PatternBytes(0, 65536)));
    EXPECT_EQ(QueuedBytes(Pair.Socket), 70000 - 65536);
    // With nothing queued the one receive finds nothing, and nothing is waited for.
    Pair.Socket.Read(0);
    TMemoryStream Empty;
    Pair.Socket.CaptureStream(Empty, -1);
    EXPECT_EQ(Empty.Size(), 0);
}

TEST(CaptureTest, CaptureStreamSizeCountsWhatTheStreamHeldBefore) {
    TConnected Pair(PeerScript().Send("12345").Hold());
    Pair.Socket.TimeOut = 10000;
    TMemoryStream Stream;
    Stream.WriteBuffer("0123456789", 10);
    Pair.Socket.CaptureStream(Stream, 15);
    EXPECT_EQ(Stream.DataString(), "012345678912345");
}

TEST(CaptureTest, CaptureFileWritesEverythingUntilThePeerCloses) {
    TempFolder Folder;
    const std::string Bytes = PatternBytes(3, 300000);
    TConnected Pair(PeerScript().Send(Bytes).Close());
    Pair.Socket.TimeOut = 10000;
    const std::string File = Folder.WriteFile("body", "old content that goes");
    Pair.Socket.CaptureFile(File);
    EXPECT_TRUE(SameBytes(ReadWholeFile(File), Bytes));
    EXPECT_EQ(Pair.Socket.ReceivedCount, 300000);
}

TEST(CaptureTest, FilesThatCannotBeHadFailBeforeAnythingIsReceived) {
    TempFolder Folder;
    TConnected Pair(PeerScript().Send("queued").Hold());
    ASSERT_TRUE(PumpUntil([&] { return QueuedBytes(Pair.Socket) == 6; }));
    EXPECT_THROW(Pair.Socket.AppendFile(Folder.Path() + "/missing"), EFileOpenError);
    EXPECT_THROW(Pair.Socket.CaptureFile(Folder.Path() + "/no/such/folder"), EFileCreateError);
    EXPECT_THROW(Pair.Socket.CaptureFileCount(Folder.Path() + "/no/such/folder", 6), EFileCreateError);
    EXPECT_EQ(Pair.Socket.Read(0), "queued");
}

TEST(CaptureTest, AppendFileAddsToTheFileUntilThePeerCloses) {
    TempFolder Folder;
    const std::string File = Folder.WriteFile("log", "head:");
    TConnected Pair(PeerScript().SendInPackets("tail", {2}, 20ms).Close());
    Pair.Socket.AppendFile(File);
    EXPECT_EQ(ReadWholeFile(File), "head:tail");
    EXPECT_EQ(Pair.Socket.ReceivedCount, 4);
}

// The close notification came while the bytes were queued, so the component stays connected; the end
// of the stream must still end the append.
TEST(CaptureTest, AppendFileEndsAtTheEndOfTheStreamWhenTheCloseWasDropped) {
    TempFolder Folder;
    const std::string File = Folder.WriteFile("log", "head:");
    TConnected Pair(PeerScript().Send("tail").Close());
    ASSERT_TRUE(WaitForCloseWithBytesQueued(Pair.Socket));
    TCancelLater Cancel(Pair.Socket, 5000);
    Pair.Socket.AppendFile(File);
    EXPECT_EQ(ReadWholeFile(File), "head:tail");
    EXPECT_EQ(Cancel.Fired, 0);
}

// The counted captures, into a file and into a text, are the same behaviour.
struct TCountedCase {
    const char* Name;
    // Receives Count bytes and returns what it kept.
    std::function<std::string(TDovrel&, TempFolder&, int64_t)> Capture;
};

class CountedCaptureTest : public testing::TestWithParam<TCountedCase> {};

TEST_P(CountedCaptureTest, EndsAtExactlyCountWithThePeerStillOpen) {
    TempFolder Folder;
    const std::string Body = PatternBytes(5, 200000);
    TConnected Pair(PeerScript().Send(Body + "NEXT").Hold());
    Pair.Socket.TimeOut = 10000;
    EXPECT_TRUE(SameBytes(GetParam().Capture(Pair.Socket, Folder, 200000), Body));
    EXPECT_EQ(Pair.Socket.ReceivedCount, 200000);
    EXPECT_EQ(Pair.Socket.Read(4), "NEXT");
}

TEST_P(CountedCaptureTest, APeerThatClosesEarlyIsAFailedTransfer) {
    TempFolder Folder;
    TConnected Pair(PeerScript().Send("only part").Close());
    Pair.Socket.TimeOut = 10000;
    try {
        GetParam().Capture(Pair.Socket, Folder, 100);
        FAIL() << "no exception";
    } catch (const EAbortError& E) {
        FAIL() << "an abort instead of a failed transfer: " << E.Message;
    } catch (const ESockError& E) {
        EXPECT_EQ(E.Message, "Connection closed before all data arrived");
    }
    EXPECT_EQ(Pair.Socket.ReceivedCount, 9);
}

TEST_P(CountedCaptureTest, ACountOfZeroReceivesNothing) {
    TempFolder Folder;
    TConnected Pair(PeerScript().Send("x").Hold());
    EXPECT_EQ(GetParam().Capture(Pair.Socket, Folder, 0), "");
    EXPECT_EQ(Pair.Socket.Read(1), "x");
}

INSTANTIATE_TEST_SUITE_P(Forms, CountedCaptureTest,
                         testing::Values(TCountedCase{"File",
                                                      [](TDovrel& S, TempFolder& F, int64_t Count) {
                                                          const std::string File = F.Path() + "/body";
                                                          try {
                                                              S.CaptureFileCount(File, Count);
                                                          } catch (...) {
                                                              EXPECT_EQ(ReadWholeFile(File).size(),
                                                                        static_cast<size_t>(S.ReceivedCount));
                                                              throw;
                                                          }
                                                          return ReadWholeFile(File);
                                                      }},
                                         TCountedCase{"String",
                                                      [](TDovrel& S, TempFolder&, int64_t Count) {
                                                          std::string Text = "kept:";
                                                          S.CaptureStringCount(Text, Count);
                                                          EXPECT_EQ(Text.rfind("kept:", 0), 0u);
                                                          return Text.substr(5);
                                                      }}),
                         [](const testing::TestParamInfo<TCountedCase>& Info) { return Info.param.Name; });

// ---- helpers around reading ----

TEST(FilterHeaderTest, CopiesTheHeaderThroughItsBlankLineAndLeavesTheBody) {
    TempFolder Folder;
    TConnected Pair(PeerScript().Send("HTTP/1.0 200 OK\r\nA: b\n\r\nBODY").Hold());
    const std::string File = Folder.Path() + "/head";
    {
        TFileStream Stream(File, TFileMode::Create);
        Pair.Socket.FilterHeader(Stream);
    }
    EXPECT_EQ(ReadWholeFile(File), "HTTP/1.0 200 OK\r\nA: b\n\r\n");
    EXPECT_EQ(Pair.Socket.Read(4), "BODY");
}

TEST(FilterHeaderTest, EndsWhenThePeerClosesBeforeTheBlankLine) {
    TempFolder Folder;
    TConnected Pair(PeerScript().Send("HTTP/1.0 200 OK\r\n").Close());
    const std::string File = Folder.Path() + "/head";
    {
        TFileStream Stream(File, TFileMode::Create);
        Pair.Socket.FilterHeader(Stream);
    }
    EXPECT_EQ(ReadWholeFile(File), "HTTP/1.0 200 OK\r\n");
}

TEST(InputTest, DataAvailablePeeksAndClearInputDiscardsOneReceive) {
    TConnected Pair(PeerScript().Send("abc").Hold());
    ASSERT_TRUE(PumpUntil([&] { return QueuedBytes(Pair.Socket) == 3; }));
    EXPECT_TRUE(Pair.Socket.DataAvailable());
    EXPECT_TRUE(Pair.Socket.DataAvailable());
    Pair.Socket.ClearInput();
    EXPECT_FALSE(Pair.Socket.DataAvailable());
    EXPECT_EQ(Pair.Socket.Read(0), "");
}

} // namespace
