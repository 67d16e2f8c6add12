#include "agent/input.h"

// Command validation and dispatch are not built yet: every line is ignored.
void handle(std::string_view) {}
