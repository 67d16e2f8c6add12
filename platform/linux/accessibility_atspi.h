// The accessibility tree of a Linux desktop, as far as the accessibility
// answers need it: AT-SPI applications, their objects, and the session's
// accessibility switch.
//
// libatspi, GLib and libdbus are loaded at run time, so the agent starts on
// machines that have none of them; there every call here fails and the bus
// never answers. libatspi is not thread-safe: every call into these
// libraries runs on one worker thread of their own, whichever thread asks.
//
// Every call waits for its answer at most twice `timeoutMs` and a margin of
// 0.25 s, however the buses and applications behave: a session bus that
// accepts and never answers, an accessibility bus that was stopped, or a
// library that waits longer than it was told to. An outcome of `timedOut`
// means the other side did not answer in time. A call that was given up runs
// on inside the libraries; later calls wait for it, each again no longer
// than its own bound.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace platform::atspi {

// One AT-SPI object; whoever holds a Node holds one reference to it.
struct Object;
using Node = Object*;
void release(Node node);

enum class Outcome { ok, failed, timedOut };

// Whether the accessibility bus of this session answers. Connects to it the
// first time it does.
bool busAnswers(int timeoutMs);

// The AT-SPI application registered by process `pid`.
Outcome findApplication(pid_t pid, int timeoutMs, Node* application);

// The node's children, in the toolkit's order, at most `limit` of them (the
// first ones), with no call started after `deadline` (those read by then are
// the answer). A child that went away while they were read is left out; a
// call that times out fails the whole read.
Outcome children(Node node, int timeoutMs, std::size_t limit,
                 std::chrono::steady_clock::time_point deadline, std::vector<Node>* result);

// What role() answers for a document of web content that is showing.
inline constexpr const char* shownWebDocument = "shown web document";

// The node's role: shownWebDocument for a document of web content that is
// showing inside a parent that is showing too (a preloaded or background
// document is not a page), otherwise AT-SPI's name of the role.
Outcome role(Node node, int timeoutMs, std::string* name);

// The address of the document the node presents: its document attribute
// "DocURL", else "URI". Fails for a node that is no document or has neither.
Outcome documentUrl(Node node, int timeoutMs, std::string* url);

// The session's accessibility switch (org.a11y.Status IsEnabled), which
// toolkits watch to expose their trees or stop doing so.
std::optional<bool> accessibilityEnabled(int timeoutMs);
bool setAccessibilityEnabled(bool enabled, int timeoutMs);

}  // namespace platform::atspi
