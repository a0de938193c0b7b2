// One command run to its result object, for front ends that do not print: the JSON
// object `qx4 --json` prints, from the same table and handlers.
#pragma once

#include "command_table.h"

namespace qx4cli {

// Argument count and command options against the table; UsageError when they do not fit.
void CheckUsage(const CommandInfo& command, const std::vector<std::string>& arguments,
                const Options& options);

// The object of a run refused before it began (bad usage, a refusal).
nlohmann::json RefusalObject(const std::string& command, const std::string& message,
                             const char* usage = nullptr);

// Checks, runs and reports one command; *ok says whether it succeeded.
nlohmann::json RunForResult(const CommandInfo& command, const Options& options,
                            const std::vector<std::string>& arguments, bool* ok = nullptr);

} // namespace qx4cli
