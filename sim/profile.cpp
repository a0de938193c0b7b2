#include "profile.h"

#include <cstdlib>

namespace qx4sim {

bool ApplyProfile(SimOptions& options, const std::string& name) {
    if (name == "default") {
        const SimOptions plain;
        const auto keep = options; // what is not a reader's or field's behaviour stays
        options = plain;
        options.baud = keep.baud;
        options.replyDelayMs = keep.replyDelayMs;
        options.log = keep.log;
        options.eepromFile = keep.eepromFile;
        options.autoScanPeriodMs = keep.autoScanPeriodMs;
        options.romVersion = keep.romVersion;
        options.seed = keep.seed;
        options.profile = name;
        return true;
    }
    if (name != "field") return false;
    // The link's own checks read words 0 to 19 only, so a small EEPROM still serves it.
    options.eepromWords = 64;
    options.eepromRefusal = 0x43;
    options.eepromReadMs = 3;
    options.eepromWriteMs = 6;
    options.airTime = true;
    options.collisions = true;
    options.crcErrors = 0.005;
    options.noAnswer = 0.001;
    options.tagPower = true;
    options.bootMs = 400;
    options.wakeFromPowerDown = true;
    options.strictValues = true;
    options.usb = true;
    options.paceAtLineRate = true;
    options.profile = name;
    return true;
}

std::string ProfileFromEnvironment() {
    const char* name = std::getenv(kProfileVariable);
    return name && *name ? name : "default";
}

} // namespace qx4sim
