// Command line, own executable, current directory and exit status on POSIX.
#include "platform/posix/process.h"

#include <unistd.h>

#include <climits>

#include "platform/platform.h"
#include "platform/posix/native_path.h"

namespace platform {
namespace {

std::vector<std::wstring> g_arguments;
int g_exitStatus = 0;

}  // namespace

void posix::SetArguments(int argc, char** argv) {
  g_arguments.clear();
  for (int i = 0; i < argc; ++i) g_arguments.push_back(FromUtf8(argv[i]));
}

int posix::ExitStatus() { return g_exitStatus; }

void posix::NoteErrorShown() { g_exitStatus = 1; }

std::vector<std::wstring> CommandLineWords() { return g_arguments; }

std::wstring OwnExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::wstring();
  return posix::FromNativePath(std::string(buffer, static_cast<std::size_t>(length)));
}

std::wstring CurrentDirectory() {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return std::wstring();
  std::wstring directory = posix::FromNativePath(buffer);
  if (directory.size() + 1 > kMaxPath) return std::wstring();
  return directory;
}

}  // namespace platform
