// Download folders under the root and the download record beside them.
#include "cloud/cloud_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "catalogue/device_node.h"
#include "cloud/download_record.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::size_t entryCount(const std::string& folder) {
  std::error_code ec;
  std::size_t n = 0;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    ++n;
  return n;
}

TEST(CloudFolders, MakesThePrivateFoldersOfOneDownload) {
  TempDir tmp;
  const std::string root = tmp.sub("root");
  fs::create_directory(root);
  EXPECT_EQ(cloud::makeDownloadFolder(root, "me@example.com", "ABC123", 2), "");
  const std::string folder = cloud::downloadFolder(root, "me@example.com", "ABC123", 2);
  EXPECT_EQ(folder, root + "/me@example.com/ABC123_2");
  for (const std::string& path : {root + "/me@example.com", folder, folder + "/merge"}) {
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_mode & 0777, 0700u) << path;
  }
  // Again: the folders are there and are ours.
  EXPECT_EQ(cloud::makeDownloadFolder(root, "me@example.com", "ABC123", 2), "");
  EXPECT_EQ(cloud::mergeFolder(folder), folder + "/merge");
  EXPECT_EQ(cloud::downloadRecordPath(folder), folder + "/info.plist");
}

TEST(CloudFolders, RefusesNamesThatLeaveTheRootAndLinkedFolders) {
  TempDir tmp;
  const std::string root = tmp.sub("a/b/root");
  fs::create_directories(root);
  const std::string hostile[] = {
      "",          ".",          "..", "../x", "x/../../y", "/etc", std::string("a\0b", 3),
      "tab\there", "line\nbreak"};
  for (const std::string& name : hostile) {
    EXPECT_NE(cloud::makeDownloadFolder(root, name, "SERIAL", 1), "") << name;
    EXPECT_NE(cloud::makeDownloadFolder(root, "me", name, 1), "") << name;
  }
  EXPECT_EQ(entryCount(tmp.path()), 3u);  // a, a/b, a/b/root: nothing else was made

  // An account folder that is a link to somewhere else is not written through.
  fs::create_directory(tmp.sub("elsewhere"));
  fs::create_directory_symlink(tmp.sub("elsewhere"), root + "/me");
  const std::string why = cloud::makeDownloadFolder(root, "me", "SERIAL", 1);
  EXPECT_NE(why.find("symbolic link"), std::string::npos) << why;
  EXPECT_EQ(entryCount(tmp.sub("elsewhere")), 0u);
}

TEST(CloudFolders, DownloadRootComesFromTheEnvironment) {
  {
    ScopedEnv unset("RETRIEVO_CLOUD_DOWNLOADS", nullptr);
    EXPECT_EQ(cloud::cloudDownloadRoot(), "/var/tmp");
  }
  ScopedEnv set("RETRIEVO_CLOUD_DOWNLOADS", "/srv/cloud");
  EXPECT_EQ(cloud::cloudDownloadRoot(), "/srv/cloud");
}

TEST(DownloadRecord, RoundTripsInKeyOrderAndReplacesTheFileWhole) {
  TempDir tmp;
  MzIOSDeviceNode node;
  node.strDeviceName = "Emma's <iPad> & co";
  node.strDeviceBackUpTime = "12-07-2013 11:00";
  node.strDeviceSerial = "a3c9e1f0";
  node.strIOSVersion = "7.0.4";
  node.strDeviceSize = "1.52M";
  node.deviceImage = "ipad";
  const cloud::DownloadRecord record = cloud::downloadRecordFor(node);
  EXPECT_EQ(record.iCloudType, "ipad");
  node.deviceImage = "iphone";
  EXPECT_EQ(cloud::downloadRecordFor(node).iCloudType, "iphone");
  node.deviceImage.reset();
  EXPECT_EQ(cloud::downloadRecordFor(node).iCloudType, "ipad");

  const std::string path = tmp.sub("info.plist");
  tmp.writeFile("info.plist", "an older record");
  ASSERT_EQ(cloud::writeDownloadRecord(path, record), "");
  const cloud::DownloadRecord back = cloud::readDownloadRecord(path);
  EXPECT_EQ(back.iCloudName, record.iCloudName);
  EXPECT_EQ(back.iCloudDate, record.iCloudDate);
  EXPECT_EQ(back.iCloudUDID, record.iCloudUDID);
  EXPECT_EQ(back.iCloudiOSVersion, record.iCloudiOSVersion);
  EXPECT_EQ(back.iCloudBackupFileSize, record.iCloudBackupFileSize);
  EXPECT_EQ(back.iCloudType, "ipad");
  EXPECT_EQ(entryCount(tmp.path()), 1u);  // no temporary file left

  std::ifstream in(path);
  const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t last = 0;
  for (const char* key : {"iCloudName", "iCloudDate", "iCloudUDID", "iCloudiOSVersion",
                          "iCloudBackupFileSize", "iCloudType"}) {
    const std::size_t at = xml.find(std::string("<key>") + key + "</key>");
    ASSERT_NE(at, std::string::npos) << key;
    EXPECT_GT(at, last) << key;
    last = at;
  }
}

TEST(DownloadRecord, AnythingButADictionaryOfTextsReadsAsEmptyFields) {
  TempDir tmp;
  const std::string inputs[] = {
      "", "not a plist", "<plist><array><string>x</string></array></plist>",
      "<plist><dict><key>iCloudName</key><integer>5</integer><key>iCloudUDID</key>"
      "<string>ok</string></dict></plist>"};
  for (const std::string& text : inputs) {
    const cloud::DownloadRecord record = cloud::readDownloadRecord(tmp.writeFile("r", text));
    EXPECT_EQ(record.iCloudName, "") << text;
    EXPECT_EQ(record.iCloudType, "") << text;
  }
  EXPECT_EQ(cloud::readDownloadRecord(tmp.writeFile("r", inputs[3])).iCloudUDID, "ok");
  EXPECT_EQ(cloud::readDownloadRecord(tmp.sub("missing")).iCloudUDID, "");
  fs::create_directory(tmp.sub("folder"));
  EXPECT_EQ(cloud::readDownloadRecord(tmp.sub("folder")).iCloudUDID, "");
}

}  // namespace
