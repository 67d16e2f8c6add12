// The agent's one connection to PipeWire: opened on first use, kept open on a
// thread of its own, with the registry's nodes, clients, links and default
// source cached as they change. The audio property reads sample that cache.
//
// libpipewire is loaded at run time: on a machine without it, or while no
// PipeWire answers, there is no view and every read fails. A connection that
// breaks (PipeWire stopped or restarted) is dropped at the next read and made
// again at a later one.
#pragma once

#include "platform/linux/audio_graph.h"

namespace pwaudio {

// Holds the connection's lock for as long as it lives; the view it gives is
// valid until then. Null when PipeWire cannot be reached.
class Access {
 public:
  Access();
  ~Access();
  Access(const Access&) = delete;
  Access& operator=(const Access&) = delete;

  const View* view() const { return view_; }

 private:
  const View* view_ = nullptr;
  bool locked_ = false;
};

}  // namespace pwaudio
