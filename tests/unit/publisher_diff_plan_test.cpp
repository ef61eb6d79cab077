// The plan between two releases' listings: which files it carries, replaces
// and removes, which folders it removes, in which order, and the names it
// refuses.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "publisher/diff_plan.h"

namespace {

using publisher::DiffConflict;
using publisher::DiffStep;
using publisher::StepKind;
using publisher::TreeEntry;

// A release: package paths in walk order, each with its content, or kFolder.
const char* const kFolder = nullptr;
using Release = std::vector<std::pair<std::wstring, const char*>>;

std::vector<TreeEntry> Listing(const Release& release) {
  std::vector<TreeEntry> entries;
  for (const auto& [path, content] : release) entries.push_back(TreeEntry{path, content == kFolder});
  return entries;
}

std::wstring StepText(const DiffStep& step) {
  switch (step.kind) {
    case StepKind::kNewFile:
      return L"new " + step.path;
    case StepKind::kChangedFile:
      return L"changed " + step.path + (step.oldPath == step.path ? L"" : L" from " + step.oldPath);
    case StepKind::kRemovedFile:
      return L"removed " + step.path;
    case StepKind::kRemovedFolder:
      return L"removed folder " + step.path;
  }
  return L"?";
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

struct PlanCase {
  const char* name;
  Release oldRelease;
  Release newRelease;
  std::vector<std::wstring> steps;
};

TEST(PublisherDiffPlan, CarriesReplacesAndRemovesWhatDiffers) {
  const PlanCase cases[] = {
      {"identical releases give no step",
       {{L".\\a", kFolder}, {L".\\a\\x", "1"}, {L".\\b", "2"}},
       {{L".\\a", kFolder}, {L".\\a\\x", "1"}, {L".\\b", "2"}},
       {}},
      {"both listings empty", {}, {}, {}},
      {"a file of the same size with other bytes is changed; an identical one is left out",
       {{L".\\x", "abc"}, {L".\\y", "same"}},
       {{L".\\y", "same"}, {L".\\x", "abd"}},
       {L"changed .\\x"}},
      {"new files come first, then changed ones, each in the new walk's order",
       {{L".\\c", "old"}, {L".\\a", "old"}},
       {{L".\\a", "new"}, {L".\\n2", "n"}, {L".\\c", "new"}, {L".\\d", kFolder}, {L".\\d\\n1", "n"}},
       {L"new .\\n2", L"new .\\d\\n1", L"changed .\\a", L"changed .\\c"}},
      {"files only in the old release are removed in its walk order, after the rest",
       {{L".\\r2", "r"}, {L".\\k", "k"}, {L".\\r1", "r"}},
       {{L".\\k", "k2"}},
       {L"changed .\\k", L"removed .\\r2", L"removed .\\r1"}},
      {"a folder whose files all go is removed after them",
       {{L".\\d", kFolder}, {L".\\d\\x", "1"}, {L".\\d\\y", "2"}},
       {},
       {L"removed .\\d\\x", L"removed .\\d\\y", L"removed folder .\\d"}},
      {"nested folders left empty go innermost first",
       {{L".\\a", kFolder}, {L".\\a\\b", kFolder}, {L".\\a\\b\\x", "1"}, {L".\\keep", "k"}},
       {{L".\\keep", "k"}},
       {L"removed .\\a\\b\\x", L"removed folder .\\a\\b", L"removed folder .\\a"}},
      {"a folder that keeps a file stays, one level up too",
       {{L".\\a", kFolder}, {L".\\a\\b", kFolder}, {L".\\a\\b\\x", "1"}, {L".\\a\\k", "k"}},
       {{L".\\a", kFolder}, {L".\\a\\k", "k"}},
       {L"removed .\\a\\b\\x", L"removed folder .\\a\\b"}},
      {"a folder the new release has only empty goes: a package carries no folders",
       {{L".\\d", kFolder}, {L".\\d\\x", "1"}},
       {{L".\\d", kFolder}},
       {L"removed .\\d\\x", L"removed folder .\\d"}},
      {"a folder that keeps a new file in a new subfolder stays",
       {{L".\\d", kFolder}, {L".\\d\\x", "1"}},
       {{L".\\d", kFolder}, {L".\\d\\s", kFolder}, {L".\\d\\s\\n", "n"}},
       {L"new .\\d\\s\\n", L"removed .\\d\\x"}},
      {"a folder empty already is no removal's doing: it and its folder stay",
       {{L".\\a", kFolder}, {L".\\a\\empty", kFolder}, {L".\\a\\x", "1"}, {L".\\e", kFolder}},
       {},
       {L"removed .\\a\\x"}},
      {"a file renamed in letter case only is one file to Windows: left out when the same",
       {{L".\\Readme.txt", "1"}, {L".\\Data", kFolder}, {L".\\Data\\x", "2"}},
       {{L".\\README.TXT", "1"}, {L".\\data", kFolder}, {L".\\data\\x", "2"}},
       {}},
      {"letters beyond ASCII are matched ignoring case too",
       {{L".\\\u00c9t\u00e9.txt", "1"}, {L".\\\u0414\u0430\u043d\u043d\u044b\u0435", "2"}},
       {{L".\\\u00c9T\u00c9.TXT", "1"}, {L".\\\u0434\u0430\u043d\u043d\u044b\u0435", "3"}},
       {L"changed .\\\u0434\u0430\u043d\u043d\u044b\u0435 from .\\\u0414\u0430\u043d\u043d\u044b\u0435"}},
      {"a file renamed in letter case and changed is replaced under its new name",
       {{L".\\Data", kFolder}, {L".\\Data\\Icon.svg", "old"}, {L".\\Data\\gone", "g"}},
       {{L".\\data", kFolder}, {L".\\data\\icon.svg", "new"}},
       {L"changed .\\data\\icon.svg from .\\Data\\Icon.svg", L"removed .\\Data\\gone"}},
      {"a folder that the new release fills with other files stays",
       {{L".\\d", kFolder}, {L".\\d\\old", "1"}},
       {{L".\\d", kFolder}, {L".\\d\\new", "2"}},
       {L"new .\\d\\new", L"removed .\\d\\old"}},
  };
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<std::wstring, std::string> oldContent;
    std::map<std::wstring, std::string> newContent;
    for (const auto& [path, content] : c.oldRelease) {
      if (content != kFolder) oldContent[path] = content;
    }
    for (const auto& [path, content] : c.newRelease) {
      if (content != kFolder) newContent[path] = content;
    }
    const publisher::DiffPlan plan =
        publisher::PlanDiff(Listing(c.oldRelease), Listing(c.newRelease),
                            [&](const std::wstring& oldPath, const std::wstring& newPath) {
                              // Only a file of each release may be compared.
                              EXPECT_EQ(oldContent.count(oldPath), 1u) << Narrow(oldPath);
                              EXPECT_EQ(newContent.count(newPath), 1u) << Narrow(newPath);
                              return oldContent[oldPath] == newContent[newPath];
                            });
    EXPECT_EQ(plan.conflict.kind, DiffConflict::kNone);
    std::vector<std::wstring> steps;
    for (const DiffStep& step : plan.steps) steps.push_back(StepText(step));
    EXPECT_EQ(steps, c.steps);
  }
}

struct ConflictCase {
  const char* name;
  Release oldRelease;
  Release newRelease;
  DiffConflict::Kind kind;
  std::wstring oldPath;
  std::wstring newPath;
};

TEST(PublisherDiffPlan, RefusesAFileThatBecomesAFolderOrTheOtherWay) {
  const ConflictCase cases[] = {
      {"a file that becomes a folder", {{L".\\x", "1"}}, {{L".\\x", kFolder}, {L".\\x\\y", "2"}},
       DiffConflict::kFileAndFolder, L".\\x", L".\\x"},
      {"a folder that becomes a file, in another case", {{L".\\d", kFolder}, {L".\\d\\y", "1"}}, {{L".\\D", "2"}},
       DiffConflict::kFileAndFolder, L".\\d", L".\\D"},
  };
  for (const ConflictCase& c : cases) {
    SCOPED_TRACE(c.name);
    const publisher::DiffPlan plan = publisher::PlanDiff(Listing(c.oldRelease), Listing(c.newRelease),
                                                         [](const std::wstring&, const std::wstring&) { return false; });
    EXPECT_EQ(plan.conflict.kind, c.kind);
    EXPECT_EQ(Narrow(plan.conflict.oldPath), Narrow(c.oldPath));
    EXPECT_EQ(Narrow(plan.conflict.newPath), Narrow(c.newPath));
    EXPECT_TRUE(plan.steps.empty());
  }
}

}  // namespace
