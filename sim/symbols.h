// Functions of the simulated system that code looks up at run time.
#pragma once

namespace sim::symbols {

// Makes dlsym() find `address` under `name`; nullptr takes it away again.
void define(const char* name, void* address);

}  // namespace sim::symbols
