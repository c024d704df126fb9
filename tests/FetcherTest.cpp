#include <gtest/gtest.h>

#include "BuildConfig.h"
#include "support/Texts.h"
#include "tests/LoneFetches.h"
#include "tests/ServerFixture.h"
#include "update/RunContext.h"
#include "update/lists/ListRules.h"
#include "update/net/FileServer.h"

namespace vestrel {
namespace {

using test::readFile;

constexpr char kGeneralUrl[] = "https://" VESTREL_GENERAL_HELP_LINK;
constexpr char kSslUrl[] = "https://" VESTREL_SSL_HELP_LINK;

std::string otherBox(const std::string& error) {
  return "Во время работы авто-апдейтера произошла неизвестная ошибка:\nОшибка: " + error +
         "\n\nПримечание: Попробуйте решить проблему при помощи гайда на форуме "
         "- " VESTREL_GENERAL_HELP_LINK
         ".\nЛибо обратитесь к разработчикам через дискорд-сервер или группу Вконтакте.";
}

class FetcherTest : public test::ServerFixture {};

TEST_F(FetcherTest, ListsArriveByteExactWithOnlyTheSuccessLine) {
  startLog();
  const std::string bytes = "a\r\nb/c\n\xD0\x90\x00tail";
  publishList("udirs.lists", bytes);
  publishList("ufile.lists", "f\n");
  publishList("uhash.lists", "h\n");
  const std::string local = root() + "/udirs.lists";
  ASSERT_EQ(fetchDirList(local), ListFetch::Received);
  EXPECT_EQ(readFile(local), bytes);
  ASSERT_EQ(fetchFileList(root() + "/ufile.lists"), ListFetch::Received);
  ASSERT_EQ(fetchHashList(root() + "/uhash.lists"), ListFetch::Received);
  EXPECT_EQ(readFile(root() + "/uhash.lists"), "h\n");
  EXPECT_TRUE(fakes_.events().empty());
  EXPECT_NE(log().find("[T] [ЗАГРУЗКА] " + local + "\n"), std::string::npos);
}

TEST_F(FetcherTest, RedirectIsFollowed) {
  publishList("ufile.lists", "redirected\n");
  useRedirect("redirect");
  ASSERT_EQ(fetchFileList(root() + "/ufile.lists"), ListFetch::Received);
  EXPECT_EQ(readFile(root() + "/ufile.lists"), "redirected\n");
}

TEST_F(FetcherTest, NotFoundIsAFailureWithTheOtherErrorReport) {
  startLog();
  const std::string local = root() + "/uhash.lists";
  EXPECT_EQ(fetchHashList(local), ListFetch::Failed);
  // The error body stays in the file as far as it was written.
  EXPECT_TRUE(std::filesystem::exists(local));
  EXPECT_EQ(fakes_.events(), (std::vector<std::string>{std::string("link:") + kGeneralUrl,
                                                       "box:" + otherBox("HTTP 404")}));
  EXPECT_NE(log().find("[T] \n[ОШИБКА] Во время загрузки целостного списка произошла "
                       "неизвестная ошибка (HTTP 404) (VTNetwork)\n"
                       "[T] [^] Попробуйте решить проблему при помощи гайда на форуме "
                       "- " VESTREL_GENERAL_HELP_LINK ".\n\n"),
            std::string::npos);
  EXPECT_EQ(log().find("[ЗАГРУЗКА]"), std::string::npos);
}

TEST_F(FetcherTest, SslConnectErrorHasItsOwnReport) {
  startLog();
  publishList("udirs.lists", "x\n");
  runContext().net.fileServer = test::plainHttpBase(tree() + "/launcher");
  EXPECT_EQ(fetchDirList(root() + "/udirs.lists"), ListFetch::Failed);
  const auto boxes = fakes_.boxes();
  ASSERT_EQ(fakes_.events().size(), 2u);
  EXPECT_EQ(fakes_.events()[0], std::string("link:") + kSslUrl);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, "Ошибка");
  EXPECT_EQ(boxes[0].text, text::kSslErrorBox);
  EXPECT_NE(log().find("[T] \n[ОШИБКА] Во время загрузки списка директорий произошла ошибка "
                       "(SSL Connect Error) (VTNetwork)\n[T] [^] Попробуйте решить проблему при "
                       "помощи данного гайда - " VESTREL_SSL_HELP_LINK ".\n\n"),
            std::string::npos);
}

TEST_F(FetcherTest, ClosedPortReportsLibcurlsText) {
  runContext().net.fileServer = "https://127.0.0.1:1/launcher";
  EXPECT_EQ(fetchFileList(root() + "/ufile.lists"), ListFetch::Failed);
  ASSERT_EQ(fakes_.boxes().size(), 1u);
  EXPECT_EQ(fakes_.boxes()[0].text, otherBox("Couldn't connect to server"));
}

TEST_F(FetcherTest, LauncherExeIsSavedBesideTheRunningOne) {
  publishFile("launcher.exe", "new launcher");
  publishFile("bin/launcher.exe", "nested launcher");
  test::writeFile(installDir() / "launcher.exe", "running launcher");
  acceptDigestOf("new launcher");
  acceptDigestOf("nested launcher");
  startLog();
  ASSERT_TRUE(fetchFile(runContext().state, root() + "launcher.exe", root() + "launcher.exe"));
  EXPECT_EQ(readFile(installDir() / "launcher.exe"), "running launcher");
  EXPECT_EQ(readFile(installDir() / "launcher_new.exe"), "new launcher");
  // The success line still names the queue entry.
  EXPECT_NE(log().find("[ЗАГРУЗКА] " + root() + "launcher.exe\n"), std::string::npos);

  std::filesystem::create_directories(installDir() / "bin");
  ASSERT_TRUE(
      fetchFile(runContext().state, root() + "bin/launcher.exe", root() + "bin/launcher.exe"));
  EXPECT_EQ(readFile(installDir() / "bin" / "launcher.exe"), "nested launcher");
  EXPECT_FALSE(std::filesystem::exists(installDir() / "bin" / "launcher_new.exe"));
}

TEST_F(FetcherTest, EmptyPathOrForeignPathFetchesNothing) {
  EXPECT_FALSE(fetchFile(runContext().state, "", ""));
  EXPECT_FALSE(fetchFile(runContext().state, "/etc/vestrel-not-ours", "/etc/vestrel-not-ours"));
  EXPECT_TRUE(fakes_.events().empty());
  EXPECT_FALSE(std::filesystem::exists("/etc/vestrel-not-ours"));
}

TEST_F(FetcherTest, UnwritableLocalFileIsReportedAndNeverWritten) {
  publishFile("missing-folder/file.bin", "data");
  const std::string local = root() + "missing-folder/file.bin";
  EXPECT_FALSE(fetchFile(runContext().state, local, local));
  EXPECT_FALSE(std::filesystem::exists(installDir() / "missing-folder"));
  ASSERT_EQ(fakes_.boxes().size(), 1u);
  EXPECT_EQ(fakes_.boxes()[0].text, otherBox("не удалось открыть файл " + local + kPartialSuffix +
                                             " для записи: No such file or directory"));
}

// A list that finds the disk full is a failed write with its box, never the files' silent
// disk-full stop (whose report only a file's caller makes).
TEST_F(FetcherTest, ListOnAFullDiskIsAFailedWriteWithItsBox) {
  publishList("ufile.lists", "a\n");
  EXPECT_EQ(fetchFileList("/dev/full"), ListFetch::Failed);
  ASSERT_EQ(fakes_.boxes().size(), 1u);
  EXPECT_EQ(fakes_.boxes()[0].text,
            otherBox("не удалось записать файл /dev/full: No space left on device"));
}

TEST_F(FetcherTest, InterruptedTransfersFailThenTheRetrySucceeds) {
  std::string body(3 << 20, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) {
    body[i] = static_cast<char>(i * 131 + (i >> 9));
  }
  publishFile("big.bin", body);
  acceptDigestOf(body);
  const std::string local = root() + "big.bin";
  for (const char* fault : {"drop", "truncate"}) {
    SCOPED_TRACE(fault);
    useFaultServer(fault);
    // A cut body never takes the file's name: the first time there is no file, the second
    // time the good copy stays as it was.
    EXPECT_FALSE(fetchFile(runContext().state, local, local));
    EXPECT_EQ(std::filesystem::exists(local), std::string(fault) == "truncate");
    EXPECT_FALSE(std::filesystem::exists(local + kPartialSuffix));
    if (std::filesystem::exists(local)) {
      EXPECT_EQ(readFile(local), body);
    }
    ASSERT_TRUE(fetchFile(runContext().state, local, local));
    EXPECT_EQ(readFile(local), body);
  }
  EXPECT_EQ(fakes_.boxes().size(), 2u);
}

}  // namespace
}  // namespace vestrel
