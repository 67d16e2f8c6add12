// The agent's start-up: sets the globals, connects standard input, starts the
// microphone monitor, writes `ready` and runs the main run loop.
#pragma once

namespace tondrel {

int agentMain();

// Opens /dev/null, read-only, on whichever of descriptors 0 to 2 the agent was
// started without, so that no descriptor opened later (a pipe of the platform,
// a file) takes the place of standard input or output and gets read as
// commands or written with the message stream. Closed input so reads as ended
// at once; writes to closed output keep failing.
void reserveStandardDescriptors();

}  // namespace tondrel
