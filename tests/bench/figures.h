// Pairs of benchmarks (the agent's figure and its baseline, run in the same
// process) and the summary table printed after them.
#pragma once

#include <string>

namespace bench {

struct Figure {
  std::string name;      // what is measured
  std::string agent;     // benchmark name of the agent's figure
  std::string baseline;  // benchmark name of the baseline
  double target;         // ratio agent/baseline to stay under
  // When set, the agent's figure is its time minus the baseline's: the
  // overhead the agent adds on top of the same platform calls.
  bool overhead = false;
  // When set (with `overhead`), the verdict is the agent's own work against
  // this many nanoseconds instead of the ratio against `target`.
  double ownWorkTargetNanos = 0;
};

void addFigure(Figure figure);
// Extra lines for the summary (measurements that are not timings).
void addNote(std::string line);

}  // namespace bench
