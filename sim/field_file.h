// The simulated reader's field, loaded from and saved as tag dumps (any format the dump
// module reads; saved as our own JSON).
#pragma once

#include "tag.h"
#include "tag_dump.h"

#include <string>
#include <vector>

namespace qx4sim {

std::vector<Tag> TagsFromDumps(const std::vector<qx4dump::TagDump>& dumps);
std::vector<qx4dump::TagDump> DumpsFromTags(const std::vector<Tag>& tags);

// Throw qx4dump::FormatError (a std::runtime_error) with a sentence that names what is wrong.
std::vector<Tag> ParseField(const std::string& text);
std::vector<Tag> LoadField(const std::string& path);
std::string FieldToJson(const std::vector<Tag>& tags);
void SaveField(const std::string& path, const std::vector<Tag>& tags);

} // namespace qx4sim
