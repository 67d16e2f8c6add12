#include "agent/accessibility/request_bounds.h"

namespace tondrel {

RequestBounds::RequestBounds(double seconds, std::int64_t children)
    : deadline_(std::chrono::steady_clock::now() +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(seconds > 0 ? seconds : 0))),
      children_(children > 0 ? static_cast<std::size_t>(children) : 0) {}

bool RequestBounds::expired() const { return std::chrono::steady_clock::now() >= deadline_; }

double RequestBounds::secondsLeft() const {
  const auto left = deadline_ - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  return std::chrono::duration<double>(left).count();
}

void RequestBounds::spendChildren(std::size_t count) {
  children_ = count < children_ ? children_ - count : 0;
}

}  // namespace tondrel
