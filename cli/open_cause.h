// Why a device did not open, in the system's words: the library says only that it failed.
#pragma once

#include <string>

namespace qx4cli {

// The device path COM<port> resolves to, as the library resolves it.
std::string DevicePathOf(int port);
// The reason a serial device cannot be used ("permission denied: ..."), found by trying
// it the way the library does; empty when it would open now.
std::string OpenCause(const std::string& path);

} // namespace qx4cli
