// qx4 --simulate --state FILE: the simulated field kept across runs. Only our own JSON is
// read, and a file that is not one is left as it is; runs on one file take turns (a lock
// held from loading to saving); saving replaces the file in one rename.
#pragma once

#include "tag.h"

#include <optional>
#include <string>
#include <vector>

namespace qx4cli {

class StateFile {
  public:
    // Waits for the turn on `path` (a lock on "path.lock"); Refusal when it cannot lock.
    explicit StateFile(std::string path);
    ~StateFile();
    StateFile(const StateFile&) = delete;
    StateFile& operator=(const StateFile&) = delete;

    // The field kept in the file; nullopt when there is no file yet. Refusal (nothing
    // will be saved) when the file is not a field qx4 could have written.
    std::optional<std::vector<qx4sim::Tag>> Load();
    // Nothing after a refused Load.
    void Save(const std::vector<qx4sim::Tag>& field);

  private:
    std::string path_;
    int lock_ = -1;
    bool ours_ = false; // loaded, or absent: saving may replace it
};

} // namespace qx4cli
