// The desktop results view at scale: 100,000 messages in 2,000 conversations, 50,000 photos
// and 20,000 contacts filed into the results controller as a scan files them, then the time
// from the scan's end (ScanThreadFinish) to the first painted frame of the view, and the time
// to scroll the conversation list and the photo grid from end to end, each against the same
// work on empty lists in the same run. Offscreen; no backup is read (the view is what is
// measured, not the scanners).
//
// Usage: ui_results_bench [--messages N] [--photos N] [--contacts N]
//        ui_results_bench --backup FOLDER   scans FOLDER through the whole window and prints
//                                           the peak memory, to set beside `retrievo scan`'s
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QListWidget>
#include <QScrollBar>
#include <QTableView>
#include <any>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "app/retrievo_app_delegate.h"
#include "base/notification_center.h"
#include "results/result_view_controller.h"
#include "ui/mz_window.h"
#include "ui/qt_main_thread.h"
#include "ui/results_view.h"

namespace {

struct Sizes {
  int messages = 100000;
  int conversations = 2000;
  int photos = 50000;
  int contacts = 20000;
};

void file(NotificationCenter& center, const Sizes& n) {
  for (int i = 0; i < n.contacts; ++i) {
    auto c = std::make_shared<MzContactNode>();
    c->contactName = "Contact " + std::to_string(i);
    c->contactPhone = " +4670555" + std::to_string(100000 + i);
    center.post("ScanContactInfo", c);
  }
  for (int i = 0; i < n.messages; ++i) {
    auto m = std::make_shared<MzMessageNode>();
    m->messagePhone = "+4673555" + std::to_string(100000 + i % n.conversations);
    m->messageContent = "Message " + std::to_string(i) + " about the weekend plans";
    m->messageDate = "05-28-2013 16:02";
    m->messageType = i % 2 ? "Send" : "Received";
    m->handle_id = i % n.conversations;
    center.post("ScanMessageInfo", std::any(std::move(m)));
  }
  for (int i = 0; i < n.photos; ++i) {
    auto p = std::make_shared<MzPhotoAndVideoNode>();
    p->fileNodeName = "IMG_" + std::to_string(i) + ".JPG";
    p->fileNodeSize = "2.1M";
    p->filePath = "/nonexistent/" + std::to_string(i);  // no thumbnail: the symbol is drawn
    center.post("ScanPhotoAndVideo", p);
  }
}

struct Timings {
  double firstFrame = 0;
  double scrollMessages = 0;
  double scrollPhotos = 0;
};

// Scrolls `view` from top to bottom a page at a time, painting each page.
double scrollThrough(QAbstractItemView* view) {
  QElapsedTimer timer;
  timer.start();
  QScrollBar* bar = view->verticalScrollBar();
  bar->setValue(0);
  for (int v = 0; v <= bar->maximum(); v += std::max(1, bar->pageStep())) {
    bar->setValue(v);
    view->viewport()->repaint();
  }
  bar->setValue(bar->maximum());
  view->viewport()->repaint();
  return timer.nsecsElapsed() / 1e9;
}

Timings measure(const Sizes& n) {
  NotificationCenter center;
  MzResultViewController results(center);
  ResultsView view(results);
  results.setView(&view);
  view.resize(1100, 700);
  view.show();
  QApplication::processEvents();
  auto backup = std::make_shared<MzIOSDeviceNode>();
  backup->strDeviceName = "Bench iPhone";
  results.setCurrentBackup(backup);
  results.prepareForScan();
  file(center, n);

  Timings t;
  QElapsedTimer timer;
  timer.start();
  results.ScanThreadFinish();  // on the main thread here: the finish runs at once
  view.repaint();
  t.firstFrame = timer.nsecsElapsed() / 1e9;

  view.categoryList()->setCurrentRow(3);  // messages
  QApplication::processEvents();
  t.scrollMessages = scrollThrough(view.table());
  view.categoryList()->setCurrentRow(0);  // photos
  QApplication::processEvents();
  t.scrollPhotos = scrollThrough(view.grid());
  results.setView(nullptr);
  return t;
}

// Scans `folder` as a user would through the window, opens the messages and the photos, and
// prints the time and the process's peak memory.
int scanThroughTheWindow(const std::string& folder) {
  const std::filesystem::path path = std::filesystem::absolute(folder);
  setenv("RETRIEVO_BACKUP_ROOT", path.parent_path().c_str(), 1);
  NotificationCenter center;
  RetrievoAppDelegate delegate(center);
  MzWindow window(delegate);
  window.askQuestion = [](const QString&, const QStringList&) { return 0; };
  window.resize(1100, 700);
  window.show();
  window.applicationDidFinishLaunching();
  window.ChangeToItunesView();
  const auto& records = delegate.GetMzIOSDeviceController().arrangedObjects();
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (std::filesystem::path(records[i]->backUpFilePath) == path) {
      delegate.backupList().tableViewSelectionDidChange(i);
    }
  }
  QElapsedTimer timer;
  timer.start();
  if (!delegate.actScanIOSBackupFile()) {
    std::fprintf(stderr, "ui_results_bench: the backup could not be scanned\n");
    return 1;
  }
  while (delegate.scanRunning() || !window.results().bScanFinished) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  delegate.waitForScan();
  const double scan = timer.nsecsElapsed() / 1e9;
  for (int row : {3, 0, 2}) {
    window.resultView()->categoryList()->setCurrentRow(row);
    QApplication::processEvents();
    window.resultView()->repaint();
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("window scan of %s: %.1f s, peak memory %ld KB\n", folder.c_str(), scan,
              usage.ru_maxrss);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  installQtMainThreadExecutor();
  Sizes full;
  for (int k = 1; k + 1 < argc; k += 2) {
    if (std::strcmp(argv[k], "--backup") == 0) return scanThroughTheWindow(argv[k + 1]);
    if (std::strcmp(argv[k], "--messages") == 0) full.messages = std::atoi(argv[k + 1]);
    if (std::strcmp(argv[k], "--photos") == 0) full.photos = std::atoi(argv[k + 1]);
    if (std::strcmp(argv[k], "--contacts") == 0) full.contacts = std::atoi(argv[k + 1]);
  }
  const Sizes empty{0, 1, 0, 0};
  const Timings reference = measure(empty);
  QElapsedTimer timer;
  timer.start();
  const Timings big = measure(full);
  std::printf("results view: %d messages in %d conversations, %d photos, %d contacts (%.1f s)\n",
              full.messages, full.conversations, full.photos, full.contacts,
              timer.nsecsElapsed() / 1e9);
  const auto line = [](const char* what, double big, double ref) {
    std::printf("  %-40s %8.4f s   empty lists %8.4f s   ratio %7.1f\n", what, big, ref,
                ref > 0 ? big / ref : 0.0);
  };
  line("scan finish to first painted frame", big.firstFrame, reference.firstFrame);
  line("scroll the conversation list end to end", big.scrollMessages, reference.scrollMessages);
  line("scroll the photo grid end to end", big.scrollPhotos, reference.scrollPhotos);
  return 0;
}
