#include "results/output_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "results/file_copy.h"
#include "results/output_names.h"
#include "support/folder_hash.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Names as a device's data might hold them: separators, dots, control bytes, UTF-8, and the
// names planted in the output folder, so that collisions and links are met often.
std::string randomPath(std::mt19937& random) {
  static const std::vector<std::string> pieces = {"/",        "/",        ".",
                                                  "..",       "\\",       std::string(1, '\0'),
                                                  "\n",       "\x7f",     "a",
                                                  "b",        "c",        "l",
                                                  "_",        "__",       " ",
                                                  "\xC3\xA5", "\xE2\x80", "x.jpg",
                                                  "Contact",  "0_a",      std::string(120, 'n')};
  std::string path;
  const int n = std::uniform_int_distribution<int>(0, 8)(random);
  for (int i = 0; i < n; ++i) {
    path += pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random)];
  }
  return path;
}

TEST(OutputFolder, NamesFromTheDataStayInsideAndReplaceNothing) {
  TempDir tmp;
  tmp.writeFile("outside/victim", "outside");
  tmp.writeFile("out/c", "the user's");
  tmp.writeFile("source", "copied");
  for (const char* name : {"l", "a_l", "Contact", "_", "__"}) {
    fs::create_symlink(tmp.sub("outside"), tmp.sub(std::string("out/") + name));
  }
  fs::create_symlink(tmp.sub("outside/victim"), tmp.sub("out/b"));
  const auto outsideBefore = folderFingerprint(tmp.sub("outside"));
  std::string problem;
  EXPECT_FALSE(OutputDir::openRoot(tmp.sub("out/l"), false, &problem));
  EXPECT_EQ(problem, "it is a symbolic link");
  auto root = OutputDir::openRoot(tmp.sub("out"), false, &problem);
  ASSERT_TRUE(root) << problem;

  std::mt19937 random(20130601);
  ChunkedCopier copier;
  std::map<std::string, std::string> written;  // path -> the bytes it must still hold
  for (int i = 0; i < 400; ++i) {
    const std::string raw = randomPath(random);
    const auto relative = safeRelativePath(raw);
    if (!relative) continue;
    const std::size_t slash = relative->rfind('/');
    auto folder =
        root->openFolder(slash == std::string::npos ? "" : relative->substr(0, slash), &problem);
    if (!folder) {
      EXPECT_NE(problem.find("not a folder: "), std::string::npos) << problem;
      continue;
    }
    const std::string name = relative->substr(slash == std::string::npos ? 0 : slash + 1);
    std::string path;
    std::string bytes = "item " + std::to_string(i);
    if (i % 2 == 0) {
      int error = 0;
      auto placed = writeNewFileAtomically(*folder, name, i, bytes, &error);
      ASSERT_TRUE(placed) << raw << ": " << error;
      path = *placed;
    } else {
      CopyResult r = copier.copyFile(tmp.sub("source"), 6, *folder, name, i);
      ASSERT_TRUE(r.complete()) << raw << ": " << copyProblem(r, 6);
      path = r.target;
      bytes = "copied";
    }
    EXPECT_TRUE(written.emplace(path, bytes).second) << path << " was written twice";
  }
  EXPECT_GT(written.size(), 100u);

  EXPECT_EQ(folderFingerprint(tmp.sub("outside")), outsideBefore);
  EXPECT_EQ(slurp(tmp.sub("out/c")), "the user's");
  const fs::path inside = fs::canonical(tmp.sub("out"));
  for (const auto& [path, bytes] : written) {
    EXPECT_EQ(slurp(path), bytes) << path;
    EXPECT_FALSE(fs::is_symlink(path)) << path;
    const fs::path real = fs::canonical(path);
    EXPECT_NE(*real.lexically_relative(inside).begin(), "..") << path;
  }
  // Every file in the folder is the user's or one written above; no temporary is left.
  std::size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(tmp.sub("out"))) {
    if (e.is_symlink() || !e.is_regular_file()) continue;
    ++files;
    EXPECT_TRUE(e.path() == tmp.sub("out/c") || written.count(e.path().string())) << e.path();
  }
  EXPECT_EQ(files, written.size() + 1);
}

}  // namespace
