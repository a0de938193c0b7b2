// Library calls the checker makes around its commands: why a call failed, bringing the
// link in step after an open, and running a call that does not pump off the GUI thread.
#pragma once

#include "qx4drv.h"

#include <QString>
#include <functional>

// Causes of QX4GetFailureCause, for libraries whose header does not name them.
#ifndef QX4_CAUSE_NONE
#define QX4_CAUSE_NONE 0
#define QX4_CAUSE_TIMEOUT 1
#define QX4_CAUSE_NACK 2
#define QX4_CAUSE_BUSY 3
#define QX4_CAUSE_NO_PORT 4
#define QX4_CAUSE_BAD_ARGUMENT 5
#define QX4_CAUSE_BAD_REPLY 6
#define QX4_CAUSE_OUT_OF_STEP 7
#endif

namespace qx4bench {

// QX4GetFailureCause, or -1 when the library does not tell.
int FailureCause();
// The failure of the last command export in words; empty for a NACK (its code has the
// words) and when the library does not say.
QString FailureText();
// QX4Resync when the library has it; true when the link is in step.
bool ResyncLink();

// Runs `call` on a thread of its own while the GUI thread keeps handling its events;
// returns when it is done. For opening ports, which may wait seconds without pumping.
void RunOffGuiThread(const std::function<void()>& call);

// Why COM<port> did not open, as far as the checker can tell from outside the library.
QString PortOpenFailure(int port);

} // namespace qx4bench
