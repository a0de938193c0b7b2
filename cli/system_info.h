// System information as lines and JSON fields.
#pragma once

#include "session.h"

namespace qx4cli {

void ShowSystemInfo(Session& s, const qx4dump::SystemInfo& info);

} // namespace qx4cli
