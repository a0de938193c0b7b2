// Opening and closing the reader's port and the receive thread that fills RxRing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qx4 {

class ReaderContext;

int OpenPort(ReaderContext& context, int port, int slowRate);
void ClosePort(); // ends the receive thread before it returns
bool IsPortOpen();
// The library's own receive thread: lifecycle calls from its hooks are refused.
bool OnReceiveThread();
size_t WritePort(const uint8_t* bytes, size_t count);
// Why this process's last open failed: the system's error (0 for none) and its words;
// 0 and "" after an open that succeeded.
int LastOpenError(std::string& reason);

// Wakes a waiting command as if the receive thread had published bytes.
void NotifyReceived();
// Waits up to timeoutMs for the receive thread to publish new bytes.
void AwaitReceivedBytes(unsigned timeoutMs);

} // namespace qx4
