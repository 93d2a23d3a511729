// The connection's start: a compositor that never answers in full is given
// up on, and the usual sockets are found in the runtime folder.
#include "wayland/Connection.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

using hakop::platform::wayland::Connection;

namespace {

class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/hakop-connection-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // A listening socket at 'name' in the folder; -1 when it cannot be made.
    int listenAt(const std::string& name) const
    {
        const std::string path = m_dir + "/" + name;
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    std::string m_dir;
};

} // namespace

TEST_F(ConnectionTest, ACompositorThatNeverAnswersInFullIsGivenUpOn)
{
    const int listener = listenAt("wayland-5");
    ASSERT_GE(listener, 0);
    auto failure = Connection::Failure::Unreachable;
    const std::string path = m_dir + "/wayland-5";
    EXPECT_EQ(Connection::open(path.c_str(), &failure, std::chrono::milliseconds(200)), nullptr);
    EXPECT_EQ(failure, Connection::Failure::Silent) << "nobody ever answered";

    // A byte at a time, more often than the limit, of a message that never
    // completes: the limit holds for the whole exchange all the same.
    const int trickling = listenAt("wayland-6");
    ASSERT_GE(trickling, 0);
    std::thread trickle([trickling] {
        const int client = ::accept(trickling, nullptr, nullptr);
        // Object 1, then size 2048 << 16 | opcode 0, little-endian.
        const char header[8] = {1, 0, 0, 0, 0, 0, 0, 8};
        for (std::size_t i = 0; i < 2048; ++i) {
            const char byte = i < sizeof header ? header[i] : '\0';
            if (::send(client, &byte, 1, MSG_NOSIGNAL) != 1)
                break; // the client has given up
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::close(client);
    });
    failure = Connection::Failure::Unreachable;
    const std::string trickled = m_dir + "/wayland-6";
    EXPECT_EQ(Connection::open(trickled.c_str(), &failure, std::chrono::milliseconds(300)), nullptr);
    EXPECT_EQ(failure, Connection::Failure::Silent);
    trickle.join();
    ::close(trickling);
    ::close(listener);

    failure = Connection::Failure::Silent;
    EXPECT_EQ(Connection::open(path.c_str(), &failure), nullptr);
    EXPECT_EQ(failure, Connection::Failure::Unreachable) << "nobody listens any more";
}

TEST_F(ConnectionTest, TheUsualSocketsAreTheWaylandNSocketsLowestFirst)
{
    for (const char* name : {"wayland-10", "wayland-1", "wayland-x", "wayland-", "sway-ipc.sock"})
        ASSERT_GE(listenAt(name), 0) << name;
    std::ofstream(m_dir + "/wayland-0") << "a file, no socket";
    std::ofstream lock(m_dir + "/wayland-1.lock");
    EXPECT_EQ(Connection::runtimeSockets(m_dir),
              (std::vector<std::string>{m_dir + "/wayland-1", m_dir + "/wayland-10"}));
    EXPECT_TRUE(Connection::runtimeSockets(m_dir + "/missing").empty());
}
