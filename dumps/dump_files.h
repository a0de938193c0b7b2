// Dump files of every supported format, told apart by their content.
#pragma once

#include "tag_dump.h"

namespace qx4dump {

enum class Format { Qx4, Proxmark, Flipper };

const char* FormatName(Format format); // "qx4", "proxmark", "flipper"
std::optional<Format> FormatNamed(const std::string& name);
// The format a file name suggests (".nfc": flipper), else qx4.
Format FormatForPath(const std::string& path);

// Detects the format by content; throws FormatError naming `where`.
Format DetectFormat(const std::string& text, const std::string& where);
std::vector<TagDump> ParseDump(const std::string& text, const std::string& where);
// "-" reads standard input. Throws FormatError (also when the file cannot be read).
std::vector<TagDump> LoadDump(const std::string& path);

std::string WriteDump(const std::vector<TagDump>& tags, Format format);
// "-" writes standard output. Throws FormatError when the file cannot be written.
void SaveDump(const std::string& path, const std::vector<TagDump>& tags, Format format);
// Fails early (FormatError) when `path` could not be written, before a tag is read.
void CheckWritable(const std::string& path);

} // namespace qx4dump
