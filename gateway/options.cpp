#include "options.h"

#include "session.h"

#include <array>
#include <fstream>
#include <iostream>
#include <unistd.h>

namespace qx4mqtt {
namespace {

struct OptionInfo {
    const char* name;
    char shortName; // 0: none
    bool takesValue;
    const char* help;
};

constexpr std::array kOptions{
    OptionInfo{"device", 0, true,
               "the reader: device path, rfc2217://HOST:PORT or tcp://HOST:PORT"},
    OptionInfo{"simulate", 0, false, "a simulated reader in this process"},
    OptionInfo{"field", 0, true, "with --simulate: the tags in the field, from a dump"},
    OptionInfo{"slow", 0, false, "9600 baud instead of 19200"},
    OptionInfo{"timeout", 0, true, "the reader's response time-out in ms (default 2000)"},
    OptionInfo{"mode", 0, true, "operation mode while running (default 1, auto-scan)"},
    OptionInfo{"scan-flags", 0, true, "operation-mode flags while running (default: the reader's)"},
    OptionInfo{"leave-after", 0, true, "ms a tag goes unseen before it has left (default 1000)"},
    OptionInfo{"host", 'h', true, "the broker's host (default localhost)"},
    OptionInfo{"port", 'p', true, "the broker's port (default 1883, 8883 with --cafile)"},
    OptionInfo{"username", 'u', true, "user name at the broker"},
    OptionInfo{"password-file", 0, true, "a file whose first line is the password"},
    OptionInfo{"cafile", 0, true, "TLS: the CA certificates that sign the broker's"},
    OptionInfo{"cert", 0, true, "TLS: this client's certificate"},
    OptionInfo{"key", 0, true, "TLS: this client's private key"},
    OptionInfo{"id", 'i', true, "client id (default qx4-mqtt-NAME)"},
    OptionInfo{"keepalive", 'k', true, "seconds between keep-alive pings (default 60)"},
    OptionInfo{"protocol-version", 'V', true, "mqttv5 (default) or mqttv311"},
    OptionInfo{"topic-base", 0, true, "the first topic level (default qx4)"},
    OptionInfo{"name", 0, true, "this reader's topic level (default: host name and port)"},
    OptionInfo{"heartbeat", 0, true, "seconds between heartbeats (default 30)"},
    OptionInfo{"queue", 0, true, "events kept while the broker is away (default 10000)"},
    OptionInfo{"allow-writes", 0, false,
               "serve commands that write (tags, registers, EEPROM, modes)"},
    OptionInfo{"allow-locks", 0, false, "serve commands that lock tags for good"},
    OptionInfo{"homeassistant", 0, false, "publish Home Assistant discovery for the tag scanner"},
    OptionInfo{"read-ndef", 0, false,
               "read a tag's NDEF message when it enters: the enter event carries its records"},
    OptionInfo{"discovery-prefix", 0, true,
               "Home Assistant's discovery prefix (default homeassistant)"},
    OptionInfo{"config", 'c', true, "read settings from FILE (keys as the long options)"},
};

const OptionInfo* Find(const std::string& name) {
    for (const OptionInfo& option : kOptions)
        if (name == option.name) return &option;
    return nullptr;
}

int Number(const std::string& key, const std::string& text, long low, long high) {
    const auto value = qx4cli::ParseNumber(text);
    if (!value || *value < low || *value > high)
        throw BadOption(key + " takes a number from " + std::to_string(low) + " to " +
                        std::to_string(high) + ", not \"" + text + "\"");
    return static_cast<int>(*value);
}

bool Boolean(const std::string& key, const std::string& text) {
    if (text.empty() || text == "true" || text == "yes" || text == "1") return true;
    if (text == "false" || text == "no" || text == "0") return false;
    throw BadOption(key + " takes true or false, not \"" + text + "\"");
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// One topic level that Home Assistant takes in its ids too: letters, digits, _ and -.
bool NameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

std::string TopicLevel(std::string text) {
    for (char& c : text)
        if (!NameCharacter(c)) c = '-';
    while (!text.empty() && text.front() == '-')
        text.erase(text.begin());
    return text;
}

} // namespace

void ApplyOption(GatewayOptions& o, const std::string& key, const std::string& value) {
    const OptionInfo* info = Find(key);
    if (!info || key == "config") throw BadOption("unknown setting " + key);
    if (info->takesValue && value.empty()) throw BadOption(key + " needs a value");
    if (key == "device")
        o.device = value;
    else if (key == "simulate")
        o.simulate = Boolean(key, value);
    else if (key == "field")
        o.fieldFile = value;
    else if (key == "slow")
        o.slow = Boolean(key, value);
    else if (key == "timeout")
        o.timeoutMs = Number(key, value, 0, 60000);
    else if (key == "mode")
        o.mode = Number(key, value, 0, 255);
    else if (key == "scan-flags")
        o.scanFlags = Number(key, value, 0, 255);
    else if (key == "leave-after")
        o.leaveAfterMs = Number(key, value, 10, 3600000);
    else if (key == "host")
        o.host = value;
    else if (key == "port")
        o.port = Number(key, value, 1, 65535);
    else if (key == "username")
        o.username = value;
    else if (key == "password-file")
        o.passwordFile = value;
    else if (key == "cafile")
        o.cafile = value;
    else if (key == "cert")
        o.cert = value;
    else if (key == "key")
        o.key = value;
    else if (key == "id")
        o.id = value;
    else if (key == "keepalive")
        o.keepalive = Number(key, value, 5, 65535);
    else if (key == "protocol-version") {
        if (value == "mqttv5" || value == "5")
            o.protocol = 5;
        else if (value == "mqttv311" || value == "311")
            o.protocol = 311;
        else
            throw BadOption("protocol-version takes mqttv5 or mqttv311");
    } else if (key == "topic-base")
        o.topicBase = value;
    else if (key == "name")
        o.name = value;
    else if (key == "heartbeat")
        o.heartbeatSeconds = Number(key, value, 1, 86400);
    else if (key == "queue")
        o.queueLimit = static_cast<size_t>(Number(key, value, 1, 10000000));
    else if (key == "allow-writes")
        o.allowWrites = Boolean(key, value);
    else if (key == "allow-locks")
        o.allowLocks = Boolean(key, value);
    else if (key == "homeassistant")
        o.homeAssistant = Boolean(key, value);
    else if (key == "read-ndef")
        o.readNdef = Boolean(key, value);
    else if (key == "discovery-prefix")
        o.discoveryPrefix = value;
}

void LoadConfigFile(GatewayOptions& options, const std::string& path) {
    std::ifstream in(path);
    if (!in) throw BadOption("cannot read " + path);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        const auto split = line.find_first_of(" \t=");
        const std::string key = Trim(line.substr(0, split));
        std::string value = split == std::string::npos ? "" : Trim(line.substr(split));
        if (!value.empty() && value[0] == '=') value = Trim(value.substr(1));
        try {
            if (key == "password") throw BadOption("passwords go in a password-file");
            ApplyOption(options, key, value);
        } catch (const BadOption& error) {
            throw BadOption(path + ":" + std::to_string(number) + ": " + error.what());
        }
    }
}

bool ParseCommandLine(GatewayOptions& options, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help") {
            std::cout << UsageText();
            return false;
        }
        if (arg == "--version") {
            std::cout << "qx4-mqtt " << QX4_VERSION << " (library " << QX4LibraryVersion() << ")\n";
            return false;
        }
        const OptionInfo* info = nullptr;
        if (arg.size() == 2 && arg[0] == '-') {
            for (const OptionInfo& option : kOptions)
                if (option.shortName == arg[1]) info = &option;
        } else if (arg.starts_with("--")) {
            info = Find(arg.substr(2));
        }
        if (arg == "-P" || arg == "--pw" || arg == "--password")
            throw BadOption("a password is never given on the command line: use --password-file");
        if (!info) throw BadOption("unknown option " + arg + " (--help lists them)");
        std::string value;
        if (info->takesValue) {
            if (i + 1 >= argc) throw BadOption(arg + " needs a value");
            value = argv[++i];
        }
        if (std::string(info->name) == "config")
            LoadConfigFile(options, value);
        else
            ApplyOption(options, info->name, value);
    }
    return true;
}

std::string DefaultName(const GatewayOptions& options) {
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    std::string port = options.simulate ? "simulated" : options.device;
    for (const char* prefix : {"/dev/", "rfc2217://", "tcp://"})
        if (port.starts_with(prefix)) port = port.substr(std::string(prefix).size());
    return TopicLevel(std::string(host) + "-" + port);
}

void Complete(GatewayOptions& options) {
    if (options.device.empty() && !options.simulate)
        throw BadOption("name the reader with --device, or use --simulate");
    if (!options.device.empty() && options.simulate)
        throw BadOption("--device and --simulate exclude each other");
    if (!options.fieldFile.empty() && !options.simulate)
        throw BadOption("--field goes with --simulate");
    if (options.cert.empty() != options.key.empty())
        throw BadOption("--cert and --key go together");
    if (!options.cert.empty() && options.cafile.empty()) throw BadOption("--cert needs --cafile");
    if (options.allowLocks && !options.allowWrites)
        throw BadOption("allow-locks needs allow-writes");
    if (options.name.empty()) options.name = DefaultName(options);
    if (options.name != TopicLevel(options.name) || options.name.empty())
        throw BadOption("--name takes letters, digits, _ and - only (one topic level, and an id "
                        "Home Assistant keeps)");
    if (options.topicBase.empty() || options.topicBase.find_first_of("+#") != std::string::npos)
        throw BadOption("--topic-base must not be empty or hold + or #");
    const std::string& prefix = options.discoveryPrefix;
    if (prefix.empty() || prefix.find_first_of("+#") != std::string::npos ||
        prefix.front() == '/' || prefix.back() == '/')
        throw BadOption("--discovery-prefix must be topic levels without + or # (such as "
                        "homeassistant)");
    if (options.port == 0) options.port = options.cafile.empty() ? 1883 : 8883;
    if (options.id.empty()) options.id = "qx4-mqtt-" + options.name;
}

std::string UsageText() {
    std::string text = "usage: qx4-mqtt [options]   (one reader, one broker connection)\n\n";
    for (const OptionInfo& option : kOptions) {
        std::string head = option.shortName ? std::string("-") + option.shortName + ", " : "    ";
        head += std::string("--") + option.name + (option.takesValue ? " V" : "");
        head.resize(std::max<size_t>(head.size() + 2, 26), ' ');
        text += "  " + head + option.help + "\n";
    }
    text += "      --help                this text\n      --version             the versions of "
            "qx4-mqtt and of the library\n";
    text += "\nTopics under BASE/NAME/: state, info, field, event, heartbeat, request/COMMAND -> "
            "response/COMMAND.\nRequests larger than 65536 bytes are refused.\n";
    return text;
}

} // namespace qx4mqtt
