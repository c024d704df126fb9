// The installer's one window, its graphics device and the GUI backends on top of them.
//
// Each system implements this once (SDL2 with SDL_Renderer on Linux, Win32 with Direct3D 11
// on Windows). The calls come in the order start-up makes them; Dear ImGui's context is
// created by the caller between showMainWindow() and initGuiBackends().
#pragma once

#include <imgui.h>

namespace vestrel::platform {

struct DesktopRect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// The desktop's bounds, which the window is centred on.
DesktopRect desktopRect();

// Creates the borderless, fixed-size window, hidden until shown. False when it fails.
bool createMainWindow(const char* utf8Title, int x, int y, unsigned width, unsigned height);

// The program's embedded icon, as the window's small and big icon.
void setMainWindowIcon();

// Brings the window to the front and raises the process priority (best effort).
void bringToFront();

// Creates the graphics device for the window. `onProcessor`: the window is small and plain
// enough to be drawn by the processor, which starts without bringing up a graphics driver (a
// platform whose device is cheap to make may ignore it). False when it fails; the partial
// device and the window class are released.
bool createGraphicsDevice(bool onProcessor);

void showMainWindow();

// Starts and stops Dear ImGui's backends for this window and device.
bool initGuiBackends();
void shutdownGuiBackends();

// Handles every waiting window message. True when the window was asked to close (its close
// request, Alt+F4, or the system ending the program).
bool pumpMessages();

// The backends' part of a new GUI frame, before ImGui::NewFrame().
void beginGuiFrame();

// Clears to `clearColor`, draws the GUI's draw data and presents with vertical sync.
void renderAndPresent(const ImVec4& clearColor);

void minimizeMainWindow();

// Releases the device, then destroys the window.
void releaseGraphicsDevice();
void destroyMainWindow();

// Uploads 8-bit RGBA pixels as a texture the GUI can draw; nullptr when it fails.
ImTextureID createTexture(const unsigned char* rgba, int width, int height);

}  // namespace vestrel::platform
