#include "simulated_reader.h"

#include "air_time.h"
#include "profile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>
#include <stdexcept>

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

SimOptions WithProfile(SimOptions options) {
    if (!options.profile) {
        const std::string name = ProfileFromEnvironment();
        if (!ApplyProfile(options, name))
            throw std::invalid_argument(std::string(kProfileVariable) + " names no profile: \"" +
                                        name + "\" (default, field)");
    }
    return options;
}

// Blocks a tag programs for a command: writes and locks.
size_t ProgrammedBlocks(const TagRequest& request, size_t blockSize) {
    const Bytes& body = request.body;
    switch (request.code) {
    case 0x21:
    case 0x22:
    case 0x27:
    case 0x28:
    case 0x29:
    case 0x2A:
    case 0xB1:
    case 0xB2:
    case 0xB3:
        return 1;
    case 0x24:
        return body.size() >= 2 ? body[1] + 1u : 1;
    case 0xA1:
        return body.size() >= 2 && blockSize ? (body[1] + blockSize - 1) / blockSize : 1;
    case 0xA2:
    case 0xA3:
        return 2;
    default:
        return 0;
    }
}

bool IsLock(uint8_t code) {
    return code == 0x22 || code == 0xA3 || code == 0x28 || code == 0x2A;
}

uint64_t UidValue(const Uid& uid) {
    uint64_t value = 0;
    for (size_t i = 0; i < uid.size(); ++i)
        value |= uint64_t{uid[i]} << (8 * i);
    return value;
}

constexpr size_t kFlagsAndCode = 2;
constexpr size_t kUidBytes = 8;
constexpr size_t kErrorReplyBytes = 2 + air::kCrcBytes; // flags, error code
constexpr unsigned kMostRounds = 64;                    // of the reader's anticollision
constexpr uint8_t kOneSlot = 0x40;                      // of the inventory request flags

} // namespace

SimulatedReader::SimulatedReader(SimOptions options)
    : options_(WithProfile(std::move(options))), random_(options_.seed),
      autoScanPeriodMs_(options_.autoScanPeriodMs) {
    options = options_;
    reader_.eepromFile = options.eepromFile;
    reader_.eepromWords =
        std::clamp<size_t>(options.eepromWords, 20, ReaderRegisters::kEepromBytes / 2);
    // A smaller EEPROM refuses what it lacks, by default as a reader does a wrong value.
    reader_.eepromRefusal = options.eepromRefusal >= 0 || reader_.eepromWords == 256
                                ? options.eepromRefusal
                                : kNackIdValue;
    reader_.strictValues = options.strictValues;
    if (!options.romVersion.empty()) reader_.romVersion = options.romVersion;
    reader_.LoadEeprom();
    field_ = DefaultField();
    peer_.SetBaud(options.baud);
    peer_.SetReplyDelay(options.replyDelayMs);
    peer_.SetLog(options.log);
    peer_.SetPaceAtLineRate(options.paceAtLineRate);
    peer_.SetUsbDelivery(options.usb);
    peer_.SetTimedResponder([this](const Bytes& request) { return Answer(request); });
    scanner_ = std::thread(&SimulatedReader::AutoScan, this);
}

SimulatedReader::~SimulatedReader() {
    {
        std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopSignal_.notify_all();
    scanner_.join();
    peer_.SetTimedResponder(nullptr);
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
    if (options_.tagPower) tag.state = TagState::Ready; // it powers up as it enters
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
    return Answer(request).pieces;
}

Reply SimulatedReader::Answer(const Bytes& request) {
    const size_t n = request[3];
    if (Sum(request.data(), n) != request[n + 5]) return {{Nack(kNackSum)}};
    const Bytes data(request.begin() + 4, request.begin() + 4 + static_cast<long>(n));
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (now < bootUntil_) return {}; // still starting: nobody reads the line
    if (options_.wakeFromPowerDown && reader_.powerDown) {
        reader_.powerDown = 0; // this request only woke it
        return {};
    }
    switch (request[2]) {
    case 0x78: {
        const TagReply reply = TagCommand(data);
        Reply answer{{reply.frame}};
        if (options_.airTime) answer.delayUs = reply.airUs;
        return answer;
    }
    case 0x52:
        return {{SimpleRead()}};
    case 0x42:
    case 0x4A:
    case 0x4E:
    case 0x4F: {
        const bool carrier = reader_.carrier;
        ReaderAnswer answer = ExecuteReaderCommand(reader_, request[2], data);
        if (request[2] == 0x4A && answer.type == kAck) {
            // The reader writes the data into the tag in its field, from block 0.
            if (Tag* tag = reader_.carrier ? FirstAnswering(field_) : nullptr) {
                const size_t count = std::min(reader_.tagData.size(), tag->memory.size());
                std::copy_n(reader_.tagData.begin(), count, tag->memory.begin());
                if (count < tag->memory.size()) tag->memory[count] = 0;
            }
        }
        if (answer.type == 0) return {}; // a refusal by silence
        const bool restart = request[2] == 0x4E && data[0] == 0x9D && answer.type == kAck;
        const bool powerDown = request[2] == 0x4E && data[0] == 0x52 && answer.type == kAck;
        if (options_.tagPower && (restart || powerDown || carrier != reader_.carrier)) PowerLost();
        if (restart && options_.bootMs)
            bootUntil_ = now + std::chrono::milliseconds(options_.bootMs);
        Reply reply{{EncodeFrame(answer.type, answer.data)}};
        if (answer.type == kAck) reply.delayMs = ReaderCommandMs(request[2], data);
        return reply;
    }
    default:
        return {{Nack(kNackIllegal)}};
    }
}

unsigned SimulatedReader::ReaderCommandMs(uint8_t command, const Bytes& data) const {
    if (data.empty()) return 0;
    if (command == 0x4F && data[0] == 0x70) return options_.eepromReadMs;
    if (command != 0x4E) return 0;
    switch (data[0]) {
    case 0x70:
        return data.size() >= 3 ? data[2] * options_.eepromWriteMs : 0;
    case 0x71:
        return static_cast<unsigned>(reader_.eepromWords) * options_.eepromWriteMs;
    case 0x10:
        return 3 * options_.eepromWriteMs; // the modes' words
    case 0x19:
        return options_.eepromWriteMs;
    default:
        return 0;
    }
}

void SimulatedReader::PowerLost() {
    for (Tag& tag : field_)
        tag.state = TagState::Ready;
}

bool SimulatedReader::Roll(double chance) {
    return chance > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < chance;
}

bool SimulatedReader::Hears(const Tag& tag) {
    return !Roll(tag.behaviour.noAnswer.value_or(options_.noAnswer));
}

bool SimulatedReader::Garbles(const Tag& tag) {
    return Roll(tag.behaviour.crcErrors.value_or(options_.crcErrors));
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

SimulatedReader::TagReply SimulatedReader::TagCommand(const Bytes& data) {
    if (data.size() < 2) return {Nack(kNackDataCount)};
    const uint8_t code = data[0];
    if (!reader_.carrier || field_.empty())
        return {Nack(kNackNoTag), air::NoAnswer(data.size() + air::kCrcBytes, false)};

    // Inventories and the state commands have layouts of their own.
    if (code == 0x01) return Inventory(data);
    if (code == 0xF0) {
        if (data.size() != 3) return {Nack(kNackDataCount)};
        return ReaderInventory();
    }
    if (code == 0x02 || code == 0x25) {
        if (data.size() != 10) return {Nack(kNackDataCount)};
        const size_t onAir = kFlagsAndCode + kUidBytes + air::kCrcBytes;
        Tag* tag = FindTag(field_, UidAt(data, 2));
        if (!tag || !Hears(*tag)) return {Nack(kNackNoTag), air::NoAnswer(onAir, false)};
        if (code == 0x25)
            for (Tag& other : field_)
                if (other.state == TagState::Selected) other.state = TagState::Ready;
        tag->state = code == 0x02 ? TagState::Quiet : TagState::Selected;
        if (code == 0x02) return {Ack(code), air::RequestOnly(onAir)}; // a tag never answers it
        const unsigned airUs = air::Exchange(onAir, 1 + air::kCrcBytes);
        return {Garbles(*tag) ? Nack(kNackCrc) : Ack(code), airUs};
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
    // On the air: flags, code, the UID of addressed requests (also one from the UID
    // register), the parameters and data, CRC.
    const bool uidOnAir = (request.mode & 0x03) == 0x01 || (request.mode & 0x03) == 0x02;
    const size_t onAir =
        kFlagsAndCode + (uidOnAir ? kUidBytes : 0) + request.body.size() + air::kCrcBytes;

    std::vector<Tag*> targets;
    switch (request.mode & 0x03) {
    case 0x01:
        if (Tag* tag = FindTag(field_, *request.uid)) targets.push_back(tag);
        break;
    case 0x02:
        if (Tag* tag = FindTag(field_, reader_.uidRegister)) targets.push_back(tag);
        break;
    case 0x03:
        for (Tag& tag : field_)
            if (tag.state == TagState::Selected) targets.push_back(&tag);
        break;
    default:
        // Every tag that is not quiet carries out an unaddressed request.
        for (Tag& tag : field_)
            if (tag.state != TagState::Quiet && (targets.empty() || options_.collisions))
                targets.push_back(&tag);
        break;
    }
    if (targets.size() <= 1 || !options_.collisions) {
        if (targets.empty()) return {Nack(kNackNoTag), air::NoAnswer(onAir, false)};
        return Serve(*targets.back(), request, onAir);
    }
    // Several carry it out and answer at once: the reader makes nothing of the replies.
    std::vector<Tag*> heard;
    for (Tag* tag : targets)
        if (Hears(*tag)) heard.push_back(tag);
    if (heard.empty()) return {Nack(kNackNoTag), air::NoAnswer(onAir, false)};
    if (heard.size() == 1) return Serve(*heard.front(), request, onAir, false);
    unsigned airUs = 0;
    for (Tag* tag : heard) {
        const TagReply served = Serve(*tag, request, onAir, false);
        // A request the reader cannot frame never reaches the air.
        if (served.frame == Nack(kNackDataCount)) return served;
        airUs = std::max(airUs, served.airUs);
    }
    return {Nack(kNackReceive), airUs};
}

SimulatedReader::TagReply SimulatedReader::Serve(Tag& tag, const TagRequest& request, size_t onAir,
                                                 bool mayNotHear) {
    const uint8_t code = request.code;
    const size_t programmed = ProgrammedBlocks(request, tag.blockSize);
    const unsigned programmingUs = static_cast<unsigned>(programmed) * air::kProgramUsPerBlock;
    const TagReply silence{Nack(kNackNoTag), air::NoAnswer(onAir, programmed > 0)};
    auto error = [&](uint8_t iso, unsigned programUs = 0) {
        return TagReply{Nack(kNackTagError, iso),
                        air::Exchange(onAir, kErrorReplyBytes, programUs)};
    };
    if (mayNotHear && !Hears(tag)) return silence;
    const TagBehaviour& behaviour = tag.behaviour;
    if ((code == 0x23 || code == 0x24) && behaviour.multiBlock != TagBehaviour::MultiBlock::Answers)
        return behaviour.multiBlock == TagBehaviour::MultiBlock::Silent
                   ? silence
                   : error(behaviour.multiBlockError);
    if (code == 0x26) {
        if (!request.body.empty()) return {Nack(kNackDataCount)};
        tag.state = TagState::Ready;
        return {Garbles(tag) ? Nack(kNackCrc) : Ack(code),
                air::Exchange(onAir, 1 + air::kCrcBytes)};
    }
    bool answersLate = false;
    if (programmed) {
        if (behaviour.optionFlag == TagBehaviour::OptionFlag::Refused && request.option())
            return error(kIsoOptionNotSupported);
        answersLate =
            behaviour.optionFlag == TagBehaviour::OptionFlag::Required && !request.option();
        if (Roll(behaviour.programErrors.value_or(options_.programErrors)))
            return error(IsLock(code) ? kIsoNotLocked : kIsoNotProgrammed, programmingUs);
    }
    const TagAnswer answer = Execute(tag, request);
    if (answersLate) return silence; // it programmed, then waited for an EOF in vain
    const size_t replyBytes =
        answer.ok ? 1 + answer.payload.size() + air::kCrcBytes : kErrorReplyBytes;
    const unsigned airUs = air::Exchange(onAir, replyBytes, answer.ok ? programmingUs : 0);
    if (!answer.ok && answer.nackCode != kNackTagError) return {Nack(answer.nackCode), airUs};
    if (Garbles(tag)) return {Nack(kNackCrc), airUs}; // carried out, but the reply is lost
    if (!answer.ok) return {Nack(answer.nackCode, answer.isoError), airUs};
    return {Ack(code, answer.payload), airUs};
}

SimulatedReader::TagReply SimulatedReader::Inventory(const Bytes& data) {
    if (data.size() != 2) return {Nack(kNackDataCount)};
    const uint8_t code = data[0];
    const bool oneSlot = data[1] & kOneSlot;
    const size_t slots = oneSlot ? 1 : 16;
    // With the AFI flag, only tags of the reader's AFI answer (AFI 0 asks every tag).
    const bool byAfi = (data[1] & kAfiFlag) && reader_.afiRegister != 0;
    std::array<std::vector<Tag*>, 16> bySlot;
    for (Tag& tag : field_) {
        if (tag.state == TagState::Quiet || (byAfi && tag.afi != reader_.afiRegister)) continue;
        if (!options_.collisions) { // the perfect field: the first one answers alone
            bySlot[0].push_back(&tag);
            break;
        }
        if (Hears(tag)) bySlot[oneSlot ? 0 : tag.uid[0] & 0x0F].push_back(&tag);
    }
    size_t answered = 0;
    for (const auto& slot : bySlot)
        answered += !slot.empty();
    const unsigned airUs = air::Inventory(slots, answered);
    bool collided = false, garbled = false;
    for (const auto& slot : bySlot) {
        if (slot.size() > 1) collided = true;
        if (slot.size() != 1) continue;
        if (Garbles(*slot.front())) {
            garbled = true;
            continue;
        }
        const Tag& tag = *slot.front();
        Bytes payload{tag.dsfid};
        payload.insert(payload.end(), tag.uid.begin(), tag.uid.end());
        return {Ack(code, payload), airUs};
    }
    return {Nack(collided ? kNackReceive : garbled ? kNackCrc : kNackNoTag), airUs};
}

SimulatedReader::TagReply SimulatedReader::ReaderInventory() {
    const uint8_t code = 0xF0;
    reader_.uidList.clear();
    std::vector<Tag*> candidates;
    for (Tag& tag : field_)
        if (tag.state != TagState::Quiet) candidates.push_back(&tag);
    if (!options_.collisions) {
        for (Tag* tag : candidates)
            reader_.uidList.push_back(tag->uid);
        const unsigned airUs = air::Inventory(16, std::min<size_t>(candidates.size(), 16));
        if (reader_.uidList.empty()) return {Nack(kNackNoTag), airUs};
        return {Ack(code, {static_cast<uint8_t>(reader_.uidList.size())}), airUs};
    }
    // 16 slots by the UID's lowest digit; a slot where several answered is asked again
    // with that digit as the mask, by the next digit, until each answers alone.
    std::deque<std::pair<uint64_t, unsigned>> masks{{0, 0}}; // mask, digits in it
    unsigned airUs = 0, rounds = 0;
    bool garbled = false;
    while (!masks.empty() && rounds++ < kMostRounds) {
        const auto [mask, digits] = masks.front();
        masks.pop_front();
        std::array<std::vector<Tag*>, 16> bySlot;
        for (Tag* tag : candidates) {
            const uint64_t value = UidValue(tag->uid);
            const uint64_t low = digits ? value & ((uint64_t{1} << (4 * digits)) - 1) : 0;
            if (low != mask ||
                std::find(reader_.uidList.begin(), reader_.uidList.end(), tag->uid) !=
                    reader_.uidList.end() ||
                !Hears(*tag))
                continue;
            bySlot[(value >> (4 * digits)) & 0x0F].push_back(tag);
        }
        size_t answered = 0;
        for (size_t slot = 0; slot < bySlot.size(); ++slot) {
            if (bySlot[slot].empty()) continue;
            ++answered;
            const bool alone = bySlot[slot].size() == 1;
            if (alone && !Garbles(*bySlot[slot].front())) {
                reader_.uidList.push_back(bySlot[slot].front()->uid);
                continue;
            }
            garbled = true;
            if (digits < 15) masks.emplace_back(mask | uint64_t{slot} << (4 * digits), digits + 1);
        }
        airUs += air::Inventory(16, answered);
    }
    if (reader_.uidList.empty()) return {Nack(garbled ? kNackReceive : kNackNoTag), airUs};
    return {Ack(code, {static_cast<uint8_t>(reader_.uidList.size())}), airUs};
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
