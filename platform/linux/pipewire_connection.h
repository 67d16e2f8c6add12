// The agent's one connection to PipeWire: made on first use, kept open on a
// thread of its own, with the registry's nodes, clients, links and default
// source cached as they change. The audio answers sample that cache.
//
// libpipewire is loaded at run time, on that thread: on a machine without it,
// or while no PipeWire answers, there is no view and every read fails. The
// thread notices a connection that breaks (PipeWire stopped or restarted) or
// that never completes (a peer that accepts and never answers: given up after
// 2 s), and connects again after 0.5 s, then 1, 2 and every 4 s while that
// keeps failing. A read never waits for any of this: it only takes the lock
// that guards the cache.
#pragma once

#include <mutex>

#include "platform/linux/audio_graph.h"

namespace pwaudio {

// Holds the cache's lock for as long as it lives; the view it gives is valid
// until then. Null while no connection is ready.
class Access {
 public:
  Access();
  ~Access();
  Access(const Access&) = delete;
  Access& operator=(const Access&) = delete;

  const View* view() const { return view_; }

 private:
  std::unique_lock<std::mutex> lock_;
  const View* view_ = nullptr;
};

}  // namespace pwaudio
