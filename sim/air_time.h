// Time on the air between the reader and its tags: ISO/IEC 15693-2 coding at the high data
// rate (reader: 1 out of 4, 26.48 kbit/s; tag: one subcarrier, 26.69 kbit/s) and the
// timing of 15693-3. Everything is counted in carrier cycles (fc = 13.56 MHz) and turned
// into microseconds at the end, so the figures are those of the standard, not rounded ones.
//
//   request   = SOF 1024 + 8 x bytes x 512 + EOF 512      (bytes: flags, code, [UID], data, CRC)
//   response  = SOF 2048 + 8 x bytes x 512 + EOF 2048     (bytes: flags, data, CRC)
//   exchange  = request + t1 4352 + programming + response + t2 4192
//   no answer = request + t1max 4384 + SOF 2048 (the reader saw no SOF in time);
//               writes and locks: request + 20 ms (the longest a tag may program)
//   inventory = request (flags, 0x01, mask length, CRC) + each slot:
//               answered: t1 + response (flags, DSFID, UID, CRC) + t2; empty: t1max + SOF;
//               16 slots are separated by 15 EOFs of the reader
//   programming: 5 ms per block written or locked
#pragma once

#include <cstddef>

namespace qx4sim::air {

inline constexpr double kCarrierMHz = 13.56;
inline constexpr size_t kRequestSof = 1024, kRequestEof = 512, kRequestBit = 512;
inline constexpr size_t kResponseSof = 2048, kResponseEof = 2048, kResponseBit = 512;
inline constexpr size_t kT1 = 4352, kT1Max = 4384, kT2 = 4192;
inline constexpr size_t kCrcBytes = 2;
inline constexpr unsigned kProgramUsPerBlock = 5000;
inline constexpr unsigned kWriteWindowUs = 20000;
inline constexpr size_t kInventoryRequestBytes = 3 + kCrcBytes;   // flags, code, mask length
inline constexpr size_t kInventoryResponseBytes = 10 + kCrcBytes; // flags, DSFID, UID

inline constexpr unsigned Us(size_t cycles) {
    return static_cast<unsigned>(static_cast<double>(cycles) / kCarrierMHz + 0.5);
}
inline constexpr size_t RequestCycles(size_t bytes) {
    return kRequestSof + bytes * 8 * kRequestBit + kRequestEof;
}
inline constexpr size_t ResponseCycles(size_t bytes) {
    return kResponseSof + bytes * 8 * kResponseBit + kResponseEof;
}
inline constexpr size_t EmptySlotCycles() {
    return kT1Max + kResponseSof;
}

// One request and its response; bytes with flags and CRC.
inline constexpr unsigned Exchange(size_t requestBytes, size_t responseBytes,
                                   unsigned programmingUs = 0) {
    return Us(RequestCycles(requestBytes) + kT1 + ResponseCycles(responseBytes) + kT2) +
           programmingUs;
}
inline constexpr unsigned NoAnswer(size_t requestBytes, bool programs) {
    return programs ? Us(RequestCycles(requestBytes)) + kWriteWindowUs
                    : Us(RequestCycles(requestBytes) + EmptySlotCycles());
}
// A request that no tag answers by design (stay quiet).
inline constexpr unsigned RequestOnly(size_t requestBytes) {
    return Us(RequestCycles(requestBytes) + kT2);
}

// One inventory round: `slots` 1 or 16, `answered` of them carrying a reply (a collision
// takes as long as a reply).
inline constexpr unsigned Inventory(size_t slots, size_t answered) {
    const size_t replied = kT1 + ResponseCycles(kInventoryResponseBytes) + kT2;
    return Us(RequestCycles(kInventoryRequestBytes) + answered * replied +
              (slots - answered) * EmptySlotCycles() + (slots - 1) * kRequestEof);
}

} // namespace qx4sim::air
