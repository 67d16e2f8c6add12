// Builds the simulated Mac that a scenario describes, through the simulated
// platform's control interfaces.
#pragma once

#include "scenario.h"

// Sets everything up for the agent's start-up, including the hook that plays
// the audio timeline as the monitor polls. The scenario is kept for the hook.
void buildWorld(Scenario scenario);
