// Stand-in for the BSD system-information interface on builds without it.
//
// Declares the one query the agent makes, the process-table record by pid, with
// the platform's names and the record's real size and parent-pid offset, so
// code that reads the field by name reads the same bytes as on the platform.
// The backend defines it (the simulated Mac: sim/processes.cpp).
#pragma once

#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CTL_KERN 1
#define KERN_PROC 14
#define KERN_PROC_PID 1

// Only the parent pid is modelled; the rest of each part is opaque padding
// that keeps the size, alignment and field offset of the 64-bit platform
// record.
struct extern_proc {
  unsigned char p_opaque[296];
} __attribute__((aligned(8)));

struct kinfo_proc {
  struct extern_proc kp_proc;
  struct eproc {
    unsigned char e_before_ppid[264];
    pid_t e_ppid;
    unsigned char e_after_ppid[84];
  } kp_eproc;
};

int sysctl(int* name, unsigned int namelen, void* oldp, size_t* oldlenp, void* newp, size_t newlen);

#ifdef __cplusplus
}
#endif
