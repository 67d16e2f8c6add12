// Waiting until one descriptor can be read or written, whatever kind of file
// it is and whatever its number.
//
// select() rather than poll(): macOS's poll() does not wait on terminals (it
// reports them invalid at once, so a caller would spin), while select() waits
// on every kind of descriptor on every system. The descriptor set is sized
// to the descriptor, so numbers past FD_SETSIZE work too (on Apple through
// the variant of select() without that limit).
#pragma once

namespace tondrel {

enum class Readiness { readable, writable };

// Blocks until the descriptor is ready; an error or hang-up counts as ready,
// since the next read or write reports it. False when the descriptor cannot
// be waited on (it is not open), which waiting again would not change.
bool waitForDescriptor(int descriptor, Readiness readiness);

}  // namespace tondrel
