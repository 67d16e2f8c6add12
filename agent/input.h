// Reading commands from standard input.
#pragma once

#include <cstddef>
#include <string>

namespace tondrel {

// How much of the host's input the agent holds at once, beyond the line it is
// framing. Two things are counted: chunks read and not yet framed, and
// requests waiting for the page reader (each at requestCost()). The reader
// reads only while both are under their budget, so a host that writes faster
// than the agent works waits in its writes instead of the agent growing;
// nothing is dropped and the order is kept.
//
// The chunks still queued when the reader stops can each turn into many
// short commands, so what is held at most is the two budgets plus those
// chunks' commands: chunkBudget / shortestCommand requests more. inputBound
// is that worst case, rounded up; docs/protocol.md states it.
inline constexpr std::size_t chunkSize = 64 * 1024;
inline constexpr std::size_t chunkBudget = 4 * chunkSize;
inline constexpr std::size_t requestBudget = 1024 * 1024;
// {"cmd":"page-urls","id":0} and its line feed.
inline constexpr std::size_t shortestCommand = 27;
inline constexpr std::size_t inputBound = 4 * 1024 * 1024;

// What a request waiting on the page reader is counted as: its storage and
// that of the queued tasks carrying it.
inline constexpr std::size_t requestCost(std::size_t pids) { return 256 + pids * 4; }

static_assert(chunkBudget + requestBudget + (chunkBudget / shortestCommand + 1) * requestCost(0) <=
              inputBound);

// The readability handler of standard input: waits until both budgets have
// room, then posts what is there to the main queue,
// or, at end of input, the task that ends the process.
void readChunk(int descriptor);

// Main-queue task for one chunk: appends it to `buffered` and hands every
// line it completes to handle(), all within this one task.
void takeLines(std::string chunk);

// Counts a request as waiting for the page reader, without waiting itself
// (the main thread never waits for the reader); releaseRequest() is called
// once it is answered and lets a waiting reader go on.
void holdRequest(std::size_t cost);
void releaseRequest(std::size_t cost);

// Bytes held now (chunks and requests together), and the most held at once
// since the last reset (tests).
struct InputHeld {
  std::size_t now = 0;
  std::size_t most = 0;
};
InputHeld inputHeld();
void resetMostInputHeld();

// Main-queue task posted at end of input: ends the process with status 0,
// without tear-down, after any line being written is complete.
[[noreturn]] void exitAtEndOfInput();

}  // namespace tondrel
