#include "request.h"

#include "run_command.h"
#include "tag_dump.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <set>

namespace qx4mqtt {
namespace {

// Commands that work on files or run until interrupted belong to qx4 alone; power-down
// would leave the gateway a reader that no longer answers it.
constexpr std::array kNotServed{"dump",  "restore",    "diff", "view",      "convert",
                                "watch", "completion", "demo", "power-down"};
// Change the reader or a tag even without arguments. quiet, select and reset change what
// a tag answers, auto-scan included, until it leaves the field.
constexpr std::array kWrites{
    "restart",        "carrier",          "led",         "buzzer",      "io-write",
    "eeprom-write",   "eeprom-init",      "param-write", "tag-data",    "write",
    "write2",         "write-bytes",      "write-afi",   "write-dsfid", "myd-write",
    "myd-write-byte", "myd-write-reread", "ndef-write",  "ndef-format", "ndef-erase",
    "quiet",          "select",           "reset"};
// Read with no arguments, set with them.
constexpr std::array kRegisters{"op-mode", "tag-mode", "uid-register", "afi-register"};
constexpr std::array kLocks{"lock", "lock2", "lock-afi", "lock-dsfid", "raw", "ndef-protect"};
// Tag writes and locks must name the tag they are meant for; so must raw frames, which
// may be either.
constexpr std::array kTagChanges{"write",       "write2",      "write-bytes",    "write-afi",
                                 "write-dsfid", "myd-write",   "myd-write-byte", "myd-write-reread",
                                 "lock",        "lock2",       "lock-afi",       "lock-dsfid",
                                 "ndef-write",  "ndef-format", "ndef-erase",     "ndef-protect",
                                 "raw"};
constexpr int kMaxDepth = 16;

template <size_t N> bool In(const std::array<const char*, N>& names, const std::string& name) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

// Deep nesting is refused before parsing: no request needs it.
bool TooDeep(std::string_view text) {
    int depth = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Unsigned first: every unsigned number is an integer too, and 2^64-1 read as signed is -1.
std::string ArgumentText(const std::string& key, const nlohmann::json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number_unsigned()) return std::to_string(value.get<unsigned long long>());
    if (value.is_number_integer()) return std::to_string(value.get<long long>());
    throw Refused("\"" + key + "\" must be a number or a string");
}

bool Flag(const std::string& key, const nlohmann::json& value) {
    if (!value.is_boolean()) throw Refused("\"" + key + "\" must be true or false");
    return value.get<bool>();
}

int Count(const std::string& key, const nlohmann::json& value, int low, int high) {
    const bool fits =
        value.is_number_unsigned()
            ? value.get<unsigned long long>() <= static_cast<unsigned long long>(high) &&
                  static_cast<long long>(value.get<unsigned long long>()) >= low
            : value.is_number_integer() && value.get<long long>() >= low &&
                  value.get<long long>() <= high;
    if (!fits)
        throw Refused("\"" + key + "\" must be a whole number from " + std::to_string(low) +
                      " to " + std::to_string(high));
    return static_cast<int>(value.get<long long>());
}

} // namespace

std::vector<std::string> ArgumentKeys(const char* arguments) {
    std::vector<std::string> keys;
    std::string word;
    const std::string text = std::string(arguments) + " ";
    for (char c : text) {
        if (c == '[' || c == ']') continue;
        if (c != ' ') {
            word += c;
            continue;
        }
        if (word.empty()) continue;
        // Alternatives of literal words ("on|off") are one value.
        if (word.find('|') != std::string::npos) word = "value";
        std::transform(word.begin(), word.end(), word.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
        keys.push_back(word);
        word.clear();
    }
    return keys;
}

Access AccessOf(const std::string& command, bool hasArguments) {
    if (In(kNotServed, command)) return Access::NotServed;
    if (In(kLocks, command)) return Access::Lock;
    if (In(kWrites, command)) return Access::Write;
    if (In(kRegisters, command) && hasArguments) return Access::Write;
    return Access::Read;
}

Decoded DecodeRequest(std::string_view command, std::string_view payload, const Policy& policy) {
    Decoded decoded;
    const std::string name(command);
    nlohmann::json body = nlohmann::json::object();
    auto refuse = [&](const std::string& text) {
        decoded.refusal = qx4cli::RefusalObject(name, text);
        if (body.is_object() && body.contains("transaction"))
            decoded.refusal["transaction"] = body["transaction"];
        return decoded;
    };
    if (payload.size() > kMaxRequestBytes)
        return refuse("request larger than " + std::to_string(kMaxRequestBytes) + " bytes");
    // What clearing a retained message sends: never a request.
    if (payload.empty()) return refuse("an empty message is not a request: send {}");
    if (TooDeep(payload)) return refuse("request nested too deeply");
    body = nlohmann::json::parse(payload, nullptr, false);
    if (body.is_discarded()) {
        body = nlohmann::json::object();
        return refuse("request is not valid JSON");
    }
    if (!body.is_object()) {
        body = nlohmann::json::object();
        return refuse("request must be a JSON object");
    }
    const qx4cli::CommandInfo* info = qx4cli::FindCommand(name);
    if (!info) return refuse("no command " + name + "; 'qx4 help' lists them");
    if (AccessOf(name, false) == Access::NotServed)
        return refuse(name + " is not served over MQTT: run qx4 " + name + " on the host");
    // While the reader scans, the first frame after the request is as likely a scan's.
    if (name == "simple-read" && policy.scanning)
        return refuse("simple-read is not served while the reader scans (--mode): its "
                      "answer could not be told from a scan's notification");
    try {
        Request request;
        request.command = name;
        const std::vector<std::string> keys = ArgumentKeys(info->arguments);
        std::set<std::string> known(keys.begin(), keys.end());
        for (const char* key :
             {"transaction", "uid", "option", "unaddressed", "blockSize", "blocks"})
            known.insert(key);
        // Locks take their confirmation in the request: the gateway never asks anyone.
        if (AccessOf(name, true) == Access::Lock) known.insert("confirm");
        if (name == "ndef-write") known.insert("records");
        for (const auto& [key, value] : body.items())
            if (!known.count(key)) throw Refused("unknown key \"" + key + "\" for " + name);
        bool gap = false;
        std::string missing;
        for (const std::string& key : keys) {
            if (!body.contains(key)) {
                if (!gap) missing = key;
                gap = true;
                continue;
            }
            if (gap) throw Refused("\"" + key + "\" given without \"" + missing + "\"");
            const nlohmann::json& value = body[key];
            // A word the usage writes in lower case (op-mode's "eeprom") is a flag.
            const bool literal = std::string(info->arguments).find(key) != std::string::npos;
            if (literal) {
                if (Flag(key, value))
                    request.arguments.push_back(key);
                else
                    gap = true, missing = key;
            } else {
                request.arguments.push_back(ArgumentText(key, value));
            }
        }
        if (body.contains("transaction")) request.transaction = body["transaction"];
        qx4cli::Options& options = request.options;
        if (body.contains("uid")) {
            const nlohmann::json& uid = body["uid"];
            if (!uid.is_string()) throw Refused("\"uid\" must be a string of 16 hex digits");
            const auto parsed = qx4dump::ParseUid(uid.get<std::string>());
            if (!parsed) throw Refused("\"uid\" must be 16 hex digits");
            options.uid = *parsed;
        }
        if (body.contains("option")) options.option = Flag("option", body["option"]);
        if (body.contains("unaddressed"))
            options.unaddressed = Flag("unaddressed", body["unaddressed"]);
        if (body.contains("blockSize"))
            options.blockSize = Count("blockSize", body["blockSize"], 1, 32);
        if (body.contains("blocks")) options.blockCount = Count("blocks", body["blocks"], 1, 256);
        // allow-writes has decided for writes (EEPROM, parameters); a lock needs "confirm".
        options.confirmed = body.contains("confirm") ? Flag("confirm", body["confirm"])
                                                     : AccessOf(name, true) == Access::Write;
        options.mayAsk = false;
        options.confirmWith = "\"confirm\":true in the request";
        if (body.contains("records")) {
            // As qx4ndef takes them, with "message" (hex) for raw records; never a file.
            const nlohmann::json& records = body["records"];
            if (!records.is_array() || records.empty())
                throw Refused("\"records\" must be a list of records");
            for (const auto& record : records)
                if (!record.is_object() || record.contains("dataFile") ||
                    record.contains("messageFile"))
                    throw Refused("each of \"records\" is an object: {\"uri\": ...}, "
                                  "{\"text\": ...}, {\"mime\": TYPE, \"data\": hex}, ...");
            options.ndefRecords = records;
        }

        if (name == "op-mode" && !request.arguments.empty())
            throw Refused("op-mode with arguments refused: the gateway holds the reader's "
                          "operation mode (its --mode and --scan-flags)");
        switch (AccessOf(name, !request.arguments.empty())) {
        case Access::NotServed:
        case Access::Read:
            break;
        case Access::Lock:
            if (!policy.allowLocks)
                throw Refused(name + " refused: this gateway does not allow locks (allow-locks)");
            if (name == "raw" && !policy.allowWrites)
                throw Refused("raw refused: this gateway does not allow writes (allow-writes)");
            break;
        case Access::Write:
            if (!policy.allowWrites)
                throw Refused(name + " refused: this gateway does not allow writes (allow-writes)");
            break;
        }
        if (In(kTagChanges, name) && !options.uid)
            throw Refused(name + " changes a tag: name it with \"uid\"");
        qx4cli::CheckUsage(*info, request.arguments, options);
        decoded.request = std::move(request);
    } catch (const Refused& error) {
        return refuse(error.what());
    } catch (const qx4cli::UsageError& error) {
        return refuse(error.what());
    }
    return decoded;
}

} // namespace qx4mqtt
