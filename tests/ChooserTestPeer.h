// The tests' one way into the chooser's private dialog state, which the installer never
// touches.
#pragma once

#include <imgui.h>

#include <cstddef>
#include <string>
#include <vector>

#include "chooser/DirectoryChooser.h"

namespace vestrel {

struct ChooserTestPeer {
  static const char* nameInput(const DirectoryChooser& chooser) { return chooser.nameInput_; }
  static const std::string& resultName(const DirectoryChooser& chooser) {
    return chooser.resultName_;
  }
  static std::string& errorTitle(DirectoryChooser& chooser) { return chooser.errorTitle_; }
  static const std::string& errorText(const DirectoryChooser& chooser) {
    return chooser.errorText_;
  }
  static const std::vector<std::size_t>& visibleFolders(const DirectoryChooser& chooser) {
    return chooser.visibleFolders_;
  }
  static const std::vector<std::size_t>& suggestions(const DirectoryChooser& chooser) {
    return chooser.suggestions_;
  }
  static bool showHidden(const DirectoryChooser& chooser) { return chooser.showHidden_; }
  static int itemsPerColumn(const DirectoryChooser& chooser) { return chooser.itemsPerColumn_; }
  static int selectedIndex(const DirectoryChooser& chooser) { return chooser.selectedIndex_; }
  static bool filterDirty(const DirectoryChooser& chooser) { return chooser.filterDirty_; }
  static ImGuiTextFilter& searchFilter(DirectoryChooser& chooser) { return chooser.searchFilter_; }
};

}  // namespace vestrel
