// qx4-mqtt figures against a mosquitto started here on 127.0.0.1:
//   event latency: the simulated reader writing a UID notification (19200 baud) to a
//     subscriber receiving its event, p50/p99, next to the notification's wire time;
//   request round trip over MQTT next to the same command run by qx4;
//   scale: N simulated readers and N gateways, tags moving in every field: events per
//     second delivered, gaps in seq, CPU and resident memory per gateway while idle.
// Usage: qx4_mqtt_gateway [READERS] [SAMPLES]   (defaults 32, 200)
#include "simulated_reader.h"
#include "wire.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mosquitto.h>
#include <mutex>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string Here() {
    return fs::canonical("/proc/self/exe").parent_path().string();
}

pid_t Spawn(const std::vector<std::string>& words, bool quiet = true) {
    std::vector<char*> argv;
    for (const auto& word : words)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror(argv[0]);
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void Stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

int FreePort() {
    // Above the ephemeral range's usual start is not guaranteed free; ask the kernel.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

struct Message {
    std::string topic;
    nlohmann::json payload;
    Clock::time_point received;
};

class Subscriber {
  public:
    Subscriber(int port, const std::string& topic) {
        client_ = mosquitto_new(nullptr, true, this);
        mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_message_callback_set(
            client_, [](mosquitto*, void* self, const mosquitto_message* message) {
                auto* me = static_cast<Subscriber*>(self);
                Message m{message->topic,
                          nlohmann::json::parse(static_cast<const char*>(message->payload),
                                                static_cast<const char*>(message->payload) +
                                                    message->payloadlen,
                                                nullptr, false),
                          Clock::now()};
                std::lock_guard lock(me->mutex_);
                me->messages_.push_back(std::move(m));
                me->arrived_.notify_all();
            });
        while (mosquitto_connect(client_, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS)
            std::this_thread::sleep_for(50ms);
        mosquitto_subscribe(client_, nullptr, topic.c_str(), 1);
        mosquitto_loop_start(client_);
    }
    ~Subscriber() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }
    void Publish(const std::string& topic, const std::string& payload) {
        mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), 1, false);
    }
    // Waits until predicate holds for the messages so far.
    template <typename Predicate> bool WaitFor(Predicate predicate, Clock::duration timeout) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, timeout, [&] { return predicate(messages_); });
    }
    std::vector<Message> Messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }

  private:
    mosquitto* client_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Message> messages_;
};

bool Connected(const std::vector<Message>& messages, const std::string& topic) {
    for (const Message& m : messages)
        if (m.topic == topic && m.payload.value("reader", "") == "connected") return true;
    return false;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

struct Usage {
    double cpuSeconds;
    long rssKiB;
};

Usage UsageOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) utime = std::stoul(field);
        if (index == 15) {
            stime = std::stoul(field);
            break;
        }
    }
    long rss = 0;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:")) rss = std::stol(line.substr(6));
    return {static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK)), rss};
}

std::vector<std::string> GatewayWords(const std::string& device, int port, const std::string& name,
                                      std::vector<std::string> more) {
    std::vector<std::string> words{Here() + "/../gateway/qx4-mqtt",
                                   "--device",
                                   device,
                                   "-h",
                                   "127.0.0.1",
                                   "-p",
                                   std::to_string(port),
                                   "--name",
                                   name};
    words.insert(words.end(), more.begin(), more.end());
    return words;
}

} // namespace

int main(int argc, char** argv) {
    const int readers = argc > 1 ? std::atoi(argv[1]) : 32;
    const int samples = argc > 2 ? std::atoi(argv[2]) : 200;
    const fs::path directory =
        fs::temp_directory_path() / ("qx4-mqtt-bench-" + std::to_string(getpid()));
    fs::create_directories(directory);
    const int port = FreePort();
    {
        std::ofstream conf(directory / "mosquitto.conf");
        conf << "listener " << port
             << " 127.0.0.1\nallow_anonymous true\nmax_queued_messages 100000\nset_tcp_nodelay true\n";
    }
    const pid_t broker =
        Spawn({"/usr/sbin/mosquitto", "-c", (directory / "mosquitto.conf").string()});
    mosquitto_lib_init();

    // Event latency.
    {
        qx4sim::SimOptions options;
        options.baud = 19200;
        options.autoScanPeriodMs = 3600 * 1000; // notifications come from here only
        qx4sim::SimulatedReader sim(options);
        Subscriber peer(port, "qx4/lat/#");
        const pid_t gateway = Spawn(GatewayWords(sim.DevicePath(), port, "lat",
                                                 {"--mode", "0", "--leave-after", "3600000"}));
        peer.WaitFor([](auto& m) { return Connected(m, "qx4/lat/state"); }, 20s);
        std::vector<double> latencies;
        size_t frameBytes = 0;
        for (int i = 0; i < samples; ++i) {
            const qx4sim::Bytes uid{static_cast<uint8_t>(i),
                                    static_cast<uint8_t>(i >> 8),
                                    0x33,
                                    0x22,
                                    0x11,
                                    0x01,
                                    0x04,
                                    0xE0};
            const qx4sim::Bytes frame = qx4sim::EncodeFrame(qx4sim::kUidDataNotification, uid);
            frameBytes = frame.size();
            const size_t before = peer.Messages().size();
            const auto sent = Clock::now();
            sim.Peer().Send(frame);
            std::vector<Message> got;
            const bool arrived = peer.WaitFor(
                [&](auto& m) {
                    for (size_t k = before; k < m.size(); ++k)
                        if (m[k].topic == "qx4/lat/event") return true;
                    return false;
                },
                3s);
            if (!arrived) {
                std::printf("event %d never arrived\n", i);
                continue;
            }
            for (const Message& m : peer.Messages())
                if (m.topic == "qx4/lat/event" && m.payload.value("seq", 0) == i + 1)
                    latencies.push_back(
                        std::chrono::duration<double, std::milli>(m.received - sent).count());
            std::this_thread::sleep_for(10ms);
        }
        const double wireMs = static_cast<double>(frameBytes) * 10.0 * 1000.0 / 19200.0;
        std::printf("event latency, notification written -> event received (%zu samples):\n"
                    "  p50 %.2f ms, p99 %.2f ms; wire time of the %zu-byte notification at 19200 "
                    "baud %.2f ms (goal p99 < %.2f ms)\n",
                    latencies.size(), Percentile(latencies, 0.5), Percentile(latencies, 0.99),
                    frameBytes, wireMs, wireMs + 10.0);

        // Request round trip: over MQTT against qx4 on a reader of its own.
        std::vector<double> mqtt;
        for (int i = 0; i < 50; ++i) {
            const std::string transaction = "r" + std::to_string(i);
            const auto sent = Clock::now();
            peer.Publish("qx4/lat/request/version", R"({"transaction":")" + transaction + "\"}");
            peer.WaitFor(
                [&](auto& m) {
                    for (const Message& x : m)
                        if (x.topic == "qx4/lat/response/version" &&
                            x.payload.value("transaction", "") == transaction)
                            return true;
                    return false;
                },
                5s);
            mqtt.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        }
        Stop(gateway);
        qx4sim::SimOptions other;
        other.baud = 19200;
        qx4sim::SimulatedReader second(other);
        std::vector<double> cli;
        for (int i = 0; i < 20; ++i) {
            const auto start = Clock::now();
            const pid_t run = Spawn(
                {Here() + "/../cli/qx4", "--device", second.DevicePath(), "--json", "version"});
            ::waitpid(run, nullptr, 0);
            cli.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        std::printf(
            "request round trip, version: MQTT p50 %.2f ms; qx4 --json version p50 %.2f ms; "
            "ratio MQTT/qx4 %.2f\n",
            Percentile(mqtt, 0.5), Percentile(cli, 0.5),
            Percentile(mqtt, 0.5) / Percentile(cli, 0.5));
    }

    // Scale.
    {
        std::vector<std::unique_ptr<qx4sim::SimulatedReader>> sims;
        std::vector<pid_t> gateways;
        Subscriber peer(port, "qx4/+/#");
        for (int i = 0; i < readers; ++i) {
            qx4sim::SimOptions options;
            options.baud = 19200;
            sims.push_back(std::make_unique<qx4sim::SimulatedReader>(options));
            gateways.push_back(
                Spawn(GatewayWords(sims.back()->DevicePath(), port, "s" + std::to_string(i),
                                   {"--heartbeat", "5", "--leave-after", "1000"})));
        }
        peer.WaitFor(
            [&](auto& m) {
                for (int i = 0; i < readers; ++i)
                    if (!Connected(m, "qx4/s" + std::to_string(i) + "/state")) return false;
                return true;
            },
            60s);
        std::this_thread::sleep_for(3s);
        std::vector<Usage> before;
        for (pid_t pid : gateways)
            before.push_back(UsageOf(pid));
        const auto idleSeconds = 10s;
        std::this_thread::sleep_for(idleSeconds);
        double cpuMax = 0, cpuSum = 0;
        long rssMax = 0;
        for (size_t i = 0; i < gateways.size(); ++i) {
            const Usage after = UsageOf(gateways[i]);
            const double share = (after.cpuSeconds - before[i].cpuSeconds) /
                                 std::chrono::duration<double>(idleSeconds).count() * 100;
            cpuMax = std::max(cpuMax, share);
            cpuSum += share;
            rssMax = std::max(rssMax, after.rssKiB);
        }
        std::printf("%d gateways idle (3 tags each in the field, auto-scan every 200 ms): CPU mean "
                    "%.2f %%, max %.2f %% of a core; resident max %.1f MB\n",
                    readers, cpuSum / readers, cpuMax, rssMax / 1024.0);

        // Tags moving in every field.
        const size_t start = peer.Messages().size();
        const qx4sim::Uid moving{0x21, 0x43, 0x65, 0x87, 0x01, 0x00, 0x07, 0xE0};
        std::vector<qx4sim::Tag> away(readers);
        const auto moveStart = Clock::now();
        const int toggles = 12;
        for (int round = 0; round < toggles; ++round) {
            for (int i = 0; i < readers; ++i) {
                if (round % 2 == 0) {
                    for (const auto& tag : sims[i]->Field())
                        if (tag.uid == moving) away[i] = tag;
                    sims[i]->RemoveTag(moving);
                } else {
                    sims[i]->AddTag(away[i]);
                }
            }
            std::this_thread::sleep_for(1500ms);
        }
        std::this_thread::sleep_for(2s);
        const double moveSeconds = std::chrono::duration<double>(Clock::now() - moveStart).count();
        std::map<std::string, std::vector<long long>> seqs;
        size_t moves = 0;
        const std::vector<Message> all = peer.Messages();
        for (const auto& m :
             std::vector<Message>(all.begin() + static_cast<long>(start), all.end())) {
            if (!m.topic.ends_with("/event")) continue;
            seqs[m.topic].push_back(m.payload.value("seq", 0LL));
            if (m.payload.value("uid", "") == "E007000187654321") ++moves;
        }
        size_t gaps = 0, events = 0;
        for (auto& [topic, list] : seqs) {
            events += list.size();
            for (size_t k = 1; k < list.size(); ++k)
                if (list[k] != list[k - 1] + 1) ++gaps;
        }
        std::printf("%d readers, a tag leaving and entering every 1.5 s in each field: %zu events "
                    "in %.1f s (%.1f/s), %zu of %d moves seen, %zu gaps in seq\n",
                    readers, events, moveSeconds, events / moveSeconds, moves, readers * toggles,
                    gaps);
        for (pid_t pid : gateways)
            Stop(pid);
    }
    Stop(broker);
    mosquitto_lib_cleanup();
    fs::remove_all(directory);
    return 0;
}
