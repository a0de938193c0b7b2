// The text of a dump file before any format looks at it: read with a bound, a BOM taken
// off, JSON parsed strictly, and what a file says quoted safely in messages.
#pragma once

#include "tag_dump.h"

#include <nlohmann/json.hpp>

namespace qx4dump {

// A dump of 256 blocks of 32 bytes is about 40 KB in any format: files beyond this are
// not dumps, and are refused before they are read.
inline constexpr size_t kLargestDumpFile = 1 << 20;

// A regular file (or "-", standard input) of at most kLargestDumpFile bytes; anything
// else throws FormatError before reading (a device, a directory, a huge sparse file).
std::string ReadDumpFile(const std::string& path);

// The text without a leading UTF-8 byte order mark.
std::string_view WithoutBom(std::string_view text);

// JSON whose objects hold each key once; throws FormatError naming `where` otherwise.
nlohmann::json ParseStrictJson(std::string_view text, const std::string& where);
nlohmann::ordered_json ParseStrictOrderedJson(std::string_view text, const std::string& where);

// A value from a file, as a message may show it: quoted, control characters escaped
// (nothing a terminal would act on), cut short when long.
std::string Quoted(std::string_view value);

// The JSON type of a value in words: "a number", "text", "a list", ...
std::string JsonTypeWords(const nlohmann::json& value);
std::string JsonTypeWords(const nlohmann::ordered_json& value);

} // namespace qx4dump
