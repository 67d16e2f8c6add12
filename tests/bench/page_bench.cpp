// Command handling up to the queued work item against parsing the same line,
// and one walk of a 4,000-element tree against the simulated reads it makes.
#include "agent/accessibility/web_area_urls.h"
#include "platform/darwin/cf_ref.h"
#include "agent/emit.h"
#include "agent/globals.h"
#include "agent/handle.h"
#include "figures.h"
#include "sim/accessibility.h"
#include "platform/threads/loop_threads.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <condition_variable>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

using namespace tondrel;

namespace {

const std::string commandLine = R"({"cmd":"page-urls","id":1234567,"pid":512})";

// Holds the page reader at one task, so that what is timed is handle up to
// the queued work item and not the reader answering on the other core.
class Gate {
 public:
  void close(loop::SerialQueue* queue) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      open_ = false;
    }
    loop::submit(queue, [this] {
      std::unique_lock<std::mutex> guard(lock_);
      opened_.wait(guard, [this] { return open_; });
    });
  }
  void open() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      open_ = true;
    }
    opened_.notify_all();
    loop::threads::waitForQueues();
  }

 private:
  std::mutex lock_;
  std::condition_variable opened_;
  bool open_ = true;
};

void handleCommand(benchmark::State& state) {
  sim::ax::reset();  // not trusted: the queued items answer at once
  if (pageReads == nullptr) pageReads = loop::createSerialQueue(pageReadsLabel);
  const int devNull = open("/dev/null", O_WRONLY);
  setOutputDescriptorForTesting(devNull);
  Gate gate;
  gate.close(pageReads);
  std::int64_t handled = 0;
  for (auto _ : state) {
    handle(commandLine);
    // Let the queued items be answered now and then, untimed, so the queue
    // stays short.
    if (++handled % 4096 == 0) {
      state.PauseTiming();
      gate.open();
      gate.close(pageReads);
      state.ResumeTiming();
    }
  }
  gate.open();
  setOutputDescriptorForTesting(STDOUT_FILENO);
  close(devNull);
}
BENCHMARK(handleCommand);

void parseSameLine(benchmark::State& state) {
  for (auto _ : state) {
    auto value = nlohmann::json::parse(commandLine);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(parseSameLine);

constexpr pid_t browser = 4000;

// One window, 40 groups of 99 leaves: 4,001 elements, so the walk takes
// exactly its budget of 4,000 and every read is an ordinary element's.
void bigTree() {
  sim::ax::reset();
  sim::ax::setTrusted(true);
  std::vector<sim::ax::NodePtr> groups;
  for (int g = 0; g < 40; ++g) {
    std::vector<sim::ax::NodePtr> leaves;
    for (int l = 0; l < 99; ++l) leaves.push_back(sim::ax::element("AXStaticText"));
    groups.push_back(sim::ax::element("AXGroup", std::move(leaves)));
  }
  sim::ax::Application app;
  app.pid = browser;
  app.windows = {sim::ax::element("AXWindow", std::move(groups))};
  sim::ax::setApplication(std::move(app));
}

void walkBigTree(benchmark::State& state) {
  bigTree();
  const auto application = platform::accessibility::applicationElement(browser, 1.0);
  for (auto _ : state) {
    RequestBounds bounds(pageRequestSeconds, maxChildrenPerRequest);
    auto urls = webAreaUrls(*application, bounds);
    benchmark::DoNotOptimize(urls);
  }
  state.counters["elements"] = static_cast<double>(maxElements);
}
BENCHMARK(walkBigTree)->Unit(benchmark::kMicrosecond);

CFRef<CFTypeRef> copyAttribute(AXUIElementRef element, CFStringRef name) {
  CFRef<CFTypeRef> value;
  AXUIElementCopyAttributeValue(element, name, value.slot());
  return value;
}

// The same platform calls the walk makes, in the same order, with nothing of
// the walk's own: the windows, then per element its role and its children.
void walkReadsAlone(benchmark::State& state) {
  bigTree();
  auto application = adoptCF(AXUIElementCreateApplication(browser));
  const CFStringRef windowsName = CFSTR("AXWindows");
  const CFStringRef roleName = CFSTR("AXRole");
  const CFStringRef childrenName = CFSTR("AXChildren");
  for (auto _ : state) {
    std::vector<CFRef<CFTypeRef>> values;  // keeps every element alive, as the walk's list does
    values.reserve(4100);
    values.push_back(copyAttribute(application.get(), windowsName));
    std::vector<AXUIElementRef> elements;
    elements.reserve(4100);
    auto addAll = [&](CFTypeRef list) {
      const auto array = static_cast<CFArrayRef>(list);
      for (CFIndex i = 0; i < CFArrayGetCount(array); ++i) {
        elements.push_back(static_cast<AXUIElementRef>(CFArrayGetValueAtIndex(array, i)));
      }
    };
    addAll(values.back().get());
    for (std::size_t i = 0; i < elements.size() && i < 4000; ++i) {
      values.push_back(copyAttribute(elements[i], roleName));
      values.push_back(copyAttribute(elements[i], childrenName));
      addAll(values.back().get());
    }
    benchmark::DoNotOptimize(elements);
  }
}
BENCHMARK(walkReadsAlone)->Unit(benchmark::kMicrosecond);

const bool registered =
    (bench::addFigure({"handle of a page-urls line with a pid, up to the queued item",
                       "handleCommand", "parseSameLine", 1.5}),
     bench::addFigure({"walk of a 4,000-element tree (vs its simulated reads)", "walkBigTree",
                       "walkReadsAlone", 1.5, true}),
     true);

}  // namespace
