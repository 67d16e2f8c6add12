// Stand-in for run-time symbol lookup: the backend decides which of the
// platform's optional functions exist (tondrelDlsym), then the system's own
// lookup answers.
#pragma once

#include_next <dlfcn.h>

#ifdef __cplusplus
extern "C" {
#endif
void* tondrelDlsym(void* handle, const char* symbol);
#ifdef __cplusplus
}
#endif

#define dlsym(handle, symbol) tondrelDlsym((handle), (symbol))
