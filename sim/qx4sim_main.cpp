// qx4sim: a simulated reader/writer on a pseudo-terminal.
#include "dump_files.h"
#include "field_file.h"
#include "simulated_reader.h"
#include "tcp_listener.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void RequestStop(int) {
    stopRequested = 1;
}

constexpr const char* kUsage = R"(usage: qx4sim [options]
  --port N           COM number for the export line (default 3)
  --baud RATE        pace replies at 9600 or 19200 baud (default: no pacing)
  --delay MS         extra delay before every reply
  --log              print every frame in hexadecimal (<- request, -> reply)
  --eeprom FILE      keep the reader's EEPROM in FILE
  --field FILE       tags in the field, from a dump (qx4 JSON, Proxmark3 JSON or
                     Flipper .nfc)
  --scan-period MS   auto-scan notification period (default 200)
  --rom-version TEXT what the reader answers for its ROM version (any bytes)
  --version          print the version
  --listen [HOST:]PORT  also serve the reader as raw TCP (tcp://HOST:PORT; HOST
                     defaults to 127.0.0.1), one client at a time
commands on standard input while it runs:
  list               the tags in the field
  leave UID          the tag leaves the field
  enter UID          a tag that left comes back
  save FILE          write the field as a dump (Flipper for a .nfc name with one
                     tag, Proxmark3 for .pm3, else qx4 JSON)
commands are case-insensitive
)";

// A count of milliseconds or a rate: decimal digits only, so "-5" is no huge number.
unsigned ParseCount(const std::string& option, const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        throw std::invalid_argument(option + " takes a whole number of 0 or more, not \"" + text +
                                    "\"");
    return static_cast<unsigned>(std::stoul(text));
}

int Fail(const std::string& message) {
    std::cerr << "qx4sim: " << message << "\n" << kUsage;
    return 2;
}

void HandleCommand(qx4sim::SimulatedReader& reader, std::map<qx4sim::Uid, qx4sim::Tag>& away,
                   const std::string& line) {
    std::istringstream words(line);
    std::string verb, argument;
    words >> verb >> argument;
    for (char& c : verb)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (verb == "list") {
        for (const auto& tag : reader.Field())
            std::cout << tag.UidText() << (tag.type == qx4sim::TagType::Myd ? " my-d" : " iso15693")
                      << " " << tag.BlockCount() << "x" << tag.blockSize << "\n";
    } else if (verb == "leave" || verb == "enter") {
        const auto uid = qx4sim::ParseUidText(argument);
        if (!uid) {
            std::cout << "\"" << argument << "\" is not a UID (16 hex digits)\n";
        } else if (verb == "leave") {
            std::optional<qx4sim::Tag> leaving;
            for (const auto& tag : reader.Field())
                if (tag.uid == *uid) leaving = tag;
            if (leaving && reader.RemoveTag(*uid)) {
                away[*uid] = *leaving;
                std::cout << leaving->UidText() << " left the field\n";
            } else {
                std::cout << "no tag " << argument << " in the field\n";
            }
        } else if (auto it = away.find(*uid); it == away.end()) {
            std::cout << "no tag " << argument << " has left the field\n";
        } else {
            std::cout << it->second.UidText() << " entered the field\n";
            reader.AddTag(it->second);
            away.erase(it);
        }
    } else if (verb == "save") {
        // A save that fails is reported; the simulator goes on serving.
        try {
            if (argument.empty()) throw std::runtime_error("save needs a FILE");
            qx4dump::SaveDump(argument, qx4sim::DumpsFromTags(reader.Field()),
                              qx4dump::FormatForPath(argument));
            std::cout << "field saved to " << argument << "\n";
        } catch (const std::exception& error) {
            std::cout << "not saved: " << error.what() << "\n";
        }
    } else if (!verb.empty()) {
        std::cout << "unknown command " << verb << " (list, leave UID, enter UID, save FILE)\n";
    }
    std::cout.flush();
}

} // namespace

int main(int argc, char** argv) {
    qx4sim::SimOptions options;
    std::string fieldFile, listen;
    int port = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
            return argv[++i];
        };
        try {
            if (arg == "--port")
                port = static_cast<int>(ParseCount(arg, value()));
            else if (arg == "--baud")
                options.baud = ParseCount(arg, value());
            else if (arg == "--delay")
                options.replyDelayMs = ParseCount(arg, value());
            else if (arg == "--log")
                options.log = stdout;
            else if (arg == "--eeprom")
                options.eepromFile = value();
            else if (arg == "--field")
                fieldFile = value();
            else if (arg == "--listen")
                listen = value();
            else if (arg == "--rom-version")
                options.romVersion = value();
            else if (arg == "--scan-period")
                options.autoScanPeriodMs = ParseCount(arg, value());
            else if (arg == "--version") {
                std::cout << "qx4sim " << QX4_VERSION << "\n";
                return 0;
            } else if (arg == "--help" || arg == "-h") {
                std::cout << kUsage;
                return 0;
            } else
                return Fail("unknown option " + arg);
        } catch (const std::invalid_argument& error) {
            return Fail(error.what());
        }
    }
    if (options.baud != 0 && options.baud != 9600 && options.baud != 19200)
        return Fail("--baud takes 9600 or 19200");

    // Without SA_RESTART, so a signal also ends a read of standard input that waits.
    struct sigaction stop {};
    stop.sa_handler = RequestStop;
    ::sigemptyset(&stop.sa_mask);
    ::sigaction(SIGINT, &stop, nullptr);
    ::sigaction(SIGTERM, &stop, nullptr);
    try {
        qx4sim::SimulatedReader reader(options);
        if (!fieldFile.empty()) reader.SetField(qx4sim::LoadField(fieldFile));
        std::unique_ptr<qx4sim::TcpListener> listener;
        if (!listen.empty())
            listener = std::make_unique<qx4sim::TcpListener>(listen, reader.DevicePath());
        const std::string line = listener ? listener->Address() : reader.DevicePath();
        std::cout << "simulated reader on " << line << "\n"
                  << "export QX4_COM" << port << "=" << line << "\n";
        std::cout.flush();
        std::map<qx4sim::Uid, qx4sim::Tag> away;
        std::string pending;
        bool input = true;
        while (!stopRequested) {
            pollfd in{STDIN_FILENO, POLLIN, 0};
            if (::poll(input ? &in : nullptr, input ? 1 : 0, 200) <= 0) continue;
            char chunk[512];
            const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (n <= 0) {
                if (n == 0 || errno != EINTR) input = false; // closed: keep serving
                continue;
            }
            pending.append(chunk, static_cast<size_t>(n));
            for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                HandleCommand(reader, away, pending.substr(0, end));
                pending.erase(0, end + 1);
            }
        }
    } catch (const std::exception& error) {
        std::cerr << "qx4sim: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
