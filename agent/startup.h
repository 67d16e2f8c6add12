// The agent's start-up: sets the globals, connects standard input, starts the
// microphone monitor, writes `ready` and runs the main run loop.
#pragma once

int agentMain();
