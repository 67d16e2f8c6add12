// Feeds arbitrary bytes through the line framing and handle() into the
// simulated Mac, with the page reader answering on its own thread.
//
// The first byte picks the chunk size, so the same commands also arrive cut at
// every kind of boundary. After each input the page reader is drained and
// every simulated object must have been released again.
#include <fcntl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent/emit.h"
#include "agent/globals.h"
#include "agent/input.h"
#include "platform/loop.h"
#include "sim/accessibility.h"
#include "sim/running_apps.h"
#include "platform/cf/cfcore.h"
#include "platform/threads/loop_threads.h"
#include "support/ax_builders.h"

using namespace tondrel;

namespace {

// A world with every kind of application the query distinguishes.
void buildWorld() {
  sim::ax::reset();
  sim::ax::setTrusted(true);

  sim::ax::Application browser;  // switched on by the query, pages from the 2nd walk on
  browser.pid = 512;
  browser.manualAccessibility.settable = true;
  browser.windowsFromWalk = 2;
  browser.windows = {
      element("AXWindow", {element("AXGroup", {webArea("https://example.com/a"),
                                               webArea("https://example.com/a")}),
                           webArea("https://example.com/b", {webArea("https://nested/")})}),
      webArea("https://example.com/window")};
  sim::ax::setApplication(browser);

  sim::ax::Application odd;  // on already; values of every wrong kind
  odd.pid = 7;
  odd.manualAccessibility.read = answer(Value::ofInteger(1));
  const auto strange = element("AXWebArea");
  strange->attributes["AXURL"] = answer(Value::ofString("https://string/"));
  const auto mixed = element("AXGroup");
  mixed->attributes["AXChildren"] =
      answer(Value::ofArray({Value::ofElement(webArea("https://x/")), Value::ofReal(1.5)}));
  const auto failing = element("AXGroup", {webArea("https://hidden/")});
  failing->attributes["AXRole"] = {kAXErrorFailure, Value::ofString("AXWebArea")};
  failing->attributes["AXChildren"] = {kAXErrorFailure, Value::ofElements({webArea("https://y/")})};
  odd.windows = {element("AXWindow", {strange, mixed, failing})};
  sim::ax::setApplication(odd);

  sim::ax::Application refusing;  // refuses both switches; AXWindows fails
  refusing.pid = 9;
  refusing.windowsRead =
      sim::ax::Attribute{kAXErrorCannotComplete, Value::ofElements({webArea("https://z/")})};
  sim::ax::setApplication(refusing);

  sim::apps::set({{512, platform::activationPolicyRegular, "com.example.browser", "Browser"},
                  {7, platform::activationPolicyRegular, "com.example.odd", "Odd"},
                  {9, platform::activationPolicyAccessory, "com.example.browser", std::nullopt}});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  loop::threads::useManualClock();  // waits are counted, not slept
  pageReads = loop::createSerialQueue(pageReadsLabel);
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull < 0) std::abort();
  setOutputDescriptorForTesting(devNull);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  buildWorld();
  const long before = cfcore::liveObjects();
  const std::size_t chunk = std::size_t{1} << (data[0] % 13);
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  for (std::size_t at = 0; at < bytes.size(); at += chunk) takeLines(bytes.substr(at, chunk));
  loop::threads::waitForQueues();
  buffered.clear();
  if (cfcore::liveObjects() != before) {
    std::fprintf(stderr, "objects still alive after the input: %s\n",
                 cfcore::describeLiveObjects().c_str());
    std::abort();
  }
  return 0;
}
