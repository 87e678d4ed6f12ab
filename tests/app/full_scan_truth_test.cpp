// A whole scan of the sample backup, built for each device generation the builders know,
// compared category by category with what the builder put into it: every live record the
// builder wrote comes back, and no live record comes back that the builder did not write.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "app/retrievo_app_delegate.h"
#include "catalogue/device_controller.h"
#include "results/result_view_controller.h"
#include "sample_backup.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;
using Texts = std::multiset<std::string>;

struct Generation {
  const char* name;
  int generation;
  const char* messageLayout;  // iOS 5 only: "fresh" or "upgraded"
  const char* versionShown;   // "" keeps the builder's version; else the backup claims this
};

void PrintTo(const Generation& g, std::ostream* os) { *os << g.name; }

std::string digitsOf(const std::string& s) {
  std::string d;
  for (char c : s) {
    if (c >= '0' && c <= '9') d += c;
  }
  return d;
}

// The truth's list `category`, or an empty one.
json listOf(const json& truth, const char* category) {
  return truth.value(category, json::array());
}

Texts liveTruth(const json& truth, const char* category, const char* field) {
  Texts out;
  for (const auto& r : listOf(truth, category)) {
    if (!r.value("deleted", false)) out.insert(r.value(field, std::string()));
  }
  return out;
}

template <typename T, typename F>
Texts liveOf(const RecordList<T>& list, F field) {
  Texts out;
  for (const auto& r : list) {
    if (!r->bDeleted) out.insert(field(*r));
  }
  return out;
}

class FullScanTruth : public testing::TestWithParam<Generation> {
 protected:
  void SetUp() override {
    const Generation& g = GetParam();
    json description = fixtures::sampleDescription();
    if (std::string(g.messageLayout) != "") {
      description["databases"]["sms"]["message_layout"] = g.messageLayout;
    }
    folder_ = tmp_.sub("Backup/" + fixtures::sampleBackupFolderName());
    fixtures::BackupBuildOptions options;
    options.generation = g.generation;
    std::string error;
    ASSERT_TRUE(fixtures::buildBackup(description, folder_, options, &built_, &error)) << error;

    auto node = MzIOSDeviceController::readDeviceNode(folder_);
    ASSERT_TRUE(node.has_value());
    auto backup = std::make_shared<MzIOSDeviceNode>(*node);
    backup->backUpFilePath = folder_;
    if (std::string(g.versionShown) != "") backup->strIOSVersion = g.versionShown;

    RetrievoAppDelegate delegate(center_);
    delegate.setCurrentNodeForScan(backup);
    results_.setCurrentBackup(backup);
    results_.prepareForScan();
    delegate.ScanThreadFinish = [this] { results_.ScanThreadFinish(); };
    ASSERT_TRUE(delegate.ScanIOSBackFile(folder_));
    delegate.waitForScan();
  }

  const json& truth() const { return built_.truth; }

  TempDir tmp_;
  std::string folder_;
  fixtures::BackupBuildResult built_;
  NotificationCenter center_;
  MzResultViewController results_{center_};
};

TEST_P(FullScanTruth, EveryLiveRecordComesBackAndNothingElse) {
  // Contacts: names and phone numbers.
  EXPECT_EQ(liveOf(results_.contactArray, [](const MzContactNode& c) { return c.contactName; }),
            liveTruth(truth(), "contacts", "name"));
  for (const auto& c : results_.contactArray) {
    if (c->bDeleted) continue;
    for (const auto& t : listOf(truth(), "contacts")) {
      if (t["name"] != c->contactName) continue;
      for (const auto& phone : t["phones"]) {
        EXPECT_NE(c->contactPhone.find(phone.get<std::string>()), std::string::npos)
            << c->contactName;
      }
    }
  }

  // Messages: every live text, each under the right address.
  EXPECT_EQ(liveOf(results_.messageArray, [](const MzMessageNode& m) { return m.messageContent; }),
            liveTruth(truth(), "messages", "text"));
  Texts addresses = liveOf(results_.messageArray,
                           [](const MzMessageNode& m) { return digitsOf(m.messagePhone); });
  Texts truthAddresses;
  for (const auto& m : listOf(truth(), "messages")) {
    if (!m.value("deleted", false)) truthAddresses.insert(digitsOf(m.value("address", "")));
  }
  EXPECT_EQ(addresses, truthAddresses);

  // Calls: one per live call, by number.
  Texts callNumbers = liveOf(results_.callHistoryArray,
                             [](const MzCallHistoryNode& c) { return digitsOf(c.callPhone); });
  Texts truthCalls;
  for (const auto& c : listOf(truth(), "calls")) {
    if (!c.value("deleted", false)) truthCalls.insert(digitsOf(c.value("address", "")));
  }
  EXPECT_EQ(callNumbers, truthCalls);

  // Notes: titles.
  EXPECT_EQ(liveOf(results_.noteArray, [](const MzNoteNode& n) { return n.noteTitle; }),
            liveTruth(truth(), "notes", "title"));

  // Events: titles.
  EXPECT_EQ(liveOf(results_.calenderArray, [](const MzCalenderNode& e) { return e.calTitle; }),
            liveTruth(truth(), "events", "summary"));

  // Bookmarks: every live leaf bookmark and every history entry is listed (beside the
  // device's default bookmarks).
  const Texts titles =
      liveOf(results_.bookMarkArray, [](const MzBookMarkNode& b) { return b.bookMarkTitle; });
  for (const auto& b : listOf(truth(), "bookmarks")) {
    if (b.value("deleted", false) || b.value("type", "") == "folder") continue;
    EXPECT_GE(titles.count(b.value("title", "")), 1u) << b.dump();
  }
  for (const auto& h : listOf(truth(), "history")) {
    if (h.value("deleted", false)) continue;
    EXPECT_GE(titles.count(h.value("title", "")), 1u) << h.dump();
  }

  // Media: every camera-roll file by name, and the pictures of messages, which the device
  // keeps in MediaDomain and which count as camera-roll media too; application media, the
  // social applications' files also as social media.
  Texts photoNames;
  for (const auto& p : results_.photoAndVideoArray) photoNames.insert(p->fileNodeName);
  Texts truthPhotos;
  auto nameOf = [](const std::string& path) { return path.substr(path.rfind('/') + 1); };
  for (const char* category : {"photos", "videos"}) {
    for (const auto& p : listOf(truth(), category)) truthPhotos.insert(nameOf(p.value("path", "")));
  }
  for (const auto& f : listOf(truth(), "files")) {
    const std::string path = f.value("path", "");
    if (f.value("domain", "") == "MediaDomain" && path.find("/Attachments/") != std::string::npos &&
        path.size() > 4 && path.compare(path.size() - 4, 4, ".JPG") == 0) {
      truthPhotos.insert(nameOf(path));
    }
  }
  EXPECT_EQ(photoNames, truthPhotos);
  EXPECT_EQ(results_.appPhotoAndVideoArray.size(), listOf(truth(), "app_media").size());
  std::size_t social = 0;
  for (const auto& m : listOf(truth(), "app_media")) {
    const std::string domain = m.value("domain", "");
    social += domain == "AppDomain-com.facebook.Facebook" ||
              domain == "AppDomain-com.atebits.Tweetie2" ||
              domain == "AppDomain-com.facebook.Messenger";
  }
  EXPECT_EQ(results_.faceTwitterArray.size(), social);
}

INSTANTIATE_TEST_SUITE_P(
    Generations, FullScanTruth,
    testing::Values(Generation{"iOS5Fresh", 5, "fresh", ""},
                    Generation{"iOS5Upgraded", 5, "upgraded", ""}, Generation{"iOS6", 6, "", ""},
                    Generation{"iOS7", 7, "", ""}, Generation{"iOS8", 7, "", "8.1"}),
    [](const testing::TestParamInfo<Generation>& info) { return std::string(info.param.name); });

}  // namespace
