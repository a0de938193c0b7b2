// Who made a tag's chip: the ISO/IEC 7816-6 manufacturer code, the UID byte after E0.
#pragma once

#include "tag_dump.h"

#include <span>

namespace qx4dump {

// The maker's name, or nullptr for a code the table does not hold.
const char* ManufacturerName(uint8_t code);
// The maker a UID names: nullptr when the UID is no ISO 15693 one (E0 first) or the code
// is not in the table.
const char* ManufacturerOf(const Uid& uid);
// "NXP Semiconductors (0x04)", or "unknown (0x7F)".
std::string ManufacturerText(const Uid& uid);
// my-d vicinity chips come from the maker of code 0x05.
inline constexpr uint8_t kMydManufacturer = 0x05;

// The named fields of the system information's info flags.
struct InfoFlag {
    uint8_t bit;
    const char* name; // JSON key
    const char* text; // for people
};
std::span<const InfoFlag> InfoFlags();

} // namespace qx4dump
