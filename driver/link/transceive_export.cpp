// One request frame of the caller's making and the reader's answer: for tools that need
// a command this library has no export for.
#include "link/exchange.h"

#include <algorithm>

using namespace qx4;

namespace {

bool Known(int commandByte) {
    switch (static_cast<Command>(commandByte)) {
    case Command::Buzzer:
    case Command::WriteTagData:
    case Command::WriteSetting:
    case Command::ReadSetting:
    case Command::SimpleRead:
    case Command::Iso15693:
        return true;
    }
    return false;
}

} // namespace

extern "C" {

QX4_API unsigned char QX4Transceive(int commandByte, const unsigned char* data, int length,
                                    unsigned char* reply, int replyCapacity, int* replyLength) {
    if (!Known(commandByte) || length < 0 || length > 255 || (length > 0 && !data)) return Refuse();
    const auto command = static_cast<Command>(commandByte);
    // As the library's own builders do: the buzzer and the simple read leave lastCommand.
    const Records records = command == Command::Buzzer || command == Command::SimpleRead
                                ? Records::Nothing
                                : Records::LastCommand;
    const Reply answer = Exchange(command, std::span(data, size_t(length)), records);
    if (!answer) return 0;
    const int n = static_cast<int>(answer->FrameDataCount());
    if (replyLength) *replyLength = n;
    if (n > replyCapacity) {
        NoteFailure(QX4_CAUSE_BAD_REPLY); // longer than the caller can take
        return 0;
    }
    std::copy_n(answer->frame.begin() + 4, n, reply);
    return 1;
}

QX4_API const char* QX4LibraryVersion(void) {
    return QX4_VERSION;
}

} // extern "C"
