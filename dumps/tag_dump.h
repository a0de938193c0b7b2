// A tag's memory as a dump: what qx4 writes and reads, what qx4sim loads into its field.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qx4dump {

using Bytes = std::vector<uint8_t>;
using Uid = std::array<uint8_t, 8>; // as the reader delivers it: least significant byte first

enum class TagType { Iso15693, Myd };

struct Block {
    Bytes data;
    bool locked = false;
};

struct TagDump {
    Uid uid{};
    TagType type = TagType::Iso15693;
    // nullopt: not known (the tag gave no system information, or its locks were not probed);
    // a restore or comparison leaves what is unknown alone.
    std::optional<uint8_t> dsfid = 0;
    std::optional<uint8_t> afi = 0;
    std::optional<bool> dsfidLocked = false;
    std::optional<bool> afiLocked = false;
    uint8_t icReference = 0;
    uint8_t infoFlags = 0x0F; // what the system information announced
    unsigned blockSize = 4;
    std::vector<Block> blocks;
    // Only for a simulated tag: it may answer neither system information nor multi-block
    // commands, as some tags do.
    bool answersSystemInfo = true;
    bool answersMultiBlock = true;
};

inline constexpr unsigned kLargestBlock = 32;
inline constexpr size_t kMostBlocks = 256;

// Most significant byte first, as people write UIDs: "E004010012345678".
std::string UidText(const Uid& uid);
// Exactly 16 hex digits, most significant byte first, one ':' or ' ' allowed between bytes.
std::optional<Uid> ParseUid(const std::string& text);

std::string ToHex(const uint8_t* bytes, size_t count, const char* separator = "");
inline std::string ToHex(const Bytes& bytes, const char* separator = "") {
    return ToHex(bytes.data(), bytes.size(), separator);
}
// Hex digits in pairs; nullopt on an odd count or another character.
std::optional<Bytes> FromHex(const std::string& text);

const char* TypeName(TagType type); // "iso15693", "my-d"

// The manufacturer code of an ISO 15693 UID (the byte after E0).
inline uint8_t Manufacturer(const Uid& uid) {
    return uid[6];
}
// my-d vicinity tags carry manufacturer code 0x05.
inline TagType TypeOfUid(const Uid& uid) {
    return Manufacturer(uid) == 0x05 ? TagType::Myd : TagType::Iso15693;
}

// A dump that cannot be used, with what is wrong and where (file, key or line).
struct FormatError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The facts of `dump` that are not known (AFI, DSFID, their locks), by the names the
// Flipper file gives them: "DSFID", "AFI", "Lock DSFID", "Lock AFI". Formats that cannot say
// "not known" write a default there and list these names beside it, so that reading the
// file back (and a restore from it) still knows them as unknown.
std::vector<std::string> UnknownFacts(const TagDump& dump);
// Forgets the facts named as UnknownFacts names them; false for a name it does not know.
bool ForgetFact(TagDump& dump, const std::string& name);

// Block size 1..32, 1..256 blocks, every block of that size; throws FormatError.
void CheckGeometry(const TagDump& dump, const std::string& where);

} // namespace qx4dump
