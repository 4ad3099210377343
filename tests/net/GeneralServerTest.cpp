// The threaded server: connection instances, serve threads, Abort, and the listening instance's end.
#include "ServerTestPeers.h"

#include "net/InstantiateServethread.h"
#include "net/TVexGeneralServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <typeinfo>
#include <vector>

using namespace servertest;

namespace {

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

std::string Greeting(uint16_t ClientPort) {
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

int ConnectionCount(const TVexGeneralServer& Server) {
    return Server.Connections->Count();
}

// ServerLock is recursive, so only another thread can tell whether it is held.
bool ServerLockIsFree() {
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

} // namespace

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

TEST(GeneralServerTest, TheTimeOutOfAServerInstanceDoesNotCancelItself) {
    TVexGeneralServer Listener(nullptr);
    TVexGeneralServer Connection(&Listener);
    for (TVexGeneralServer* Server : {&Listener, &Connection}) {
        Server->TimerFired(Server->TimeoutTimer);
        EXPECT_TRUE(Server->TimedOut);
        EXPECT_TRUE(Server->WaitDone);
        EXPECT_FALSE(Server->CancelRequested);
    }
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
