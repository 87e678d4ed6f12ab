// What the backup tool prints, read as it arrives: its own progress and its last words.
//
// The output is cut into lines at every "\n" and every "\r" (a progress bar redraws itself
// after a "\r"). A line's progress is its last "NN%" token: one to three digits right before
// "%", not preceded by another digit or a ".", at most 100. idevicebackup2 prints two kinds
// of bars: the whole backup's, "[=====     ]  40% Finished", and one per batch of files
// received, which starts again at 0 for every batch and names the sizes in parentheses
// ("[===   ]  25% (1.2 MB/4.8 MB)"); a percentage followed by "(" is such a batch's and is
// not taken.
//
// Only complete lines are read, except that finish() reads the last one. A line longer than
// kMaxToolLine is cut to its first kMaxToolLine bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace amd {

inline constexpr std::size_t kMaxToolLine = 4096;

class BackupToolOutput {
 public:
  // Takes the next piece of output; returns the progress of the last complete line in it
  // that has one (0 to 100), or none.
  std::optional<int> add(std::string_view bytes);
  // Reads the unfinished last line, if any; the same as add().
  std::optional<int> finish();
  // The last line that is not blank, without its surrounding blanks; empty when none.
  const std::string& lastLine() const { return lastLine_; }

  // The progress of one line, as described above.
  static std::optional<int> percentOf(std::string_view line);

 private:
  std::optional<int> endLine();

  std::string line_;
  std::string lastLine_;
};

}  // namespace amd
