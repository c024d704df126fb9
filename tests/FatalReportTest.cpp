#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "tests/TestSupport.h"

namespace vestrel {
namespace {

// In these tests the error box writes itself into the log, so the order of box and log
// lines can be read back after the child process has ended.
void boxIntoLog(const std::string& title, const std::string& text) {
  logMessage("BOX " + title + ": " + text);
}

// A listening socket that accepts connections and never answers: a transfer to it stalls.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 4);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~SilentServer() { ::close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

class FatalReportTest : public ::testing::Test {
 protected:
  std::string log() const {
    return test::withoutStamps(test::readFile(dir_.path() / "installer.log"));
  }

  test::RecordingFakes fakes_;
  test::TempDir dir_;
};

TEST_F(FatalReportTest, BoxFirstReportEndsWithStatusZeroAfterTheBanner) {
  EXPECT_EXIT(
      {
        setErrorBoxSink(&boxIntoLog);
        logStart(dir_.path().string());
        fatalReport(ReportOrder::BoxFirst, {systemText(text::kDirListFailed)},
                    systemText(text::kRepositoryFailedBox));
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(log(),
            "[T] Vestrel Installer Log запущен!\n--------------\n\n"
            "[T] BOX Ошибка: Не удалось загрузить репозиторий.\nВозможно сервер на тех. "
            "работах или перегружен. Попробуйте позже.\n"
            "[T] [ОШИБКА] Не удалось загрузить список директорий для создания.\n"
            "\n--------------\n[T] Vestrel Installer Log завершил работу!\n");
}

TEST_F(FatalReportTest, LogFirstReportAndNoBoxWhenTextIsEmpty) {
  EXPECT_EXIT(
      {
        setErrorBoxSink(&boxIntoLog);
        logStart(dir_.path().string());
        fatalReport(ReportOrder::LogFirst, {"first", "second"}, "box");
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_NE(log().find("[T] first\n[T] second\n[T] BOX Ошибка: box\n\n--------------\n"),
            std::string::npos);

  EXPECT_EXIT(
      {
        setErrorBoxSink(&boxIntoLog);
        logStart(dir_.path().string());
        fatalReport(ReportOrder::LogFirst, {systemText(text::kVerifyFailed)}, "");
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(log().find("BOX"), std::string::npos);
}

TEST_F(FatalReportTest, EndsWithStatusZeroWhileOtherThreadsAreBusy) {
  SilentServer server;
  EXPECT_EXIT(
      {
        logStart(dir_.path().string());
        std::atomic<bool> inTransfer{false};
        // One thread is stuck inside a transfer, another keeps writing the log.
        std::thread transfer([&] {
          CURL* curl = curl_easy_init();
          const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
          curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
          inTransfer = true;
          curl_easy_perform(curl);
          curl_easy_cleanup(curl);
        });
        std::thread logger([] {
          for (;;) {
            logLine("busy");
          }
        });
        while (!inTransfer) {
          std::this_thread::yield();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        fatalReport(ReportOrder::LogFirst, {"giving up"}, "");
      },
      ::testing::ExitedWithCode(0), "");
  const std::string text = log();
  EXPECT_NE(text.find("[T] giving up\n"), std::string::npos);
  // The end banner is whole; a busy line may still follow it, since nothing orders the
  // other thread's records against the end.
  EXPECT_NE(text.find("\n--------------\n[T] Vestrel Installer Log завершил работу!\n"),
            std::string::npos);
}

}  // namespace
}  // namespace vestrel
