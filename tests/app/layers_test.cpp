// Every include of the core runs down the layers: a header that holds only inline code would
// slip past the link check of the build, so the includes themselves are read here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

TEST(Layers, IncludesRunOnlyToTheLayersBelow) {
  const std::map<std::string, std::set<std::string>> mayUse = {
      {"base", {"base"}},
      {"catalogue", {"base", "catalogue"}},
      {"extract", {"base", "catalogue", "extract"}},
      {"carve", {"base", "catalogue", "extract", "carve"}},
      {"results", {"base", "catalogue", "extract", "results"}},
      {"device", {"base", "catalogue", "extract", "results", "device"}},
      {"cloud", {"base", "catalogue", "extract", "results", "cloud"}},
      {"app", {"base", "catalogue", "extract", "carve", "results", "device", "cloud", "app"}},
  };
  const std::regex include(R"re(^\s*#\s*include\s+"([a-z_]+)/[^"]+")re");
  std::size_t read = 0;
  for (const auto& [layer, allowed] : mayUse) {
    for (const auto& entry :
         fs::directory_iterator(fs::path(RETRIEVO_SOURCE_DIR) / "src" / layer)) {
      std::ifstream in(entry.path());
      std::string line;
      for (int number = 1; std::getline(in, line); ++number) {
        std::smatch m;
        if (!std::regex_search(line, m, include)) continue;
        EXPECT_TRUE(allowed.count(m[1].str()))
            << entry.path().filename().string() << ":" << number << " of " << layer << " includes "
            << m[1].str() << "/";
      }
      ++read;
    }
  }
  EXPECT_GT(read, 50u);
}

}  // namespace
