#include "tag.h"

#include <algorithm>
#include <cstdio>

namespace qx4sim {
namespace {

constexpr size_t kMaxPayload = 254;

uint8_t Status(const Tag& tag, size_t block) {
    return tag.locked[block] ? 0x01 : 0x00;
}

bool BlocksExist(const Tag& tag, size_t first, size_t count) {
    return first + count <= tag.BlockCount();
}

TagAnswer ReadBlocks(const Tag& tag, size_t first, size_t count, bool withStatus) {
    if (!BlocksExist(tag, first, count)) return TagAnswer::Error(kIsoNoBlock);
    Bytes payload;
    for (size_t b = first; b < first + count; ++b) {
        if (withStatus) payload.push_back(Status(tag, b));
        auto at = tag.memory.begin() + static_cast<long>(b * tag.blockSize);
        payload.insert(payload.end(), at, at + tag.blockSize);
    }
    if (payload.size() > kMaxPayload) return TagAnswer::Nack(kNackDataCount);
    return TagAnswer::Ack(std::move(payload));
}

TagAnswer WriteBlocks(Tag& tag, size_t first, size_t count, const uint8_t* data) {
    if (!BlocksExist(tag, first, count)) return TagAnswer::Error(kIsoNoBlock);
    for (size_t b = first; b < first + count; ++b) {
        if (!tag.locked[b]) continue;
        if (tag.behaviour.partialWrites)
            std::copy_n(data, (b - first) * tag.blockSize,
                        tag.memory.begin() + static_cast<long>(first * tag.blockSize));
        return TagAnswer::Error(kIsoLocked);
    }
    std::copy_n(data, count * tag.blockSize,
                tag.memory.begin() + static_cast<long>(first * tag.blockSize));
    return TagAnswer::Ack();
}

TagAnswer LockBlocks(Tag& tag, size_t first, size_t count) {
    if (!BlocksExist(tag, first, count)) return TagAnswer::Error(kIsoNoBlock);
    for (size_t b = first; b < first + count; ++b)
        if (tag.locked[b]) return TagAnswer::Error(kIsoAlreadyLocked);
    for (size_t b = first; b < first + count; ++b)
        tag.locked[b] = true;
    return TagAnswer::Ack();
}

// Data carried between the parameters and the mode byte must be exactly `expected` bytes.
bool BodyIs(const TagRequest& request, size_t expected) {
    return request.body.size() == expected;
}

TagAnswer SystemInfo(const Tag& tag, const TagRequest& request) {
    if (request.option()) return TagAnswer::Error(kIsoOptionNotSupported);
    Bytes payload{tag.infoFlags};
    payload.insert(payload.end(), tag.uid.begin(), tag.uid.end());
    if (tag.infoFlags & 0x01) payload.push_back(tag.dsfid);
    if (tag.infoFlags & 0x02) payload.push_back(tag.afi);
    if (tag.infoFlags & 0x04) {
        payload.push_back(static_cast<uint8_t>(tag.BlockCount() - 1));
        payload.push_back(static_cast<uint8_t>((tag.blockSize - 1) & 0x1F));
    }
    if (tag.infoFlags & 0x08) payload.push_back(tag.icReference);
    return TagAnswer::Ack(std::move(payload));
}

TagAnswer Myd(Tag& tag, const TagRequest& request) {
    if (tag.type != TagType::Myd) return TagAnswer::Error(kIsoNotSupported);
    const Bytes& body = request.body;
    if (body.size() < 2 || body[1] != 0x00) return TagAnswer::Nack(kNackDataCount);
    const size_t block = body[0];
    switch (request.code) {
    case 0xB0:
        if (!BodyIs(request, 2)) return TagAnswer::Nack(kNackDataCount);
        return ReadBlocks(tag, block, 1, request.option());
    case 0xB1:
        if (!BodyIs(request, 2 + tag.blockSize)) return TagAnswer::Nack(kNackDataCount);
        return WriteBlocks(tag, block, 1, body.data() + 2);
    case 0xB2: { // byte1: offset in the block, byte2: the value
        if (!BodyIs(request, 4)) return TagAnswer::Nack(kNackDataCount);
        if (!BlocksExist(tag, block, 1) || body[2] >= tag.blockSize)
            return TagAnswer::Error(kIsoNoBlock);
        if (tag.locked[block]) return TagAnswer::Error(kIsoLocked);
        tag.memory[block * tag.blockSize + body[2]] = body[3];
        return TagAnswer::Ack();
    }
    default: { // 0xB3: write, then answer with the block read back
        if (!BodyIs(request, 2 + tag.blockSize)) return TagAnswer::Nack(kNackDataCount);
        TagAnswer written = WriteBlocks(tag, block, 1, body.data() + 2);
        if (!written.ok) return written;
        return ReadBlocks(tag, block, 1, request.option());
    }
    }
}

} // namespace

Tag Tag::Make(const Uid& uid, TagType type, unsigned blockSize, unsigned blockCount) {
    Tag tag;
    tag.uid = uid;
    tag.type = type;
    tag.blockSize = blockSize;
    tag.memory.assign(size_t(blockSize) * blockCount, 0);
    tag.locked.assign(blockCount, false);
    return tag;
}

std::string Tag::UidText() const {
    return qx4dump::UidText(uid);
}

Bytes Tag::TextData(size_t limit) const {
    const auto end = std::find(memory.begin(), memory.end(), 0);
    Bytes text(memory.begin(), end);
    if (text.size() > limit) text.resize(limit);
    return text;
}

std::optional<Uid> ParseUidText(const std::string& text) {
    return qx4dump::ParseUid(text);
}

TagAnswer Execute(Tag& tag, const TagRequest& request) {
    const Bytes& body = request.body;
    const size_t k = tag.blockSize;
    auto param = [&](size_t i) { return size_t{body[i]}; };
    if (!tag.answersMultiBlock && (request.code == 0x23 || request.code == 0x24))
        return TagAnswer::Error(kIsoNotSupported);
    if (!tag.answersSystemInfo && request.code == 0x2B) return TagAnswer::Error(kIsoNotSupported);
    switch (request.code) {
    case 0x20:
        if (!BodyIs(request, 1)) break;
        return ReadBlocks(tag, param(0), 1, request.option());
    case 0x21:
        if (!BodyIs(request, 1 + k)) break;
        return WriteBlocks(tag, param(0), 1, body.data() + 1);
    case 0x22:
        if (!BodyIs(request, 1)) break;
        return LockBlocks(tag, param(0), 1);
    case 0x23:
        if (!BodyIs(request, 2)) break;
        return ReadBlocks(tag, param(0), param(1) + 1, request.option());
    case 0x24:
        if (body.size() < 2 || !BodyIs(request, 2 + (param(1) + 1) * k)) break;
        return WriteBlocks(tag, param(0), param(1) + 1, body.data() + 2);
    case 0x2C: {
        if (!BodyIs(request, 2)) break;
        if (!BlocksExist(tag, param(0), param(1) + 1)) return TagAnswer::Error(kIsoNoBlock);
        Bytes payload;
        for (size_t b = param(0); b <= param(0) + param(1); ++b)
            payload.push_back(Status(tag, b));
        return TagAnswer::Ack(std::move(payload));
    }
    case 0xA0: { // byteCount + 1 bytes from the start of the block
        if (!BodyIs(request, 2)) break;
        const size_t start = param(0) * k, count = param(1) + 1;
        if (param(0) >= tag.BlockCount() || start + count > tag.memory.size())
            return TagAnswer::Error(kIsoNoBlock);
        return TagAnswer::Ack(Bytes(tag.memory.begin() + static_cast<long>(start),
                                    tag.memory.begin() + static_cast<long>(start + count)));
    }
    case 0xA1: {
        if (body.size() < 2 || !BodyIs(request, 2 + param(1))) break;
        const size_t start = param(0) * k, count = param(1);
        if (param(0) >= tag.BlockCount() || start + count > tag.memory.size())
            return TagAnswer::Error(kIsoNoBlock);
        for (size_t b = start / k; count && b <= (start + count - 1) / k; ++b)
            if (tag.locked[b]) return TagAnswer::Error(kIsoLocked);
        std::copy_n(body.begin() + 2, count, tag.memory.begin() + static_cast<long>(start));
        return TagAnswer::Ack();
    }
    case 0xA2:
        if (!BodyIs(request, 1 + 2 * k)) break;
        return WriteBlocks(tag, param(0), 2, body.data() + 1);
    case 0xA3:
        if (!BodyIs(request, 1)) break;
        return LockBlocks(tag, param(0), 2);
    case 0x27:
    case 0x29: {
        if (!BodyIs(request, 1)) break;
        const bool afi = request.code == 0x27;
        if (afi ? tag.afiLocked : tag.dsfidLocked) return TagAnswer::Error(kIsoLocked);
        (afi ? tag.afi : tag.dsfid) = body[0];
        return TagAnswer::Ack();
    }
    case 0x28:
    case 0x2A: {
        if (!BodyIs(request, 0)) break;
        bool& lock = request.code == 0x28 ? tag.afiLocked : tag.dsfidLocked;
        if (lock) return TagAnswer::Error(kIsoAlreadyLocked);
        lock = true;
        return TagAnswer::Ack();
    }
    case 0x2B:
        if (!BodyIs(request, 0)) break;
        return SystemInfo(tag, request);
    case 0xB0:
    case 0xB1:
    case 0xB2:
    case 0xB3:
        return Myd(tag, request);
    default:
        return TagAnswer::Error(kIsoNotSupported);
    }
    return TagAnswer::Nack(kNackDataCount);
}

} // namespace qx4sim
