#include "link_observer.h"

#include "qx4drv.h"

#include <array>

namespace qx4dump {
namespace {

LinkObserver* observer = nullptr;

void Forward(int direction, const unsigned char* bytes, unsigned count, void*) {
    if (observer) observer->OnFrame(direction, bytes, count);
}

struct CodeText {
    int code;
    const char* text;
};
constexpr std::array kNackTexts{
    CodeText{0x01, "CRC error in the tag's reply"},
    CodeText{0x02, "the reader's command time-over"},
    CodeText{0x03, "error receiving the tag's data"},
    CodeText{0x04, "no tag answered"},
    CodeText{0x41, "wrong number of data bytes in the command"},
    CodeText{0x42, "wrong sum byte in the command"},
    CodeText{0x43, "wrong ID value in the command"},
    CodeText{0x44, "illegal command"},
};

constexpr uint8_t kAck = 0x30, kNack = 0x31;

struct Action {
    const char* function;
    const char* words;
};
constexpr std::array kActions{
    Action{"QX4Resync", "bringing the link in step"},
    Action{"QX4GetROMVersion", "reading the ROM version"},
    Action{"QX4GetModelNameComad", "reading the model name"},
    Action{"QX4ReStartComand", "restarting the reader"},
    Action{"QX4SetTxOnOff", "switching the carrier"},
    Action{"QX4SetPowerDown", "powering the reader down"},
    Action{"QX4GetPowerDown", "reading the power-down state"},
    Action{"QX4GetErrorStatus", "reading the error status"},
    Action{"QX4SetLEDCont", "setting the LEDs"},
    Action{"QX4BuzOn", "sounding the buzzer"},
    Action{"QX4ReadIOPort", "reading the I/O port"},
    Action{"QX4WriteIOPort", "writing the I/O port"},
    Action{"QX4SimpleReadCmd", "the simple read"},
    Action{"QX4GetRWMode", "reading the operation mode"},
    Action{"QX4SetRWMode", "setting the operation mode"},
    Action{"QX4GetTagMode", "reading the tag mode"},
    Action{"QX4SetTagMode", "setting the tag mode"},
    Action{"QX4GetEepromData", "reading the EEPROM"},
    Action{"QX4GetEepromData2", "reading the EEPROM"},
    Action{"QX4SetEepromData2", "writing the EEPROM"},
    Action{"QX4InitEEPROM", "initialising the EEPROM"},
    Action{"QX4GetParamData", "reading the parameter"},
    Action{"QX4SetParamData", "writing the parameter"},
    Action{"QX4GetUIDGetCmd", "reading the UID register"},
    Action{"QX4SetUIDSetCmd", "setting the UID register"},
    Action{"QX4GetUidNumber", "reading the number of collected UIDs"},
    Action{"QX4GetUidData", "reading a collected UID"},
    Action{"QX4GetAFIData", "reading the AFI register"},
    Action{"QX4SetAFIData", "setting the AFI register"},
    Action{"QX4WriteTagData", "sending the tag data"},
    Action{"QX4Inventory", "the inventory"},
    Action{"QX4Inventory2", "the reader-side inventory"},
    Action{"QX4StayQuiet", "stay quiet"},
    Action{"QX4SelectTag", "selecting the tag"},
    Action{"QX4ResetToReady", "reset to ready"},
    Action{"QX4ReadSingleBlock", "reading the block"},
    Action{"QX4ReadMultiBlock", "reading the blocks"},
    Action{"QX4WriteSingleBlock", "writing the block"},
    Action{"QX4WriteMultiBlock", "writing the blocks"},
    Action{"QX4LockBlock", "locking the block"},
    Action{"QX4Write2Blocks", "writing two blocks"},
    Action{"QX4Lock2Blocks", "locking two blocks"},
    Action{"QX4ReadBytes", "reading the bytes"},
    Action{"QX4WriteBytes", "writing the bytes"},
    Action{"QX4GetMBlockSecSt", "reading the block security status"},
    Action{"QX4WriteAFI", "writing the AFI"},
    Action{"QX4LockAFI", "locking the AFI"},
    Action{"QX4WrietDSFID", "writing the DSFID"},
    Action{"QX4LockDSFID", "locking the DSFID"},
    Action{"QX4GetSystemInfo", "reading the system information"},
    Action{"QX4Myd_Read", "reading the my-d block"},
    Action{"QX4MydWrite", "writing the my-d block"},
    Action{"QX4Myd_WriteByte", "writing the my-d byte"},
    Action{"QX4MydWriteReread", "writing and reading back the my-d block"},
    Action{"QX4Transceive", "the request"},
};

} // namespace

std::string ActionOf(const std::string& function) {
    for (const auto& action : kActions)
        if (function == action.function) return action.words;
    return function;
}

std::string FailureText(const CallFailure& failure) {
    if (failure.function.empty()) return failure.text;
    return ActionOf(failure.function) + " failed: " + failure.text;
}

std::string EnglishNackText(int nack, int iso) {
    if (nack == 5 && iso < 0) return "the tag answered with an ISO 15693 error";
    if (nack == 5) return QX4ErrorText(5, iso); // the ISO 15693 texts are English already
    for (const auto& entry : kNackTexts)
        if (entry.code == nack) return entry.text;
    return "unknown NACK code";
}

LinkObserver::LinkObserver(Trace trace) : trace_(std::move(trace)) {
    observer = this;
    QX4SetTraceHook(Forward, nullptr);
}

LinkObserver::~LinkObserver() {
    QX4SetTraceHook(nullptr, nullptr);
    observer = nullptr;
}

void LinkObserver::Mark() {
    sent_ = received_ = false;
    lastAck_.clear();
    lastNack_.clear();
}

void LinkObserver::OnFrame(int direction, const uint8_t* bytes, unsigned count) {
    if (direction == QX4_TRACE_SENT) {
        sent_ = true;
        lastSent_.assign(bytes, bytes + count);
    } else if (direction == QX4_TRACE_RECEIVED) { // not QX4_TRACE_LOST: no bytes
        received_ = true;
        lastReceived_.assign(bytes, bytes + count);
        // The link's fence (an EEPROM read, which no tag access makes) may follow an answer
        // to tell it from a repeated one: its answer is not the command's.
        const bool fence = count > 7 && bytes[4] == 0x70 && bytes[3] == 3 + 2 * bytes[6];
        if (count > 4 && bytes[2] == kAck && !fence) {
            lastAck_ = lastReceived_;
            ++acks_;
            const uint8_t command = lastSent_.size() > 4 ? lastSent_[2] : 0;
            if (command == 0x4E || command == 0x4F || command == 0x78)
                ++(bytes[4] == lastSent_[4] ? echoed_ : notEchoed_);
        }
        if (count > 4 && bytes[2] == kNack) lastNack_ = lastReceived_;
    }
    if (trace_) trace_(direction, bytes, count);
}

int LinkObserver::LastAckEcho() const {
    return checkedAck_.size() > 4 && checkedAck_[3] > 0 ? checkedAck_[4] : -1;
}

Bytes LinkObserver::LastAckData() const {
    const int count = LastAckDataCount();
    if (count < 2 || checkedAck_.size() < size_t(4 + count)) return {};
    return Bytes(checkedAck_.begin() + 5, checkedAck_.begin() + 4 + count);
}

int LinkObserver::LastAckDataCount() const {
    return checkedAck_.size() > 3 ? checkedAck_[3] : -1;
}

std::string LinkCheckText(int cause) {
    if (cause == QX4_CAUSE_OUT_OF_STEP)
        return "the reader did not answer the link check: it is silent, or its answers are "
               "out of step with the requests";
    if (cause == QX4_CAUSE_FENCE_REFUSED)
        return "the reader refuses the reads the link checks its step with (EEPROM words 0 "
               "to 19): the link is out of step";
    return "";
}

std::optional<CallFailure> LinkObserver::Outcome(unsigned char result, const std::string& function,
                                                 int timeoutMs) {
    struct Afresh { // whatever the outcome, the next call starts from nothing seen
        LinkObserver& link;
        ~Afresh() {
            link.checkedAck_ = link.lastAck_;
            link.Mark();
        }
    } afresh{*this};
    if (result) return std::nullopt;
    CallFailure failure;
    failure.function = function;
    // The link's own check failed: NACKs seen meanwhile were its fence's, not the call's.
    const int cause = QX4GetFailureCause();
    if (const std::string check = LinkCheckText(cause); !check.empty()) {
        failure.kind = CallFailure::Kind::TimedOut;
        failure.text = check;
    } else if (!lastNack_.empty() && cause == QX4_CAUSE_NACK) {
        failure.kind = CallFailure::Kind::Nack;
        failure.nack = lastNack_[4];
        failure.iso = failure.nack == 5 && lastNack_[3] >= 2 ? lastNack_[5] : -1;
        failure.reader = QX4ErrorText(failure.nack, failure.iso < 0 ? 0 : failure.iso);
        char code[32];
        std::snprintf(code, sizeof code, failure.iso >= 0 ? "NACK 0x%02X/0x%02X" : "NACK 0x%02X",
                      failure.nack, failure.iso);
        const std::string english = EnglishNackText(failure.nack, failure.iso);
        // The ISO 15693 texts are the reader's own too: once is enough.
        failure.text = std::string("the reader answered ") + code + ": " + english +
                       (failure.reader == english ? "" : " (" + failure.reader + ")");
    } else if (cause == QX4_CAUSE_BAD_ARGUMENT) {
        failure.kind = CallFailure::Kind::NotSent;
        failure.text = "nothing was sent: the library refused the arguments (a block number or "
                       "count that one byte does not carry, or a request too long for a frame)";
    } else if (cause == QX4_CAUSE_BUSY) {
        failure.kind = CallFailure::Kind::NotSent;
        failure.text = "nothing was sent: another command was running";
    } else if (cause == QX4_CAUSE_TIMEOUT) {
        failure.kind = CallFailure::Kind::TimedOut;
        failure.text = "the reader did not answer within " + std::to_string(timeoutMs) + " ms";
    } else if (cause == QX4_CAUSE_BAD_REPLY) {
        // The bytes are not shown: the last ACK seen may be the link's own fence.
        failure.kind = CallFailure::Kind::WrongReply;
        failure.text = "the reader's answer does not fit the request (another length or shape)";
    } else if (!QX4IsOK() || cause == QX4_CAUSE_NO_PORT) {
        failure.kind = CallFailure::Kind::PortLost;
        failure.text = "the reader's port is gone (hung up, unplugged or disconnected)";
    } else if (!sent_) {
        failure.kind = CallFailure::Kind::NotSent;
        failure.text = "nothing was sent: the request does not fit one frame";
    } else if (received_ && !lastAck_.empty()) {
        failure.kind = CallFailure::Kind::WrongReply;
        failure.text = "the reader's answer does not fit the request";
    } else {
        failure.kind = CallFailure::Kind::TimedOut;
        failure.text = "the reader did not answer within " + std::to_string(timeoutMs) + " ms";
    }
    return failure;
}

} // namespace qx4dump
