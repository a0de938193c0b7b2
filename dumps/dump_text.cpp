#include "dump_text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qx4dump {
namespace {

std::string KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISFIFO(mode)) return "a pipe";
    return "not a regular file";
}

std::string TooLarge(const std::string& where) {
    return where + " is larger than " + std::to_string(kLargestDumpFile / 1024) +
           " KB: not a dump (a dump of 256 blocks of 32 bytes is about 40 KB)";
}

// Reads at most kLargestDumpFile bytes from fd; one more byte means the file is too large.
std::string ReadBounded(int fd, const std::string& where) {
    std::string text;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw FormatError("cannot read " + where + ": " + std::strerror(errno));
        if (n == 0) return text;
        if (text.size() + size_t(n) > kLargestDumpFile) throw FormatError(TooLarge(where));
        text.append(chunk, size_t(n));
    }
}

template <typename Json> Json Strict(std::string_view text, const std::string& where) {
    // One set of keys per open object: a key given twice would leave one of its values
    // unread, silently.
    std::vector<std::set<std::string>> open;
    std::string repeated;
    typename Json::parser_callback_t check = [&](int, typename Json::parse_event_t event,
                                                 Json& parsed) {
        using Event = typename Json::parse_event_t;
        if (event == Event::object_start) open.emplace_back();
        if (event == Event::object_end && !open.empty()) open.pop_back();
        if (event == Event::key && !open.empty() &&
            !open.back().insert(parsed.template get<std::string>()).second)
            throw FormatError(where + ": the key " + Quoted(parsed.template get<std::string>()) +
                              " appears twice in one object");
        return true;
    };
    try {
        return Json::parse(text.begin(), text.end(), check);
    } catch (const typename Json::exception& error) { // a syntax error, a number out of range
        std::string why = error.what();
        why = why.substr(why.find(']') + 2);
        // nlohmann quotes what it read last: escape it, as anything else from the file.
        std::string safe;
        for (char c : why)
            safe += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
        throw FormatError(where + ": not valid JSON (" + safe + ")");
    }
}

template <typename Json> std::string TypeWords(const Json& value) {
    if (value.is_null()) return "null";
    if (value.is_boolean()) return "true or false";
    if (value.is_number()) return "a number";
    if (value.is_string()) return "text";
    if (value.is_array()) return "a list";
    return "an object";
}

} // namespace

std::string ReadDumpFile(const std::string& path) {
    const bool standardInput = path == "-";
    const std::string where = standardInput ? "standard input" : path;
    // O_NONBLOCK: opening a FIFO must not wait for a writer before it is refused.
    const int fd =
        standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw FormatError("cannot read " + path + ": " + std::strerror(errno));
    struct Closer {
        int fd;
        bool own;
        ~Closer() {
            if (own) ::close(fd);
        }
    } closer{fd, !standardInput};
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throw FormatError("cannot read " + where + ": " + std::strerror(errno));
    if (standardInput) {
        // A pipe or a terminal is read up to the bound; a redirected file is checked first.
        if (S_ISREG(info.st_mode) && size_t(info.st_size) > kLargestDumpFile)
            throw FormatError(TooLarge(where));
        if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode) && !S_ISCHR(info.st_mode) &&
            !S_ISSOCK(info.st_mode))
            throw FormatError(where + " is " + KindOf(info.st_mode) + ", not a dump file");
        if (S_ISCHR(info.st_mode) && !::isatty(fd))
            throw FormatError(where + " is " + KindOf(info.st_mode) + ", not a dump file");
        return ReadBounded(fd, where);
    }
    if (!S_ISREG(info.st_mode))
        throw FormatError(where + " is " + KindOf(info.st_mode) + ", not a dump file");
    if (size_t(info.st_size) > kLargestDumpFile) throw FormatError(TooLarge(where));
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return ReadBounded(fd, where);
}

std::string_view WithoutBom(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    return text;
}

nlohmann::json ParseStrictJson(std::string_view text, const std::string& where) {
    return Strict<nlohmann::json>(text, where);
}

nlohmann::ordered_json ParseStrictOrderedJson(std::string_view text, const std::string& where) {
    return Strict<nlohmann::ordered_json>(text, where);
}

std::string Quoted(std::string_view value) {
    constexpr size_t kLongest = 40;
    std::string out = "\"";
    size_t shown = 0;
    for (size_t i = 0; i < value.size(); ++i, ++shown) {
        if (shown == kLongest) {
            out += "...";
            break;
        }
        const auto c = static_cast<unsigned char>(value[i]);
        // C1 controls (U+0080..U+009F, C2 80..C2 9F in UTF-8) act on terminals too.
        const bool c1 = c == 0xC2 && i + 1 < value.size() &&
                        static_cast<unsigned char>(value[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(value[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c == '"' || c == '\\' || c1) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c1 ? value[++i] & 0xFF : c);
            out += c == '"' ? "\\\"" : c == '\\' ? "\\\\" : escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonTypeWords(const nlohmann::json& value) {
    return TypeWords(value);
}

std::string JsonTypeWords(const nlohmann::ordered_json& value) {
    return TypeWords(value);
}

} // namespace qx4dump
