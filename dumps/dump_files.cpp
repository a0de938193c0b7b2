#include "dump_files.h"

#include "dump_text.h"
#include "flipper_nfc.h"
#include "proxmark_json.h"
#include "qx4_json.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace qx4dump {

const char* FormatName(Format format) {
    switch (format) {
    case Format::Proxmark:
        return "proxmark";
    case Format::Flipper:
        return "flipper";
    default:
        return "qx4";
    }
}

std::optional<Format> FormatNamed(const std::string& name) {
    for (Format format : {Format::Qx4, Format::Proxmark, Format::Flipper})
        if (name == FormatName(format)) return format;
    return std::nullopt;
}

Format FormatForPath(const std::string& path) {
    auto endsWith = [&](std::string_view suffix) {
        if (path.size() <= suffix.size()) return false;
        for (size_t i = 0; i < suffix.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(path[path.size() - suffix.size() + i])) !=
                suffix[i])
                return false;
        return true;
    };
    if (endsWith(".nfc")) return Format::Flipper;
    if (endsWith(".pm3")) return Format::Proxmark;
    return Format::Qx4;
}

Format DetectFormat(const std::string& withBom, const std::string& where) {
    const std::string text(WithoutBom(withBom));
    const size_t start = text.find_first_not_of(" \t\r\n");
    if (start != std::string::npos && text[start] == '{')
        return LooksLikeProxmark(text) ? Format::Proxmark : Format::Qx4;
    if (LooksLikeFlipper(text)) return Format::Flipper;
    throw FormatError(where + ": not a dump this program reads (qx4 JSON, Proxmark3 JSON "
                              "\"15693 v4\"/\"v5\", Flipper NFC device file)");
}

std::vector<TagDump> ParseDump(const std::string& withBom, const std::string& where) {
    const std::string text(WithoutBom(withBom));
    switch (DetectFormat(text, where)) {
    case Format::Proxmark:
        return {ParseProxmarkJson(text, where)};
    case Format::Flipper:
        return {ParseFlipperNfc(text, where)};
    default:
        return ParseQx4Json(text, where);
    }
}

std::vector<TagDump> LoadDump(const std::string& path) {
    return ParseDump(ReadDumpFile(path), path == "-" ? "standard input" : path);
}

std::string WriteDump(const std::vector<TagDump>& tags, Format format) {
    if (format == Format::Qx4) return WriteQx4Json(tags);
    if (tags.size() != 1)
        throw FormatError(std::string("a ") + FormatName(format) + " file holds one tag, not " +
                          std::to_string(tags.size()));
    return format == Format::Proxmark ? WriteProxmarkJson(tags.front())
                                      : WriteFlipperNfc(tags.front());
}

void SaveDump(const std::string& path, const std::vector<TagDump>& tags, Format format) {
    const std::string text = WriteDump(tags, format);
    if (path == "-") {
        if (!(std::cout << text << std::flush))
            throw FormatError(std::string("cannot write standard output: ") + std::strerror(errno));
        return;
    }
    // A new file beside it, renamed over it once complete: a failed write (a full disk)
    // leaves the old file as it was.
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) throw FormatError("cannot write " + path + ": " + std::strerror(errno));
    struct stat old {};
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, ::stat(path.c_str(), &old) == 0 ? old.st_mode & 07777 : 0666 & ~mask);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    const int error = errno;
    if (::close(fd) != 0 || done < text.size() || ::rename(temp.c_str(), path.c_str()) != 0) {
        const int cause = done < text.size() ? error : errno;
        ::unlink(temp.c_str());
        throw FormatError("cannot write " + path + ": " + std::strerror(cause));
    }
}

void CheckWritable(const std::string& path) {
    if (path == "-") return;
    const bool existed = ::access(path.c_str(), F_OK) == 0;
    std::ofstream out(path, std::ios::binary | std::ios::app);
    if (!out) throw FormatError("cannot write " + path + ": " + std::strerror(errno));
    out.close();
    if (!existed) ::unlink(path.c_str());
}

} // namespace qx4dump
