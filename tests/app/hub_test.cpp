#include <gtest/gtest.h>

#include <thread>

#include "base/localization.h"
#include "base/log.h"
#include "base/main_thread.h"
#include "base/notification_center.h"
#include "base/paths.h"
#include "support/temp_dir.h"

namespace {

TEST(NotificationCenter, DeliversInRegistrationOrderOnThePostersThread) {
  NotificationCenter center;
  std::vector<std::string> calls;
  std::thread::id seen;
  center.addObserver("A", [&](const std::any& o) {
    calls.push_back("first:" + std::to_string(std::any_cast<int>(o)));
    seen = std::this_thread::get_id();
  });
  auto second = center.addObserver("A", [&](const std::any&) { calls.push_back("second"); });
  center.addObserver("B", [&](const std::any&) { calls.push_back("B"); });

  std::thread poster([&] { center.post("A", 7); });
  std::thread::id posterId = poster.get_id();
  poster.join();
  EXPECT_EQ(calls, (std::vector<std::string>{"first:7", "second"}));
  EXPECT_EQ(seen, posterId);

  center.removeObserver(second);
  calls.clear();
  center.post("A", 1);
  center.post("nobody listens");
  EXPECT_EQ(calls, (std::vector<std::string>{"first:1"}));
  EXPECT_EQ(center.observerCount("A"), 1u);
}

TEST(NotificationCenter, ObserversMayRegisterWhileBeingCalled) {
  NotificationCenter center;
  int late = 0;
  center.addObserver(
      "X", [&](const std::any&) { center.addObserver("X", [&](const std::any&) { ++late; }); });
  center.post("X");
  EXPECT_EQ(late, 0);  // added during delivery: called from the next post on
  center.post("X");
  EXPECT_EQ(late, 1);
}

TEST(MainThread, RunsThroughTheInstalledExecutorOrInline) {
  int ran = 0;
  performOnMainThreadAndWait([&] { ++ran; });
  EXPECT_EQ(ran, 1);

  int viaExecutor = 0;
  setMainThreadExecutor([&](const std::function<void()>& fn) {
    ++viaExecutor;
    fn();
  });
  performOnMainThreadAndWait([&] { ++ran; });
  setMainThreadExecutor({});
  EXPECT_EQ(ran, 2);
  EXPECT_EQ(viaExecutor, 1);
}

TEST(Log, OneLinePerCallToTheSink) {
  std::vector<std::string> lines;
  applog::setSink([&](const std::string& l) { lines.push_back(l); });
  applog::line("AnalyzerFile hash1 could not compute message digest.\n");
  applog::setSink({});
  EXPECT_EQ(lines,
            std::vector<std::string>{"AnalyzerFile hash1 could not compute message digest."});
}

TEST(Paths, BackupRootFollowsTheEnvironment) {
  {
    ScopedEnv root("RETRIEVO_BACKUP_ROOT", "/srv/backups");
    EXPECT_EQ(paths::backupRoot(), "/srv/backups");
  }
  {
    ScopedEnv root("RETRIEVO_BACKUP_ROOT", nullptr);
    EXPECT_EQ(paths::backupRoot(),
              paths::homeFolder() + "/Library/Application Support/MobileSync/Backup");
  }
  EXPECT_EQ(paths::documentsFolder(), paths::homeFolder() + "/Documents");
}

TEST(Localization, KeyIsTheTextUnlessTranslated) {
  EXPECT_EQ(localizedString("Ok"), "Ok");
  setTranslationTable({{"Ok", "D'accord"}});
  EXPECT_EQ(localizedString("Ok"), "D'accord");
  EXPECT_EQ(localizedString("Cancel"), "Cancel");
  setTranslationTable({});
  EXPECT_EQ(localizedString("Ok"), "Ok");
}

}  // namespace
