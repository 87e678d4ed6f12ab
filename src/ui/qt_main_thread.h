// The Qt main thread as the core's main-thread executor: work a worker thread hands to
// performOnMainThreadAndWait runs in the Qt event loop while the worker waits, or at once
// when the caller already is the main thread.
#pragma once

// Installs the executor; call once the QApplication exists, on its thread.
void installQtMainThreadExecutor();
