// Flipper Zero NFC device files of ISO 15693 tags ("Device type: ISO15693-3", and the
// ISO 15693 part of "SLIX"): "Key: value" lines, '#' comments, keys in any order; the
// UID most significant byte first with blanks between bytes.
#pragma once

#include "tag_dump.h"

namespace qx4dump {

bool LooksLikeFlipper(const std::string& text);
// Throws FormatError naming `where`, the line or key, and what is wrong.
TagDump ParseFlipperNfc(const std::string& text, const std::string& where);
std::string WriteFlipperNfc(const TagDump& tag);

} // namespace qx4dump
