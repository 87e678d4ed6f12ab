// retrievo recover, run as a user would run it on a builder-made backup, and its output read
// back with independent readers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "catalogue/sha1.h"
#include "fixture_support.h"
#include "results/message_html.h"
#include "results/vcard_reader.h"
#include "sample_backup.h"
#include "support/folder_hash.h"
#include "support/run_command.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

CommandResult retrievo(const std::vector<std::string>& args) {
  return runCommand(RETRIEVO_CLI_PATH, args);
}

std::vector<std::string> filesIn(const std::string& folder, const std::string& extension = "") {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    if (e.is_regular_file() && (extension.empty() || e.path().extension() == extension)) {
      out.push_back(e.path().string());
    }
  }
  return out;
}

// UTF-16LE with a byte-order mark, as the pages are written, to UTF-8 (BMP only suffices
// for the check, other characters become '?').
std::string pageText(const std::string& bytes) {
  std::string out;
  if (bytes.size() < 2 || bytes.substr(0, 2) != "\xFF\xFE") return out;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    const unsigned u = static_cast<unsigned char>(bytes[i]) |
                       (static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else if (u >= 0xD800 && u < 0xE000) {
      out += '?';
    } else {
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

class CliRecover : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    tmp_ = new TempDir;
    folder_ = tmp_->sub("Backup/" + fixtures::sampleBackupFolderName());
    fixtures::BackupBuildResult built;
    std::string error;
    ASSERT_TRUE(fixtures::buildSampleBackup(folder_, {}, &built, &error)) << error;
    truth_ = built.truth;
  }
  static void TearDownTestSuite() {
    delete tmp_;
    tmp_ = nullptr;
  }
  std::string stored(const json& file) const {
    return slurp(folder_ + "/" + file["file_key"].get<std::string>());
  }

  TempDir out_;
  static inline TempDir* tmp_ = nullptr;
  static inline std::string folder_;
  static inline json truth_;
};

TEST_F(CliRecover, EverythingComesBackAndTheBackupIsUnchanged) {
  const auto before = folderFingerprint(folder_);
  const std::string out = out_.sub("recovered");
  CommandResult r = retrievo({"recover", folder_, "--out", out, "--all"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("failed: 0 items\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("folder: " + fs::weakly_canonical(out).string() + "\n"), std::string::npos);
  EXPECT_NE(r.err.find("recover: Contact"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("recover: done\n"), std::string::npos);
  EXPECT_EQ(folderFingerprint(folder_), before);
  // Nothing was written beside the output folder.
  std::set<std::string> beside;
  for (const auto& e : fs::directory_iterator(out_.path())) beside.insert(e.path().filename());
  EXPECT_EQ(beside, (std::set<std::string>{"recovered"}));

  // Media byte for byte.
  for (const auto& [list, folder] :
       {std::pair{"photos", "Photo&Video"}, std::pair{"app_media", "AppPhoto&Video"}}) {
    for (const auto& m : truth_[list]) {
      const std::string name = fs::path(m["path"].get<std::string>()).filename();
      EXPECT_EQ(slurp(out + "/" + folder + "/" + name), stored(m)) << name;
    }
  }

  // Every live contact's card, read by an independent reader.
  std::vector<VCard> cards;
  for (const auto& path : filesIn(out + "/Contact", ".vcf")) {
    cards.push_back(readVCard(slurp(path)));
    EXPECT_TRUE(cards.back().wellFormed) << path;
  }
  for (const auto& c : truth_["contacts"]) {
    if (c.value("deleted", false)) continue;
    const std::string name = c["name"];
    const std::string org = c.value("organization", "");
    const VCard* card = nullptr;
    for (const auto& v : cards) {
      const VCardLine* fn = v.find("FN");
      const VCardLine* o = v.find("ORG");
      if ((!name.empty() && fn && fn->value == name) ||
          (name.empty() && o && o->value.find(org) != std::string::npos)) {
        card = &v;
      }
    }
    ASSERT_NE(card, nullptr) << name << org;
    // One line per number and per address.
    EXPECT_EQ(card->all("TEL"), c["phones"].get<std::vector<std::string>>()) << name;
    EXPECT_EQ(card->all("EMAIL"), c["emails"].get<std::vector<std::string>>()) << name;
    if (c["picture_bytes"].get<int>() > 0) {
      ASSERT_NE(card->find("PHOTO"), nullptr) << name;
      auto bytes = decodeBase64(card->find("PHOTO")->value);
      EXPECT_EQ(SHAH::hexDigest(std::string(bytes.begin(), bytes.end())), c["picture_sha1"]);
    } else {
      EXPECT_EQ(card->find("PHOTO"), nullptr) << name;
    }
  }

  // Every live message text is on a page (escaped as the page writes it).
  std::string pages;
  for (const auto& path : filesIn(out + "/Message", ".html")) pages += pageText(slurp(path));
  for (const auto& m : truth_["messages"]) {
    if (m.value("deleted", false) || !m.contains("text")) continue;
    const std::string text = m["text"];
    if (text.rfind("\xEF\xBF\xBC", 0) == 0) continue;  // an attachment shows as its picture
    EXPECT_NE(pages.find(escapeHtml(text)), std::string::npos) << text;
  }
  const std::string notes = slurp(out + "/Note/Notes.txt");
  for (const auto& n : truth_["notes"]) {
    if (!n.value("deleted", false)) {
      EXPECT_NE(notes.find("Title:" + n["title"].get<std::string>()), std::string::npos);
    }
  }
  const std::string calls = slurp(out + "/CallHistory/Call History.txt");
  for (const auto& c : truth_["calls"]) {
    if (!c.value("deleted", false)) {
      EXPECT_NE(calls.find("Phone:" + c["address"].get<std::string>() + "  "), std::string::npos);
    }
  }
  const std::string marks = slurp(out + "/BookMark/BookMark.txt");
  for (const auto& b : truth_["bookmarks"]) {
    if (!b.value("deleted", false) && b.contains("url")) {
      EXPECT_NE(marks.find("URL:" + b["url"].get<std::string>() + "  "), std::string::npos);
    }
  }
  const std::string events = slurp(out + "/Calendar&Reminder/Calendar&Reminder.txt");
  for (const auto& e : truth_["events"]) {
    if (!e.value("deleted", false)) {
      EXPECT_NE(events.find("Title:" + e["summary"].get<std::string>() + "  "), std::string::npos);
    }
  }
}

TEST_F(CliRecover, OptionsChooseWhatIsTicked) {
  const std::string out = out_.sub("notes");
  CommandResult r = retrievo(
      {"recover", folder_, "--out", out, "--category", "notes", "--match", "GOTLAND", "--quiet"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("written: 1 items\n"), std::string::npos) << r.out;
  const std::string notes = slurp(out + "/Note/Notes.txt");
  EXPECT_NE(notes.find("Title:Gotland packing list"), std::string::npos);
  EXPECT_EQ(notes.find("Title:Shopping"), std::string::npos);
  EXPECT_TRUE(filesIn(out + "/Contact", ".vcf").empty());

  const std::string deleted = out_.sub("deleted");
  r = retrievo(
      {"recover", folder_, "--out", deleted, "--category", "contacts", "--deleted-only", "-q"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto cards = filesIn(deleted + "/Contact", ".vcf");
  EXPECT_FALSE(cards.empty());
  for (const auto& path : cards) {
    const std::string fn = readVCard(slurp(path)).find("FN")->value;
    bool live = false;
    for (const auto& c : truth_["contacts"]) live |= !c.value("deleted", false) && c["name"] == fn;
    EXPECT_FALSE(live) << fn;
  }

  // A backup file by domain and device path, under the device's folder.
  const json* sms = nullptr;
  for (const auto& f : truth_["files"]) {
    if (f["path"] == "Library/SMS/sms.db") sms = &f;
  }
  ASSERT_NE(sms, nullptr);
  const std::string files = out_.sub("files");
  r = retrievo({"recover", folder_, "--out", files, "--files", "HomeDomain/Library/SMS", "-q"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(slurp(files + "/Emma's iPhone/HomeDomain/Library/SMS/sms.db"), stored(*sms));
  // Only the folder something went into: no empty category folders or text files.
  std::set<std::string> made;
  for (const auto& e : fs::directory_iterator(files)) made.insert(e.path().filename());
  EXPECT_EQ(made, (std::set<std::string>{"Emma's iPhone"}));
}

// The text as a serialised document shows it: & < > as references, quotes as they are.
std::string domText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      out += c;
    }
  }
  return out;
}

TEST_F(CliRecover, BrowserRendersEveryMessageOfAPage) {
  std::string browser;
  for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
    if (fs::exists(candidate)) browser = candidate;
  }
  if (browser.empty()) GTEST_SKIP() << "Chromium is not installed (Debian package chromium)";

  // The backup named from its parent folder, as ./run.sh names it.
  const std::string out = out_.sub("pages");
  {
    const fs::path cwd = fs::current_path();
    fs::current_path(tmp_->path());
    const CommandResult r = retrievo({"recover", fs::relative(folder_).string(), "--out", out,
                                      "--category", "conversations", "-q"});
    fs::current_path(cwd);
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  const std::string page = out + "/Message/Anna Berg.html";
  ASSERT_TRUE(fs::exists(page));
  CommandResult dom = runCommand(
      browser, {"--headless", "--no-sandbox", "--disable-gpu", "--dump-dom", "file://" + page});
  ASSERT_EQ(dom.exitCode, 0) << dom.err;
  EXPECT_NE(dom.out.find("<h1>Emma's iPhone's Message</h1>"), std::string::npos) << dom.out;
  std::size_t checked = 0;
  for (const auto& m : truth_["messages"]) {
    if (m.value("deleted", false) || m["address"] != "+46705551234") continue;
    EXPECT_NE(dom.out.find(domText(m["text"].get<std::string>())), std::string::npos) << m["text"];
    ++checked;
  }
  EXPECT_GE(checked, 3u);

  // The picture of a conversation shows from its copy beside the page, even with the backup
  // moved away. A page of our own reads the sizes of the pictures in the conversation page.
  const std::string pictures = out + "/Message/johan.lindqvist@example.com.html";
  ASSERT_TRUE(fs::exists(pictures));
  out_.writeFile("sizes.html",
                 "<!DOCTYPE html><html><body><iframe id='f' src='" + fileUrl(pictures) +
                     "'></iframe><script>window.addEventListener('load', function() {"
                     "var d = document.getElementById('f').contentDocument; var s = [];"
                     "for (var i = 0; i < d.images.length; ++i) s.push(d.images[i].naturalWidth);"
                     "document.body.setAttribute('data-widths', s.join(' '));});"
                     "</script></body></html>");
  const std::string moved = tmp_->sub("moved");
  fs::rename(tmp_->sub("Backup"), moved);
  dom = runCommand(browser,
                   {"--headless", "--no-sandbox", "--disable-gpu", "--allow-file-access-from-files",
                    "--dump-dom", fileUrl(out_.sub("sizes.html"))});
  fs::rename(moved, tmp_->sub("Backup"));
  ASSERT_EQ(dom.exitCode, 0) << dom.err;
  const std::size_t at = dom.out.find("data-widths=\"");
  ASSERT_NE(at, std::string::npos) << dom.out;
  std::istringstream widths(dom.out.substr(at + 13, dom.out.find('"', at + 13) - at - 13));
  int shown = 0;
  for (int width; widths >> width; ++shown) EXPECT_GT(width, 0) << widths.str();
  EXPECT_EQ(shown, 1) << widths.str();
}

// An iOS 17 backup's notes: the JSON document and `show` give each note's folder, account and
// creation date, the locked note as locked and without a body, the deleted one marked; the
// attachments are listed and `recover` copies the ones the backup holds beside the notes text.
TEST(CliCurrentNotes, TheJsonDocumentTheShowTableAndTheAttachments) {
  TempDir tmp;
  const std::string folder = tmp.sub("Backup/" + fixtures::sampleBackupFolderName());
  fixtures::BackupBuildResult built;
  ASSERT_TRUE(fixtures::buildBackup(fixtures::currentNotesDescription(), folder,
                                    fixtures::currentDeviceBackup(), &built));
  const CommandResult scan = retrievo({"scan", folder, "--json", "-", "--quiet"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  std::map<std::string, json> notes;
  const json doc = json::parse(scan.out);
  for (const auto& n : doc["notes"]) notes[n["noteTitle"]] = n;
  ASSERT_EQ(notes.size(), 4u) << scan.out;
  EXPECT_EQ(notes["Gotland packing list"]["folder"], "Travel");
  EXPECT_EQ(notes["Shopping"]["folder"], "Notes");
  EXPECT_EQ(notes["Shopping"]["account"], "iCloud");
  EXPECT_FALSE(notes["Shopping"].contains("locked"));
  EXPECT_EQ(notes["Books"]["locked"], true);
  EXPECT_EQ(notes["Books"]["noteContent"], "");
  EXPECT_TRUE(notes["Books"].contains("createdDate"));
  EXPECT_EQ(notes["Door code"]["folder"], "Recently Deleted");
  EXPECT_TRUE(notes["Door code"]["bDeleted"].get<bool>());
  EXPECT_FALSE(notes["Books"].contains("attachments"));

  const std::string out = tmp.sub("out");
  const CommandResult recover =
      retrievo({"recover", folder, "--out", out, "--category", "notes", "-q"});
  ASSERT_EQ(recover.exitCode, 0) << recover.err;
  std::size_t copied = 0;
  for (const auto& truth : built.truth["notes"]) {
    const json& listed = notes[truth["title"].get<std::string>()];
    ASSERT_EQ(listed.value("attachments", json::array()).size(), truth["attachments"].size());
    for (std::size_t i = 0; i < truth["attachments"].size(); ++i) {
      const json& want = truth["attachments"][i];
      const json& got = listed["attachments"][i];
      EXPECT_EQ(got["name"], want["name"]);
      EXPECT_EQ(got["uti"], want["uti"]);
      EXPECT_EQ(got["missing"].get<bool>(), want["path"].is_null()) << got;
      if (want["path"].is_null()) continue;
      EXPECT_EQ(fixtures::sha1Hex(slurp(out + "/Note/" + want["name"].get<std::string>())),
                want["sha1"])
          << want["name"];
      ++copied;
    }
  }
  EXPECT_EQ(copied, 2u);
  EXPECT_NE(slurp(out + "/Note/Notes.txt").find("Attachment:Recipe.pdf (not in the backup)"),
            std::string::npos);

  const CommandResult show = retrievo({"show", folder, "notes"});
  ASSERT_EQ(show.exitCode, 0) << show.err;
  for (const char* text :
       {"Folder", "Account", "Created", "Travel", "Recently Deleted", "Locked"}) {
    EXPECT_NE(show.out.find(text), std::string::npos) << text << "\n" << show.out;
  }
}

// An iOS 17 backup as a user meets it: `scan --json` gives the chats with their senders,
// services, attachments, tapbacks, edits, unsends and replies; `recover` writes each chat's
// page with its attachments beside it, the pictures shown and the other files linked.
TEST(CliCurrentMessages, TheJsonDocumentAndTheRecoveredPages) {
  TempDir tmp;
  const std::string folder = tmp.sub("Backup/" + fixtures::sampleBackupFolderName());
  const fixtures::BackupBuildOptions options = fixtures::currentDeviceBackup();
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildBackup(fixtures::currentMessagesDescription(), folder, options, &built,
                                    &error))
      << error;

  const CommandResult scan = retrievo({"scan", folder, "--json", "-", "--quiet"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  const json doc = json::parse(scan.out);
  std::map<std::string, json> messages;
  json padel;
  for (const auto& c : doc["conversations"]) {
    if (c["bdeleted"].get<bool>()) continue;
    if (c["messageTreeNodeName"] == "Padel") padel = c;
    for (const auto& m : c["MessageNodeArray"]) messages[m["messageContent"]] = m;
  }
  ASSERT_TRUE(padel.is_object()) << scan.out;
  EXPECT_TRUE(padel["groupChat"].get<bool>());
  EXPECT_EQ(padel["service"], "RCS");
  EXPECT_EQ(padel["participants"], json::array({"+46735550101", "+46735550202"}));
  EXPECT_EQ(padel["MessageNodeArray"][0]["sender"], "+46735550202");
  EXPECT_EQ(padel["MessageNodeArray"][1]["sender"], "Me");

  const json& lunch = messages["Lunch tomorrow?"];
  ASSERT_EQ(lunch["reactions"].size(), 1u);  // the question mark was taken back
  EXPECT_EQ(lunch["reactions"][0]["kind"], "Loved");
  EXPECT_EQ(lunch["reactions"][0]["sender"], "Me");
  EXPECT_EQ(lunch["service"], "iMessage");
  EXPECT_TRUE(messages["Sure, 12:00"]["edited"].get<bool>());
  EXPECT_EQ(messages["Sure, 12:00"]["previousTexts"], json::array({"Sure, 11:30", "Sure, 12"}));
  EXPECT_EQ(messages["At the usual place"]["replyTo"], "Lunch tomorrow?");
  EXPECT_TRUE(messages[""]["unsent"].get<bool>());
  EXPECT_EQ(messages["Nice"]["reactions"][0]["kind"], "Sticker");
  std::string placeHolders;
  for (int i = 0; i < 8; ++i) placeHolders += "\xEF\xBF\xBC";
  const json& files = messages[placeHolders + "Files"]["attachments"];
  ASSERT_EQ(files.size(), 8u);
  std::vector<std::string> kinds;
  for (const auto& a : files) {
    kinds.push_back(a["kind"]);
    EXPECT_EQ(a["missing"].get<bool>(), a["name"] == "Photos.zip") << a;
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"Image", "Image", "Mov", "Audio", "Contact",
                                             "Location", "PDF", "File"}));

  const std::string out = tmp.sub("out");
  const CommandResult recover =
      retrievo({"recover", folder, "--out", out, "--category", "conversations", "-q"});
  ASSERT_EQ(recover.exitCode, 0) << recover.err;
  const std::string page = pageText(slurp(out + "/Message/+46705551234.html"));
  ASSERT_FALSE(page.empty());
  EXPECT_NE(page.find("<img style='max-width:200px' alt='IMG_0101.JPG' src='IMG_0101.JPG'/>"),
            std::string::npos);
  EXPECT_NE(page.find("<a href='Invoice.pdf'>[PDF: Invoice.pdf]</a>"), std::string::npos);
  EXPECT_NE(page.find("[File: Photos.zip, not in the backup]"), std::string::npos);
  EXPECT_NE(page.find("Edited"), std::string::npos);
  EXPECT_NE(page.find("<i>Unsent</i>"), std::string::npos);
  EXPECT_NE(page.find("Loved by Me"), std::string::npos);
  for (const auto& record : built.truth["messages"]) {
    for (const auto& a : record["attachments"]) {
      if (!a["stored"].get<bool>() || record["deleted"].get<bool>()) continue;
      const std::string copy = slurp(out + "/Message/" + a["name"].get<std::string>());
      EXPECT_EQ(fixtures::sha1Hex(copy), a["sha1"]) << a["name"];
    }
  }
}

// The calls of an iOS 17 backup with their kind: in `show`, in the JSON document (the key only
// where the kind is known) and in the recovered list.
TEST(CliCurrentCalls, TheKindInShowTheDocumentAndTheRecoveredList) {
  ScopedEnv tz("TZ", "UTC");
  TempDir tmp;
  const std::string folder = tmp.sub("Backup/" + fixtures::sampleBackupFolderName());
  std::string error;
  ASSERT_TRUE(fixtures::buildBackup(fixtures::currentCallsDescription(), folder,
                                    fixtures::currentDeviceBackup(), nullptr, &error))
      << error;

  const CommandResult show = retrievo({"show", folder, "calls"});
  ASSERT_EQ(show.exitCode, 0) << show.err;
  EXPECT_NE(show.out.find("Outgoing (FaceTime Video)"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("Incoming (net.whatsapp.WhatsApp)"), std::string::npos) << show.out;

  const CommandResult scan = retrievo({"scan", folder, "--json", "-", "--quiet"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  const json doc = json::parse(scan.out);
  std::map<std::string, std::string> kinds;
  for (const auto& c : doc["calls"]) {
    if (!c["bDeleted"].get<bool>())
      kinds[c["callDate"].get<std::string>()] = c.value("callKind", "(none)");
  }
  EXPECT_EQ(kinds["03-03-2024 11:00"], "FaceTime Audio") << scan.out;
  EXPECT_EQ(kinds["05-27-2013 17:40"], "Phone");

  const std::string out = tmp.sub("out");
  ASSERT_EQ(retrievo({"recover", folder, "--out", out, "--category", "calls", "-q"}).exitCode, 0);
  const std::string list = slurp(out + "/CallHistory/Call History.txt");
  EXPECT_NE(list.find("Date:03-03-2024 11:00  Type:Incoming (FaceTime Audio)  Duration:Missed  "),
            std::string::npos)
      << list;
}

// The calendar of an iOS 17 backup: reminders and attendees in `show`, found by `search`, in the
// JSON document and in the recovered list.
TEST(CliCurrentCalendar, RemindersAndAttendeesInShowSearchTheDocumentAndTheRecoveredList) {
  ScopedEnv tz("TZ", "UTC");
  TempDir tmp;
  const std::string folder = tmp.sub("Backup/" + fixtures::sampleBackupFolderName());
  std::string error;
  ASSERT_TRUE(fixtures::buildBackup(fixtures::currentCalendarDescription(), folder,
                                    fixtures::currentDeviceBackup(), nullptr, &error))
      << error;

  const CommandResult show = retrievo({"show", folder, "calendar"});
  ASSERT_EQ(show.exitCode, 0) << show.err;
  EXPECT_NE(show.out.find("Reminder (completed)"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("Anna Berg <anna.berg@example.com>, Karin Lund"), std::string::npos)
      << show.out;
  // An attendee's name finds the event.
  const CommandResult found = retrievo({"search", folder, "calendar", "Karin"});
  ASSERT_EQ(found.exitCode, 0) << found.err;
  EXPECT_NE(found.out.find("Book club"), std::string::npos) << found.out;
  EXPECT_EQ(found.out.find("Dentist"), std::string::npos) << found.out;

  const CommandResult scan = retrievo({"scan", folder, "--json", "-", "--quiet"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  const json doc = json::parse(scan.out);
  std::map<std::string, json> live;
  for (const auto& e : doc["calendar"]) {
    if (!e["bDeleted"].get<bool>()) live[e["calTitle"].get<std::string>()] = e;
  }
  EXPECT_EQ(live["Book club"]["calendarName"], "Friends");
  EXPECT_EQ(live["Book club"]["attendees"].size(), 3u);
  EXPECT_FALSE(live["Book club"].contains("kind"));
  EXPECT_EQ(live["Midsummer"]["allDay"], true);
  EXPECT_EQ(live["Call grandma"]["kind"], "Reminder");
  EXPECT_TRUE(live["Call grandma"]["dueDate"].is_null());
  EXPECT_EQ(live["Buy film for the ferry trip"]["completed"], true);
  EXPECT_EQ(live.count("Return library books"), 0u);  // deleted on the device

  const std::string out = tmp.sub("out");
  ASSERT_EQ(retrievo({"recover", folder, "--out", out, "--category", "calendar", "-q"}).exitCode,
            0);
  const std::string list = slurp(out + "/Calendar&Reminder/Calendar&Reminder.txt");
  EXPECT_NE(list.find("Title:Buy film for the ferry trip  Note:  Start Date:  End Date:  "
                      "Kind:Reminder  Calendar:Travel  Due Date:07-10-2013 16:00  Completed:Yes  "),
            std::string::npos)
      << list;
  EXPECT_NE(list.find("End Date:06-11-2013 09:15  Calendar:Calendar  Location:Folktandvården "
                      "Odenplan  Attendees:Dr. Sofia Ek <bokning@example.se>  "),
            std::string::npos)
      << list;
}

// A whole scan of a current iPhone: the photo library's dates and names in the document, and
// the recovered camera roll as the owner's files only: the Live Photo as a pair, the imported
// photo under its original name, no thumbnail or cache.
TEST(CliCurrentCameraRoll, TheDocumentAndTheRecoveredFiles) {
  ScopedEnv tz("TZ", "UTC");
  TempDir tmp;
  const std::string folder = tmp.sub("Backup/" + fixtures::sampleBackupFolderName());
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildBackup(fixtures::sampleDescription(), folder,
                                    fixtures::currentDeviceBackup(), &built, &error))
      << error;

  const CommandResult scan = retrievo({"scan", folder, "--json", "-", "--quiet"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  std::map<std::string, json> photos;
  const json doc = json::parse(scan.out);
  for (const auto& p : doc["photos"]) {
    photos[p["fileNodeName"].get<std::string>()] = p;
  }
  EXPECT_EQ(photos["IMG_0103.HEIC"]["bLivePhoto"], true) << scan.out;
  EXPECT_EQ(photos["IMG_0103.HEIC"]["captureDate"], "06-22-2024 10:12");
  EXPECT_EQ(photos["IMG_0102.HEIC"]["originalFileName"], "Midsummer at Skansen.heic");
  EXPECT_EQ(photos.count("IMG_0103.MOV"), 0u);
  EXPECT_EQ(photos.count("5005.JPG"), 0u);

  const std::string out = tmp.sub("out");
  ASSERT_EQ(retrievo({"recover", folder, "--out", out, "--category", "photos", "-q"}).exitCode, 0);
  std::set<std::string> written;
  for (const auto& e : fs::directory_iterator(out + "/Photo&Video")) {
    written.insert(e.path().filename().string());
  }
  for (const char* name : {"IMG_0103.HEIC", "IMG_0103.MOV", "Midsummer at Skansen.heic",
                           "IMG_0104 (edited).jpg", "IMG_8812.JPG"}) {
    EXPECT_EQ(written.count(name), 1u) << name;
  }
  // One file per record, and the Live Photo's movie beside its still.
  EXPECT_EQ(written.size(), photos.size() + 1);
}

TEST_F(CliRecover, RefusalsAndIncompleteItems) {
  const std::string out = out_.sub("x");
  CommandResult none = retrievo({"recover", folder_, "--out", out});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_EQ(none.err, "retrievo: nothing selected: use --all, --category or --files\n");
  CommandResult nothingMatched =
      retrievo({"recover", folder_, "--out", out, "--category", "notes", "--match", "zqzq", "-q"});
  EXPECT_EQ(nothingMatched.exitCode, 2);
  EXPECT_EQ(nothingMatched.err, "retrievo: no item matches \"zqzq\"\n");
  EXPECT_EQ(retrievo({"recover", folder_, "--out", out, "--category", "nonsense"}).exitCode, 2);
  CommandResult noFile =
      retrievo({"recover", folder_, "--out", out, "--files", "HomeDomain/No/Such", "-q"});
  EXPECT_EQ(noFile.exitCode, 2);
  EXPECT_FALSE(fs::exists(out));

  const auto before = folderFingerprint(folder_);
  CommandResult inside = retrievo({"recover", folder_, "--out", folder_ + "/out", "--all"});
  EXPECT_EQ(inside.exitCode, 2);
  EXPECT_NE(inside.err.find("inside the backup folder"), std::string::npos);
  EXPECT_EQ(retrievo({"recover", folder_, "--out",
                      folder_ + "/../" + fs::path(folder_).filename().string(), "--all"})
                .exitCode,
            2);
  EXPECT_EQ(folderFingerprint(folder_), before);

  // A file in the way of the media folder: the media cannot be written, everything else is.
  const std::string blocked = out_.sub("blocked");
  out_.writeFile("blocked/Photo&Video", "in the way");
  CommandResult r = retrievo({"recover", folder_, "--out", blocked, "--all", "-q"});
  EXPECT_EQ(r.exitCode, 4) << r.err;
  const std::size_t photos = truth_["photos"].size();
  EXPECT_NE(r.out.find("failed: "), std::string::npos);
  EXPECT_NE(r.err.find("items were not written in full:\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\n  IMG_0001.JPG: not a folder: Photo&Video is a file\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(" more\n"), std::string::npos) << photos;
  EXPECT_FALSE(filesIn(blocked + "/Contact", ".vcf").empty());

  // The output folder is a file.
  CommandResult notFolder = retrievo(
      {"recover", folder_, "--out", blocked + "/Photo&Video", "-q", "--category", "notes"});
  EXPECT_EQ(notFolder.exitCode, 1);
  EXPECT_EQ(notFolder.err, "retrievo: cannot write into the output folder " + blocked +
                               "/Photo&Video: it is not a folder\n");

  CommandResult help = retrievo({"recover", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* option :
       {"--out", "--all", "--category", "--deleted-only", "--match", "--files", "bookmarks"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
}

TEST_F(CliRecover, PlantedLinkFailsItsItemsAndVerboseNamesEveryOne) {
  const std::string out = out_.sub("linked");
  const std::string elsewhere = out_.sub("elsewhere");
  fs::create_directories(out);
  fs::create_directories(elsewhere);
  fs::create_symlink(elsewhere, out + "/Contact");
  CommandResult r =
      retrievo({"-v", "recover", folder_, "--out", out, "--category", "contacts", "-q"});
  EXPECT_EQ(r.exitCode, 4) << r.err;
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_TRUE(fs::is_symlink(out + "/Contact"));
  std::size_t named = 0;
  for (std::size_t at = 0;
       (at = r.err.find(": not a folder: Contact is a symbolic link\n", at)) != std::string::npos;
       ++at) {
    ++named;
  }
  // Every card and the text file, more than the five named without --verbose.
  EXPECT_GT(named, 5u);
  EXPECT_NE(r.out.find("failed: " + std::to_string(named) + " items\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.err.find(" more\n"), std::string::npos);
}

TEST_F(CliRecover, UnwritableOutputFolderIsSaidOnce) {
  // Root may write into any folder, so as root the command runs as an unprivileged user.
  std::string program = RETRIEVO_CLI_PATH;
  std::vector<std::string> args;
  if (::geteuid() == 0) {
    if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "as root this needs setpriv";
    program = "/usr/bin/setpriv";
    args = {"--reuid=65534", "--regid=65534", "--clear-groups", RETRIEVO_CLI_PATH};
  }
  const std::string out = out_.sub("readonly");
  fs::create_directories(out);
  fs::permissions(out, fs::perms(0555));
  fs::permissions(out_.path(), fs::perms(0755));
  fs::permissions(tmp_->path(), fs::perms(0755));  // the backup, readable by that user
  for (const char* a : {"recover", "--all", "--out"}) args.push_back(a);
  args.push_back(out);
  args.push_back(folder_);
  CommandResult r = runCommand(program, args);
  fs::permissions(tmp_->path(), fs::perms(0700));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            "retrievo: cannot write into the output folder " + out + ": Permission denied\n");
  EXPECT_TRUE(fs::is_empty(out));
}

}  // namespace
