// The agent's walk over a real application on the accessibility bus, against
// a plain libatspi breadth-first walk of the same tree that makes the same
// calls: find the application by pid, then per object its role, for a web
// document whether it and its parent are showing and then its address,
// otherwise its children, within the same depth and budget. Run in turns on
// one thread, so both see the same tree and the same machine.
//
// Usage: tondrel_bench_atspi PID [ROUNDS]   (in the desktop session to read)
#include <atspi/atspi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
  if (!platform::accessibility::trusted()) {
    std::fprintf(stderr, "the accessibility bus does not answer\n");
    return 1;
  }
  // Both connect and learn the application once before anything is timed.
  const Walked plain = plainWalk(pid);
  const Walked agent = agentWalk(pid);
  if (plain.urls == 0 || plain.urls != agent.urls) {
    std::fprintf(stderr, "the walks disagree: %zu URLs plainly, %zu by the agent\n", plain.urls,
                 agent.urls);
    return 1;
  }
  std::vector<double> agentMs;
  std::vector<double> plainMs;
  const auto timed = [](auto&& walk) {
    const auto start = Clock::now();
    walk();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  };
  // Turns alternate which goes first, so neither always finds the other's
  // work still settling in the browser.
  for (int i = 0; i < rounds; ++i) {
    if (i % 2 == 0) {
      agentMs.push_back(timed([&] { agentWalk(pid); }));
      plainMs.push_back(timed([&] { plainWalk(pid); }));
    } else {
      plainMs.push_back(timed([&] { plainWalk(pid); }));
      agentMs.push_back(timed([&] { agentWalk(pid); }));
    }
  }
  const double a = median(agentMs);
  const double p = median(plainMs);
  std::printf("walk of a real browser over AT-SPI, %zu objects, %zu pages (median of %d)\n",
              plain.taken, plain.urls, rounds);
  std::printf("  agent %.2f ms   plain libatspi %.2f ms   ratio %.2fx   target at most 1.2x\n", a,
              p, a / p);
  // The slowest walk, against the request's deadline, which a healthy
  // browser's answer must never come near.
  std::printf("  slowest agent walk %.2f ms   request deadline %.0f ms\n",
              *std::max_element(agentMs.begin(), agentMs.end()), pageRequestSeconds * 1000);
  return 0;
}
