// "COMn:" names to device paths.
#pragma once

#include <string>

namespace qx4::platform {

// QX4_COM<n> from the environment (read at every call), else COM1-32 ->
// /dev/ttyS0-31, COM33-64 -> /dev/ttyUSB0-31, COM65-96 -> /dev/ttyACM0-31.
// Empty for a name that maps to nothing.
std::string ResolvePortName(const std::string& comName);

} // namespace qx4::platform
