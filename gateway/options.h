// qx4-mqtt's settings: command-line options (broker options named as mosquitto_sub
// names them) and the same keys in a configuration file.
#pragma once

#include <stdexcept>
#include <string>

namespace qx4mqtt {

struct BadOption : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct GatewayOptions {
    // The reader.
    std::string device;
    bool simulate = false;
    std::string fieldFile;
    bool slow = false;
    int timeoutMs = 2000;
    int mode = 1;       // operation mode while the gateway runs: auto-scan
    int scanFlags = -1; // -1: the reader's own
    int leaveAfterMs = 1000;
    // The broker.
    std::string host = "localhost";
    int port = 0; // 0: 1883, or 8883 with TLS
    std::string username;
    std::string passwordFile;
    std::string cafile, cert, key;
    std::string id;
    int keepalive = 60;
    int protocol = 5; // 5 or 311
    // Topics and behaviour.
    std::string topicBase = "qx4";
    std::string name;
    int heartbeatSeconds = 30;
    size_t queueLimit = 10000;
    bool allowWrites = false;
    bool allowLocks = false;
    bool homeAssistant = false;
    bool readNdef = false; // an enter event carries the tag's NDEF records
    std::string discoveryPrefix = "homeassistant";
};

// Applies one setting by its long name without dashes ("host", "allow-writes").
// value is empty for a flag given on the command line.
void ApplyOption(GatewayOptions& options, const std::string& key, const std::string& value);
// "key value" or "key = value" lines; # starts a comment. Throws BadOption naming the line.
void LoadConfigFile(GatewayOptions& options, const std::string& path);
// Throws BadOption; returns false after printing help or the version.
bool ParseCommandLine(GatewayOptions& options, int argc, char** argv);
// Checks what only the whole set can tell; fills in the defaults that depend on others.
void Complete(GatewayOptions& options);
// A name usable as one topic level: host name and port.
std::string DefaultName(const GatewayOptions& options);
std::string UsageText();

} // namespace qx4mqtt
