// Which command lines the publisher's options take, with which exit status,
// and which they leave, untouched and silent, to the mode dispatch.
#include <gtest/gtest.h>

#include <sstream>

#include "publisher/publisher_options.h"

namespace {

enum class Writes { kNothing, kOut, kErr };

struct OptionCase {
  std::vector<std::wstring> words;
  std::optional<int> status;  // nothing: left to the mode dispatch
  Writes writes;
};

TEST(PublisherOptions, TakeTheirWordsAndLeaveTheRestToTheModeDispatch) {
  const std::wstring program = L"quorvane-update";
  const OptionCase cases[] = {
      {{program, L"--help"}, 0, Writes::kOut},
      {{program, L"-h"}, 0, Writes::kOut},
      {{program, L"--version"}, 0, Writes::kOut},
      {{program, L"--nonsense"}, 2, Writes::kErr},
      {{program, L"--"}, 2, Writes::kErr},
      {{program, L"--Help"}, 2, Writes::kErr},
      {{program, L"--l", L"t.exe"}, 2, Writes::kErr},
      {{program, L"--help", L"x"}, 2, Writes::kErr},
      {{program, L"--list"}, 2, Writes::kErr},
      {{program, L"--list", L"a", L"b"}, 2, Writes::kErr},
      {{program, L"--verify"}, 2, Writes::kErr},
      // The mode dispatch's command lines, unchanged.
      {{}, std::nullopt, Writes::kNothing},
      {{program}, std::nullopt, Writes::kNothing},
      {{program, L"-l", L"t.exe"}, std::nullopt, Writes::kNothing},
      {{program, L"-L", L"t.exe"}, std::nullopt, Writes::kNothing},
      {{program, L"-l"}, std::nullopt, Writes::kNothing},
      {{program, L"-x", L"t.exe"}, std::nullopt, Writes::kNothing},
      {{program, L"-H"}, std::nullopt, Writes::kNothing},
      {{program, L"-help"}, std::nullopt, Writes::kNothing},
      {{program, L"t.exe", L"--help"}, std::nullopt, Writes::kNothing},
      {{program, L"-l", L"--help"}, std::nullopt, Writes::kNothing},  // packs into a file "--help"
  };
  for (const OptionCase& c : cases) {
    std::string words;
    for (const std::wstring& word : c.words) words += " " + std::string(word.begin(), word.end());
    SCOPED_TRACE("words:" + words);
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(publisher::RunPublisherOption(c.words, out, err), c.status);
    EXPECT_EQ(!out.str().empty(), c.writes == Writes::kOut) << out.str();
    EXPECT_EQ(!err.str().empty(), c.writes == Writes::kErr) << err.str();
    if (c.writes == Writes::kErr) {
      // One line that points to --help.
      EXPECT_NE(err.str().find("--help"), std::string::npos);
      EXPECT_EQ(err.str().find('\n'), err.str().size() - 1);
    }
  }
}

}  // namespace
