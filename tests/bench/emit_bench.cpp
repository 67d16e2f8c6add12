// emit of a mic event against one write of the same bytes, both to /dev/null.
#include "agent/emit.h"
#include "figures.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

using namespace tondrel;

namespace {

Message micEvent() {
  return {{"event", std::string("mic")},
          {"running", true},
          {"pid", std::int64_t{4242}},
          {"appPid", std::int64_t{4200}},
          {"bundleId", std::string("org.example.meeting")},
          {"appName", std::string("Meeting")}};
}

void emitMicEvent(benchmark::State& state) {
  const int devNull = open("/dev/null", O_WRONLY);
  setOutputDescriptorForTesting(devNull);
  // Building the message is the producer's work, not emit's.
  const Message message = micEvent();
  for (auto _ : state) emit(message);
  setOutputDescriptorForTesting(STDOUT_FILENO);
  close(devNull);
}
BENCHMARK(emitMicEvent);

void writeSameBytes(benchmark::State& state) {
  const int devNull = open("/dev/null", O_WRONLY);
  const std::string line = toJson(micEvent()) + "\n";
  for (auto _ : state) {
    benchmark::DoNotOptimize(write(devNull, line.data(), line.size()));
  }
  close(devNull);
}
BENCHMARK(writeSameBytes);

const bool registered = (bench::addFigure({"emit of a mic event (serialise + write to /dev/null)",
                                           "emitMicEvent", "writeSameBytes", 2.0}),
                         true);

}  // namespace
