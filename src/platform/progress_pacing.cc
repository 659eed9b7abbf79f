#include "platform/progress_pacing.h"

namespace ovix {

ProgressPacing::Step ProgressPacing::next(uint64_t done, uint64_t total, uint64_t nowMs,
                                          bool windowOpen) {
  if (total == 0 || done >= total) {
    cancelled_ = false;
    return Step::kClose;
  }
  if (done == 0) cancelled_ = false;  // new work begins
  if (cancelled_) return Step::kRefuse;
  if (windowOpen && nowMs - shownAtMs_ < kIntervalMs) return Step::kKeep;
  shownAtMs_ = nowMs;
  return windowOpen ? Step::kShow : Step::kOpen;
}

std::string ProgressPacing::label(const std::string& what) {
  return (what.empty() ? std::string("打包") : what) + "…";
}

}  // namespace ovix
