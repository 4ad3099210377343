// The threaded server: connection instances, serve threads, Abort, and the listening instance's end.
#include "ServerTestPeers.h"
#include "ServerTestServers.h"

#include "net/InstantiateServethread.h"
#include "net/TVexGeneralServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <typeinfo>
#include <vector>

using namespace servertest;

TEST(GeneralServerTest, TwentyClientsAtOnceEachGetTheirGreetingFromAnInstanceOfTheServersClass) {
    constexpr int ClientCount = 20;
    TRecorder Recorder;
    auto Server = std::make_unique<TServerOf<TGreetingServer>>(nullptr);
    std::vector<TComponent*> Contacts;
    Server->OnClientContact = [&](TComponent* Sender) { Contacts.push_back(Sender); };
    const int OwnedBefore = Server->ComponentCount();
    StartListening(*Server, Recorder);
    const uint16_t Port = BoundPort(*Server);

    struct TSeen {
        uint16_t LocalPort = 0;
        std::string Line;
        bool Closed = false;
    };
    std::vector<TSeen> Seen(ClientCount);
    std::atomic<int> Finished{0};
    std::vector<std::thread> Clients;
    for (int I = 0; I < ClientCount; ++I)
        Clients.emplace_back([&, I] {
            TLoopbackClient Client(Port);
            Seen[I].LocalPort = Client.LocalPort();
            Seen[I].Line = Client.ReadLine();
            Seen[I].Closed = Client.WaitClosed();
            ++Finished;
        });
    const bool AllDone = PumpUntil([&] {
        return Finished == ClientCount && ConnectionCount(*Server) == 0 &&
               Server->ComponentCount() == OwnedBefore;
    });
    for (std::thread& Client : Clients) Client.join();
    ASSERT_TRUE(AllDone) << Finished << " clients done, " << ConnectionCount(*Server) << " connections";

    std::set<uint16_t> ClientPorts;
    for (const TSeen& Client : Seen) {
        EXPECT_EQ(Client.Line, Greeting(Client.LocalPort));
        EXPECT_TRUE(Client.Closed) << Client.LocalPort;
        ClientPorts.insert(Client.LocalPort);
    }
    EXPECT_EQ(Contacts, std::vector<TComponent*>(ClientCount, Server.get()));
    std::set<uint16_t> ServedPorts;
    for (const TServeRecord& Record : Recorder.Records()) {
        EXPECT_TRUE(Record.OwnClass);
        EXPECT_TRUE(Record.Connected);
        EXPECT_TRUE(Record.Listed);
        EXPECT_TRUE(Record.OwnedByListener);
        EXPECT_TRUE(Record.HasServeThread);
        EXPECT_TRUE(Record.HandlersCopied);
        ServedPorts.insert(Record.RemotePort);
    }
    EXPECT_EQ(ServedPorts, ClientPorts);
    EXPECT_TRUE(ServerLockIsFree());
}

TEST(GeneralServerTest, AbortCancelsTheServedConnectionsInAcceptOrderAndTheServerGoesOn) {
    TRecorder Recorder;
    auto Server = std::make_unique<TServerOf<TEchoServer>>(nullptr);
    StartListening(*Server, Recorder);
    const uint16_t Port = BoundPort(*Server);

    // One after the other, so that the accept order is known.
    TLoopbackClient First(Port);
    ASSERT_TRUE(PumpUntil([&] { return ConnectionCount(*Server) == 1; }));
    TLoopbackClient Second(Port);
    ASSERT_TRUE(PumpUntil([&] { return ConnectionCount(*Server) == 2; }));
    const std::vector<TVexGeneralServer*> Served = Server->Connections->Snapshot();
    ASSERT_EQ(Served.size(), 2u);
    EXPECT_EQ(platform::ntohs(Served[0]->RemoteAddress.sin_port), First.LocalPort());
    EXPECT_EQ(platform::ntohs(Served[1]->RemoteAddress.sin_port), Second.LocalPort());

    // Abort on a connection instance cancels nothing, not even that instance.
    Served[0]->Abort();
    EXPECT_FALSE(Served[0]->CancelRequested);
    ASSERT_TRUE(First.Send("one\r\n"));
    EXPECT_EQ(First.ReadLine(), "ECHO one\r\n");
    ASSERT_TRUE(Second.Send("two\r\n"));
    EXPECT_EQ(Second.ReadLine(), "ECHO two\r\n");

    Server->Abort();
    EXPECT_FALSE(Server->CancelRequested);
    ASSERT_TRUE(PumpUntil([&] { return ConnectionCount(*Server) == 0 && Recorder.Count() == 2; }));
    EXPECT_TRUE(First.WaitClosed());
    EXPECT_TRUE(Second.WaitClosed());
    for (const TServeRecord& Record : Recorder.Records()) EXPECT_EQ(Record.Outcome, "aborted");

    // Still listening, and a new connection is not touched by the earlier Abort.
    TLoopbackClient Third(Port);
    ASSERT_TRUE(PumpUntil([&] { return ConnectionCount(*Server) == 1; }));
    ASSERT_TRUE(Third.Send("three\r\n"));
    EXPECT_EQ(Third.ReadLine(), "ECHO three\r\n");
}

// The listening instance's time-out cancels its connections (its Abort does), never the instance itself.
TEST(GeneralServerTest, TheListeningInstancesTimeOutDoesNotCancelItself) {
    TVexGeneralServer Listener(nullptr);
    Listener.TimerFired(Listener.TimeoutTimer);
    EXPECT_TRUE(Listener.TimedOut);
    EXPECT_TRUE(Listener.WaitDone);
    EXPECT_FALSE(Listener.CancelRequested);
}

namespace {

// Waits for its client under a time-out of its own: for a line the client never sends, or to write
// more than a client that never reads will take.
class TPatientServer : public TRecordingServer<TPatientServer> {
public:
    // Every status text is kept, so the tick (on the listening thread) and the serve thread both write
    // StatusText.
    explicit TPatientServer(TComponent* AOwner) : TRecordingServer(AOwner) { ReportLevel = 8; }
    static constexpr int32_t PatienceMs = 300;
    bool WritesMuch = false; // on the listening instance
    void Serve() override {
        TServeRecord Record = Observe();
        TimeOut = PatienceMs;
        try {
            if (static_cast<TPatientServer*>(ListeningServer)->WritesMuch)
                Write(std::string(16 << 20, 'x'));
            else
                ReadLn();
            Record.Outcome = "not timed out";
        } catch (const EAbortError& Error) {
            Record.Outcome = std::string(TimedOut ? "timed out: " : "cancelled: ") + Error.Message;
        }
        ListenerRecorder().Add(Record);
    }
};

struct TPatienceCase {
    const char* Name;
    bool WritesMuch;
    const char* Outcome;
};
void PrintTo(const TPatienceCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class ServeTimeOutTest : public testing::TestWithParam<TPatienceCase> {};

} // namespace

// A client that says nothing, or reads nothing, holds its serve thread only until the connection
// instance's time-out: the tick (on the listening thread) ends the wait on the serve thread.
TEST_P(ServeTimeOutTest, EndsTheWaitOfTheConnectionInstance) {
    TRecorder Recorder;
    auto Server = std::make_unique<TServerOf<TPatientServer>>(nullptr);
    Server->WritesMuch = GetParam().WritesMuch;
    StartListening(*Server, Recorder);
    TLoopbackClient Client(BoundPort(*Server), 4096);
    // Bounded at many times the time-out; a time-out that never ends the wait fails here.
    ASSERT_TRUE(PumpUntil([&] { return Recorder.Count() == 1; }, 10s));
    EXPECT_EQ(Recorder.Records()[0].Outcome, GetParam().Outcome);
    EXPECT_TRUE(PumpUntil([&] { return ConnectionCount(*Server) == 0; }));
    // The connection ends after whatever the serve thread had written.
    bool Orderly = false;
    Client.ReadAll(Orderly);
    EXPECT_TRUE(Orderly);
}

INSTANTIATE_TEST_SUITE_P(
    GeneralServerTest, ServeTimeOutTest,
    testing::Values(TPatienceCase{"SilentClient", false, "timed out: Socket readln aborted"},
                    TPatienceCase{"ClientThatNeverReads", true, "timed out: Socket send aborted"}),
    [](const testing::TestParamInfo<TPatienceCase>& Info) { return std::string(Info.param.Name); });

namespace {

// Reads the request and the client's end of sending, then waits for the test's word before it replies,
// so the close notification of the half-closed client has certainly been handled by then.
class THalfCloseServer : public TRecordingServer<THalfCloseServer> {
public:
    using TRecordingServer::TRecordingServer;
    // On the listening instance.
    std::mutex Lock;
    std::condition_variable Changed;
    bool SawEnd = false;
    bool MayReply = false;

    void Serve() override {
        TServeRecord Record = Observe();
        auto& Listener = *static_cast<THalfCloseServer*>(ListeningServer);
        try {
            const std::string Request = ReadLn();
            const std::string End = ReadLn();
            {
                std::unique_lock Guard(Listener.Lock);
                Listener.SawEnd = End.empty();
                Listener.Changed.notify_all();
                Listener.Changed.wait_for(Guard, Patience, [&] { return Listener.MayReply; });
            }
            Write("ECHO " + Request);
            Record.Outcome = "replied";
        } catch (const ESockError& Error) {
            Record.Outcome = Error.Message;
        }
        ListenerRecorder().Add(Record);
    }
};

} // namespace

// A client may end its sending right after its request and still wait for the reply. The close
// notification, dispatched on the listening thread, must leave the socket to the serve thread that
// owns it.
TEST(GeneralServerTest, AClientThatHalfClosesAfterItsRequestGetsTheReply) {
    TRecorder Recorder;
    auto Server = std::make_unique<TServerOf<THalfCloseServer>>(nullptr);
    StartListening(*Server, Recorder);
    TLoopbackClient Client(BoundPort(*Server));
    ASSERT_TRUE(Client.Send("request\r\n"));
    Client.HalfClose();
    ASSERT_TRUE(PumpUntil([&] {
        std::lock_guard Guard(Server->Lock);
        return Server->SawEnd;
    }));
    // The end of the stream is in: this pump dispatches its close notification, if none did before.
    platform::ProcessMessages();
    {
        std::lock_guard Guard(Server->Lock);
        Server->MayReply = true;
        Server->Changed.notify_all();
    }
    EXPECT_EQ(Client.ReadLine(), "ECHO request\r\n");
    ASSERT_TRUE(PumpUntil([&] { return Recorder.Count() == 1 && ConnectionCount(*Server) == 0; }));
    EXPECT_EQ(Recorder.Records()[0].Outcome, "replied");
    EXPECT_TRUE(Client.WaitClosed());
}

TEST(GeneralServerTest, OnlyAnInstanceWhoseOwnerIsNoServerKeepsConnectionsAndConnectDoesNothing) {
    TComponent Form(nullptr);
    TVexGeneralServer Listener(nullptr);
    TServerOf<TEchoServer> Descendant(nullptr);
    struct TCase {
        const char* Name;
        TComponent* Owner;
        bool HasConnections;
    };
    const TCase Cases[] = {
        {"no owner", nullptr, true},
        {"a form", &Form, true},
        {"a server", &Listener, false},
        {"a descendant server", &Descendant, false},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        auto Server = std::make_unique<TVexGeneralServer>(Case.Owner);
        EXPECT_EQ(Server->Connections != nullptr, Case.HasConnections);
        // No Host is set, so a connect would fail at once.
        EXPECT_NO_THROW(Server->Connect());
        EXPECT_FALSE(Server->IsConnected);
    }
}

TEST(GeneralServerTest, LoadedAtDesignTimeDoesNotListen) {
    TVexGeneralServer Server(nullptr);
    Server.Port = 0;
    Server.SetState(TComponentState::Designing, true);
    Server.Loaded();

    EXPECT_FALSE(Server.OnAcceptReady);
    EXPECT_EQ(BoundPort(Server), 0);
}

namespace {

// Its class makes no instances of itself, so no connection instance can be built for it.
class TNoOwnClassServer : public TVexGeneralServer {
public:
    using TVexGeneralServer::TVexGeneralServer;
    void Serve() override { Writeln("SERVED"); }
};

class TCannotCreateServer : public TVexGeneralServer {
public:
    using TVexGeneralServer::TVexGeneralServer;
    TComponent* CreateSameClass(TComponent*) const override { throw std::bad_alloc(); }
    void Serve() override { Writeln("SERVED"); }
};

class TFailingServer : public TVexGeneralServer {
public:
    using TVexGeneralServer::TVexGeneralServer;
    void Serve() override {
        Writeln("PARTIAL");
        throw std::runtime_error("the conversation broke down");
    }
};

struct TFailureCase {
    const char* Name;
    std::function<std::unique_ptr<TVexGeneralServer>()> Make;
    std::string Received;
};

void PrintTo(const TFailureCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class ServeFailureTest : public testing::TestWithParam<TFailureCase> {};

} // namespace

TEST_P(ServeFailureTest, TheClientIsClosedAndTheServerGoesOn) {
    std::unique_ptr<TVexGeneralServer> Server = GetParam().Make();
    int Contacts = 0;
    Server->OnClientContact = [&](TComponent*) { ++Contacts; };
    const int OwnedBefore = Server->ComponentCount();
    Server->Port = 0;
    Server->Loaded();
    const uint16_t Port = BoundPort(*Server);

    for (int Round = 1; Round <= 2; ++Round) {
        SCOPED_TRACE(Round);
        std::string Line;
        bool Closed = false;
        std::atomic<bool> Finished{false};
        std::thread Client([&] {
            TLoopbackClient Peer(Port);
            if (!GetParam().Received.empty()) Line = Peer.ReadLine();
            Closed = Peer.WaitClosed();
            Finished = true;
        });
        const bool Done = PumpUntil([&] {
            return Finished && ConnectionCount(*Server) == 0 && Server->ComponentCount() == OwnedBefore;
        });
        Client.join();
        ASSERT_TRUE(Done);
        EXPECT_EQ(Line, GetParam().Received);
        EXPECT_TRUE(Closed);
        EXPECT_EQ(Contacts, Round);
        EXPECT_TRUE(ServerLockIsFree());
    }
}

INSTANTIATE_TEST_SUITE_P(
    GeneralServerTest, ServeFailureTest,
    testing::Values(
        TFailureCase{"NoOwnClass", [] { return std::make_unique<TNoOwnClassServer>(nullptr); }, ""},
        TFailureCase{"CannotCreate", [] { return std::make_unique<TCannotCreateServer>(nullptr); }, ""},
        TFailureCase{"ServeRaises", [] { return std::make_unique<TServerOf<TFailingServer>>(nullptr); },
                     "PARTIAL\r\n"}),
    [](const testing::TestParamInfo<TFailureCase>& Info) { return std::string(Info.param.Name); });

class ServerDestructionTest : public testing::TestWithParam<bool> {};

// The listening instance goes while its clients are mid-conversation: its destruction ends every
// conversation and returns only when every serve thread has ended.
TEST_P(ServerDestructionTest, EndsEveryConversationBeforeItReturns) {
    const bool OwnedByForm = GetParam();
    constexpr int ClientCount = 3;
    TRecorder Recorder;
    auto Form = std::make_unique<TComponent>(nullptr);
    std::unique_ptr<TServerOf<TEchoServer>> Unowned;
    TServerOf<TEchoServer>* Server = nullptr;
    if (OwnedByForm) {
        Server = new TServerOf<TEchoServer>(Form.get()); // owned and destroyed by the form
    } else {
        Unowned = std::make_unique<TServerOf<TEchoServer>>(nullptr);
        Server = Unowned.get();
    }
    StartListening(*Server, Recorder);
    const uint16_t Port = BoundPort(*Server);

    std::vector<std::unique_ptr<TLoopbackClient>> Clients;
    for (int I = 0; I < ClientCount; ++I) {
        Clients.push_back(std::make_unique<TLoopbackClient>(Port));
        ASSERT_TRUE(PumpUntil([&] { return ConnectionCount(*Server) == I + 1; }));
        ASSERT_TRUE(Clients.back()->Send("hello\r\n"));
        EXPECT_EQ(Clients.back()->ReadLine(), "ECHO hello\r\n");
    }
    // One more line is under way while the server goes.
    ASSERT_TRUE(Clients.front()->Send("half a li"));

    if (OwnedByForm)
        Form.reset();
    else
        Unowned.reset();

    EXPECT_EQ(Recorder.Count(), static_cast<size_t>(ClientCount));
    for (const TServeRecord& Record : Recorder.Records()) EXPECT_EQ(Record.Outcome, "aborted");
    for (auto& Client : Clients) EXPECT_TRUE(Client->WaitClosed());
    EXPECT_TRUE(ServerLockIsFree());
}

INSTANTIATE_TEST_SUITE_P(GeneralServerTest, ServerDestructionTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& Info) {
                             return std::string(Info.param ? "OwnedByAForm" : "WithoutOwner");
                         });

namespace {

// Writes a reply far larger than the socket buffers and ends at once.
class TBulkServer : public TVexGeneralServer {
public:
    using TVexGeneralServer::TVexGeneralServer;
    static constexpr size_t ReplySize = 4 << 20;
    void Serve() override { Write(std::string(ReplySize, 'x')); }
};

} // namespace

// The end of a Serve closes the connection after what it wrote, rather than dropping the part still
// on its way.
TEST(GeneralServerTest, AReplyWrittenJustBeforeServeEndsArrivesWhole) {
    auto Server = std::make_unique<TServerOf<TBulkServer>>(nullptr);
    Server->Port = 0;
    Server->Loaded();
    std::string Received;
    bool Orderly = false;
    std::atomic<bool> Finished{false};
    std::thread Client([&, Port = BoundPort(*Server)] {
        TLoopbackClient Peer(Port);
        Received = Peer.ReadAll(Orderly);
        Finished = true;
    });
    const bool Done = PumpUntil([&] { return Finished && ConnectionCount(*Server) == 0; });
    Client.join();
    ASSERT_TRUE(Done);

    EXPECT_EQ(Received.size(), TBulkServer::ReplySize);
    EXPECT_EQ(Received.find_first_not_of('x'), std::string::npos);
    EXPECT_TRUE(Orderly);
}
