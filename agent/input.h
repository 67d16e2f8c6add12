// Reading commands from standard input.
#pragma once

#include <string>

namespace tondrel {

// The readability handler of standard input: posts what is there to the main
// queue, or, at end of input, the task that ends the process.
void readChunk(int descriptor);

// Main-queue task for one chunk: appends it to `buffered` and hands every
// line it completes to handle(), all within this one task.
void takeLines(std::string chunk);

// Main-queue task posted at end of input: ends the process with status 0,
// without tear-down, after any line being written is complete.
[[noreturn]] void exitAtEndOfInput();

}  // namespace tondrel
