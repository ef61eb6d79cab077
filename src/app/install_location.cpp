// The install-directory lookup: registry first, current directory second.
#include "app/install_location.h"

#include "app/messages.h"
#include "platform/platform.h"

namespace {

constexpr wchar_t kRegistrySubkey[] = L"Software\\norvik\\Quorvane\\";
constexpr wchar_t kRegistryValue[] = L"InstallDir";
constexpr wchar_t kEngineExecutable[] = L"zanthe.exe";
constexpr wchar_t kCurrentDirectory[] = L".\\";

bool HoldsEngine(const std::wstring& directory) {
  std::wstring probe = directory;
  return platform::JoinPath(probe, kEngineExecutable) && platform::PathExists(probe);
}

}  // namespace

std::optional<std::wstring> FindInstallDir() {
  // A missing value leaves the directory empty, which probes the current
  // directory by the engine's bare name.
  const std::wstring registered =
      platform::ReadUserRegistryString(kRegistrySubkey, kRegistryValue, platform::kMaxPath).value_or(L"");
  if (HoldsEngine(registered)) return registered;
  if (HoldsEngine(kCurrentDirectory)) return std::wstring(kCurrentDirectory);
  ShowNotInstalled();
  return std::nullopt;
}
