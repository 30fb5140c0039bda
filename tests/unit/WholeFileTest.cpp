#include "files/WholeFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

std::string Contents(const std::string& path)
{
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A saved file replaces the one there as it was: its mode kept, and a link (absolute, relative, a
// chain of them) still a link to a target that now holds the new text.
TEST(WholeFiles, SavingKeepsTheModeAndWritesThroughLinks)
{
  const struct {
    const char* Name;
    std::vector<std::pair<const char*, const char*>> Links; // link name, what it points at
    const char* Saved;                                      // the name the save is given
  } cases[] = {
      {"plain file", {}, "shared.ini"},
      {"relative link", {{"mine.ini", "shared.ini"}}, "mine.ini"},
      {"absolute link", {{"mine.ini", "@/shared.ini"}}, "mine.ini"},
      {"chain into a subfolder", {{"sub/shared.ini", "../shared.ini"}, {"mine.ini", "sub/shared.ini"}}, "mine.ini"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir folder;
    const std::string target = folder.Path() + "/shared.ini";
    std::ofstream(target) << "old";
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    fs::create_directory(folder.Path() + "/sub");
    for (const auto& [link, to] : c.Links) {
      const std::string pointsAt = to[0] == '@' ? folder.Path() + (to + 1) : std::string(to);
      fs::create_symlink(pointsAt, folder.Path() + "/" + link);
    }
    const std::string saved = folder.Path() + "/" + c.Saved;
    ASSERT_EQ(WriteWholeFile(saved, "new"), std::nullopt);
    EXPECT_EQ(Contents(target), "new");
    EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
    for (const auto& [link, to] : c.Links)
      EXPECT_TRUE(fs::is_symlink(folder.Path() + "/" + link)) << link;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder.Path()))
      EXPECT_EQ(entry.path().filename().string().find(".ini."), std::string::npos) << "a temporary file left";
  }
}

} // namespace
