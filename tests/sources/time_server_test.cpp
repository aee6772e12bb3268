#include <gmock/gmock.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/facility.h"
#include "sources/time_protocol_clients.h"
#include "sources/time_server.h"
#include "support/fixed_system_time.h"
#include "support/loopback.h"
#include "support/raised.h"
#include "support/recording_logger.h"
#include "support/time_server_thread.h"
#include "support/winsock_doubles.h"

namespace kairovel {
namespace {

using ::testing::ElementsAre;
using testing::kTimePort;

std::string Bytes(std::initializer_list<unsigned char> bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(TimeProtocolSeconds, DropsTheMillisecondsAndWrapsIn2036) {
    EXPECT_EQ(TimeProtocolSeconds(TimeValue(1999, 4, 17, 9, 3, 43, 999)), 3'133'328'623u);
    EXPECT_EQ(TimeProtocolSeconds(TimeValue(2036, 2, 7, 6, 28, 15, 999)), 4'294'967'295u);
    EXPECT_EQ(TimeProtocolSeconds(TimeValue(2036, 2, 7, 6, 28, 16, 0)), 0u);
    EXPECT_EQ(TimeProtocolSeconds(TimeValue(2036, 2, 7, 6, 28, 17, 500)), 1u);
    // What is sent after the wrap reads back as the same instant.
    TimeValue read(1, 1, 1, 0, 0, 0, 0);
    TimeFromSeconds1900(TimeProtocolSeconds(TimeValue(2040, 1, 1, 0, 0, 0, 0)), read);
    EXPECT_EQ(read.Format(), L"2040/01/01 00:00:00.000");
}

TEST(TimeServer, AnswersEveryConnectionWithTheTimeInFourBytes) {
    testing::ScopedRecordingLogger log;
    testing::FixedSystemTime clock(TimeValue(1999, 4, 17, 9, 3, 43, 999));
    platform::ScopedFacility<platform::ClockFacility> clockScope(clock);
    testing::TimeServerThreadRunner server;
    ASSERT_TRUE(server.Listening());
    EXPECT_EQ(testing::ReadTcpReply(kTimePort), Bytes({0xBA, 0xC2, 0xCC, 0xEF}));
    // What a client sends is never read; it gets its 4 bytes all the same.
    EXPECT_EQ(testing::ReadTcpReply(kTimePort, "hello"), Bytes({0xBA, 0xC2, 0xCC, 0xEF}));
    server.Stop();
    EXPECT_THAT(log.Texts(LevelError), ElementsAre(L"Error 10038 accepting new request"));
}

TEST(TimeServer, ARunningServerListensOnceStartedAndLetsItsPortGoWhenStopped) {
    testing::ScopedRecordingLogger log;
    for (int run = 0; run < 2; ++run) {  // the second run binds the port the first one let go
        RunningTimeServer server;
        EXPECT_EQ(testing::ReadTcpReply(kTimePort)->size(), 4u) << run;
        server.Stop();
        EXPECT_EQ(testing::ReadTcpReply(kTimePort, {}, std::chrono::seconds(1)), std::nullopt) << run;
    }
    EXPECT_TRUE(log.Texts(LevelError).empty());
}

TEST(TimeServer, OwnClientReadsOwnServer) {
    testing::TimeServerThreadRunner server;
    ASSERT_TRUE(server.Listening());
    TcpTimeSource source(L"127.0.0.1");
    TimeValue remote;
    const TimeValue before;
    source.GetTime(remote);
    const TimeValue after;
    // The server read its clock between before and after, and dropped the milliseconds.
    EXPECT_LE(remote.Minus(after).Milliseconds(), 0);
    EXPECT_GT(remote.Minus(before).Milliseconds(), -1000);
    EXPECT_EQ(remote.Calendar().wMilliseconds, 0);
}

TEST(TimeServer, TransientAcceptFailuresAreLoggedAndServingGoesOn) {
    testing::ScopedRecordingLogger log;
    testing::TimeServerThreadRunner server;
    ASSERT_TRUE(server.Listening());
    for (const int error : {platform::WSAECONNRESET, platform::WSAECONNABORTED, platform::WSAEINTR,
                            platform::WSAEMFILE, platform::WSAENOBUFS}) {
        server.Accept().FailNextAccept(error);
        EXPECT_EQ(testing::ReadTcpReply(kTimePort), std::string()) << error;  // that one connection is dropped
        EXPECT_EQ(testing::ReadTcpReply(kTimePort)->size(), 4u) << error;    // the next is served
    }
    server.Stop();
    EXPECT_THAT(log.Texts(LevelError),
                ElementsAre(L"Error 10054 accepting new request", L"Error 10053 accepting new request",
                            L"Error 10004 accepting new request", L"Error 10024 accepting new request",
                            L"Error 10055 accepting new request", L"Error 10038 accepting new request"));
}

TEST(TimeServer, FailedListeningSocketEndsTheThread) {
    testing::ScopedRecordingLogger log;
    testing::TimeServerThreadRunner server;
    ASSERT_TRUE(server.Listening());
    server.Accept().FailNextAccept(platform::WSAEINVAL);
    testing::ReadTcpReply(kTimePort);
    server.Stop();  // returns at once: the thread has ended
    EXPECT_THAT(log.Texts(LevelError), ElementsAre(L"Error 10022 accepting new request"));
    EXPECT_FALSE(testing::WaitForTcpPort(kTimePort, std::chrono::milliseconds(100)));  // the socket is closed
}

TEST(TimeServer, AnythingButAnErrorMessageEndsTheThreadAbnormally) {
    testing::ScopedRecordingLogger log;
    testing::TimeServerThreadRunner server;
    ASSERT_TRUE(server.Listening());
    server.Accept().FailNextAccept(testing::ControlledAccept::kThrowSomethingElse);
    testing::ReadTcpReply(kTimePort);
    server.Stop();
    EXPECT_THAT(log.Texts(LevelError), ElementsAre(L"Worker thread exited abnormally"));
}

TEST(TimeServer, PortTakenEndsTheThreadWithTheBindError) {
    testing::ScopedRecordingLogger log;
    const int taken = testing::ListenOnTcpPort(kTimePort);
    ASSERT_GE(taken, 0);
    std::thread thread(TimeServerThread);
    thread.join();  // ends by itself
    testing::CloseDescriptor(taken);
    EXPECT_THAT(log.Texts(LevelError),
                ElementsAre(L"Could not bind socket to address. Error 10048 occurred during bind call."));
}

TEST(TimeServer, MissingServiceEndsTheThread) {
    testing::ScopedRecordingLogger log;
    testing::MissingService missing("time", "tcp");
    platform::ScopedFacility<platform::WinsockFacility> scope(missing);
    std::thread thread(TimeServerThread);
    thread.join();
    EXPECT_THAT(log.Texts(LevelError), ElementsAre(L"Error 11004 from getservbyname on time/tcp"));
}

TEST(TimeServer, ServesClientThreadsWhileTheyShareTheSocketLayer) {
    testing::TimeServerThreadRunner server;
    ASSERT_TRUE(server.Listening());
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 3; ++t) {
        clients.emplace_back([&answered] {
            for (int i = 0; i < 40; ++i) {
                try {
                    TcpTimeSource source(L"127.0.0.1");
                    TimeValue remote;
                    source.GetTime(remote);
                    ++answered;
                } catch (const std::wstring&) {
                }
            }
        });
    }
    for (auto& client : clients) client.join();
    EXPECT_EQ(answered, 120);
}

}  // namespace
}  // namespace kairovel
