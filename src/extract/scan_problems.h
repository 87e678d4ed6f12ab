// What a scan could not read, kept so that the front ends can name it.
//
// A database that is damaged, unreadable or refused still lets the scan go on with the
// next step, but its category would otherwise show as empty as if the device held nothing.
// Each problem names the file and the reason; the same file and reason are kept once.
// A problem of the environment (no private folder, no space left in it) also marks the scan
// so that a front end can fail it when nothing at all could be read.
//
// Threads: report() may be called from any thread; the lists are read after the scan.
#pragma once

#include <mutex>
#include <string>
#include <vector>

struct ScanProblem {
  std::string file;    // the device file ("HomeDomain-Library/SMS/sms.db") or stored path
  std::string reason;  // a few English words
};

class ScanProblems {
 public:
  // Keeps the problem (once per file and reason) and logs it.
  void report(const std::string& file, const std::string& reason);
  // The same for a problem of the environment rather than of the backup.
  void reportEnvironment(const std::string& file, const std::string& reason);

  std::vector<ScanProblem> problems() const;
  bool environmentFailed() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<ScanProblem> problems_;
  bool environmentFailed_ = false;
};
