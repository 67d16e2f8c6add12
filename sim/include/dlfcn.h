// Stand-in for run-time symbol lookup: the simulated Mac decides which of the
// platform's optional functions exist, then the system's own lookup answers.
#pragma once

#include_next <dlfcn.h>

#ifdef __cplusplus
extern "C" {
#endif
void* tondrelSimDlsym(void* handle, const char* symbol);
#ifdef __cplusplus
}
#endif

#define dlsym(handle, symbol) tondrelSimDlsym((handle), (symbol))
