// A percentage shown on stderr while something long runs: one line rewritten in place on a
// terminal ("\r<label>: 42%<detail>"), else a line per tenth ("<label>: 40%"), nothing when
// quiet.
#pragma once

#include <string>

namespace cli {

class ProgressLine {
 public:
  ProgressLine(bool quiet, std::string label);
  // Shows `percent` (0 to 100); `detail` follows it on a terminal only.
  void show(int percent, const std::string& detail = {});
  // Ends the rewritten line, if one was shown.
  void finish();

 private:
  bool quiet_;
  bool terminal_;
  std::string label_;
  bool shown_ = false;
  int lastTenth_ = -1;
};

}  // namespace cli
