// The shared shape of the 0x78 tag commands: request layout, UID designation, block copies.
#pragma once

#include "link/exchange.h"

#include <cstdint>
#include <span>

namespace qx4 {

enum class UidField {
    ByDesignation, // currentUid follows the mode byte when bits 0-1 are 1
    Always,        // the caller's UID follows the mode byte whatever the designation
    Never,         // inventories
};

struct TagRequest {
    uint8_t code;
    Bytes parameters;
    std::span<const uint8_t> data = {};
    int requestMode = 0;
    UidField uidField = UidField::ByDesignation;
    const uint8_t* uid = nullptr; // Always: the caller's bytes
    Bytes afterMode = {};         // the reader-side inventory's parameter
};

// The claim of an export that takes a UID: the caller's 8 bytes become currentUid.
CommandClaim BeginTagExport(const uint8_t* uid);

// Builds, sends and waits. True when the context's `frame` holds this request's ACK.
// A data field over 255 bytes is refused before anything is sent.
bool SendTagRequest(ReaderContext& context, const TagRequest& request);

// Block read data: the builders of block reads record whether replies carry status bytes.
inline void ExpectSecurityStatus(ReaderContext& context, int requestMode) {
    context.securityStatusExpected = (requestMode & kOptionFlag) ? 1 : 0;
}

// Copies `blocks` blocks of k bytes from frame[5] into out, each preceded by its
// status byte when withStatus. False, copying nothing, when the reply has another length.
bool CopyBlocks(const ReaderContext& context, unsigned char* out, size_t blocks, int k,
                bool withStatus);

// A data field sized by the block size k (1 to 32).
inline size_t BlockBytes(int k, size_t blocks) {
    return blocks * size_t(k);
}

// Whether a reply of `blocks` blocks of k bytes (and status bytes) fits one frame.
inline bool BlocksFitAReply(size_t blocks, int k, bool withStatus) {
    return blocks * (size_t(k) + (withStatus ? 1 : 0)) <= 254;
}

// An acknowledgement of a tag command that carries nothing but its echo.
inline bool EchoOnly(const ReaderContext& context) {
    return ReplyCarries(context, 0);
}

} // namespace qx4
