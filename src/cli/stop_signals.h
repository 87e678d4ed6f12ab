// Ctrl-C and kill while a command reads a backup.
//
// A scan keeps private copies of the device's databases, in plain text, in a temporary
// folder. Ended by a signal's default action it would leave them there. While a
// StopSignals lives, the first SIGINT or SIGTERM only records the signal: the scan stops at
// its next step (or piece of a copy), removes its copies and the command exits with
// 128 + the signal's number (130, 143). A second signal ends the process at once, for a
// user who will not wait; the next scan then removes what that one left behind.
#pragma once

namespace cli {

class StopSignals {
 public:
  StopSignals();   // installs the handlers
  ~StopSignals();  // puts the earlier handlers back
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The signal received, 0 when none.
  static int received();
  // The exit code for the signal received (128 + its number), 0 when none.
  static int exitCode();
  // Forgets a signal that has been acted on (a stopped download, whose arrivals are then
  // scanned), so the next one stops what runs then.
  static void clear();
};

}  // namespace cli
