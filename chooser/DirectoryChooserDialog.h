// The modal dialog in which the player picks the install folder, drawn with Dear ImGui inside
// the installer's window. It draws its ChooserModel and hands the player's input to it; what
// the model decides, including an error to show, is read back from it on every frame.
#pragma once

#include <imgui.h>

#include <cstddef>

#include "chooser/ChooserModel.h"

namespace vestrel {

class DirectoryChooserDialog {
 public:
  // Draws the dialog if its pop-up `title` is open (the owner opens it). Returns true on the
  // one frame in which a folder was accepted; model().installFolder then holds it.
  bool show(const char* title, ImVec2 size);

  ChooserModel& model() { return model_; }
  const ChooserModel& model() const { return model_; }
  // How many rows one column of the listing holds, as the last frame laid it out.
  int itemsPerColumn() const { return itemsPerColumn_; }

 private:
  void drawNavigationBar();
  // One button per path part, joined by arrows; the parts that do not fit go to the ">>" menu.
  void drawPathButtons(ImVec2 size);
  void drawOverflowMenu(std::size_t firstHidden);
  void drawSearchField(ImVec2 size);
  // How many rows fit `usable` pixels of height (itemsPerColumn_) and how many columns the
  // listing then takes.
  int layOutColumns(float usable);
  void drawListing();
  void drawNameBar();
  // Drawn while the name field is active, or was until a click in this frame (the click may
  // be the one that picks a suggestion), or while the list itself has the keyboard focus.
  void drawSuggestions(bool nameFieldLive);
  // The name field's callback: Up and Down move through the suggestions, and an edit that
  // makes the name longer than a name may be is taken back.
  static int nameFieldEvent(ImGuiInputTextCallbackData* data);
  void drawButtons();
  // The model's error, in a pop-up of its own until the player dismisses it.
  void drawErrorPopup();
  void closeChooser();

  ChooserModel model_;
  // Where the name field was drawn, for the suggestion list under it.
  ImVec2 suggestionPos_{0, 0};
  ImVec2 suggestionSize_{0, 0};
  int itemsPerColumn_ = 12;
  bool highlightMoved_ = false;  // the list scrolls to the highlighted suggestion
};

}  // namespace vestrel
