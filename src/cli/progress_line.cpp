#include "cli/progress_line.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

namespace cli {

ProgressLine::ProgressLine(bool quiet, std::string label)
    : quiet_(quiet), terminal_(isatty(STDERR_FILENO) != 0), label_(std::move(label)) {}

void ProgressLine::show(int percent, const std::string& detail) {
  if (quiet_) return;
  if (terminal_) {
    std::fprintf(stderr, "\r%s: %3d%%%s", label_.c_str(), percent, detail.c_str());
    std::fflush(stderr);
    shown_ = true;
  } else if (percent / 10 != lastTenth_) {
    lastTenth_ = percent / 10;
    std::fprintf(stderr, "%s: %d%%\n", label_.c_str(), percent);
  }
}

void ProgressLine::finish() {
  if (shown_) std::fputc('\n', stderr);
  shown_ = false;
}

}  // namespace cli
