#include "results/recovery_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <set>
#include <string>

#include "results/html_controller.h"
#include "results/output_names.h"
#include "results/vcard_reader.h"
#include "support/folder_hash.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class Recovery : public ::testing::Test {
 protected:
  Recovery() {
    auto backup = std::make_shared<MzIOSDeviceNode>();
    backup->strDeviceName = "Emma's iPhone";
    results.setCurrentBackup(backup);
  }

  // A stored file of the "backup" with `size` bytes of a pattern.
  std::string stored(const std::string& key, std::size_t size) {
    std::string bytes(size, static_cast<char>(key.size()));
    for (std::size_t i = 0; i < size; i += 4093) bytes[i] = static_cast<char>(i / 4093);
    return tmp.writeFile("backup/" + key, bytes);
  }

  std::shared_ptr<MzPhotoAndVideoNode> media(const std::string& name, const std::string& path,
                                             std::uint64_t size, bool ticked = true) {
    auto m = std::make_shared<MzPhotoAndVideoNode>();
    m->fileNodeName = name;
    m->filePath = path;
    m->fileSizeNumber = size;
    tick(m->bSelected, ticked);
    return m;
  }

  void tick(bool& flag, bool on = true) {
    flag = on;
    if (on) ++results.selectedFilesNum;
  }

  RecoveryReport run() {
    MzRecoveryWriter writer(results);
    writer.treeRoots = roots;
    RecoveryReport finished;
    bool called = false;
    writer.onFinished = [&](const RecoveryReport& r) {
      finished = r;
      called = true;
    };
    writer.onProgress = [&](const RecoveryProgress& p) {
      EXPECT_LE(p.percent, 100);
      maxWritten = std::max(maxWritten, p.written);
    };
    EXPECT_TRUE(writer.start(out()));
    writer.wait();
    EXPECT_TRUE(called);
    percent = writer.progressPercent();
    total = writer.allSelectedFileNum;
    return finished;
  }

  std::string out() const { return tmp.sub("out"); }
  std::set<std::string> names(const std::string& folder) const {
    std::set<std::string> n;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(out() + "/" + folder, ec)) {
      n.insert(e.path().filename().string());
    }
    return n;
  }

  TempDir tmp;
  NotificationCenter nc;
  MzResultViewController results{nc};
  std::vector<std::shared_ptr<MzTreeDirNode>> roots;
  std::int32_t maxWritten = 0;
  int percent = -1;
  std::int64_t total = 0;
};

TEST_F(Recovery, OnlyNotesTickedMakesOnlyTheNoteFolderAndFile) {
  auto note = std::make_shared<MzNoteNode>();
  note->noteTitle = "Shopping";
  note->noteContent = "Milk\nEggs";
  note->noteDate = "06-04-2013 10:01";
  tick(note->bSelected);
  results.noteArray.push_back(note);
  results.noteArray.push_back(std::make_shared<MzNoteNode>());  // not ticked

  RecoveryReport report = run();
  EXPECT_TRUE(report.issues.empty());
  EXPECT_EQ(report.counted, 1);
  // No empty category folders, no empty text files.
  EXPECT_EQ(names(""), (std::set<std::string>{"Note"}));
  EXPECT_EQ(slurp(out() + "/Note/Notes.txt"),
            "Title:Shopping  Note:Milk\nEggs  Date:06-04-2013 10:01  \n\n");
  EXPECT_EQ(names("Note"), (std::set<std::string>{"Notes.txt"}));
}

TEST_F(Recovery, TextRecordFormatsAndAnEarlierRunsFile) {
  auto call = std::make_shared<MzCallHistoryNode>();
  call->callName = std::nullopt;  // no contact matched
  call->callPhone = "+46701119988";
  call->callDate = "06-06-2013 12:47";
  call->callType = "Incoming";
  call->callDuration = "00:01:01";
  tick(call->bSelected);
  results.callHistoryArray.push_back(call);
  auto event = std::make_shared<MzCalenderNode>();
  event->calTitle = "Dentist";
  event->startDate = "06-11-2013 10:30";
  event->endDate = "06-11-2013 11:15";
  tick(event->bSelected);
  results.calenderArray.push_back(event);
  auto mark = std::make_shared<MzBookMarkNode>();
  mark->bookMarkTitle = "SJ";
  mark->bookMarkURL = "http://www.sj.se/";
  tick(mark->bSelected);
  results.bookMarkArray.push_back(mark);
  // An earlier recovery into the same folder left its call list; the user keeps a file of
  // the name the text used to be written under first.
  tmp.writeFile("out/CallHistory/Call History.txt", "earlier run");
  tmp.writeFile("out/BookMark/TXT.txt", "the user's");

  RecoveryReport report = run();
  EXPECT_TRUE(report.issues.empty());
  EXPECT_EQ(slurp(out() + "/CallHistory/Call History.txt"), "earlier run");
  EXPECT_EQ(slurp(out() + "/CallHistory/0_Call History.txt"),
            "Name:(null)  Phone:+46701119988  Date:06-06-2013 12:47  Type:Incoming  "
            "Duration:00:01:01  \n\n");
  EXPECT_EQ(names("CallHistory"),
            (std::set<std::string>{"Call History.txt", "0_Call History.txt"}));
  EXPECT_EQ(slurp(out() + "/BookMark/TXT.txt"), "the user's");
  EXPECT_EQ(slurp(out() + "/Calendar&Reminder/Calendar&Reminder.txt"),
            "Title:Dentist  Note:  Start Date:06-11-2013 10:30  End Date:06-11-2013 11:15  \n\n");
  EXPECT_EQ(slurp(out() + "/BookMark/BookMark.txt"), "Title:SJ  URL:http://www.sj.se/  \n\n");
}

// A record that says where it came from has it on a line of its own after its fields; the
// fields' line stays as it was.
TEST_F(Recovery, TheOriginFollowsTheFieldsOfARecordThatKnowsIt) {
  auto call = std::make_shared<MzCallHistoryNode>();
  call->callPhone = "+46701119988";
  call->callType = "Incoming";
  call->bDeleted = true;
  call->origin =
      RecordOrigin::carved("call_history.db", 7, 28731, RecordOrigin::Place::RecordSignature);
  tick(call->bSelected);
  results.callHistoryArray.push_back(call);
  auto contact = std::make_shared<MzContactNode>();
  contact->contactName = "Anna Berg";
  contact->origin = RecordOrigin::live("AddressBook.sqlitedb", "ABPerson", 42);
  tick(contact->bSelected);
  results.contactArray.push_back(contact);

  EXPECT_TRUE(run().issues.empty());
  EXPECT_EQ(slurp(out() + "/CallHistory/Call History.txt"),
            "Name:  Phone:+46701119988  Date:  Type:Incoming  Duration:  \n"
            "Origin: carved from call_history.db, page 7, offset 28731 (record signature)\n\n");
  EXPECT_EQ(slurp(out() + "/Contact/Contacts.txt"),
            "Name:Anna Berg  Phone:  Email:  Company:  JobTitle:  Home Page:  Birthday:  Note:  \n"
            "Origin: live row 42 of ABPerson in AddressBook.sqlitedb\n\n");
}

TEST_F(Recovery, MediaNamesCollideWithoutOverwritingAndCopiesAreExact) {
  const std::string a = stored("aa", 30000);
  const std::string b = stored("bbb", (8u << 20) + 100);  // more than one 8 MiB chunk
  const std::string c = stored("c", 10);
  const std::string d = stored("dddd", 100);
  for (int i = 0; i < 10; ++i) {
    results.photoAndVideoArray.push_back(media("x" + std::to_string(i), a, 30000, false));
  }
  results.photoAndVideoArray[3] = media("0001.JPG", a, 30000);
  results.photoAndVideoArray[7] = media("0001.JPG", b, (8u << 20) + 100);
  results.photoAndVideoArray[1] = media("7_0001.JPG", c, 10);
  results.photoAndVideoArray[9] = media("0001.JPG", d, 100);
  results.photoAndVideoArray[5] = media("empty.JPG", c, 0);  // size 0: counted, no file
  // Application media go to their own folder, so the same name is free there.
  results.appPhotoAndVideoArray.push_back(media("0001.JPG", c, 10));

  RecoveryReport report = run();
  EXPECT_TRUE(report.issues.empty());
  EXPECT_EQ(report.counted, 6);
  EXPECT_EQ(names("Photo&Video"),
            (std::set<std::string>{"0001.JPG", "7_0001.JPG", "7_2_0001.JPG", "9_0001.JPG"}));
  EXPECT_EQ(slurp(out() + "/Photo&Video/7_0001.JPG"), slurp(c));
  EXPECT_EQ(slurp(out() + "/Photo&Video/0001.JPG"), slurp(a));
  EXPECT_EQ(slurp(out() + "/Photo&Video/7_2_0001.JPG"), slurp(b));
  EXPECT_EQ(slurp(out() + "/Photo&Video/9_0001.JPG"), slurp(d));
  EXPECT_EQ(slurp(out() + "/AppPhoto&Video/0001.JPG"), slurp(c));
}

// A current camera roll's records are written under their original names, a Live Photo as
// its still and its movie with one stem; a second pair of the same name keeps the two
// together under the index prefix.
TEST_F(Recovery, LivePhotosAreWrittenAsPairsUnderTheirOriginalNames) {
  const std::string still = stored("still", 33000);
  const std::string movie = stored("movie1", 36000);
  const std::string otherStill = stored("still2", 1200);
  const std::string otherMovie = stored("movie22", 1300);
  auto live = [&](const std::string& stillPath, std::uint64_t stillSize,
                  const std::string& moviePath, std::uint64_t movieSize) {
    auto m = media("IMG_0103.HEIC", stillPath, stillSize);
    m->originalFileName = "Midsummer at Skansen.heic";
    m->bLivePhoto = true;
    m->livePhotoMoviePath = moviePath;
    m->livePhotoMovieName = "IMG_0103.MOV";
    m->livePhotoMovieSize = movieSize;
    return m;
  };
  results.photoAndVideoArray.push_back(live(still, 33000, movie, 36000));
  results.photoAndVideoArray.push_back(live(otherStill, 1200, otherMovie, 1300));

  RecoveryReport report = run();
  EXPECT_TRUE(report.issues.empty());
  EXPECT_EQ(report.counted, 2);
  EXPECT_EQ(names("Photo&Video"),
            (std::set<std::string>{"Midsummer at Skansen.heic", "Midsummer at Skansen.MOV",
                                   "1_Midsummer at Skansen.heic", "1_Midsummer at Skansen.MOV"}));
  EXPECT_EQ(slurp(out() + "/Photo&Video/Midsummer at Skansen.heic"), slurp(still));
  EXPECT_EQ(slurp(out() + "/Photo&Video/Midsummer at Skansen.MOV"), slurp(movie));
  EXPECT_EQ(slurp(out() + "/Photo&Video/1_Midsummer at Skansen.heic"), slurp(otherStill));
  EXPECT_EQ(slurp(out() + "/Photo&Video/1_Midsummer at Skansen.MOV"), slurp(otherMovie));
}

TEST_F(Recovery, ShortAndUnreadableSourcesAreReportedNotPadded) {
  const std::string shortSource = stored("short", 1000);
  results.photoAndVideoArray.push_back(media("short.JPG", shortSource, 5000));
  results.photoAndVideoArray.push_back(media("gone.JPG", tmp.sub("backup/missing"), 5000));
  auto social = std::make_shared<MzFaceTwitterNode>();
  social->faceTwitterFileName = "photo-4501.jpg";
  social->faceTwitterFilePath = shortSource;
  social->FileSizeNumber = 1000;
  tick(social->bSelected);
  results.faceTwitterArray.push_back(social);

  // A source the kernel cannot copy from directly goes through the read-and-write path.
  const std::string version = slurp("/proc/version");
  results.photoAndVideoArray.push_back(media("version.txt", "/proc/version", version.size()));

  RecoveryReport report = run();
  EXPECT_EQ(report.counted, 4);
  EXPECT_EQ(report.incomplete, 2);
  EXPECT_EQ(report.writtenInFull(), 2);
  EXPECT_EQ(slurp(out() + "/Photo&Video/version.txt"), version);
  ASSERT_EQ(report.issues.size(), 2u);
  EXPECT_EQ(report.issues[0].item, "short.JPG");
  EXPECT_EQ(report.issues[0].reason, "source ended after 1000 of 5000 bytes");
  EXPECT_EQ(report.issues[1].item, "gone.JPG");
  EXPECT_NE(report.issues[1].reason.find("cannot be read"), std::string::npos);
  // Exactly the bytes read, no zero padding; no empty file for the missing source.
  EXPECT_EQ(slurp(out() + "/Photo&Video/short.JPG"), slurp(shortSource));
  EXPECT_EQ(names("Photo&Video"), (std::set<std::string>{"short.JPG", "version.txt"}));
  EXPECT_EQ(slurp(out() + "/FaceBook&Twitter/photo-4501.jpg"), slurp(shortSource));
}

TEST_F(Recovery, ContactsGetUniqueSafeVCardsAndATextFile) {
  auto make = [&](const std::string& name, const std::string& company, int rowid) {
    auto c = std::make_shared<MzContactNode>();
    c->contactName = name;
    c->contactCompany = company;
    c->contactPhone = " +46 70 555 12 34";
    c->rowid = rowid;
    tick(c->bSelected);
    results.contactArray.push_back(c);
    return c;
  };
  make("Anna Berg", "", 1);
  make("Anna Berg", "", 2)->imageData = makeBytes({0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3});
  make("", "Vårdcentralen Odenplan", 3);
  make("", "", 42);
  make("../../evil", "", 5);
  make("a/b\nc", "", 6);

  RecoveryReport report = run();
  EXPECT_TRUE(report.issues.empty());
  EXPECT_EQ(report.counted, 6);
  EXPECT_EQ(
      names("Contact"),
      (std::set<std::string>{"Anna Berg.vcf", "1_Anna Berg.vcf", "Vårdcentralen Odenplan.vcf",
                             "unknown 42.vcf", ".._.._evil.vcf", "a_b_c.vcf", "Contacts.txt"}));
  // Nothing was written beside the output folder.
  EXPECT_EQ(fs::exists(tmp.sub("evil.vcf")), false);
  VCard second = readVCard(slurp(out() + "/Contact/1_Anna Berg.vcf"));
  ASSERT_TRUE(second.wellFormed);
  ASSERT_NE(second.find("PHOTO"), nullptr);
  EXPECT_EQ(decodeBase64(second.find("PHOTO")->value),
            (std::vector<unsigned char>{0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3}));
  const std::string text = slurp(out() + "/Contact/Contacts.txt");
  EXPECT_EQ(text.rfind("Name:Anna Berg  Phone: +46 70 555 12 34  Email:  Company:  JobTitle:  "
                       "Home Page:  Birthday:  Note:  \n\nName:Anna Berg  Phone:",
                       0),
            0u);
}

TEST_F(Recovery, ConversationsPagesAndAttachments) {
  const std::string movie = stored("0123456789abcdef0123456789abcdef01234567", 70000);
  const std::string card =
      tmp.writeFile("backup/cardkey", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:X\r\nEND:VCARD");
  const std::string notText = tmp.writeFile("backup/badcard", std::string("\xFF\xFE\x00\x01", 4));

  auto conversation = [&](const std::string& name, const std::string& address) {
    auto c = std::make_shared<MzMessageTreeNode>();
    c->messageTreeNodeName = name;
    c->messageTreeNodeAdress = address;
    tick(c->bSelected);
    results.messageTreeArray.push_back(c);
    return c;
  };
  auto add = [](const std::shared_ptr<MzMessageTreeNode>& c, const std::string& text,
                std::optional<std::string> type = std::nullopt,
                std::optional<std::string> path = std::nullopt) {
    auto m = std::make_shared<MzMessageNode>();
    m->messageName = c->messageTreeNodeName;
    m->messageContent = text;
    m->messageType = "Received";
    m->attachType = std::move(type);
    m->attachmentPath = std::move(path);
    m->isHasAttach = m->attachType.has_value();
    c->MessageNodeArray->push_back(m);
  };
  auto a = conversation("A", "+46705551234");
  add(a, "one <b>two</b>");
  add(a, "\xEF\xBF\xBC", "Mov", movie);
  add(a, "\xEF\xBF\xBC", "Contact", card);
  add(a, "\xEF\xBF\xBC", "Location", notText);
  // A picture sent twice: one copy beside the pages, which both pictures show.
  const std::string picture =
      tmp.writeFile("backup/feedface", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(90, 'p'));
  add(a, "\xEF\xBF\xBC", "Image", picture);
  add(a, "\xEF\xBF\xBC", "Image", picture);
  add(conversation("Johan Lindqvist", "j@example.com"), "hej");
  add(conversation("Johan Lindqvist", "+46735559876"), "hallå");
  conversation("", "");  // no name, no address, no messages

  RecoveryReport report = run();
  // Three pages plus the movie are counted; the card is copied without counting.
  EXPECT_EQ(report.counted, 5);
  EXPECT_EQ(report.incomplete, 0);
  ASSERT_EQ(report.issues.size(), 1u);
  EXPECT_EQ(report.issues[0].reason, "card is not UTF-8 text");
  EXPECT_EQ(names("Message"),
            (std::set<std::string>{
                "+46705551234.html", "Johan Lindqvist.html", "2_Johan Lindqvist.html", "_.html",
                "0123456789abcdef0123456789abcdef01234567.mov", "cardkey.vcf", "feedface.png"}));
  EXPECT_EQ(slurp(out() + "/Message/0123456789abcdef0123456789abcdef01234567.mov"), slurp(movie));
  EXPECT_EQ(slurp(out() + "/Message/cardkey.vcf"), slurp(card));
  EXPECT_EQ(slurp(out() + "/Message/feedface.png"), slurp(picture));
  const std::string page = slurp(out() + "/Message/+46705551234.html");
  EXPECT_EQ(page.substr(0, 2), "\xFF\xFE");
  const auto inPage = [&page](const std::string& text) {
    return page.find(utf16LittleEndianWithBom(text).substr(2)) != std::string::npos;
  };
  EXPECT_TRUE(inPage("<p><img src='feedface.png'/></p><p class='name'>Name: A"));
  EXPECT_TRUE(inPage("<p><img src='feedface.png'/></p><hr/>"));
  // Attachments count as written items but not as ticked ones: the figure stays at 100.
  EXPECT_EQ(total, 4);
  EXPECT_EQ(maxWritten, 5);
  EXPECT_EQ(percent, 100);
}

// A tree: root -> HomeDomain -> Library (a.db ticked, skip.db not) -> b (c.db, missing.db)
std::shared_ptr<MzTreeDirNode> dir(const std::string& name, MzTreeDirNode* parent, int state) {
  auto d = std::make_shared<MzTreeDirNode>();
  d->fileName = name;
  d->parent = parent;
  d->isSelected = state;
  if (parent) parent->children.push_back(d);
  return d;
}

std::shared_ptr<MzTreeFileNode> file(MzTreeDirNode& parent, const std::string& devicePath,
                                     const std::string& stored, std::uint64_t size, bool ticked,
                                     bool exists = true) {
  auto f = std::make_shared<MzTreeFileNode>();
  f->parent = &parent;
  f->dirFilePath = devicePath;
  f->treefileName = devicePath.substr(devicePath.rfind('/') + 1);
  f->filePath = stored;
  f->realFileSize = size;
  f->bSelected = ticked;
  f->isFile = exists;
  parent.fileChildren.push_back(f);
  return f;
}

TEST_F(Recovery, BackupBrowserFilesUnderTheirPathsAndNeverOutside) {
  const std::string adb = stored("k1", 4096);
  const std::string cdb = stored("k2", 2048);
  auto root = dir("Emma's iPhone", nullptr, 2);
  auto home = dir("HomeDomain", root.get(), 2);
  auto library = dir("Library", home.get(), 2);
  auto b = dir("b", library.get(), 1);
  auto unticked = dir("Caches", library.get(), 0);
  file(*library, "HomeDomain/Library/a.db", adb, 4096, true);
  file(*library, "HomeDomain/Library/skip.db", adb, 4096, false);
  file(*b, "HomeDomain/Library/b/c.db", cdb, 2048, true);
  file(*b, "HomeDomain/Library/b/missing.db", "", 0, true, /*exists=*/false);
  file(*b, "HomeDomain/../../../escape.db", cdb, 2048, true);
  file(*home, "HomeDomain/Library/", adb, 4096, true);              // the device path "Library/."
  file(*unticked, "HomeDomain/Library/Caches/x", adb, 4096, true);  // its folder is unticked
  roots = {root};

  const auto before = folderFingerprint(tmp.sub("backup"));
  RecoveryReport report = run();
  const std::string base = out() + "/Emma's iPhone/HomeDomain/Library";
  EXPECT_EQ(slurp(base + "/a.db"), slurp(adb));
  EXPECT_EQ(slurp(base + "/b/c.db"), slurp(cdb));
  EXPECT_TRUE(fs::is_directory(base + "/b/missing.db"));  // a folder of its own path, no file
  EXPECT_FALSE(fs::exists(base + "/skip.db"));
  EXPECT_FALSE(fs::exists(base + "/Caches"));
  // ".." is a visible name, never a step up; "Library/." does not take Library's name.
  EXPECT_FALSE(fs::exists(tmp.sub("escape.db")));
  EXPECT_EQ(slurp(out() + "/Emma's iPhone/HomeDomain/__/__/__/escape.db"), slurp(cdb));
  EXPECT_EQ(slurp(base + "/_"), slurp(adb));
  // Every ticked file is counted but the missing one.
  EXPECT_EQ(report.counted, 4);
  EXPECT_TRUE(report.issues.empty());
  EXPECT_EQ(report.incomplete, 0);
  EXPECT_EQ(total, 6);  // every ticked tree file, the unticked folder's included
  EXPECT_EQ(folderFingerprint(tmp.sub("backup")), before);
}

TEST_F(Recovery, PlantedLinksInTheOutputFolderAreNeverFollowed) {
  const std::string elsewhere = tmp.sub("elsewhere");
  tmp.writeFile("elsewhere/victim.JPG", "keep");
  fs::create_directories(out() + "/Photo&Video");
  fs::create_directories(out() + "/Emma's iPhone");
  fs::create_symlink(elsewhere, out() + "/Contact");
  fs::create_symlink(elsewhere + "/victim.JPG", out() + "/Photo&Video/0001.JPG");
  fs::create_symlink(elsewhere, out() + "/Emma's iPhone/HomeDomain");

  auto contact = std::make_shared<MzContactNode>();
  contact->contactName = "Anna Berg";
  tick(contact->bSelected);
  results.contactArray.push_back(contact);
  const std::string photo = stored("k", 10);
  results.photoAndVideoArray.push_back(media("0001.JPG", photo, 10));
  auto root = dir("Emma's iPhone", nullptr, 2);
  auto home = dir("HomeDomain", root.get(), 2);
  file(*home, "HomeDomain/Library/a.db", stored("k1", 20), 20, true);
  roots = {root};

  const auto before = folderFingerprint(elsewhere);
  RecoveryReport report = run();
  EXPECT_EQ(folderFingerprint(elsewhere), before);
  EXPECT_EQ(slurp(elsewhere + "/victim.JPG"), "keep");
  // The link at the media's name is passed over like any taken name.
  EXPECT_EQ(slurp(out() + "/Photo&Video/0_0001.JPG"), slurp(photo));
  std::set<std::string> issues;
  for (const auto& i : report.issues) issues.insert(i.item + ": " + i.reason);
  EXPECT_EQ(issues,
            (std::set<std::string>{
                "Contact/Anna Berg.vcf: not a folder: Contact is a symbolic link",
                "Contact/Contacts.txt: not a folder: Contact is a symbolic link",
                "HomeDomain/Library/a.db: not a folder: Emma's iPhone/HomeDomain is a symbolic "
                "link"}));
  EXPECT_EQ(report.incomplete, 2);
}

TEST_F(Recovery, StoredFilesThatAreLinksOrNotRegularAreSkipped) {
  auto backup = std::make_shared<MzIOSDeviceNode>();
  backup->strDeviceName = "Emma's iPhone";
  backup->backUpFilePath = tmp.sub("backup");
  results.setCurrentBackup(backup);
  const std::string secret = tmp.writeFile("outside/secret", "\x89PNG the owner's system file");
  stored("placeholder", 1);  // makes the backup folder
  fs::create_symlink(secret, tmp.sub("backup/link"));
  fs::create_symlink(tmp.sub("outside"), tmp.sub("backup/dir"));
  ASSERT_EQ(::mkfifo(tmp.sub("backup/fifo").c_str(), 0600), 0);
  const std::string photo = stored("photo", 100);
  for (const char* key : {"link", "dir/secret", "fifo", "photo"}) {
    results.photoAndVideoArray.push_back(
        media(std::string(key) + ".JPG", tmp.sub("backup/") + key, 30));
  }
  auto c = std::make_shared<MzMessageTreeNode>();
  c->messageTreeNodeName = "A";
  tick(c->bSelected);
  for (const char* type : {"Image", "Contact", "Mov"}) {
    auto m = std::make_shared<MzMessageNode>();
    m->messageType = "Received";
    m->attachType = type;
    m->attachmentPath = tmp.sub("backup/link");
    m->isHasAttach = true;
    c->MessageNodeArray->push_back(m);
  }
  results.messageTreeArray.push_back(c);
  auto root = dir("Emma's iPhone", nullptr, 2);
  file(*root, "CameraRollDomain/a.jpg", tmp.sub("backup/link"), 30, true);
  roots = {root};

  RecoveryReport report = run();
  EXPECT_EQ(slurp(out() + "/Photo&Video/photo.JPG"), slurp(photo).substr(0, 30));
  std::size_t skipped = 0;
  for (const auto& i : report.issues) {
    skipped += i.reason == "skipped: not a regular file inside the backup";
  }
  EXPECT_EQ(skipped, 7u);  // three media, three attachments, one browser file
  EXPECT_EQ(report.issues.size(), skipped);
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(out(), ec)) {
    if (e.is_regular_file()) {
      EXPECT_EQ(slurp(e.path().string()).find("system file"), std::string::npos) << e.path();
    }
  }
}

TEST_F(Recovery, FilesCutShortByAFullDiskAreRemoved) {
  // The child process may write files of at most kLimit bytes, as a nearly full disk would.
  constexpr rlim_t kLimit = 64 * 1024;
  results.photoAndVideoArray.push_back(media("big.JPG", stored("big", 200000), 200000));
  results.photoAndVideoArray.push_back(media("small.JPG", stored("small", 1000), 1000));
  auto note = std::make_shared<MzNoteNode>();
  note->noteContent = std::string(100000, 'n');
  tick(note->bSelected);
  results.noteArray.push_back(note);

  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kLimit, kLimit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    MzRecoveryWriter writer(results);
    writer.recoverPath = out();
    writer.recoverFilesThread();
    std::string lines;
    for (const auto& i : writer.report().issues) lines += i.item + ": " + i.reason + "\n";
    const ssize_t written = ::write(pipeFds[1], lines.data(), lines.size());
    ::_exit(written == static_cast<ssize_t>(lines.size()) ? 0 : 1);
  }
  ::close(pipeFds[1]);
  std::string lines;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) lines.append(buffer, n);
  ::close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  EXPECT_EQ(lines,
            "big.JPG: write failed after 65536 bytes: File too large\n"
            "Note/Notes.txt: cannot write the text file (1 records): File too large\n");
  // Nothing partial stays behind: no cut copy, no text file, no temporary file.
  EXPECT_EQ(names("Photo&Video"), (std::set<std::string>{"small.JPG"}));
  EXPECT_EQ(names("Note"), std::set<std::string>{});
}

TEST(OutputNames, SafeNamesAndPaths) {
  EXPECT_EQ(safeFileName("IMG_0001.JPG"), "IMG_0001.JPG");
  EXPECT_EQ(safeFileName(".."), "__");
  EXPECT_EQ(safeFileName("."), "_");
  EXPECT_EQ(safeFileName(""), "_");
  EXPECT_EQ(safeFileName(std::string("a\0b/c\x1f\x7f", 7)), "a_b_c__");
  EXPECT_EQ(safeFileName("..hidden"), "..hidden");
  // A long name is cut at a character boundary and keeps its extension.
  std::string longName;
  for (int i = 0; i < 150; ++i) longName += "å";  // 300 bytes
  const std::string cut = safeFileName(longName + ".html");
  EXPECT_LE(cut.size(), 200u);
  EXPECT_EQ(cut.substr(cut.size() - 5), ".html");
  EXPECT_EQ(cut.substr(0, cut.size() - 5).size() % 2, 0u);

  // "." and ".." stay visible names; a trailing "/" names an entry inside the folder.
  EXPECT_EQ(safeRelativePath("HomeDomain/Library/./a.db"), "HomeDomain/Library/_/a.db");
  EXPECT_EQ(safeRelativePath("HomeDomain//Library/x/../a.db"), "HomeDomain/Library/x/__/a.db");
  EXPECT_EQ(safeRelativePath("HomeDomain/../.."), "HomeDomain/__/__");
  EXPECT_EQ(safeRelativePath("../etc/passwd"), "__/etc/passwd");
  EXPECT_EQ(safeRelativePath("HomeDomain/Library/"), "HomeDomain/Library/_");
  EXPECT_EQ(safeRelativePath("/"), std::nullopt);
  EXPECT_EQ(safeRelativePath("/HomeDomain/a\nb"), "HomeDomain/a_b");
}

}  // namespace
