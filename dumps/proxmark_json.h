// Proxmark3 client ISO 15693 dumps ("FileType": "15693 v4", and "15693 v5" on reading):
// {"Created": ..., "FileType": "15693 v4", "Card": {"uid": least significant byte first,
//  "dsfid", "dsfidlock", "afi", "afilock", "bytesperpage", "pagescount" (v5: two bytes,
//  little-endian), "ic", "locks" (a status byte per block), "random", "privacypasswd",
//  "state"}, "blocks": {"0": "51583420", ...}}; every value upper-case hex.
#pragma once

#include "tag_dump.h"

namespace qx4dump {

bool LooksLikeProxmark(const std::string& text);
// Throws FormatError naming `where` and the key.
TagDump ParseProxmarkJson(const std::string& text, const std::string& where);
// What the reader cannot read (random number, privacy password, state) is written as
// zeros.
std::string WriteProxmarkJson(const TagDump& tag);

} // namespace qx4dump
