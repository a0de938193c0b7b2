#include "state_file.h"

#include "dump_files.h"
#include "dump_text.h"
#include "field_file.h"
#include "qx4_json.h"
#include "session.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx4cli {

StateFile::StateFile(std::string path) : path_(std::move(path)) {
    const std::string lockPath = path_ + ".lock";
    lock_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lock_ < 0) throw Refusal("cannot lock " + lockPath + ": " + std::strerror(errno));
    while (::flock(lock_, LOCK_EX) != 0) {
        // Ctrl+C while waiting for another run ends this one.
        if (errno != EINTR || qx4dump::TagAccess::interrupted) {
            const int error = errno;
            ::close(lock_);
            lock_ = -1;
            throw Refusal("cannot lock " + lockPath + ": " + std::strerror(error));
        }
    }
}

StateFile::~StateFile() {
    if (lock_ >= 0) ::close(lock_); // releases the lock
}

std::optional<std::vector<qx4sim::Tag>> StateFile::Load() {
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0) {
        if (errno != ENOENT)
            throw Refusal("cannot read the state file " + path_ + ": " + std::strerror(errno));
        ours_ = true;
        return std::nullopt;
    }
    try {
        const std::string text = qx4dump::ReadDumpFile(path_);
        if (qx4dump::DetectFormat(text, path_) != qx4dump::Format::Qx4)
            throw qx4dump::FormatError(path_ + " is a dump of another program");
        auto field = qx4sim::TagsFromDumps(
            qx4dump::ParseQx4Json(std::string(qx4dump::WithoutBom(text)), path_));
        ours_ = true;
        return field;
    } catch (const qx4dump::FormatError& error) {
        throw Refusal(std::string(error.what()) +
                      ": not a state file qx4 wrote; it is left as it is (--field reads dumps)");
    }
}

void StateFile::Save(const std::vector<qx4sim::Tag>& field) {
    if (ours_) qx4sim::SaveField(path_, field);
}

} // namespace qx4cli
