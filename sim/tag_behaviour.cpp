#include "tag_behaviour.h"

#include <cstdio>
#include <cstdlib>

namespace qx4sim {
namespace {

std::optional<double> Chance(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !(value >= 0 && value <= 1)) return std::nullopt;
    return value;
}

std::string Percent(double chance) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", chance);
    return text;
}

} // namespace

std::string SetBehaviour(TagBehaviour& behaviour, const std::string& key,
                         const std::string& value) {
    if (key == "crcErrors" || key == "noAnswer" || key == "programErrors") {
        const auto chance = Chance(value);
        if (!chance) return key + " takes a chance from 0 to 1, not \"" + value + "\"";
        (key == "crcErrors"  ? behaviour.crcErrors
         : key == "noAnswer" ? behaviour.noAnswer
                             : behaviour.programErrors) = chance;
    } else if (key == "multiBlockRefusal") {
        if (value == "none") {
            behaviour.multiBlock = TagBehaviour::MultiBlock::Answers;
        } else if (value == "silent") {
            behaviour.multiBlock = TagBehaviour::MultiBlock::Silent;
        } else {
            char* end = nullptr;
            const long code = std::strtol(value.c_str(), &end, 16);
            if (value.empty() || *end || code < 1 || code > 0xFF)
                return "multiBlockRefusal takes none, silent or an ISO error code such as 0x02, "
                       "not \"" +
                       value + "\"";
            behaviour.multiBlock = TagBehaviour::MultiBlock::Refuses;
            behaviour.multiBlockError = static_cast<uint8_t>(code);
        }
    } else if (key == "optionFlag") {
        if (value == "any")
            behaviour.optionFlag = TagBehaviour::OptionFlag::Any;
        else if (value == "required")
            behaviour.optionFlag = TagBehaviour::OptionFlag::Required;
        else if (value == "refused")
            behaviour.optionFlag = TagBehaviour::OptionFlag::Refused;
        else
            return "optionFlag takes any, required or refused, not \"" + value + "\"";
    } else if (key == "partialWrites") {
        if (value != "true" && value != "false")
            return "partialWrites takes true or false, not \"" + value + "\"";
        behaviour.partialWrites = value == "true";
    } else {
        return "no behaviour " + key +
               " (crcErrors, noAnswer, programErrors, multiBlockRefusal, optionFlag, "
               "partialWrites)";
    }
    return {};
}

std::string BehaviourText(const TagBehaviour& b) {
    std::string text;
    auto add = [&](const std::string& part) { text += (text.empty() ? "" : " ") + part; };
    if (b.crcErrors) add("crcErrors " + Percent(*b.crcErrors));
    if (b.noAnswer) add("noAnswer " + Percent(*b.noAnswer));
    if (b.programErrors) add("programErrors " + Percent(*b.programErrors));
    if (b.multiBlock == TagBehaviour::MultiBlock::Silent) add("multiBlockRefusal silent");
    if (b.multiBlock == TagBehaviour::MultiBlock::Refuses) {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", b.multiBlockError);
        add(std::string("multiBlockRefusal ") + code);
    }
    if (b.optionFlag == TagBehaviour::OptionFlag::Required) add("optionFlag required");
    if (b.optionFlag == TagBehaviour::OptionFlag::Refused) add("optionFlag refused");
    if (b.partialWrites) add("partialWrites true");
    return text;
}

} // namespace qx4sim
