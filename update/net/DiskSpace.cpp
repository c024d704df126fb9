#include "update/net/DiskSpace.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/Platform.h"

namespace vestrel {

// The budget as the volume stands now; false when it cannot be measured.
bool DiskBudget::measure(const std::string& narrowFolder) {
  std::error_code error;
  const std::filesystem::space_info space =
      std::filesystem::space(platform::toFsPath(narrowFolder), error);
  if (error) {
    return false;
  }
  folder_ = narrowFolder;
  budget_ = static_cast<std::int64_t>(space.available) - static_cast<std::int64_t>(kDiskReserve);
  return true;
}

bool DiskBudget::take(const std::string& narrowFolder, std::uint64_t bytes,
                      std::uint64_t& shortBy) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto wanted = static_cast<std::int64_t>(bytes);
  if (narrowFolder != folder_ || wanted > budget_) {
    if (!measure(narrowFolder)) {
      return true;
    }
  }
  if (wanted > budget_) {
    shortBy = static_cast<std::uint64_t>(wanted - (budget_ > 0 ? budget_ : 0));
    return false;
  }
  budget_ -= wanted;
  return true;
}

void DiskBudget::giveBack(std::uint64_t bytes) {
  const std::lock_guard<std::mutex> lock(mutex_);
  budget_ += static_cast<std::int64_t>(bytes);
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
