// Named combinations of the simulator's options: "default" (immediate and perfect) and
// "field" (a plausible real reader behind a USB-serial adapter, with a real field).
#pragma once

#include "simulated_reader.h"

#include <string>

namespace qx4sim {

inline constexpr const char* kProfileVariable = "QX4SIM_PROFILE";

// False for a name that is no profile; options stay as they were then.
bool ApplyProfile(SimOptions& options, const std::string& name);
// The profile QX4SIM_PROFILE names; "default" when it is unset or empty.
std::string ProfileFromEnvironment();

} // namespace qx4sim
