// Reading commands from standard input.
#pragma once

#include <string>
#include <string_view>

// The readability handler of standard input: posts what is there to the main
// queue, or, at end of input, the task that ends the process.
void readChunk(int descriptor);

// Main-queue task for one chunk: appends it to `buffered` and hands every
// complete line to handle().
void takeLines(std::string chunk);

// Checks one line and, when it is a valid command, queues its work.
void handle(std::string_view line);

// Main-queue task posted at end of input: ends the process with status 0,
// without tear-down, after any line being written is complete.
[[noreturn]] void exitAtEndOfInput();
