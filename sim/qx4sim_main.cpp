// qx4sim: a simulated reader/writer on a pseudo-terminal.
#include "dump_files.h"
#include "field_file.h"
#include "profile.h"
#include "simulated_reader.h"
#include "tag_behaviour.h"
#include "tcp_listener.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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
a real reader and field (each off by default; docs/simulator.md):
  --profile NAME     default, or field: all of the below in a plausible measure
                     (also from the environment variable QX4SIM_PROFILE); the
                     options after it change single behaviours
  --eeprom-words N   the EEPROM has N words (20 to 256)
  --eeprom-refusal CODE|silent  NACK code for words beyond them (default 0x43)
  --eeprom-read-ms MS, --eeprom-write-ms MS  per read, per word written
  --air-time         tag commands take their ISO 15693 time on the air
  --collisions       tags answering at once garble each other
  --crc-errors P, --no-answer P, --program-errors P
                     chance (0 to 1) per request of a garbled reply, of a tag
                     that did not hear, of a write or lock that fails
  --seed N           for those chances (default 1)
  --tag-power        carrier off, power-down and leaving end quiet and selected
  --boot-ms MS       a restart takes the reader away so long
  --wake-from-power-down  the first request after power-down only wakes it
  --strict-values    values out of range are refused (NACK 0x41, 0x43)
  --usb              deliver as a USB-serial adapter (62-byte packets, 16 ms)
  --pace-at-line     pace replies at the rate the line is set to
commands on standard input while it runs:
  list               the tags in the field
  leave UID          the tag leaves the field
  enter UID          a tag that left comes back
  tag UID KEY VALUE  change how a tag behaves: crcErrors, noAnswer, programErrors
                     (0 to 1), multiBlockRefusal (none, silent, 0x01, 0x02, 0x0F),
                     optionFlag (any, required, refused), partialWrites (true, false)
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

double ParseChance(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !(value >= 0 && value <= 1))
        throw std::invalid_argument(option + " takes a chance from 0 to 1, not \"" + text + "\"");
    return value;
}

int ParseRefusal(const std::string& option, const std::string& text) {
    if (text == "silent") return 0;
    char* end = nullptr;
    const long code = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end || code < 1 || code > 0xFF)
        throw std::invalid_argument(
            option + " takes a NACK code from 0x01 to 0xFF or silent, not \"" + text + "\"");
    return static_cast<int>(code);
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
        for (const auto& tag : reader.Field()) {
            const std::string behaviour = qx4sim::BehaviourText(tag.behaviour);
            std::cout << tag.UidText() << (tag.type == qx4sim::TagType::Myd ? " my-d" : " iso15693")
                      << " " << tag.BlockCount() << "x" << tag.blockSize
                      << (behaviour.empty() ? "" : " " + behaviour) << "\n";
        }
    } else if (verb == "tag") {
        std::string key, value;
        words >> key >> value;
        const auto uid = qx4sim::ParseUidText(argument);
        std::string outcome;
        bool found = false;
        if (!uid) {
            outcome = "\"" + argument + "\" is not a UID (16 hex digits)";
        } else {
            reader.Modify([&](qx4sim::ReaderRegisters&, std::vector<qx4sim::Tag>& field) {
                for (qx4sim::Tag& tag : field)
                    if (tag.uid == *uid) {
                        found = true;
                        outcome = qx4sim::SetBehaviour(tag.behaviour, key, value);
                        if (outcome.empty())
                            outcome = tag.UidText() + ": " + qx4sim::BehaviourText(tag.behaviour);
                    }
            });
            if (!found) outcome = "no tag " + argument + " in the field";
        }
        std::cout << outcome << "\n";
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
        std::cout << "unknown command " << verb
                  << " (list, leave UID, enter UID, tag UID KEY VALUE, save FILE)\n";
    }
    std::cout.flush();
}

} // namespace

int main(int argc, char** argv) {
    qx4sim::SimOptions options;
    std::string fieldFile, listen;
    int port = 3;
    // The profile first, so that the options given with it change single behaviours.
    std::string profile = qx4sim::ProfileFromEnvironment();
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--profile") profile = argv[i + 1];
    if (!qx4sim::ApplyProfile(options, profile))
        return Fail("no profile \"" + profile + "\" (default, field)");
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
            else if (arg == "--profile")
                value(); // taken above
            else if (arg == "--eeprom-words") {
                options.eepromWords = ParseCount(arg, value());
                if (options.eepromWords < 20 || options.eepromWords > 256)
                    throw std::invalid_argument("--eeprom-words takes 20 to 256");
            } else if (arg == "--eeprom-refusal")
                options.eepromRefusal = ParseRefusal(arg, value());
            else if (arg == "--eeprom-read-ms")
                options.eepromReadMs = ParseCount(arg, value());
            else if (arg == "--eeprom-write-ms")
                options.eepromWriteMs = ParseCount(arg, value());
            else if (arg == "--air-time")
                options.airTime = true;
            else if (arg == "--collisions")
                options.collisions = true;
            else if (arg == "--crc-errors")
                options.crcErrors = ParseChance(arg, value());
            else if (arg == "--no-answer")
                options.noAnswer = ParseChance(arg, value());
            else if (arg == "--program-errors")
                options.programErrors = ParseChance(arg, value());
            else if (arg == "--seed")
                options.seed = ParseCount(arg, value());
            else if (arg == "--tag-power")
                options.tagPower = true;
            else if (arg == "--boot-ms")
                options.bootMs = ParseCount(arg, value());
            else if (arg == "--wake-from-power-down")
                options.wakeFromPowerDown = true;
            else if (arg == "--strict-values")
                options.strictValues = true;
            else if (arg == "--usb")
                options.usb = true;
            else if (arg == "--pace-at-line")
                options.paceAtLineRate = true;
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
