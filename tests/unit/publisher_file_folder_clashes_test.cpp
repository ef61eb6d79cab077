// Records that need a file and a folder of one name, which no game folder
// can hold, whatever their order and letter case.
#include <gtest/gtest.h>

#include <vector>

#include "publisher/file_folder_clashes.h"

namespace {

struct ClashCase {
  const char* name;
  std::vector<const wchar_t*> paths;  // in package order
  long clashAt;                       // index of the first path that clashes, -1 for none
  long withEarlier;                   // index of the earlier path it clashes with
};

TEST(FileFolderClashes, FindsAFileWhereAFolderIsNeededAndTheOtherWayRound) {
  const ClashCase cases[] = {
      {"files side by side", {L".\\a.txt", L".\\b\\a.txt", L".\\b\\c\\a.txt"}, -1, 0},
      {"one path twice", {L".\\zz", L".\\zz"}, -1, 0},
      {"one folder for many files", {L".\\d\\x", L".\\d\\y", L".\\d\\e\\z"}, -1, 0},
      {"a name that only begins like a folder", {L".\\zz", L".\\zzz\\y"}, -1, 0},
      {"file, then a file below it", {L".\\zz", L".\\zz\\y"}, 1, 0},
      {"file below, then the folder as a file", {L".\\zz\\y", L".\\other", L".\\zz"}, 2, 0},
      {"a deeper folder", {L".\\a\\b", L".\\a\\b\\c\\d"}, 1, 0},
      {"other letter case", {L".\\Data", L".\\DATA\\x"}, 1, 0},
      {"letters beyond ASCII in other case", {L".\\\u00E9t\u00E9\\x", L".\\\u00C9T\u00C9"}, 1, 0},
      {"either separator, with or without the leading dot", {L"zz/y", L".\\zz"}, 1, 0},
  };
  for (const ClashCase& c : cases) {
    SCOPED_TRACE(c.name);
    publisher::FileFolderClashes clashes;
    long clashAt = -1;
    long withEarlier = 0;
    for (std::size_t i = 0; i < c.paths.size() && clashAt < 0; ++i) {
      if (const auto earlier = clashes.Add(static_cast<long>(i), c.paths[i])) {
        clashAt = static_cast<long>(i);
        withEarlier = earlier->offset;
        EXPECT_EQ(earlier->path, c.paths[static_cast<std::size_t>(earlier->offset)]);
      }
    }
    EXPECT_EQ(clashAt, c.clashAt);
    EXPECT_EQ(withEarlier, c.withEarlier);
  }
}

}  // namespace
