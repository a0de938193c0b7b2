// Library calls the checker makes around its commands: why a call failed, bringing the
// link in step after an open, and running a call that does not pump off the GUI thread.
#pragma once

#include "qx4drv.h"

#include <QString>
#include <functional>

namespace qx4bench {

// The failure of the last command export in words; empty for a NACK (its code has the
// words).
QString FailureText();
// QX4Resync: true when the link is in step.
bool ResyncLink();

// Runs `call` on a thread of its own while the GUI thread keeps handling its events;
// returns when it is done. For opening ports, which may wait seconds without pumping.
void RunOffGuiThread(const std::function<void()>& call);

// Why COM<port> did not open, as far as the checker can tell from outside the library.
QString PortOpenFailure(int port);

} // namespace qx4bench
