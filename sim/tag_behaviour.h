// Setting a tag's behaviour by name, as field files and the simulator's console do.
#pragma once

#include "tag.h"

#include <string>

namespace qx4sim {

// Keys: crcErrors, noAnswer, programErrors (a chance from 0 to 1), multiBlockRefusal
// (none, silent or an ISO error code such as 0x02), optionFlag (any, required, refused),
// partialWrites (true or false). Empty on success, else what is wrong.
std::string SetBehaviour(TagBehaviour& behaviour, const std::string& key, const std::string& value);
// The behaviour in the same words, for listing; empty for a perfect tag.
std::string BehaviourText(const TagBehaviour& behaviour);

} // namespace qx4sim
