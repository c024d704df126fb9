#include "app/InstallerScreen.h"

#include "app/ProgressLine.h"
#include "app/UiAssets.h"
#include "launch/LaunchControl.h"
#include "platform/Platform.h"
#include "platform/Window.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/Texts.h"
#include "update/PrepareDirectories.h"
#include "update/RunContext.h"

namespace vestrel {
namespace {

// NoTitleBar | NoResize | NoScrollbar | NoScrollWithMouse | NoCollapse | NoBackground |
// NoSavedSettings, written as the number the screen has always used. NoMove is left out on
// purpose: the window may move, but is put back every frame.
constexpr ImGuiWindowFlags kMainWindowFlags = 443;
// The GUI window starts this far left of the screen's window, so that its border is not seen.
constexpr float kWindowInset = 5;
// The top of the line of text above the full layout's bar.
constexpr float kProgressLineTop = 524;
static_assert(kMainWindowFlags ==
              (ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
               ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse |
               ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoBackground |
               ImGuiWindowFlags_NoSavedSettings));

const ImVec4 kWhite(1, 1, 1, 1);
const ImVec4 kClear(0, 0, 0, 0);

// An image that failed to load leaves its place empty.
void image(ImTextureID texture, ImVec2 size) {
  if (texture != nullptr) {
    ImGui::Image(texture, size, ImVec2(0, 0), ImVec2(1, 1), kWhite, kClear);
  } else {
    ImGui::Dummy(size);
  }
}

bool inside(ImVec2 point, ImVec2 min, ImVec2 max) {
  return point.x >= min.x && point.x < max.x && point.y >= min.y && point.y < max.y;
}

// A button that shows only its image; without the image it stays clickable but invisible.
// While the chooser's modal pop-up is open the toolkit gives the window behind it no input,
// yet the window's own buttons must keep working: a click on the button's area counts then,
// pressed and let go there (a drag from the dialog that ends over it is no click).
bool imageButton(const char* id, ImTextureID texture, ImVec2 size, bool behindModal) {
  ImGui::PushID(id);
  const bool clicked = ImGui::ImageButton(texture, size, ImVec2(0, 0), ImVec2(1, 1), -1, kClear,
                                          texture != nullptr ? kWhite : kClear);
  ImGui::PopID();
  const ImVec2 min = ImGui::GetItemRectMin();
  const ImVec2 max = ImGui::GetItemRectMax();
  const ImGuiIO& io = ImGui::GetIO();
  return clicked || (behindModal && ImGui::IsMouseReleased(ImGuiMouseButton_Left) &&
                     inside(io.MousePos, min, max) &&
                     inside(io.MouseClickedPos[ImGuiMouseButton_Left], min, max));
}

}  // namespace

void setUpInstallerScreen(InstallerScreen&) {
  loadUiTextures();
}

void startRun(RunContext& context) {
  context.run.start(context, [](RunContext& run) { launchInstalled(run.state); });
}

namespace {

// The window's frame: background, logo, the close and minimise buttons and the compact
// layout's label. False when the close button was pressed.
bool drawFrame(const ScreenLayout& layout, const InstallState& state) {
  const UiTextures& textures = uiTextures();
  const float width = static_cast<float>(layout.windowWidth);
  const float height = static_cast<float>(layout.windowHeight);
  ImGui::SetCursorPos(ImVec2(0, 0));
  image(textures.background, ImVec2(static_cast<float>(layout.backgroundWidth), height));
  ImGui::SetCursorPos(ImVec2(static_cast<float>(layout.logoX), static_cast<float>(layout.logoY)));
  image(textures.logo, ImVec2(90, 65));

  // The buttons show only their images, with no frame in any state.
  ImGui::PushStyleColor(ImGuiCol_Button, kClear);
  ImGui::PushStyleColor(ImGuiCol_ButtonActive, kClear);
  ImGui::PushStyleColor(ImGuiCol_ButtonHovered, kClear);
  const bool choosing = state.stage == RunStage::Choosing;
  ImGui::SetCursorPos(ImVec2(width - 40, 42.5f));
  const bool closed = imageButton("close", textures.close, ImVec2(10, 9), choosing);
  ImGui::SetCursorPos(ImVec2(width - 65, 45));
  if (!closed && imageButton("hide", textures.hide, ImVec2(11, 3), choosing)) {
    platform::minimizeMainWindow();
  }
  ImGui::PopStyleColor(3);
  if (closed) {
    return false;
  }

  if (layout.compactLayout) {
    ImGui::PushStyleColor(ImGuiCol_Text, kWhite);
    ImGui::SetCursorPos(ImVec2(177, 260));
    ImGui::Text("%s", text::kLaunchLabel);
    ImGui::PopStyleColor();
  }
  return true;
}

// No folder yet: the chooser is opened again every frame, so it cannot be dismissed. A folder
// accepted becomes the install folder, with its log, and the run starts on it.
void drawChooser(InstallerScreen& screen, RunContext& context) {
  ImGui::OpenPopup(text::kChooserTitle);
  if (!screen.chooser.show(text::kChooserTitle, ImVec2(700, 310))) {
    return;
  }
  InstallState& state = context.state;
  state.installFolder = platform::adjustInstallFolder(screen.chooser.model().installFolder);
  state.pathKnown = true;
  saveInstallFolder(state.installFolder);
  // The chooser has seen that the folder may be written; should it fail now, the run says so.
  std::string why;
  makeInstallFolder(state.installFolder, why);
  logStart(state.installFolder);
  if (!screen.forgottenFolder.empty()) {
    logLine(text::kRememberedFolderForgotten, screen.forgottenFolder.c_str(),
            screen.forgottenWhy.c_str());
  }
  logLine(text::kPathChosen);
  startRun(context);
}

// What the run shows once a folder is known: the full layout's panel, the bar of the bytes
// fetched and the line above it; the compact layout's thin bar only while files arrive (a
// check alone, however long, shows none).
void drawRun(const ScreenLayout& layout, const InstallState& state) {
  const float percent = static_cast<float>(state.downloadProgress) / 10.0f;
  if (!layout.compactLayout) {
    ImGui::SetCursorPos(ImVec2(0, 120));
    image(uiTextures().fg, ImVec2(800, 381));
    const std::string line = progressLine(progressFigures(state));
    if (!line.empty()) {
      // Centred on the bar; the window's left edge lies kWindowInset left of the screen's.
      const float width = ImGui::CalcTextSize(line.c_str()).x;
      ImGui::SetCursorPos(
          ImVec2(kWindowInset + (kFullBar.trackMin.x + kFullBar.trackMax.x - width) / 2,
                 kProgressLineTop));
      ImGui::TextUnformatted(line.c_str());
    }
    ImGui::SetCursorPos(ImVec2(0, 560));
    drawProgressBar(percent);
  } else if (state.stage == RunStage::Downloading && state.pendingCount > 0) {
    drawBar(kCompactBar, percent);
  }
}

}  // namespace

bool drawInstallerScreen(InstallerScreen& screen, const ScreenLayout& layout, RunContext& context) {
  const InstallState& state = context.state;
  if (state.stage == RunStage::Ended) {
    return false;
  }
  ImGui::SetNextWindowPos(ImVec2(-kWindowInset, 0), ImGuiCond_Always, ImVec2(0, 0));
  ImGui::SetNextWindowSize(
      ImVec2(static_cast<float>(layout.windowWidth) + 10, static_cast<float>(layout.windowHeight)),
      ImGuiCond_Always);
  ImGui::Begin("MainWindow", nullptr, kMainWindowFlags);
  const bool open = drawFrame(layout, state);
  if (open && state.stage == RunStage::Choosing) {
    drawChooser(screen, context);
  } else if (open) {
    drawRun(layout, state);
  }
  ImGui::End();
  return open;
}

void drawBar(const ProgressBarPlace& place, float percent) {
  ImDrawList* drawList = ImGui::GetWindowDrawList();
  drawList->AddRectFilled(place.trackMin, place.trackMax, 0xFF000000);
  drawList->AddRectFilled(
      place.fillMin,
      ImVec2(percent / 100 * place.fillWidth + place.fillMin.x, place.fillMin.y + place.fillHeight),
      0xFFA1FFFF);
}

void drawProgressBar(float percent) {
  drawBar(kFullBar, percent);
}

}  // namespace vestrel
