#include "update/net/DiskSpace.h"

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/Platform.h"

namespace vestrel {
namespace {

std::mutex g_lock;
std::string g_folder;       // the folder the budget was measured for
std::int64_t g_budget = 0;  // bytes that may still be written above the reserve

// The budget as the volume stands now; false when it cannot be measured.
bool measure(const std::string& narrowFolder) {
  std::error_code error;
  const std::filesystem::space_info space =
      std::filesystem::space(platform::toFsPath(narrowFolder), error);
  if (error) {
    return false;
  }
  g_folder = narrowFolder;
  g_budget = static_cast<std::int64_t>(space.available) - static_cast<std::int64_t>(kDiskReserve);
  return true;
}

}  // namespace

bool takeDiskSpace(const std::string& narrowFolder, std::uint64_t bytes, std::uint64_t& shortBy) {
  const std::lock_guard<std::mutex> lock(g_lock);
  const auto wanted = static_cast<std::int64_t>(bytes);
  if (narrowFolder != g_folder || wanted > g_budget) {
    if (!measure(narrowFolder)) {
      return true;
    }
  }
  if (wanted > g_budget) {
    shortBy = static_cast<std::uint64_t>(wanted - (g_budget > 0 ? g_budget : 0));
    return false;
  }
  g_budget -= wanted;
  return true;
}

void returnDiskSpace(std::uint64_t bytes) {
  const std::lock_guard<std::mutex> lock(g_lock);
  g_budget += static_cast<std::int64_t>(bytes);
}

bool isNoSpaceError(int error) {
#ifdef EDQUOT
  if (error == EDQUOT) {
    return true;
  }
#endif
  return error == ENOSPC;
}

}  // namespace vestrel
