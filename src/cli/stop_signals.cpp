#include "cli/stop_signals.h"

#include <unistd.h>

#include <csignal>

namespace cli {
namespace {

volatile std::sig_atomic_t gReceived = 0;
struct sigaction gOldInt {};
struct sigaction gOldTerm {};

void onStopSignal(int signal) {
  if (gReceived != 0) _exit(128 + signal);
  gReceived = signal;
}

}  // namespace

StopSignals::StopSignals() {
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &gOldInt);
  sigaction(SIGTERM, &action, &gOldTerm);
}

StopSignals::~StopSignals() {
  sigaction(SIGINT, &gOldInt, nullptr);
  sigaction(SIGTERM, &gOldTerm, nullptr);
}

int StopSignals::received() { return gReceived; }

void StopSignals::clear() { gReceived = 0; }
int StopSignals::exitCode() { return gReceived != 0 ? 128 + gReceived : 0; }

}  // namespace cli
