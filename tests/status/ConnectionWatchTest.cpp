// The watch's verdicts on connections of known phases and times, without sockets.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "status/ConnectionWatch.h"

namespace status = quelvar::status;
using namespace std::chrono_literals;
using Phase = status::WatchedConnection::Phase;
using Clock = status::WatchedConnection::Clock;

namespace {

class FakeConnection : public status::WatchedConnection {
public:
    explicit FakeConnection(int fd = -1) : m_fd(fd) {}
    void drop() override { dropped = true; }
    void abandon() override {}
    int socket() override { return m_fd; }

private:
    int m_fd;
};

}  // namespace

TEST(ConnectionWatchTest, NamesWhatEachPhaseRanOutOf) {
    struct Case {
        const char* name;
        Phase phase;
        Clock::duration limit;
        Clock::duration quiet;  // since the client was last heard from
        Clock::duration since;  // since the phase began
        const char* reason;     // nullptr: not expired
    };
    const Case cases[] = {
        {"head within its time", Phase::Head, 600ms, 0ms, 500ms, nullptr},
        {"head past its time", Phase::Head, 600ms, 0ms, 600ms, "header_timeout"},
        {"body past its time", Phase::Body, 600ms, 0ms, 700ms, "body_timeout"},
        {"idle past its time", Phase::Idle, 2s, 0ms, 2s, "idle_timeout"},
        {"head quiet for the idle time", Phase::Head, 10s, 2s, 2s, "idle_timeout"},
        {"body quiet for the idle time", Phase::Body, 10s, 2s, 2s, "idle_timeout"},
        {"a running check is never quiet", Phase::Check, Clock::duration::max(), 60s, 60s, nullptr},
        {"reply past its time", Phase::Reply, 2s, 0ms, 2s, "idle_timeout"},
        {"a drain ends without a reason", Phase::Closing, 1s, 5s, 1s, ""},
        {"a drain within its time", Phase::Closing, 1s, 5s, 500ms, nullptr},
    };
    const auto now = Clock::now();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        status::ConnectionWatch watch(2s);
        FakeConnection connection;
        connection.enter(c.phase, c.limit, now - c.since);
        connection.heardFrom = now - c.quiet;
        watch.add(&connection);
        const auto expired = watch.expired(now);
        if (c.reason == nullptr) {
            EXPECT_TRUE(expired.empty());
            continue;
        }
        ASSERT_EQ(expired.size(), 1u);
        EXPECT_EQ(expired[0].connection, &connection);
        EXPECT_EQ(std::string(expired[0].reason), c.reason);
    }
}

TEST(ConnectionWatchTest, GivesTheSlotOfTheOldestWaiterAndNeverOfACompleteRequest) {
    const auto now = Clock::now();
    status::ConnectionWatch watch(15s);
    FakeConnection checking, body, olderHead, idle, newerHead, gone;
    checking.enter(Phase::Check, Clock::duration::max(), now - 10s);
    body.enter(Phase::Body, 10s, now - 9s);
    olderHead.enter(Phase::Head, 10s, now - 3s);
    idle.enter(Phase::Idle, 15s, now - 2s);
    newerHead.enter(Phase::Head, 10s, now - 1s);
    gone.enter(Phase::Head, 10s, now - 8s);
    gone.dropped = true;
    for (FakeConnection* connection : {&checking, &body, &olderHead, &idle, &newerHead, &gone}) {
        watch.add(connection);
    }
    EXPECT_EQ(watch.oldestWaiting(), &olderHead);
    watch.remove(&olderHead);
    EXPECT_EQ(watch.oldestWaiting(), &idle);
    watch.remove(&idle);
    watch.remove(&newerHead);
    EXPECT_EQ(watch.oldestWaiting(), nullptr);
    EXPECT_EQ(watch.connections().size(), 3u);
}

TEST(ConnectionWatchTest, TellsWhichRunningChecksHaveLostTheirClient) {
    int kept[2];
    int closed[2];
    int waiting[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, kept), 0);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, closed), 0);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, waiting), 0);
    status::ConnectionWatch watch(15s);
    FakeConnection keptCheck(kept[0]);
    FakeConnection closedCheck(closed[0]);
    FakeConnection closedButNotChecking(waiting[0]);
    for (FakeConnection* connection : {&keptCheck, &closedCheck, &closedButNotChecking}) {
        watch.add(connection);
    }
    watch.checkStarted(&keptCheck);
    watch.checkStarted(&closedCheck);
    // A client that sends more while its check runs has not gone.
    ASSERT_EQ(write(kept[1], "x", 1), 1);
    close(closed[1]);
    close(waiting[1]);
    EXPECT_EQ(watch.departed(), std::vector<status::WatchedConnection*>{&closedCheck});
    watch.checkEnded(&closedCheck);
    EXPECT_TRUE(watch.departed().empty());
    for (const int fd : {kept[0], kept[1], closed[0], waiting[0]}) {
        close(fd);
    }
}
