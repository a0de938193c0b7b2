// The requests the fence sends: EEPROM reads within the words every reader of this kind
// has, never one whose answer may still be on its way.
#pragma once

#include <cstdint>

namespace qx4 {

class ReaderContext;

// Words 0 to 19: the checker itself reads and writes word 19, and the memory is contiguous.
inline constexpr uint8_t kFenceWords = 20;

// Picks the next fence's address and count into the context: its reply differs from the
// previous fence's in echo and length, and from every EEPROM read still owed.
void ChooseFence(ReaderContext& context);
// An EEPROM read whose answer may still arrive, or arrive twice.
void NoteOwedRead(ReaderContext& context, uint8_t address, uint8_t count);
// A fence was answered: every earlier answer has arrived (the reader answers in order).
void SettleOwedReads(ReaderContext& context);
// A new port: its first fence is drawn from every request a fence may use.
void RestartFences(ReaderContext& context, uint32_t seed);

} // namespace qx4
