// The agent's walk over a real application on the accessibility bus, against
// a plain libatspi breadth-first walk of the same tree that makes the same
// calls: find the application by pid, then per object its role, for a web
// document whether it and its parent are showing and then its address,
// otherwise its children, within the same depth and budget. Run in turns, so
// both see the same tree and the same machine; the plain walk in a process
// of its own (see PlainWalker).
//
// Usage: tondrel_bench_atspi PID [ROUNDS]   (in the desktop session to read)
#include <atspi/atspi.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "agent/accessibility/request_bounds.h"
#include "agent/accessibility/web_area_urls.h"
#include "agent/globals.h"
#include "platform/accessibility.h"

using namespace tondrel;

namespace {

using Clock = std::chrono::steady_clock;

struct Walked {
  std::size_t urls = 0;
  std::size_t taken = 0;
  double ms = 0;
};

AtspiAccessible* applicationOf(pid_t pid) {
  AtspiAccessible* desktop = atspi_get_desktop(0);
  const gint count = atspi_accessible_get_child_count(desktop, nullptr);
  AtspiAccessible* found = nullptr;
  for (gint i = 0; i < count && found == nullptr; ++i) {
    AtspiAccessible* candidate = atspi_accessible_get_child_at_index(desktop, i, nullptr);
    if (candidate == nullptr) continue;
    GError* error = nullptr;
    const guint candidatePid = atspi_accessible_get_process_id(candidate, &error);
    if (error == nullptr && candidatePid == static_cast<guint>(pid)) {
      found = candidate;
    } else {
      g_object_unref(candidate);
    }
    if (error != nullptr) g_error_free(error);
  }
  g_object_unref(desktop);
  return found;
}

void childrenOf(AtspiAccessible* node, std::int64_t depth,
                std::vector<std::pair<AtspiAccessible*, std::int64_t>>& work) {
  const gint count = atspi_accessible_get_child_count(node, nullptr);
  for (gint i = 0; i < count; ++i) {
    if (AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, nullptr)) {
      work.emplace_back(child, depth);
    }
  }
}

bool showing(AtspiAccessible* node) {
  AtspiStateSet* states = atspi_accessible_get_state_set(node);
  const bool shown = atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
  g_object_unref(states);
  return shown;
}

Walked plainWalk(pid_t pid) {
  Walked walked;
  AtspiAccessible* application = applicationOf(pid);
  if (application == nullptr) return walked;
  std::vector<std::pair<AtspiAccessible*, std::int64_t>> work;
  childrenOf(application, 0, work);
  std::size_t cursor = 0;
  while (cursor < work.size() && cursor < static_cast<std::size_t>(maxElements)) {
    auto [node, depth] = work[cursor++];
    const AtspiRole role = atspi_accessible_get_role(node, nullptr);
    bool webArea = false;
    if (role == ATSPI_ROLE_DOCUMENT_WEB) {
      webArea = showing(node);
      // ... and so is what holds it.
      if (webArea) {
        if (AtspiAccessible* parent = atspi_accessible_get_parent(node, nullptr)) {
          webArea = showing(parent);
          g_object_unref(parent);
        }
      }
    } else {
      gchar* name = atspi_role_get_name(role);  // the agent reads a role name too
      g_free(name);
    }
    if (webArea) {
      if (AtspiDocument* document = atspi_accessible_get_document_iface(node)) {
        if (GHashTable* attributes = atspi_document_get_document_attributes(document, nullptr)) {
          if (g_hash_table_lookup(attributes, "DocURL") != nullptr ||
              g_hash_table_lookup(attributes, "URI") != nullptr) {
            ++walked.urls;
          }
          g_hash_table_unref(attributes);
        }
        g_object_unref(document);
      }
      continue;
    }
    if (depth < maxDepth) childrenOf(node, depth + 1, work);
  }
  walked.taken = cursor;
  for (auto& [node, depth] : work) g_object_unref(node);
  g_object_unref(application);
  return walked;
}

bool transfer(int descriptor, void* data, std::size_t size, bool writing) {
  auto* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t done = writing ? write(descriptor, bytes, size) : read(descriptor, bytes, size);
    if (done <= 0) return false;
    bytes += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

// The plain walks run in a child process. libatspi keeps process-wide state
// that only one thread may touch, and the agent's accessibility thread runs
// GLib's main context (which dispatches libatspi's messages) whenever it is
// idle: a plain walk on another thread of this process would race with it
// and corrupt the heap now and then. Made before anything starts a thread.
class PlainWalker {
 public:
  explicit PlainWalker(pid_t target) {
    int asks[2];
    int answers[2];
    if (pipe(asks) != 0 || pipe(answers) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      close(asks[1]);
      close(answers[0]);
      atspi_init();
      char ask = 0;
      while (transfer(asks[0], &ask, 1, false)) {
        const auto start = Clock::now();
        Walked walked = plainWalk(target);
        walked.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!transfer(answers[1], &walked, sizeof walked, true)) break;
      }
      _exit(0);
    }
    close(asks[0]);
    close(answers[1]);
    ask_ = asks[1];
    answer_ = answers[0];
  }
  PlainWalker(const PlainWalker&) = delete;
  PlainWalker& operator=(const PlainWalker&) = delete;
  ~PlainWalker() {
    if (ask_ >= 0) close(ask_);
    if (answer_ >= 0) close(answer_);
    if (child_ > 0) waitpid(child_, nullptr, 0);
  }

  // One walk, timed in the child; nothing when the child is gone.
  std::optional<Walked> walk() {
    char ask = 'w';
    Walked walked;
    if (child_ <= 0 || !transfer(ask_, &ask, 1, true) ||
        !transfer(answer_, &walked, sizeof walked, false)) {
      return std::nullopt;
    }
    return walked;
  }

 private:
  pid_t child_ = -1;
  int ask_ = -1;
  int answer_ = -1;
};

Walked agentWalk(pid_t pid) {
  const auto application = platform::accessibility::applicationElement(pid, 1.0);
  RequestBounds bounds(pageRequestSeconds, maxChildrenPerRequest);
  return {webAreaUrls(*application, bounds).size(), 0};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PID [ROUNDS]\n", argv[0]);
    return 2;
  }
  const pid_t pid = static_cast<pid_t>(std::atoi(argv[1]));
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;
  PlainWalker plainWalker(pid);
  if (!platform::accessibility::trusted()) {
    std::fprintf(stderr, "the accessibility bus does not answer\n");
    return 1;
  }
  // Both connect and learn the application once before anything is timed.
  const std::optional<Walked> plain = plainWalker.walk();
  const Walked agent = agentWalk(pid);
  if (!plain) {
    std::fprintf(stderr, "the plain walk's process ended\n");
    return 1;
  }
  if (plain->urls == 0 || plain->urls != agent.urls) {
    std::fprintf(stderr, "the walks disagree: %zu URLs plainly, %zu by the agent\n", plain->urls,
                 agent.urls);
    return 1;
  }
  std::vector<double> agentMs;
  std::vector<double> plainMs;
  const auto timedAgent = [&] {
    const auto start = Clock::now();
    agentWalk(pid);
    agentMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  };
  const auto timedPlain = [&] {
    const std::optional<Walked> walked = plainWalker.walk();
    if (walked) plainMs.push_back(walked->ms);
    return walked.has_value();
  };
  // Turns alternate which goes first, so neither always finds the other's
  // work still settling in the browser.
  for (int i = 0; i < rounds; ++i) {
    bool ok = true;
    if (i % 2 == 0) {
      timedAgent();
      ok = timedPlain();
    } else {
      ok = timedPlain();
      timedAgent();
    }
    if (!ok) {
      std::fprintf(stderr, "the plain walk's process ended\n");
      return 1;
    }
  }
  const double a = median(agentMs);
  const double p = median(plainMs);
  std::printf("walk of a real browser over AT-SPI, %zu objects, %zu pages (median of %d)\n",
              plain->taken, plain->urls, rounds);
  std::printf("  agent %.2f ms   plain libatspi %.2f ms   ratio %.2fx   target at most 1.2x\n", a,
              p, a / p);
  // The slowest walk, against the request's deadline, which a healthy
  // browser's answer must never come near.
  std::printf("  slowest agent walk %.2f ms   request deadline %.0f ms\n",
              *std::max_element(agentMs.begin(), agentMs.end()), pageRequestSeconds * 1000);
  return 0;
}
