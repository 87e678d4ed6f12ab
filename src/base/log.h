// The log facade: the system's fixed log texts go to syslog(3); with verbose output on
// (the command line's --verbose) each line is copied to stderr as well.
//
// Tests can install a sink that receives every line, to check what was logged.
#pragma once

#include <functional>
#include <string>

namespace applog {

// Writes one line to the system log (and to stderr when verbose). A trailing newline in
// `text` is dropped: each call is one line.
void line(const std::string& text);

void setVerbose(bool verbose);
bool verbose();

// Receives every logged line in addition to syslog; an empty sink removes it.
void setSink(std::function<void(const std::string&)> sink);

}  // namespace applog
