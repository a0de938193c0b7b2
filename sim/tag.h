// A tag in the simulated reader's field, and the ISO 15693 / my-d commands it carries out.
#pragma once

#include "tag_dump.h"
#include "wire.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace qx4sim {

using Uid = qx4dump::Uid; // reply order: least significant byte first

enum class TagState { Ready, Quiet, Selected };
enum class TagType { Iso15693, Myd };

// How a tag at the edge of a real field behaves; the default is a perfect one.
struct TagBehaviour {
    enum class MultiBlock { Answers, Refuses, Silent }; // Read/Write Multiple Blocks
    enum class OptionFlag { Any, Required, Refused };   // on writes and locks
    // Chances per request; unset: the reader's setting for every tag.
    std::optional<double> crcErrors;     // the reply is garbled (the command was carried out)
    std::optional<double> noAnswer;      // the tag did not hear the request
    std::optional<double> programErrors; // a write or lock fails (ISO 0x13, 0x14)
    MultiBlock multiBlock = MultiBlock::Answers;
    uint8_t multiBlockError = 0x01; // the ISO error code of a refusal
    // Required: without the flag the tag programs, then waits for an EOF that never comes.
    OptionFlag optionFlag = OptionFlag::Any;
    bool partialWrites = false; // a multi-block write stops at a locked block, not before it
};

struct Tag {
    Uid uid{};
    TagType type = TagType::Iso15693;
    uint8_t dsfid = 0;
    uint8_t afi = 0;
    uint8_t icReference = 0;
    uint8_t infoFlags = 0x0F; // DSFID, AFI, memory size, IC reference
    unsigned blockSize = 4;
    Bytes memory; // block after block
    std::vector<bool> locked;
    bool afiLocked = false;
    bool dsfidLocked = false;
    TagState state = TagState::Ready;
    bool answersSystemInfo = true; // else: "command not supported"
    bool answersMultiBlock = true; // Read/Write Multiple Blocks; else "command not supported"
    TagBehaviour behaviour;

    static Tag Make(const Uid& uid, TagType type, unsigned blockSize, unsigned blockCount);
    size_t BlockCount() const { return blockSize ? memory.size() / blockSize : 0; }
    std::string UidText() const; // most significant byte first, as people write it
    // Memory as text up to its first zero byte, as the reader reports it in auto-scan.
    Bytes TextData(size_t limit) const;
};

std::optional<Uid> ParseUidText(const std::string& text);

// The outcome of a tag command: ACK payload (after the echoed code) or a NACK.
struct TagAnswer {
    bool ok = true;
    Bytes payload;        // ACK: bytes after the echoed code
    uint8_t nackCode = 0; // NACK code
    uint8_t isoError = 0; // with NACK 5
    static TagAnswer Ack(Bytes payload = {}) { return {true, std::move(payload), 0, 0}; }
    static TagAnswer Error(uint8_t iso) { return {false, {}, kNackTagError, iso}; }
    static TagAnswer Nack(uint8_t code) { return {false, {}, code, 0}; }
};

// A parsed 0x78 request: code, parameters and data before the mode byte, UID after it.
struct TagRequest {
    uint8_t code = 0;
    Bytes body; // parameters and data between the code and the mode byte
    uint8_t mode = 0;
    std::optional<Uid> uid;
    bool option() const { return mode & 0x10; }
};

// Carries out a block, AFI/DSFID, system-information or my-d command on one tag.
TagAnswer Execute(Tag& tag, const TagRequest& request);

} // namespace qx4sim
