#include "support/FolderAccess.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "platform/Platform.h"
#include "support/LocalPaths.h"

namespace vestrel {

bool folderWritable(const std::string& narrowFolder, std::string& why) {
  std::string folder = narrowFolder;
  if (!folder.empty() && folder.back() != '/' && folder.back() != platform::nativeSeparator()) {
    folder += '/';
  }
  // A name no listed file may have: the lists refuse the installer's own names.
  const std::string probe = folder + "installer.log.vestrel-part";
  std::FILE* file = platform::openFile(probe, "w");
  if (file == nullptr) {
    why = std::generic_category().message(errno);
    return false;
  }
  std::fclose(file);
  removeIfPresent(probe);
  return true;
}

}  // namespace vestrel
