// How many of the builder's deleted messages the deleted-message step brings back, per
// carving layout and device generation, and how many of its records match no deleted row.
//
// A deleted message counts as recovered when a carved record has its text and its address
// (a sent message of a group thread names no address; the record's "<handle>_Messages"
// stands for it). A carved record that is no deleted message is either a live one (the
// results drop it as a duplicate of the live record) or a stray one (it matches no row).
#include <gtest/gtest.h>

#include <any>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "app/carve_steps.h"
#include "carve/deleted_messages_scanner.h"
#include "extract/messages_scanner.h"
#include "fixture_support.h"
#include "messages_volume.h"
#include "sample_backup.h"
#include "support/step_harness.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;

struct RecallCase {
  const char* name;
  int generation;
  json sms;  // the description's "databases": {"sms": ...}
  std::uint64_t seed;
};

struct Recall {
  std::size_t deleted = 0;                       // deleted messages in the truth
  std::size_t recovered = 0;                     // of those, found with text and address
  std::size_t deletedSms = 0, recoveredSms = 0;  // the same for SMS alone
  std::size_t textOnly = 0;                      // found by text, with another address
  std::size_t carved = 0;                        // records posted
  std::size_t live = 0;                          // posted records that are live messages
  std::size_t stray = 0;                         // posted records that match no message
};

bool addressMatches(const json& truth, const MzMessageNode& carved) {
  const std::string address = truth.value("address", "");
  if (address.empty()) return carved.messagePhone.find("_Messages") != std::string::npos;
  return carved.messagePhone == address;
}

Recall measure(const RecallCase& c) {
  TempDir temp;
  const std::string folder = temp.sub("backup");
  fixtures::MessagesVolumeOptions volume;
  volume.conversations = 24;
  volume.messagesPerConversation = 18;
  volume.seed = c.seed;
  json description = fixtures::withMessagesVolume(fixtures::sampleDescription(), volume);
  description["databases"]["sms"] = c.sms;
  fixtures::BackupBuildOptions options;
  options.generation = c.generation;
  options.truthPath = temp.sub("truth.json");
  fixtures::BackupBuildResult built;
  std::string error;
  EXPECT_TRUE(fixtures::buildBackup(description, folder, options, &built, &error)) << error;

  StepHarness harness(folder);
  harness.readIndex();
  harness.readContacts();
  const bool iOS6 = c.generation >= 6;
  harness.run(scanMessageThread, iOS6, c.generation >= 7);
  std::vector<std::shared_ptr<MzMessageNode>> posted;
  harness.center.addObserver("ScanDelMessageInfo", [&](const std::any& o) {
    posted.push_back(std::any_cast<std::shared_ptr<MzMessageNode>>(o));
  });
  harness.run(scanDelMessageThread, iOS6, c.generation >= 7);

  // RETRIEVO_RECALL_VERBOSE=1 lists the carved records that are no deleted message.
  const bool verbose = std::getenv("RETRIEVO_RECALL_VERBOSE") != nullptr;
  if (verbose) {
    const std::string key = built.truth["databases"]["sms"].value("file_key", "");
    std::filesystem::copy_file(folder + "/" + key, "/tmp/recall-" + std::to_string(c.seed) + ".db",
                               std::filesystem::copy_options::overwrite_existing);
  }
  Recall r;
  r.carved = posted.size();
  std::multimap<std::string, const MzMessageNode*> byText;
  for (const auto& m : posted) byText.emplace(m->messageContent, m.get());
  std::set<const MzMessageNode*> accounted;
  for (const json& m : built.truth["messages"]) {
    const std::string text = m.value("text", "");
    const auto [first, last] = byText.equal_range(text);
    const bool deleted = m.value("deleted", false);
    bool exact = false, any = false;
    for (auto it = first; it != last; ++it) {
      any = true;
      if (addressMatches(m, *it->second)) {
        exact = true;
        accounted.insert(it->second);
      } else if (!deleted) {
        accounted.insert(it->second);
      }
    }
    if (!deleted) continue;
    ++r.deleted;
    const bool sms = m.value("service", "") == "SMS";
    r.deletedSms += sms;
    if (exact) {
      ++r.recovered;
      r.recoveredSms += sms;
    } else if (any) {
      ++r.textOnly;
    }
  }
  std::set<std::string> liveTexts, deletedTexts;
  for (const json& m : built.truth["messages"]) {
    (m.value("deleted", false) ? deletedTexts : liveTexts).insert(m.value("text", ""));
  }
  for (const auto& m : posted) {
    if (deletedTexts.count(m->messageContent) && accounted.count(m.get())) continue;
    if (verbose) {
      std::printf("  unmatched: phone [%s] type %s date %s text [%.60s]\n", m->messagePhone.c_str(),
                  m->messageType.c_str(), m->messageDate.c_str(), m->messageContent.c_str());
    }
    if (liveTexts.count(m->messageContent)) {
      ++r.live;
    } else if (!deletedTexts.count(m->messageContent)) {
      ++r.stray;
      if (verbose) std::printf("  stray: %d [%.50s]\n", m->bImessage, m->messageContent.c_str());
    }
  }
  std::printf(
      "[recall] %-28s deleted %4zu  recovered %4zu (%5.1f%%)  text only %3zu  carved %4zu  "
      "live %4zu  stray %4zu  (SMS %zu of %zu)\n",
      c.name, r.deleted, r.recovered, r.deleted ? 100.0 * r.recovered / r.deleted : 0.0, r.textOnly,
      r.carved, r.live, r.stray, r.recoveredSms, r.deletedSms);
  return r;
}

// The figures are deterministic (the same conversations every run); the floors sit a little
// below what the carver reaches, so that a change that loses records shows.
void expectRecall(const RecallCase& c, double floor, double smsFloor, double strayCeiling,
                  std::size_t minIMessages = 0) {
  const Recall r = measure(c);
  EXPECT_GE(r.recovered - r.recoveredSms, minIMessages) << c.name;
  ASSERT_GT(r.deleted, 50u) << c.name;
  EXPECT_GE(static_cast<double>(r.recovered), floor * static_cast<double>(r.deleted)) << c.name;
  EXPECT_GE(static_cast<double>(r.recoveredSms), smsFloor * static_cast<double>(r.deletedSms))
      << c.name;
  EXPECT_LE(static_cast<double>(r.stray), strayCeiling * static_cast<double>(r.carved)) << c.name;
}

TEST(DeletedMessagesRecall, ChatLayoutOfIOS6And7) {
  expectRecall({"iOS 7 chat layout", 7, json::object(), 11}, 0.75, 0.75, 0.02);
  expectRecall({"iOS 6 chat layout", 6, json::object(), 12}, 0.60, 0.55, 0.03);
  // Records of more than 989 bytes overflow a 1024-byte page: their text is cut at the end
  // of the page part, and the cut texts count as strays.
  expectRecall({"iOS 7 chat, 1024-byte pages", 7, json{{"page_size", 1024}}, 13}, 0.30, 0.30, 0.12);
}

// iOS 5 keeps SMS and iMessage in one table. iMessage rows come back when they have no group
// or, as rows of a conversation have, flags 0 and a group; the write-ahead forms only.
// Some carved SMS texts lose their first character (counted as strays).
TEST(DeletedMessagesRecall, OlderLayoutsOfIOS5) {
  expectRecall({"iOS 5 WAL (forms 1 and 2)", 5, json{{"journal", "wal"}}, 21}, 0.50, 0.65, 0.12, 8);
  expectRecall(
      {"iOS 5 upgraded, WAL", 5, json{{"journal", "wal"}, {"message_layout", "upgraded"}}, 22},
      0.68, 0.90, 0.02, 6);
  expectRecall({"iOS 5 rollback journal", 5, json{{"journal", "legacy"}}, 23}, 0.30, 0.85, 0.05);
}

}  // namespace
