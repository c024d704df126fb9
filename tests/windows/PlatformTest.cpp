// The Windows platform layer through its real calls: registry, path rules, the log's bytes,
// folder listing, drives, starting programs, SHA-256; and libsodium and libcurl as built for
// Windows.
#include <windows.h>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "chooser/ChooserModel.h"
#include "platform/Platform.h"
#include "platform/Sha256.h"
#include "support/FormatText.h"
#include "support/HeldFiles.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/Texts.h"
#include "tests/LogStress.h"
#include "update/RunContext.h"
#include "update/lists/ReleaseFile.h"
#include "update/lists/ReleaseSignature.h"

namespace vestrel {
namespace {

namespace fs = std::filesystem;

// A fresh folder under the temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir() {
    path_ = fs::temp_directory_path() / ("vestrel-test-" + std::to_string(GetCurrentProcessId()) +
                                         "-" + std::to_string(counter_++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  // The folder as narrow text with '/' separators, ending in '/'.
  std::string root() const {
    std::string narrow;
    platform::fromFsPath(path_, narrow);
    for (char& c : narrow) {
      if (c == '\\') {
        c = '/';
      }
    }
    return narrow + "/";
  }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class WindowsPlatform : public ::testing::Test {
 protected:
  void SetUp() override { platform::setProcessLocale(); }
};

TEST_F(WindowsPlatform, RegistryRoundTripKeepsCyrillicText) {
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Vestrel");
  EXPECT_EQ(loadInstallFolder(), "");  // no key: created with an empty value
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Vestrel", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  wchar_t stored[256] = {};
  DWORD size = sizeof stored;
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"launcherPath", nullptr, &type, reinterpret_cast<BYTE*>(stored),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 2u);  // the empty value is its terminator alone
  RegCloseKey(key);

  const std::string folder = platform::narrowText("C:/Игры/Лаунчер/");
  saveInstallFolder(folder);
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Vestrel", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  size = sizeof stored;
  RegQueryValueExW(key, L"launcherPath", nullptr, nullptr, reinterpret_cast<BYTE*>(stored), &size);
  RegCloseKey(key);
  EXPECT_EQ(std::wstring(stored), L"C:/Игры/Лаунчер/");  // proper UTF-16 in the registry

  EXPECT_EQ(loadInstallFolder(), folder);
  saveInstallFolder("");  // an empty folder never erases the stored one
  EXPECT_EQ(loadInstallFolder(), folder);

  // A value longer than the first 1024-byte read is still read whole, and then refused for
  // not fitting the install root.
  const std::wstring longValue(700, L'a');
  RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Vestrel", L"launcherPath", REG_SZ,
                  longValue.c_str(), static_cast<DWORD>((longValue.size() + 1) * 2));
  EXPECT_EQ(loadInstallFolder(), "");
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Vestrel");
}

TEST_F(WindowsPlatform, PathRulesUseDriveLettersAndBackslashes) {
  EXPECT_EQ(platform::adjustInstallFolder("D/Games/"), "D:Games/");
  EXPECT_EQ(platform::adjustInstallFolder("C:/Games/"), "C:/Games/");
  EXPECT_EQ(platform::adjustInstallFolder("x"), "x:");
  EXPECT_EQ(platform::adjustInstallFolder(""), "");
  EXPECT_EQ(platform::nativeFolder("C:/Games/Launcher/"), "C:\\Games\\Launcher\\");
  EXPECT_EQ(platform::nativeSeparator(), '\\');
  EXPECT_EQ(platform::driveRootOf("C:/Games/"), "C:/");
}

TEST_F(WindowsPlatform, LogIsWindows1251WithCrLf) {
  TempDir dir;
  std::string root = dir.root();
  root.pop_back();
  logStart(root);
  logLine(text::kPathChosen);
  logEnd();
  const std::string bytes = readBytes(dir.path() / "installer.log");
  // "[ПРОЦЕСС] Путь выбран." in Windows-1251, then CR LF.
  EXPECT_NE(
      bytes.find("] [\xCF\xD0\xCE\xD6\xC5\xD1\xD1] \xCF\xF3\xF2\xFC \xE2\xFB\xE1\xF0\xE0\xED.\r\n"),
      std::string::npos);
  EXPECT_NE(
      bytes.find(" Vestrel Installer Log \xE7\xE0\xEF\xF3\xF9\xE5\xED!\r\n--------------\r\n\r\n"),
      std::string::npos);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at " << i;
    }
  }
  logStart("");
}

// An antivirus holds each fresh file for a moment while it scans it: a rename over a file held
// open without FILE_SHARE_DELETE waits until it is let go, and says so in the log once.
TEST_F(WindowsPlatform, ARenameOverAFileHeldForAMomentWaitsUntilItIsLetGo) {
  TempDir dir;
  std::string root = dir.root();
  const std::string from = root + "fresh.bin";
  const std::string to = root + "game.pak";
  std::ofstream(dir.path() / "fresh.bin", std::ios::binary) << "the new bytes";
  std::ofstream(dir.path() / "game.pak", std::ios::binary) << "the old bytes";
  const HANDLE held = CreateFileW((dir.path() / "game.pak").c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  int error = 0;
  ASSERT_FALSE(platform::replaceFile(from, to, error));
  EXPECT_TRUE(platform::heldByAnotherProgram(error)) << error;
  std::thread scanner([held] {
    Sleep(1000);  // the scan
    CloseHandle(held);
  });
  root.pop_back();
  logStart(root);
  const bool replaced = replaceWhenFree(from, to, error);
  scanner.join();
  logEnd();
  EXPECT_TRUE(replaced) << error;
  EXPECT_EQ(readBytes(dir.path() / "game.pak"), "the new bytes");
  const std::string log = readBytes(dir.path() / "installer.log");
  const std::string told = systemText(text::kFileHeld, to.c_str());
  EXPECT_NE(log.find(told), std::string::npos) << log;
  EXPECT_EQ(log.find(told), log.rfind(told)) << "said once";
  logStart("");
}

// The C runtime appends by seeking to the end and then writing; only the log's own lock keeps
// two threads' records from landing on the same bytes.
TEST_F(WindowsPlatform, LogRecordsFromFourThreadsStayWholeAndNoneIsLost) {
  TempDir dir;
  std::string root = dir.root();
  root.pop_back();
  logStart(root);
  test::checkConcurrentRecords(4, 10000, [&] { return readBytes(dir.path() / "installer.log"); });
  logStart("");
}

TEST_F(WindowsPlatform, ListingHonoursHiddenAndSystemAttributes) {
  TempDir dir;
  for (const char* name : {"beta", "Alpha", "._x", "Sys"}) {
    fs::create_directories(dir.path() / name);
  }
  SetFileAttributesW((dir.path() / "._x").c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesW((dir.path() / "Sys").c_str(), FILE_ATTRIBUTE_SYSTEM);
  fs::create_directories(dir.path() / platform::toFsPath(platform::narrowText("Игры")));

  ChooserModel chooser;
  chooser.reloadPending = false;
  ASSERT_TRUE(chooser.readFolder(dir.root()));
  std::vector<std::string> names;
  for (const ChooserEntry& entry : chooser.folders) {
    names.push_back(entry.name);
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"..", "._x", "Alpha", "beta", platform::narrowText("Игры")}));
  EXPECT_TRUE(chooser.folders[1].hidden);

  // The first listing of "./" adopts the working directory as an absolute path.
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  ChooserModel fresh;
  ASSERT_TRUE(fresh.readFolder("./"));
  fs::current_path(previous);
  EXPECT_EQ(fresh.currentPath, dir.root());
  EXPECT_EQ(fresh.pathParts.front(), "Computer");
  EXPECT_EQ(fresh.pathParts[1], dir.root().substr(0, 2));
}

TEST_F(WindowsPlatform, DrivesAreListedByLetter) {
  std::vector<platform::DriveEntry> drives;
  ASSERT_TRUE(platform::listDrives(drives));
  bool sawC = false;
  for (const platform::DriveEntry& drive : drives) {
    sawC |= drive.name == "C" && drive.path == "C:/";
  }
  EXPECT_TRUE(sawC);

  ChooserModel chooser;
  chooser.reloadPending = false;
  chooser.currentPath = "C:/";
  chooser.splitPath("C:/");
  ASSERT_TRUE(chooser.openPathPart(0));
  chooser.refilter();
  ASSERT_TRUE(chooser.openEntry(0));
  EXPECT_EQ(chooser.currentPath.size(), 3u);
  EXPECT_EQ(chooser.currentPath.substr(1), ":/");
  EXPECT_EQ(chooser.pathParts.size(), 2u);
}

TEST_F(WindowsPlatform, StartFailuresGiveTheSystemsErrorCodes) {
  TempDir dir;
  const std::string folder = platform::nativeFolder(dir.root());
  EXPECT_EQ(platform::startProgram(folder + "\\missing.exe", folder + "\\", "x"),
            platform::kStartFileNotFound);
  // A folder cannot be started. Windows answers ERROR_ACCESS_DENIED; Wine answers
  // ERROR_INVALID_HANDLE. Either way the code is passed on as the system gave it.
  fs::create_directories(dir.path() / "folder.exe");
  const int folderResult = platform::startProgram(folder + "\\folder.exe", folder + "\\", "x");
  EXPECT_TRUE(folderResult == platform::kStartAccessDenied ||
              folderResult == static_cast<int>(ERROR_INVALID_HANDLE))
      << folderResult;
  std::ofstream(dir.path() / "text.exe") << "not a program";
  EXPECT_EQ(platform::startProgram(folder + "\\text.exe", folder + "\\", "x"),
            static_cast<int>(ERROR_BAD_EXE_FORMAT));
  EXPECT_EQ(platform::findRunningProcess("no-such-process.exe"), 0u);
}

TEST_F(WindowsPlatform, Sha256GivesKnownDigestsAndStartsAfreshAfterEach) {
  EXPECT_EQ(platform::sha256Text("abc", 3),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(platform::sha256Text("", 0),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  // 56 bytes: the padding takes a second block. Fed in two uneven pieces, twice.
  const std::string message = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  platform::Sha256 hasher;
  for (int round = 0; round < 2; ++round) {
    hasher.add(message.data(), 13);
    hasher.add(message.data() + 13, message.size() - 13);
    EXPECT_EQ(hasher.finishText(),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  }
}

// The publisher signs on Linux; the installer checks with libsodium's Windows build.
TEST_F(WindowsPlatform, ReleaseSignaturesHoldOnlyForTheSigningKeyAndTheSignedBytes) {
  std::string key;
  ASSERT_TRUE(decodePublicKey("UG/mdNyxLPgG6Ch5FFS3bx33myaJvOwVCoYzDE/Hwqk=", key));
  EXPECT_EQ(releaseKeyId(key), "41d155959f285cdf");  // as Linux derives it

  std::string publicKey, secretKey, otherPublic, otherSecret;
  ASSERT_TRUE(makeReleaseKeys(publicKey, secretKey));
  ASSERT_TRUE(makeReleaseKeys(otherPublic, otherSecret));
  EXPECT_NE(publicKey, otherPublic);
  Release release;
  release.serial = 7;
  for (ReleasedList& list : release.lists) {
    list = {3, platform::sha256Text("abc", 3)};
  }
  release.files.push_back(
      {"updateTool.exe", 3, platform::sha256Text("abc", 3), std::string(32, 'a')});
  const std::string text = releaseText(release);
  std::string line;
  ASSERT_TRUE(signReleaseText(text, secretKey, line));
  const std::string bytes = text + line;
  Release read;
  std::string why;
  ASSERT_TRUE(readRelease(bytes, read, why)) << why;

  std::string signer, other;
  ASSERT_TRUE(decodePublicKey(publicKey, signer));
  ASSERT_TRUE(decodePublicKey(otherPublic, other));
  EXPECT_TRUE(releaseSignedBy(read, bytes, {other, signer}));
  EXPECT_FALSE(releaseSignedBy(read, bytes, {other}));
  std::string changed = bytes;
  changed[text.find("serial 7") + 7] = '8';
  EXPECT_FALSE(releaseSignedBy(read, changed, {signer}));
}

// HTTP/2 over TLS needs nghttp2 and ALPN in Schannel; curl reports no ALPN feature of its
// own, so the end-to-end tests look for HTTP/2 in the server's log.
// And answers a proxy's demand for credentials with the player's own login.
TEST(WindowsLibcurl, SpeaksHttp2OverSchannel) {
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  ASSERT_NE(info, nullptr);
  EXPECT_NE(info->features & CURL_VERSION_HTTP2, 0) << info->version;
  EXPECT_NE(info->features & CURL_VERSION_SSL, 0);
  ASSERT_NE(info->ssl_version, nullptr);
  EXPECT_NE(std::string(info->ssl_version).find("Schannel"), std::string::npos)
      << info->ssl_version;
  ASSERT_NE(info->nghttp2_version, nullptr);
  EXPECT_NE(info->features & CURL_VERSION_SSPI, 0);
  EXPECT_NE(info->features & CURL_VERSION_NTLM, 0);
  EXPECT_NE(info->features & CURL_VERSION_SPNEGO, 0);
}

}  // namespace
}  // namespace vestrel
