#include "update/MoveAside.h"

#include <filesystem>
#include <system_error>

#include "platform/Platform.h"
#include "support/Log.h"
#include "support/Texts.h"

namespace vestrel {

bool moveAside(const std::string& narrowPath) {
  namespace fs = std::filesystem;
  constexpr int kMostTries = 1000;
  std::error_code error;
  for (int n = 1; n <= kMostTries; ++n) {
    const std::string target = narrowPath + (n == 1 ? ".old" : ".old-" + std::to_string(n));
    const fs::file_status status = fs::symlink_status(platform::toFsPath(target), error);
    if (status.type() != fs::file_type::not_found) {
      continue;
    }
    fs::rename(platform::toFsPath(narrowPath), platform::toFsPath(target), error);
    if (error) {
      break;
    }
    logLine(text::kMovedAside, narrowPath.c_str(), target.c_str());
    return true;
  }
  const std::string reason =
      error ? error.message() : std::make_error_code(std::errc::file_exists).message();
  logLine(text::kMoveAsideFailed, narrowPath.c_str(), reason.c_str());
  return false;
}

}  // namespace vestrel
