// What the fetcher refuses to keep or wait for: bodies no digest vouches for, files that did
// not reach the disk, anything but https, lists too large to be real, silent servers.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "BuildConfig.h"
#include "support/FormatText.h"
#include "support/Texts.h"
#include "tests/LoneFetches.h"
#include "tests/ServerFixture.h"
#include "update/RunContext.h"
#include "update/lists/ListRules.h"
#include "update/net/FileServer.h"

namespace vestrel {
namespace {

using test::readFile;

std::string otherBox(const std::string& error) {
  return "Во время работы авто-апдейтера произошла неизвестная ошибка:\nОшибка: " + error +
         "\n\nПримечание: Попробуйте решить проблему при помощи гайда на форуме "
         "- " VESTREL_GENERAL_HELP_LINK
         ".\nЛибо обратитесь к разработчикам через дискорд-сервер или группу Вконтакте.";
}

class FetcherIntegrityTest : public test::ServerFixture {
 protected:
  bool fetch(const std::string& relative) {
    return fetchFile(runContext().state, root() + relative, root() + relative);
  }
};

TEST_F(FetcherIntegrityTest, BodyWithoutAListedDigestIsDeletedAndNeverCounts) {
  publishFile("tool.dll", "what the server sent");
  publishFile("launcher.exe", "foreign launcher");
  acceptDigestOf("what the lists vouch for");
  test::writeFile(installDir() / "launcher.exe", "running launcher");
  startLog();

  EXPECT_FALSE(fetch("tool.dll"));
  EXPECT_FALSE(std::filesystem::exists(installDir() / "tool.dll"));
  EXPECT_FALSE(fetch("launcher.exe"));
  EXPECT_FALSE(std::filesystem::exists(installDir() / "launcher_new.exe"));
  EXPECT_EQ(readFile(installDir() / "launcher.exe"), "running launcher");

  // The mismatch is logged; the box is the caller's (the download worker's) to show.
  EXPECT_TRUE(fakes_.events().empty());
  const std::string text = log();
  EXPECT_NE(text.find("[T] [ОШИБКА] Загруженный файл " + root() +
                      "tool.dll не совпадает ни с одной контрольной суммой\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Загруженный файл " + root() + "launcher_new.exe не совпадает"),
            std::string::npos);
  EXPECT_EQ(text.find("[ЗАГРУЗКА]"), std::string::npos);

  // Once the digest is listed, the same bytes are kept.
  acceptDigestOf("what the server sent");
  ASSERT_TRUE(fetch("tool.dll"));
  EXPECT_EQ(readFile(installDir() / "tool.dll"), "what the server sent");
}

TEST_F(FetcherIntegrityTest, FileThatCannotBeFlushedToDiskIsAFailure) {
  // Small enough to sit in the stream's buffer until the close, which then finds no space.
  publishFile("full.bin", "0123456789");
  acceptDigestOf("0123456789");
  std::filesystem::create_symlink("/dev/full", installDir() / "full.bin.vestrel-part");
  startLog();
  EXPECT_FALSE(fetch("full.bin"));
  ASSERT_EQ(fakes_.boxes().size(), 1u);
  EXPECT_EQ(fakes_.boxes()[0].text, systemText(text::kDiskFullUnknownBox, root().c_str()));
  EXPECT_EQ(log().find("[ЗАГРУЗКА]"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(installDir() / "full.bin"));
}

TEST_F(FetcherIntegrityTest, OnlyHttpsIsFollowedAndRedirectsAreBounded) {
  publishFile("tool.dll", "tool");
  acceptDigestOf("tool");

  useRedirect("to-http");  // a downgrade to plain HTTP is never followed
  EXPECT_FALSE(fetch("tool.dll"));
  EXPECT_EQ(readFile(installDir() / "tool.dll"), "");
  useRedirect("loop");
  EXPECT_FALSE(fetch("tool.dll"));
  const auto boxes = fakes_.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, otherBox("Unsupported protocol"));
  EXPECT_EQ(boxes[1].text, otherBox("Number of redirects hit maximum amount"));

  // Another https host is a mirror: allowed, since the digest decides what is kept.
  useRedirect("to-mirror");
  ASSERT_TRUE(fetch("tool.dll"));
  EXPECT_EQ(readFile(installDir() / "tool.dll"), "tool");
  useRedirect("to-http");
  EXPECT_EQ(fetchFileList(root() + "/ufile.lists"), ListFetch::Failed);
}

TEST_F(FetcherIntegrityTest, ListsPastTheSizeLimitAreCutOffWhileTheyArrive) {
  startLog();
  publishList("udirs.lists", std::string(kMaxListBytes, 'a'));
  EXPECT_EQ(fetchDirList(root() + "/udirs.lists"), ListFetch::Received);
  publishList("udirs.lists", std::string(kMaxListBytes + 1, 'a'));
  EXPECT_EQ(fetchDirList(root() + "/udirs.lists"), ListFetch::Refused);
  EXPECT_LE(std::filesystem::file_size(installDir() / "udirs.lists"), kMaxListBytes);

  // A body that never ends is cut off too, long before it could fill memory or disk.
  runContext().net.fileServer = test::faultBase("endless/" + tree() + "/launcher");
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(fetchHashList(root() + "/uhash.lists"), ListFetch::Refused);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  EXPECT_LE(std::filesystem::file_size(installDir() / "uhash.lists"), kMaxListBytes);

  const auto boxes = fakes_.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text, text::kBadListBox);
  EXPECT_NE(log().find("[T] [ОШИБКА] Список uhash.lists слишком большой (больше " +
                       std::to_string(kMaxListBytes) + " байт)\n"),
            std::string::npos);
}

TEST_F(FetcherIntegrityTest, NamesReachTheServerAsNamed) {
  runContext().net.fileServer = "https://h/launcher";
  EXPECT_EQ(fileUrl("bin/tool-1.2_x~y.dll"), "https://h/launcher/launcher/bin/tool-1.2_x~y.dll");
  EXPECT_EQ(fileUrl("a b/c#d?e%f.bin"), "https://h/launcher/launcher/a%20b/c%23d%3Fe%25f.bin");
  EXPECT_EQ(fileUrl("\xD0\x94.bin"), "https://h/launcher/launcher/%D0%94.bin");
  EXPECT_EQ(fileUrl("a\\b"), "https://h/launcher/launcher/a%5Cb");

  useHttps();
  for (const std::string name : {"a b.bin", "c#d.bin", "100%.bin", "\xD0\x94\xD0\xB0.bin"}) {
    SCOPED_TRACE(name);
    publishFile(name, "bytes of " + name);
    acceptDigestOf("bytes of " + name);
    ASSERT_TRUE(fetch(name));
    EXPECT_EQ(readFile(installDir() / name), "bytes of " + name);
  }
}

TEST_F(FetcherIntegrityTest, SilentOrTricklingServerAndSilentConnectionEndTheTransfer) {
  runContext().net.connectTimeoutSeconds = 2;
  runContext().net.stallSeconds = 2;
  std::string body(1 << 20, 'b');
  publishFile("big.bin", body);
  acceptDigestOf(body);
  publishList("ufile.lists", body);
  useFaultServer("stall");
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(fetch("big.bin"));
  EXPECT_EQ(fetchFileList(root() + "/ufile.lists"), ListFetch::Failed);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  // A server that sends a few bytes a second is no better than a silent one.
  useFaultServer("trickle");
  started = std::chrono::steady_clock::now();
  EXPECT_FALSE(fetch("big.bin"));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  EXPECT_FALSE(std::filesystem::exists(installDir() / "big.bin"));

  // A peer that takes the connection but never answers the TLS handshake.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  runContext().net.fileServer =
      "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/launcher";
  started = std::chrono::steady_clock::now();
  EXPECT_FALSE(fetch("big.bin"));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
  ::close(listener);

  const auto boxes = fakes_.boxes();
  ASSERT_EQ(boxes.size(), 4u);
  for (const auto& box : boxes) {
    EXPECT_NE(box.text.find("Timeout was reached"), std::string::npos) << box.text;
  }
}

TEST_F(FetcherIntegrityTest, EachHelpLinkOpensOncePerRunWhileEveryFailureShowsItsBox) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    EXPECT_FALSE(fetch("missing.bin"));
  }
  runContext().net.fileServer = test::plainHttpBase(tree() + "/launcher");
  EXPECT_FALSE(fetch("missing.bin"));
  EXPECT_FALSE(fetch("missing.bin"));
  EXPECT_EQ(fakes_.boxes().size(), 5u);
  EXPECT_EQ(fakes_.links(), (std::vector<std::string>{"https://" VESTREL_GENERAL_HELP_LINK,
                                                      "https://" VESTREL_SSL_HELP_LINK}));
}

}  // namespace
}  // namespace vestrel
