// qx4sim: a simulated reader/writer on a pseudo-terminal.
#include "field_file.h"
#include "simulated_reader.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
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
  --field FILE       tags in the field, from a JSON tag dump
  --scan-period MS   auto-scan notification period (default 200)
commands on standard input while it runs:
  list               the tags in the field
  leave UID          the tag leaves the field
  enter UID          a tag that left comes back
  save FILE          write the field as a JSON tag dump
)";

int Fail(const std::string& message) {
    std::cerr << "qx4sim: " << message << "\n" << kUsage;
    return 2;
}

void HandleCommand(qx4sim::SimulatedReader& reader, std::map<std::string, qx4sim::Tag>& away,
                   const std::string& line) {
    std::istringstream words(line);
    std::string verb, argument;
    words >> verb >> argument;
    if (verb == "list") {
        for (const auto& tag : reader.Field())
            std::cout << tag.UidText() << (tag.type == qx4sim::TagType::Myd ? " my-d" : " iso15693")
                      << " " << tag.BlockCount() << "x" << tag.blockSize << "\n";
    } else if (verb == "leave") {
        for (const auto& tag : reader.Field())
            if (tag.UidText() == argument) away[argument] = tag;
        if (auto uid = qx4sim::ParseUidText(argument); uid && reader.RemoveTag(*uid))
            std::cout << argument << " left the field\n";
        else
            std::cout << "no tag " << argument << " in the field\n";
    } else if (verb == "enter") {
        auto it = away.find(argument);
        if (it == away.end()) {
            std::cout << "no tag " << argument << " has left the field\n";
            return;
        }
        reader.AddTag(it->second);
        away.erase(it);
        std::cout << argument << " entered the field\n";
    } else if (verb == "save") {
        qx4sim::SaveField(argument, reader.Field());
        std::cout << "field saved to " << argument << "\n";
    } else if (!verb.empty()) {
        std::cout << "unknown command " << verb << " (list, leave UID, enter UID, save FILE)\n";
    }
    std::cout.flush();
}

} // namespace

int main(int argc, char** argv) {
    qx4sim::SimOptions options;
    std::string fieldFile;
    int port = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
            return argv[++i];
        };
        try {
            if (arg == "--port")
                port = std::stoi(value());
            else if (arg == "--baud")
                options.baud = static_cast<unsigned>(std::stoul(value()));
            else if (arg == "--delay")
                options.replyDelayMs = static_cast<unsigned>(std::stoul(value()));
            else if (arg == "--log")
                options.log = stdout;
            else if (arg == "--eeprom")
                options.eepromFile = value();
            else if (arg == "--field")
                fieldFile = value();
            else if (arg == "--scan-period")
                options.autoScanPeriodMs = static_cast<unsigned>(std::stoul(value()));
            else if (arg == "--help" || arg == "-h") {
                std::cout << kUsage;
                return 0;
            } else
                return Fail("unknown option " + arg);
        } catch (const std::invalid_argument& error) {
            return Fail(std::string(error.what()).find("needs") != std::string::npos
                            ? error.what()
                            : arg + " needs a number");
        }
    }
    if (options.baud != 0 && options.baud != 9600 && options.baud != 19200)
        return Fail("--baud takes 9600 or 19200");

    try {
        qx4sim::SimulatedReader reader(options);
        if (!fieldFile.empty()) reader.SetField(qx4sim::LoadField(fieldFile));
        std::signal(SIGINT, RequestStop);
        std::signal(SIGTERM, RequestStop);
        std::cout << "simulated reader on " << reader.DevicePath() << "\n"
                  << "export QX4_COM" << port << "=" << reader.DevicePath() << "\n";
        std::cout.flush();
        std::map<std::string, qx4sim::Tag> away;
        std::string line;
        bool input = true;
        while (!stopRequested) {
            pollfd in{STDIN_FILENO, POLLIN, 0};
            if (!input || ::poll(&in, 1, 200) <= 0) {
                if (!input) ::poll(nullptr, 0, 200);
                continue;
            }
            if (!std::getline(std::cin, line)) {
                input = false; // standard input closed: keep serving
                continue;
            }
            HandleCommand(reader, away, line);
        }
    } catch (const std::exception& error) {
        std::cerr << "qx4sim: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
