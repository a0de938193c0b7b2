// Why a port did not open, in the system's words (QX4GetOpenError), with a hint for the
// causes a user can mend.
#pragma once

#include <string>

namespace qx4cli {

// The device path COM<port> resolves to, as the library resolves it (for the message).
std::string DevicePathOf(int port);
// The library's reason for the last failed open, with a hint where one helps; `code`
// receives the system's error (0 for none).
std::string OpenCause(int& code);

} // namespace qx4cli
