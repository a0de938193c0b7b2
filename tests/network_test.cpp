// The reader behind a network: the library's rfc2217:// and tcp:// lines against a real
// ser2net in front of the simulated reader's pseudo-terminal, and against small servers
// of the test's own that negotiate badly.
#include "link_fixture.h"
#include "platform/tcp_socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qx4test {
namespace {

using Clock = std::chrono::steady_clock;

// A listening socket on 127.0.0.1 with a port the kernel picked.
int Listen(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

int FreePort() {
    int port = 0;
    ::close(Listen(port));
    return port;
}

std::string Ser2net() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net"})
        if (::access(path, X_OK) == 0) return path;
    return {};
}

// ser2net started by the test with its own configuration, never the system service.
class Ser2netProcess {
  public:
    Ser2netProcess(const std::string& device, int telnetPort, int rawPort)
        : config_(::testing::TempDir() + "qx4_ser2net_" + std::to_string(telnetPort) + ".yaml"),
          telnetPort_(telnetPort), rawPort_(rawPort) {
        std::ofstream(config_) << "connection: &rfc2217\n"
                               << "    accepter: telnet(rfc2217),tcp,127.0.0.1," << telnetPort
                               << "\n    connector: serialdev," << device << ",19200n81,local\n"
                               << "connection: &raw\n"
                               << "    accepter: tcp,127.0.0.1," << rawPort
                               << "\n    connector: serialdev," << device << ",19200n81,local\n";
        Start();
    }
    ~Ser2netProcess() {
        Stop();
        std::remove(config_.c_str());
    }
    void Start() {
        const std::string program = Ser2net();
        std::vector<std::string> args{program, "-n", "-u", "-c", config_};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        // Ready once both accepters take connections.
        for (int port : {telnetPort_, rawPort_}) {
            const auto end = Clock::now() + std::chrono::seconds(5);
            while (Clock::now() < end) {
                std::string error;
                const int fd = qx4::platform::ConnectTcp({"tcp", "127.0.0.1", std::to_string(port)},
                                                         200, error);
                if (fd >= 0) {
                    ::close(fd);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // our probes let go
    }
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    bool Running() const { return pid_ > 0; }

  private:
    std::string config_;
    int telnetPort_, rawPort_;
    pid_t pid_ = -1;
};

class Ser2netTest : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (Ser2net().empty()) GTEST_SKIP() << "ser2net is not installed";
        HookLog::Install();
        reader = std::make_unique<qx4sim::SimulatedReader>();
        telnetPort = FreePort();
        rawPort = FreePort();
        server = std::make_unique<Ser2netProcess>(reader->DevicePath(), telnetPort, rawPort);
        ASSERT_TRUE(server->Running());
        address = GetParam() +
                  "://127.0.0.1:" + std::to_string(GetParam() == "rfc2217" ? telnetPort : rawPort);
        ::setenv("QX4_COM3", address.c_str(), 1);
        ASSERT_EQ(Open(0), 1) << address;
        QX4SetCmdWaitTime(1000);
    }
    void TearDown() override {
        QX4DllClose();
        server.reset();
        reader.reset();
        QX4SetPlatformHooks(nullptr);
        ::unsetenv("QX4_COM3");
    }
    // ser2net lets go of the device a moment after a connection closes; until then a
    // new connection is turned away.
    int Open(int slow, bool reopen = false) {
        const int waitMs = reopen ? QX4GetCmdWaitTime() : 1000;
        for (int attempt = 0; attempt < 20; ++attempt) {
            const int opened = reopen ? QX4ComReOpen(3, slow) : QX4DllOpen(3, slow);
            QX4SetCmdWaitTime(300);
            char text[255];
            const bool answers = opened && QX4GetROMVersion(text);
            QX4SetCmdWaitTime(waitMs);
            if (answers) return 1;
            reopen = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return 0;
    }

    std::unique_ptr<qx4sim::SimulatedReader> reader;
    std::unique_ptr<Ser2netProcess> server;
    int telnetPort = 0, rawPort = 0;
    std::string address;
};

TEST_P(Ser2netTest, TagCommandsThroughTheServer) {
    const qx4sim::Tag tag = reader->Field()[0];
    unsigned char dsfid = 0xEE, uid[8] = {};
    ASSERT_EQ(QX4Inventory(0x40, &dsfid, uid), 1);
    EXPECT_TRUE(std::equal(uid, uid + 8, tag.uid.begin()));

    // 0xFF in the data and, with these bytes, in the frame sum: doubled on the way out.
    const unsigned char data[8] = {0xFF, 0xFF, 0x00, 0xFF, 0x12, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(QX4WriteMultiBlock(0x01, 2, 1, data, uid), 1);
    unsigned char back[8] = {};
    ASSERT_EQ(QX4ReadMultiBlock(0x01, 2, 1, back, uid), 1);
    EXPECT_TRUE(std::equal(back, back + 8, data));
    unsigned char one[4] = {};
    ASSERT_EQ(QX4ReadSingleBlock(0x01, 3, one, uid), 1);
    EXPECT_TRUE(std::equal(one, one + 4, data + 4));
    EXPECT_TRUE(std::equal(data, data + 8, reader->Field()[0].memory.begin() + 8));

    unsigned char info[255];
    int length = 0;
    ASSERT_EQ(QX4GetSystemInfo(0x01, info, &length, uid), 1);
    EXPECT_EQ(info[0], 0x0F);

    EXPECT_EQ(QX4ReadSingleBlock(0x01, 200, one, uid), 0); // a NACK
    int code = 0, detail = 0;
    QX4GetErrorCode(&code, &detail);
    EXPECT_EQ(std::make_pair(code, detail), std::make_pair(5, 0x10));
    reader->Peer().ScriptSilence();
    QX4SetCmdWaitTime(100);
    EXPECT_EQ(QX4ReadSingleBlock(0x01, 0, one, uid), 0); // a time-out
    EXPECT_EQ(QX4IsOK(), 1);
}

TEST_P(Ser2netTest, ServerStoppedMidCommandThenRestarted) {
    reader->Peer().ScriptSilence();
    reader->Peer().ClearFrames();
    QX4SetCmdWaitTime(5000);
    std::thread stop([&] {
        reader->Peer().WaitForFrames(1, 2000);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        server->Stop();
    });
    const auto start = Clock::now();
    EXPECT_EQ(QX4SetTxOnOff(1), 0);
    stop.join();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3000)); // not the 5 s time-out
    EXPECT_EQ(QX4IsOK(), 0);
    EXPECT_EQ(HookLog::BoxesWithin(std::chrono::milliseconds(1000)).size(), 1u);
    server->Start();
    ASSERT_EQ(Open(0, true), 1);
    EXPECT_EQ(QX4SetTxOnOff(1), 1);
}

INSTANTIATE_TEST_SUITE_P(Schemes, Ser2netTest, ::testing::Values("rfc2217", "tcp"));

class Rfc2217Rate : public Ser2netTest {};

// Parity and stop bits cannot be read back from a pseudo-terminal; the rate can.
TEST_P(Rfc2217Rate, SlowRateReachesTheDevice) {
    EXPECT_EQ(reader->Peer().LineBaud(), 19200u);
    ASSERT_EQ(Open(1, true), 1);
    EXPECT_EQ(reader->Peer().LineBaud(), 9600u);
    ASSERT_EQ(Open(0, true), 1);
    EXPECT_EQ(reader->Peer().LineBaud(), 19200u);
}

INSTANTIATE_TEST_SUITE_P(Rfc2217, Rfc2217Rate, ::testing::Values("rfc2217"));

// A server of the test's own: accepts one connection and answers the client's
// greeting with `reply`, then reads and says nothing more.
class FakeServer {
  public:
    explicit FakeServer(std::vector<uint8_t> reply) : listener_(Listen(port_)) {
        thread_ = std::thread([this, reply] {
            pollfd in{listener_, POLLIN, 0};
            if (::poll(&in, 1, 5000) <= 0) return;
            const int client = ::accept(listener_, nullptr, nullptr);
            if (!reply.empty()) [[maybe_unused]]
                auto sent = ::send(client, reply.data(), reply.size(), 0);
            uint8_t buffer[256];
            pollfd data{client, POLLIN, 0};
            while (!stop_ && ::poll(&data, 1, 50) >= 0)
                if ((data.revents & POLLIN) && ::recv(client, buffer, sizeof buffer, 0) <= 0) break;
            ::close(client);
        });
    }
    ~FakeServer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    std::string Address() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

  private:
    int port_ = 0;
    int listener_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class NetworkOpen : public ::testing::Test {
  protected:
    void SetUp() override { HookLog::Install(); }
    void TearDown() override {
        QX4DllClose();
        QX4SetPlatformHooks(nullptr);
        ::unsetenv("QX4_COM4");
    }
    int OpenAt(const std::string& address) {
        ::setenv("QX4_COM4", address.c_str(), 1);
        return QX4DllOpen(4, 0);
    }
};

TEST_F(NetworkOpen, ServerThatNeverAgreesToComPortFailsWithinTheTimeOut) {
    FakeServer server({}); // accepts, then silence
    const auto start = Clock::now();
    EXPECT_EQ(OpenAt(server.Address()), 0);
    EXPECT_LT(Clock::now() - start,
              std::chrono::milliseconds(qx4::platform::kConnectTimeoutMs + 1000));
    EXPECT_EQ(QX4IsOK(), 0);
    EXPECT_EQ(HookLog::Get().sounds, std::vector<std::string>{"Windows\\Alarm2.wav"});
    ASSERT_EQ(HookLog::Get().boxes.size(), 1u);
    EXPECT_NE(HookLog::Get().boxes[0].find(server.Address()), std::string::npos);
}

TEST_F(NetworkOpen, ServerThatRefusesComPortFailsAtOnce) {
    FakeServer server({255, 254, 44}); // IAC DONT COM-PORT-OPTION
    const auto start = Clock::now();
    EXPECT_EQ(OpenAt(server.Address()), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    ASSERT_EQ(HookLog::Get().boxes.size(), 1u);
    EXPECT_NE(HookLog::Get().boxes[0].find("refused COM-PORT-OPTION"), std::string::npos);
}

TEST_F(NetworkOpen, ServerThatAgreesButLeavesSettingsUnansweredStillOpens) {
    FakeServer server({255, 253, 44, 255, 253, 0, 255, 251, 0, 255, 253, 3, 255, 251, 3});
    EXPECT_EQ(OpenAt(server.Address()), 1);
    EXPECT_EQ(QX4IsOK(), 1);
    QX4DllClose(); // before the server goes and the line with it
    EXPECT_TRUE(HookLog::Get().boxes.empty());
}

TEST_F(NetworkOpen, UnreachableAndMalformedAddresses) {
    const std::string refused = "tcp://127.0.0.1:" + std::to_string(FreePort());
    EXPECT_EQ(OpenAt(refused), 0);
    EXPECT_EQ(OpenAt("rfc2217://no-such-host.invalid:2000"), 0);
    EXPECT_EQ(OpenAt("tcp://127.0.0.1"), 0);
    ASSERT_EQ(HookLog::Get().boxes.size(), 3u);
    EXPECT_NE(HookLog::Get().boxes[0].find(refused), std::string::npos);
    EXPECT_NE(HookLog::Get().boxes[1].find("no-such-host.invalid"), std::string::npos);
    EXPECT_NE(HookLog::Get().boxes[2].find("is not tcp://HOST:PORT"), std::string::npos);
}

TEST(NetworkAddress, SchemesHostsAndPorts) {
    using qx4::platform::ParseNetworkAddress;
    const auto v4 = ParseNetworkAddress("rfc2217://192.168.1.20:2000");
    ASSERT_TRUE(v4);
    EXPECT_EQ(v4->scheme, "rfc2217");
    EXPECT_EQ(v4->host, "192.168.1.20");
    EXPECT_EQ(v4->port, "2000");
    const auto v6 = ParseNetworkAddress("tcp://[::1]:4001");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host, "::1");
    EXPECT_EQ(ParseNetworkAddress("tcp://reader.local:7")->host, "reader.local");
    for (const char* bad :
         {"tcp://::1:4001", "tcp://host", "tcp://host:", "tcp://:20", "tcp://host:65536",
          "tcp://host:0", "tcp://host:2x", "udp://host:1", "tcp://[::1]4001", "/dev/ttyUSB0"})
        EXPECT_FALSE(ParseNetworkAddress(bad)) << bad;
}

} // namespace
} // namespace qx4test
