// What one page-urls request may still spend: time, until a deadline after
// which no further call to an application is started, and children fetched
// from the platform, over every walk of every application it asks.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace tondrel {

class RequestBounds {
 public:
  // Starts the clock now.
  RequestBounds(double seconds, std::int64_t children);

  // Whether the deadline has passed.
  bool expired() const;
  // Seconds until the deadline; 0 once it has passed.
  double secondsLeft() const;
  std::chrono::steady_clock::time_point deadline() const { return deadline_; }

  // Children that may still be fetched.
  std::size_t childrenLeft() const { return children_; }
  // Counts children fetched; more than are left counts as all of them.
  void spendChildren(std::size_t count);

 private:
  std::chrono::steady_clock::time_point deadline_;
  std::size_t children_;
};

}  // namespace tondrel
