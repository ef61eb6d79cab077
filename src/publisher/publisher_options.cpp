// The option table of the publisher's command line and its usage errors.
#include "publisher/publisher_options.h"

#include <cstdlib>

#include "platform/posix/native_path.h"
#include "publisher/ordered_workers.h"
#include "publisher/package_listing.h"
#include "publisher/package_verifier.h"
#include "publisher/patch_check.h"

namespace publisher {
namespace {

constexpr const char* kProgramName = "quorvane-update";

constexpr const char* kUsage =
    "Usage: quorvane-update -l PATCH\n"
    "       quorvane-update --list PATCH\n"
    "       quorvane-update --verify PATCH\n"
    "       quorvane-update --check PATCH GAME\n"
    "       quorvane-update --help | --version\n"
    "\n"
    "Builds and checks patches for Quorvane. A patch is a copy of the Windows\n"
    "program QuorvaneUpdate.exe with a package of files appended to it.\n"
    "\n"
    "  -l PATCH         append every file under ./src to PATCH as one package;\n"
    "                   each folder is taken in the order Windows lists it,\n"
    "                   so one tree always gives the same package; files that\n"
    "                   cannot be packed are named on standard error. Files\n"
    "                   are compressed on every core, to the same bytes as\n"
    "                   on one\n"
    "  --list PATCH     list the records of PATCH's package, one a line: path as\n"
    "                   stored, size, compressed size, last-write time (UTC),\n"
    "                   kind (file, delta or removal) and for a delta or a\n"
    "                   removal the old file's size and CRC-32; then the totals\n"
    "  --verify PATCH   check that PATCH would apply cleanly: every record,\n"
    "                   stream, delta and path, and that a signature covers the\n"
    "                   package\n"
    "  --check PATCH GAME\n"
    "                   tell whether PATCH would apply to the game folder GAME,\n"
    "                   changing nothing: every file it replaces or removes must\n"
    "                   be the one the patch was made from; if not, name the first\n"
    "                   that differs and how\n"
    "  -h, --help       show this help\n"
    "  --version        show the program's version\n"
    "\n"
    "Environment: QUORVANE_JOBS=N caps the files -l compresses at once to N\n"
    "(1 to 1024; one per core when unset).\n"
    "\n"
    "Exit status: 0 when done, 1 when the operation failed (the reason is on\n"
    "standard error), 2 for a wrong command line, 3 when -l wrote the patch\n"
    "but it lacks the files named on standard error.\n";

struct Option {
  const wchar_t* name;
  const wchar_t* shortName;  // or null
  std::size_t argumentCount;
  const char* arguments;  // their names for a usage error, e.g. "PATCH"
  // Runs the option with its arguments; returns the exit status.
  int (*run)(const std::vector<std::wstring>& arguments, std::ostream& out, std::ostream& err);
};

int PrintUsage(const std::vector<std::wstring>&, std::ostream& out, std::ostream&) {
  out << kUsage;
  return kExitSuccess;
}

int PrintVersion(const std::vector<std::wstring>&, std::ostream& out, std::ostream&) {
  out << kProgramName << ' ' << QUORVANE_VERSION << '\n';
  return kExitSuccess;
}

int ListPatch(const std::vector<std::wstring>& arguments, std::ostream& out, std::ostream& err) {
  return ListPackage(arguments[0], out, err) ? kExitSuccess : kExitFailure;
}

int CheckPatchAgainstGame(const std::vector<std::wstring>& arguments, std::ostream& out, std::ostream& err) {
  return CheckPatch(arguments[0], arguments[1], out, err) ? kExitSuccess : kExitFailure;
}

int VerifyPatch(const std::vector<std::wstring>& arguments, std::ostream& out, std::ostream& err) {
  return VerifyPackage(arguments[0], out, err) ? kExitSuccess : kExitFailure;
}

constexpr Option kOptions[] = {
    {L"--help", L"-h", 0, nullptr, PrintUsage},
    {L"--version", nullptr, 0, nullptr, PrintVersion},
    {L"--list", nullptr, 1, "one PATCH", ListPatch},
    {L"--verify", nullptr, 1, "one PATCH", VerifyPatch},
    {L"--check", nullptr, 2, "PATCH and GAME", CheckPatchAgainstGame},
};

const Option* FindOption(const std::wstring& word) {
  for (const Option& option : kOptions) {
    if (word == option.name || (option.shortName != nullptr && word == option.shortName)) return &option;
  }
  return nullptr;
}

int UsageError(std::ostream& err, const std::string& problem) {
  err << kProgramName << ": " << problem << " (see " << kProgramName << " --help)\n";
  return kExitUsage;
}

}  // namespace

std::optional<unsigned> PackWorkers(const char* jobs) {
  if (jobs == nullptr || *jobs == '\0') return DefaultWorkerCount();
  char* end = nullptr;
  const long count = std::strtol(jobs, &end, 10);
  if (*end != '\0' || jobs[0] < '0' || jobs[0] > '9' || count < 1 || count > 1024) return std::nullopt;
  return static_cast<unsigned>(count);
}

std::optional<int> RunPublisherOption(const std::vector<std::wstring>& words, std::ostream& out,
                                      std::ostream& err) {
  if (words.size() < 2) return std::nullopt;
  const std::wstring& word = words[1];
  const Option* option = FindOption(word);
  if (option == nullptr) {
    if (word.compare(0, 2, L"--") != 0) return std::nullopt;
    return UsageError(err, "unknown option " + platform::posix::ToUtf8(word));
  }
  const std::vector<std::wstring> arguments(words.begin() + 2, words.end());
  if (arguments.size() != option->argumentCount) {
    const std::string name = platform::posix::ToUtf8(word);
    return UsageError(err, option->argumentCount == 0 ? name + " takes no arguments"
                                                      : name + " takes " + option->arguments);
  }
  return option->run(arguments, out, err);
}

}  // namespace publisher
