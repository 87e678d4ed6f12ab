#include "extract/scan_problems.h"

#include "base/log.h"

void ScanProblems::report(const std::string& file, const std::string& reason) {
  {
    std::lock_guard lock(mutex_);
    for (const auto& p : problems_) {
      if (p.file == file && p.reason == reason) return;
    }
    problems_.push_back({file, reason});
  }
  applog::line(file + ": " + reason);
}

void ScanProblems::reportEnvironment(const std::string& file, const std::string& reason) {
  {
    std::lock_guard lock(mutex_);
    environmentFailed_ = true;
  }
  report(file, reason);
}

std::vector<ScanProblem> ScanProblems::problems() const {
  std::lock_guard lock(mutex_);
  return problems_;
}

bool ScanProblems::environmentFailed() const {
  std::lock_guard lock(mutex_);
  return environmentFailed_;
}

void ScanProblems::clear() {
  std::lock_guard lock(mutex_);
  problems_.clear();
  environmentFailed_ = false;
}
