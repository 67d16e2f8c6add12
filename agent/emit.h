// The single writer of the agent's output stream.
#pragma once

#include "agent/message.h"

#include <string_view>

namespace tondrel {

// Writes the message as one JSON line on standard output, in one whole-line
// write under outputLock, so lines from the main thread and from the page
// reader never interleave. Safe to call from any thread; never called with
// outputLock held.
void emit(const Message& message);

// Puts every byte of `bytes` on the descriptor: completes partial writes,
// retries when interrupted and waits for room on a non-blocking descriptor.
// If the reader has gone and the broken-pipe signal cannot end the process
// (the disposition was inherited as ignored, or the signal is blocked), ends
// the process as the signal would have. Answers false on any other failure.
bool writeAll(int descriptor, std::string_view bytes);

// Where emit writes; standard output unless a test points it elsewhere.
void setOutputDescriptorForTesting(int descriptor);

}  // namespace tondrel
