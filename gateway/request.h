// A request message turned into one run of the qx4 command table: the command's
// arguments by name, the connection-free options, and the caller's transaction id.
#pragma once

#include "session.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx4mqtt {

// Larger payloads are answered with an error, never parsed.
constexpr size_t kMaxRequestBytes = 64 * 1024;

struct Policy {
    bool allowWrites = false;
    bool allowLocks = false;
    bool scanning = false; // the gateway's operation mode is not command mode
};

// What a command does to the reader or the tag.
enum class Access { Read, Write, Lock, NotServed };

struct Request {
    std::string command;
    std::vector<std::string> arguments; // positional, as qx4 takes them
    qx4cli::Options options;            // only the per-request fields are set
    nlohmann::json transaction;         // null when the request had none
};

struct Decoded {
    std::optional<Request> request;
    nlohmann::json refusal; // the response when the request is not run
};

// The JSON keys of a command's arguments, in order ("BLOCK [COUNT]" gives block, count).
std::vector<std::string> ArgumentKeys(const char* arguments);

Access AccessOf(const std::string& command, bool hasArguments);

// Never throws: every fault of the payload becomes a refusal.
Decoded DecodeRequest(std::string_view command, std::string_view payload, const Policy& policy);

} // namespace qx4mqtt
