// The window on Windows: a Win32 popup window, a Direct3D 11 device and swap chain, and Dear
// ImGui's Win32 and DX11 backends.
#include <windows.h>

#include <d3d11.h>
#include <imgui_impl_dx11.h>
#include <imgui_impl_win32.h>

#include <optional>

#include "platform/Window.h"
#include "platform/win32/WideText.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND hWnd, UINT msg, WPARAM wParam,
                                                             LPARAM lParam);

namespace vestrel::platform {
namespace {

// The installer's window class has always carried this name, and programs of the launcher
// family may look the installer's window up by it; it is kept although it reads like a sample.
constexpr wchar_t kClassName[] = L"ImGui Example";
constexpr int kIconResource = 102;

HINSTANCE g_instance = nullptr;
HWND g_window = nullptr;
ID3D11Device* g_device = nullptr;
ID3D11DeviceContext* g_context = nullptr;
IDXGISwapChain* g_swapChain = nullptr;
ID3D11RenderTargetView* g_renderTarget = nullptr;
// Where the last press came, for the frame that takes it (see pumpMessages()).
std::optional<ImVec2> g_pressedAt;

bool isPress(UINT message) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
      return true;
    default:
      return false;
  }
}

template <typename T>
void release(T*& object) {
  if (object != nullptr) {
    object->Release();
    object = nullptr;
  }
}

void createRenderTarget() {
  ID3D11Texture2D* backBuffer = nullptr;
  if (SUCCEEDED(g_swapChain->GetBuffer(0, IID_PPV_ARGS(&backBuffer)))) {
    g_device->CreateRenderTargetView(backBuffer, nullptr, &g_renderTarget);
    backBuffer->Release();
  }
}

LRESULT WINAPI windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (ImGui_ImplWin32_WndProcHandler(window, message, wParam, lParam)) {
    return 1;
  }
  switch (message) {
    case WM_SIZE:
      // A minimised window keeps its buffers; any other size recreates the target view.
      if (g_device != nullptr && wParam != SIZE_MINIMIZED) {
        release(g_renderTarget);
        g_swapChain->ResizeBuffers(0, LOWORD(lParam), HIWORD(lParam), DXGI_FORMAT_UNKNOWN, 0);
        createRenderTarget();
      }
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_KEYMENU) {
        return 0;  // Alt alone must not open the window menu
      }
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

DesktopRect desktopRect() {
  RECT rect{};
  GetWindowRect(GetDesktopWindow(), &rect);
  return {rect.left, rect.top, rect.right, rect.bottom};
}

bool createMainWindow(const char* utf8Title, int x, int y, unsigned width, unsigned height) {
  g_instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_CLASSDC;
  windowClass.lpfnWndProc = windowProcedure;
  windowClass.hInstance = g_instance;
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);
  const std::wstring title = win32::toWide(utf8Title, CP_UTF8);
  g_window = CreateWindowExW(0, kClassName, title.c_str(), WS_POPUP, x, y, static_cast<int>(width),
                             static_cast<int>(height), nullptr, nullptr, g_instance, nullptr);
  return g_window != nullptr;
}

void setMainWindowIcon() {
  HICON icon = LoadIconW(g_instance, MAKEINTRESOURCEW(kIconResource));
  SendMessageW(g_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  SendMessageW(g_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

void bringToFront() {
  SetForegroundWindow(g_window);
  SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
}

// Direct3D is on every Windows and quick to start: the window is always drawn by it.
bool createGraphicsDevice(bool /*onProcessor*/) {
  DXGI_SWAP_CHAIN_DESC description{};
  description.BufferCount = 2;
  description.BufferDesc.Width = 0;
  description.BufferDesc.Height = 0;
  description.BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
  description.BufferDesc.RefreshRate.Numerator = 60;
  description.BufferDesc.RefreshRate.Denominator = 1;
  description.Flags = DXGI_SWAP_CHAIN_FLAG_ALLOW_MODE_SWITCH;
  description.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
  description.OutputWindow = g_window;
  description.SampleDesc.Count = 1;
  description.SampleDesc.Quality = 0;
  description.Windowed = TRUE;
  description.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;

  const D3D_FEATURE_LEVEL levels[2] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_0};
  D3D_FEATURE_LEVEL obtained{};
  if (D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, levels, 2,
                                    D3D11_SDK_VERSION, &description, &g_swapChain, &g_device,
                                    &obtained, &g_context) != S_OK) {
    release(g_swapChain);
    release(g_context);
    release(g_device);
    UnregisterClassW(kClassName, g_instance);
    return false;
  }
  createRenderTarget();
  return true;
}

void showMainWindow() {
  ShowWindow(g_window, SW_SHOWDEFAULT);
  UpdateWindow(g_window);
}

bool initGuiBackends() {
  return ImGui_ImplWin32_Init(g_window) && ImGui_ImplDX11_Init(g_device, g_context);
}

void shutdownGuiBackends() {
  ImGui_ImplDX11_Shutdown();
  ImGui_ImplWin32_Shutdown();
}

// The GUI reads where the pointer is once a frame. A press and a move that came within one
// frame would put the press where the pointer went (a drag from the dialog, released over the
// close button, would be a click on it), and a press and its release within one frame would
// be no click at all. A press therefore ends the frame's messages and is placed where it
// happened; what came after it waits for the next frame.
bool pumpMessages() {
  bool quit = false;
  MSG message;
  while (!g_pressedAt.has_value() && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
    if (message.message == WM_QUIT) {
      quit = true;
    } else if (message.hwnd == g_window && isPress(message.message)) {
      // Client coordinates, signed: a captured pointer may be left of or above the window.
      g_pressedAt = ImVec2(static_cast<float>(static_cast<short>(LOWORD(message.lParam))),
                           static_cast<float>(static_cast<short>(HIWORD(message.lParam))));
    }
  }
  return quit;
}

void beginGuiFrame() {
  ImGui_ImplDX11_NewFrame();
  ImGui_ImplWin32_NewFrame();
  if (g_pressedAt.has_value()) {
    ImGui::GetIO().MousePos = *g_pressedAt;
    g_pressedAt.reset();
  }
}

void renderAndPresent(const ImVec4& clearColor) {
  const float color[4] = {clearColor.x, clearColor.y, clearColor.z, clearColor.w};
  g_context->OMSetRenderTargets(1, &g_renderTarget, nullptr);
  g_context->ClearRenderTargetView(g_renderTarget, color);
  ImGui_ImplDX11_RenderDrawData(ImGui::GetDrawData());
  g_swapChain->Present(1, 0);
}

void minimizeMainWindow() {
  ShowWindow(g_window, SW_MINIMIZE);
}

void releaseGraphicsDevice() {
  release(g_renderTarget);
  release(g_swapChain);
  release(g_context);
  release(g_device);
}

void destroyMainWindow() {
  DestroyWindow(g_window);
  UnregisterClassW(kClassName, g_instance);
  g_window = nullptr;
}

ImTextureID createTexture(const unsigned char* rgba, int width, int height) {
  D3D11_TEXTURE2D_DESC description{};
  description.Width = static_cast<UINT>(width);
  description.Height = static_cast<UINT>(height);
  description.MipLevels = 1;
  description.ArraySize = 1;
  description.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
  description.SampleDesc.Count = 1;
  description.Usage = D3D11_USAGE_DEFAULT;
  description.BindFlags = D3D11_BIND_SHADER_RESOURCE;
  D3D11_SUBRESOURCE_DATA initial{};
  initial.pSysMem = rgba;
  initial.SysMemPitch = description.Width * 4;
  ID3D11Texture2D* texture = nullptr;
  if (FAILED(g_device->CreateTexture2D(&description, &initial, &texture))) {
    return nullptr;
  }
  D3D11_SHADER_RESOURCE_VIEW_DESC view{};
  view.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
  view.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
  view.Texture2D.MipLevels = description.MipLevels;
  view.Texture2D.MostDetailedMip = 0;
  ID3D11ShaderResourceView* resource = nullptr;
  g_device->CreateShaderResourceView(texture, &view, &resource);
  texture->Release();  // the view keeps the texture alive
  return resource;
}

}  // namespace vestrel::platform
