// Sending a command frame, waiting for the reader's answer, scanning and dispatching frames.
#pragma once

#include "link/command_table.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace qx4 {

class ReaderContext;

// Writes the frame between two 1 ms guards; true when every byte went out.
bool SendFrame(ReaderContext& context, const uint8_t* bytes, size_t count);

// The one frame builder of every command: frames received earlier dispatched,
// lastCommand recorded (unless the command leaves it alone), the echo to expect
// noted, responseReceived cleared, frame sent. False, with nothing sent, when
// data exceeds 255 bytes or a handler closed the library meanwhile.
// EvenUnfenced: sent also when the fence before it fails (unless the port is gone), for
// the one command that must always get through; context.sentUnfenced says so.
enum class Records { LastCommand, Nothing };
enum class Fencing { Required, EvenUnfenced };
bool SendCommand(ReaderContext& context, Command command, std::span<const uint8_t> data,
                 Records records = Records::LastCommand, Fencing fencing = Fencing::Required);

enum class WaitOutcome {
    Accepted, // a frame of an accepted type arrived; it is in context.frame
    Rejected, // another frame ended the wait
    TimedOut,
    Closed,   // the context went away while messages were pumped: do not touch it
    PortLost, // the port hung up or failed
};
// Polls until this command's answer or cmdWaitTime. By default the answer is an ACK
// (echoing what was sent, for commands whose replies echo) and a NACK or a frame of
// an unknown type ends the wait; notifications and other commands' ACKs pass through.
// With `accepts`, the first frame decides: a type it accepts answers, any other rejects.
WaitOutcome AwaitResponse(ReaderContext& context, bool (*accepts)(uint8_t responseType) = nullptr);
// 1 for an ACK, else 0.
int WaitForResponse(ReaderContext& context);

// Dispatches what arrived, then sends the fence and waits for its answer (another request
// after a refusal); true when the link is in step. Failures are noted for the running
// command.
bool Resync(ReaderContext& context);

void ScanReceived(ReaderContext& context);
// Drops the frame being assembled (it is traced as bad and puts the link in doubt); its
// bytes after the STX are scanned again.
void DropPartialFrame(ReaderContext& context);
void DispatchFrame(ReaderContext& context);
// An ACK that nobody takes: when it repeats the last answer taken, the reader repeats.
void NoteRepeat(ReaderContext& context);
// Info flags, UID and the optional fields of the system-information reply in `frame`.
void RecordSystemInfo(ReaderContext& context);
void ShowDiagnostic(const ReaderContext& context, const char* textUtf8);

} // namespace qx4
