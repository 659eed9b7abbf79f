// What a progress window does with each report of long work, whatever
// draws it: when it opens, shows a new figure and closes, and how a press
// of Cancel holds until the work ends or new work starts.  The dialog
// programs' presenters share it, so they behave alike.

#ifndef OVIX_PLATFORM_PROGRESS_PACING_H_
#define OVIX_PLATFORM_PROGRESS_PACING_H_

#include <cstdint>
#include <string>

namespace ovix {

class ProgressPacing {
 public:
  enum class Step {
    kClose,   // the work ended or has no known total: close the window, go on
    kRefuse,  // Cancel was pressed: answer that the work is to stop
    kOpen,    // open the window and show the figure
    kShow,    // show the figure in the open window
    kKeep,    // leave the window as it is: the last figure is recent
  };

  // The step for a report of `done` of `total` at `nowMs` (of any steady
  // clock), the window being open or not.
  Step next(uint64_t done, uint64_t total, uint64_t nowMs, bool windowOpen);
  // Cancel was pressed: reports are refused until the work ends or new
  // work starts (a report of 0 done).
  void cancel() { cancelled_ = true; }
  // The window's text for the work `what`, which may have no name.
  static std::string label(const std::string& what);

 private:
  // Shortest time between two figures: drawing each of thousands of small
  // steps would cost more than the work.
  static constexpr uint64_t kIntervalMs = 50;

  uint64_t shownAtMs_ = 0;
  bool cancelled_ = false;
};

}  // namespace ovix

#endif  // OVIX_PLATFORM_PROGRESS_PACING_H_
