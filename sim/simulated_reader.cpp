#include "simulated_reader.h"

#include <algorithm>
#include <cstdio>

namespace qx4sim {
namespace {

constexpr uint8_t kAutoScanMode = 0x01;
constexpr uint8_t kDataWithUidFlag = 0x20;
constexpr size_t kMaxNotificationText = 247; // 8 UID bytes + text within 255
constexpr uint8_t kIsoUidPrefix = 0xE0;
constexpr uint8_t kAfiFlag = 0x20; // of the inventory request flags

Bytes Ack(uint8_t code, const Bytes& payload = {}) {
    Bytes data{code};
    data.insert(data.end(), payload.begin(), payload.end());
    return EncodeFrame(kAck, data);
}
Bytes Nack(uint8_t code, uint8_t iso = 0) {
    return EncodeFrame(kNack, code == kNackTagError ? Bytes{code, iso} : Bytes{code});
}

Tag* FindTag(std::vector<Tag>& field, const Uid& uid) {
    auto it = std::find_if(field.begin(), field.end(), [&](const Tag& t) { return t.uid == uid; });
    return it == field.end() ? nullptr : &*it;
}

Tag* FirstAnswering(std::vector<Tag>& field) {
    auto it = std::find_if(field.begin(), field.end(),
                           [](const Tag& t) { return t.state != TagState::Quiet; });
    return it == field.end() ? nullptr : &*it;
}

Uid UidAt(const Bytes& data, size_t offset) {
    Uid uid;
    std::copy_n(data.begin() + static_cast<long>(offset), 8, uid.begin());
    return uid;
}

} // namespace

SimulatedReader::SimulatedReader(SimOptions options) : autoScanPeriodMs_(options.autoScanPeriodMs) {
    reader_.eepromFile = options.eepromFile;
    if (!options.romVersion.empty()) reader_.romVersion = options.romVersion;
    reader_.LoadEeprom();
    field_ = DefaultField();
    peer_.SetBaud(options.baud);
    peer_.SetReplyDelay(options.replyDelayMs);
    peer_.SetLog(options.log);
    peer_.SetResponder([this](const Bytes& request) { return Respond(request); });
    scanner_ = std::thread(&SimulatedReader::AutoScan, this);
}

SimulatedReader::~SimulatedReader() {
    {
        std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopSignal_.notify_all();
    scanner_.join();
    peer_.SetResponder(nullptr);
}

std::vector<Tag> SimulatedReader::DefaultField() {
    Tag first =
        Tag::Make({0x78, 0x56, 0x34, 0x12, 0x00, 0x01, 0x04, 0xE0}, TagType::Iso15693, 4, 28);
    first.icReference = 0x01;
    const std::string text = "QX4 tag one";
    std::copy(text.begin(), text.end(), first.memory.begin());
    Tag second =
        Tag::Make({0x21, 0x43, 0x65, 0x87, 0x01, 0x00, 0x07, 0xE0}, TagType::Iso15693, 8, 32);
    second.dsfid = 0x01;
    second.afi = 0x02;
    second.icReference = 0x02;
    Tag myd = Tag::Make({0x10, 0x32, 0x54, 0x76, 0x98, 0x10, 0x05, 0xE0}, TagType::Myd, 8, 16);
    myd.icReference = 0x03;
    return {first, second, myd};
}

void SimulatedReader::SetField(std::vector<Tag> tags) {
    std::lock_guard lock(mutex_);
    field_ = std::move(tags);
}

void SimulatedReader::AddTag(Tag tag) {
    std::lock_guard lock(mutex_);
    field_.push_back(std::move(tag));
}

bool SimulatedReader::RemoveTag(const Uid& uid) {
    std::lock_guard lock(mutex_);
    const auto before = field_.size();
    std::erase_if(field_, [&](const Tag& t) { return t.uid == uid; });
    return field_.size() != before;
}

std::vector<Tag> SimulatedReader::Field() const {
    std::lock_guard lock(mutex_);
    return field_;
}

ReaderRegisters SimulatedReader::Registers() const {
    std::lock_guard lock(mutex_);
    return reader_;
}

std::vector<Bytes> SimulatedReader::Respond(const Bytes& request) {
    const size_t n = request[3];
    if (Sum(request.data(), n) != request[n + 5]) return {Nack(kNackSum)};
    const Bytes data(request.begin() + 4, request.begin() + 4 + static_cast<long>(n));
    std::lock_guard lock(mutex_);
    switch (request[2]) {
    case 0x78:
        return {TagCommand(data)};
    case 0x52:
        return {SimpleRead()};
    case 0x42:
    case 0x4A:
    case 0x4E:
    case 0x4F: {
        ReaderAnswer answer = ExecuteReaderCommand(reader_, request[2], data);
        if (request[2] == 0x4A && answer.type == kAck) {
            // The reader writes the data into the tag in its field, from block 0.
            if (Tag* tag = reader_.carrier ? FirstAnswering(field_) : nullptr) {
                const size_t count = std::min(reader_.tagData.size(), tag->memory.size());
                std::copy_n(reader_.tagData.begin(), count, tag->memory.begin());
                if (count < tag->memory.size()) tag->memory[count] = 0;
            }
        }
        return {EncodeFrame(answer.type, answer.data)};
    }
    default:
        return {Nack(kNackIllegal)};
    }
}

Bytes SimulatedReader::SimpleRead() {
    Tag* tag = reader_.carrier ? FirstAnswering(field_) : nullptr;
    return tag ? Notification(*tag) : Nack(kNackNoTag);
}

Bytes SimulatedReader::Notification(const Tag& tag) const {
    if (reader_.flags & kDataWithUidFlag) {
        Bytes data(tag.uid.begin(), tag.uid.end());
        const Bytes text = tag.TextData(kMaxNotificationText);
        data.insert(data.end(), text.begin(), text.end());
        return EncodeFrame(kUidDataNotification, data);
    }
    const std::string text = tag.UidText();
    return EncodeFrame(kDataNotification, Bytes(text.begin(), text.end()));
}

Bytes SimulatedReader::TagCommand(const Bytes& data) {
    if (data.size() < 2) return Nack(kNackDataCount);
    const uint8_t code = data[0];
    if (!reader_.carrier || field_.empty()) return Nack(kNackNoTag);

    // Inventories and the state commands have layouts of their own.
    if (code == 0x01) {
        if (data.size() != 2) return Nack(kNackDataCount);
        // With the AFI flag, only tags of the reader's AFI answer (AFI 0 asks every tag).
        const bool byAfi = (data[1] & kAfiFlag) && reader_.afiRegister != 0;
        auto it = std::find_if(field_.begin(), field_.end(), [&](const Tag& t) {
            return t.state != TagState::Quiet && (!byAfi || t.afi == reader_.afiRegister);
        });
        Tag* tag = it == field_.end() ? nullptr : &*it;
        if (!tag) return Nack(kNackNoTag);
        Bytes payload{tag->dsfid};
        payload.insert(payload.end(), tag->uid.begin(), tag->uid.end());
        return Ack(code, payload);
    }
    if (code == 0xF0) {
        if (data.size() != 3) return Nack(kNackDataCount);
        reader_.uidList.clear();
        for (const Tag& tag : field_)
            if (tag.state != TagState::Quiet) reader_.uidList.push_back(tag.uid);
        if (reader_.uidList.empty()) return Nack(kNackNoTag);
        return Ack(code, {static_cast<uint8_t>(reader_.uidList.size())});
    }
    if (code == 0x02 || code == 0x25) {
        if (data.size() != 10) return Nack(kNackDataCount);
        Tag* tag = FindTag(field_, UidAt(data, 2));
        if (!tag) return Nack(kNackNoTag);
        if (code == 0x25)
            for (Tag& other : field_)
                if (other.state == TagState::Selected) other.state = TagState::Ready;
        tag->state = code == 0x02 ? TagState::Quiet : TagState::Selected;
        return Ack(code);
    }

    // Everything else: code, body, mode, and the UID when the designation is 1.
    TagRequest request{code, {}, data.back(), std::nullopt};
    const size_t n = data.size();
    // The mode byte is last, or followed by a UID. A UID of no tag in the field still
    // counts as one when it has the form of an ISO 15693 UID (E0 most significant).
    if (n >= 10 && (data[n - 9] & 0x03) == 0x01 &&
        (FindTag(field_, UidAt(data, n - 8)) || (data.back() & 0x03) == 0x01 ||
         data.back() == kIsoUidPrefix)) {
        request.mode = data[n - 9];
        request.uid = UidAt(data, n - 8);
        request.body.assign(data.begin() + 1, data.end() - 9);
    } else {
        request.body.assign(data.begin() + 1, data.end() - 1);
    }

    Tag* target = nullptr;
    switch (request.mode & 0x03) {
    case 0x01:
        target = FindTag(field_, *request.uid);
        break;
    case 0x02:
        target = FindTag(field_, reader_.uidRegister);
        break;
    case 0x03:
        for (Tag& tag : field_)
            if (tag.state == TagState::Selected) target = &tag;
        break;
    default:
        target = FirstAnswering(field_);
        break;
    }
    if (!target) return Nack(kNackNoTag);
    if (code == 0x26) {
        if (!request.body.empty()) return Nack(kNackDataCount);
        target->state = TagState::Ready;
        return Ack(code);
    }
    const TagAnswer answer = Execute(*target, request);
    if (!answer.ok) return Nack(answer.nackCode, answer.isoError);
    return Ack(code, answer.payload);
}

void SimulatedReader::AutoScan() {
    std::unique_lock stop(stopMutex_);
    while (!stopSignal_.wait_for(stop,
                                 std::chrono::milliseconds(std::max(1u, autoScanPeriodMs_.load())),
                                 [this] { return stopping_; })) {
        std::vector<Bytes> frames;
        {
            std::lock_guard lock(mutex_);
            if (reader_.mode != kAutoScanMode || !reader_.carrier) continue;
            for (const Tag& tag : field_)
                if (tag.state != TagState::Quiet) frames.push_back(Notification(tag));
        }
        for (const Bytes& frame : frames) {
            peer_.Send(frame);
            ++notificationsSent_;
        }
    }
}

} // namespace qx4sim
