// The order in which the walk takes a folder's names: NTFS's, by upper-cased
// UTF-16 units, the same on every machine and under both programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/ntfs_name_order.h"

namespace {

// The order Windows lists these names in on NTFS, as Wine does too.
const std::vector<std::wstring> kListedOrder = {L"A.txt", L"alpha", L"b.txt", L"c.TXT",
                                                L"z9.txt", L"Zed", L"_x.dat", L"\u00C4.txt"};

TEST(NtfsNameOrderTest, SortsAsWindowsListsAFolder) {
  std::vector<std::wstring> names = kListedOrder;
  std::mt19937 shuffle(5);
  for (int round = 0; round < 20; ++round) {
    std::shuffle(names.begin(), names.end(), shuffle);
    std::sort(names.begin(), names.end(), platform::NtfsNameLess);
    EXPECT_EQ(names, kListedOrder);
  }
}

// Each pair is in order after upper-casing, but the other way round by its
// units as they stand: a lower-case letter followed by "a" against its
// upper case followed by "z" tells whether the letter was upper-cased.
TEST(NtfsNameOrderTest, LettersOfEachCoveredScriptCompareInUpperCase) {
  struct Case {
    const char* script;
    std::wstring lower;
    std::wstring upper;
  };
  const Case cases[] = {
      {"ASCII", L"q", L"Q"},
      {"Latin-1", L"\u00E9", L"\u00C9"},
      {"Latin-1 thorn", L"\u00FE", L"\u00DE"},
      {"y with diaeresis", L"\u00FF", L"\u0178"},
      {"Latin Extended-A, even pairs", L"\u0105", L"\u0104"},
      {"Latin Extended-A, odd pairs", L"\u017E", L"\u017D"},
      {"Latin Extended Additional", L"\u1EF9", L"\u1EF8"},
      {"Greek", L"\u03C9", L"\u03A9"},
      {"Greek with tonos", L"\u03CC", L"\u038C"},
      {"Greek final sigma", L"\u03C2", L"\u03A3"},
      {"Cyrillic", L"\u0436", L"\u0416"},
      {"Cyrillic with grave", L"\u0450", L"\u0400"},
      {"Cyrillic pairs", L"\u0463", L"\u0462"},
      {"Armenian", L"\u0561", L"\u0531"},
      {"fullwidth", L"\uFF41", L"\uFF21"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    EXPECT_TRUE(platform::NtfsNameLess(c.lower + L"a", c.upper + L"z"));
    EXPECT_FALSE(platform::NtfsNameLess(c.upper + L"z", c.lower + L"a"));
  }
}

TEST(NtfsNameOrderTest, TiesAndPrefixesAndUnitsOutsideTheMapping) {
  struct Case {
    const char* name;
    std::wstring before;
    std::wstring after;
  };
  const Case cases[] = {
      {"a name before its own extension", L"ab", L"abc"},
      {"case alone decides by the units as they stand", L"README", L"readme"},
      {"upper-cased letters before the underscore", L"zz", L"_a"},
      // Units compare as numbers: a surrogate pair before a fullwidth letter.
      {"surrogate pair", L"\xD83D\xDE00", L"\uFF21"},
      {"units without an upper case stand as they are", L"\u3042", L"\u30A2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(platform::NtfsNameLess(c.before, c.after));
    EXPECT_FALSE(platform::NtfsNameLess(c.after, c.before));
  }
  EXPECT_FALSE(platform::NtfsNameLess(L"same", L"same"));
}

}  // namespace
