// NDEF on a tag in the field: the NDEF code on bytes, over the tag's blocks. Reads go no
// further than the NDEF TLV ends, in Read Multiple runs; writes follow the rules of every
// write of ours: whole blocks, only those that change, never past the capability
// container's memory length or the tag's last block, read back and compared.
#pragma once

#include "ndef_memory.h"
#include "tag_access.h"

namespace qx4dump {

// Not done, and nothing written: a read-only tag, a message too long, locked blocks.
struct NdefRefused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct NdefWriteReport {
    std::vector<int> written;   // blocks written (and read back equal)
    std::vector<int> locked;    // blocks that had to change but are locked; nothing written
    std::vector<int> lockedNow; // protect: blocks locked by this run
};

// Results: false for a failure of the link or the tag (tag.failure() says which);
// qx4ndef::NdefError for memory that holds no NDEF, is malformed or reads back other
// than written; NdefRefused for what is refused before any write.
class NdefTag {
  public:
    NdefTag(TagAccess& tag, int blockSize, int blockCount);

    bool Read(qx4ndef::NdefContent& content);
    bool Write(qx4ndef::ByteView message, NdefWriteReport& report);
    bool Erase(NdefWriteReport& report); // an empty NDEF TLV
    // A capability container for the whole memory and an empty NDEF TLV; Read Multiple
    // announced only when the tag answers it.
    bool Format(NdefWriteReport& report);
    // The container made read-only, then every block of the NDEF area locked.
    bool Protect(NdefWriteReport& report);

    size_t TagBytes() const { return blockSize_ * blockCount_; }

  private:
    bool Extend(size_t bytes); // reads blocks until image_ holds `bytes` bytes
    bool ReadUpTo(bool wholeMessage);
    qx4ndef::CapabilityContainer WritableContainer();
    bool WriteBytes(size_t offset, const qx4ndef::Bytes& bytes, NdefWriteReport& report);

    TagAccess& tag_;
    size_t blockSize_, blockCount_;
    bool withStatus_ = false; // writes need the locks of the blocks they change
    qx4ndef::Bytes image_;    // blocks 0.. as read
    std::vector<bool> locked_;
};

} // namespace qx4dump
