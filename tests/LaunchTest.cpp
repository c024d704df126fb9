#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "BuildConfig.h"
#include "launch/LaunchControl.h"
#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "tests/TestSupport.h"
#include "update/RunContext.h"

extern char** environ;

namespace vestrel {
namespace {

namespace fs = std::filesystem;
using test::readFile;

// A running program with the given image name (a copy of sleep), ended with the test.
class RunningProgram {
 public:
  RunningProgram(const fs::path& folder, const std::string& imageName) {
    fs::create_directories(folder);
    path_ = folder / imageName;
    fs::copy_file("/bin/sleep", path_, fs::copy_options::overwrite_existing);
    std::string program = path_.string();
    std::string seconds = "60";
    char* argv[] = {program.data(), seconds.data(), nullptr};
    posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ);
    for (int i = 0; i < 500 && platform::findRunningProcess(imageName) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~RunningProgram() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const { return pid_; }

 private:
  fs::path path_;
  pid_t pid_ = 0;
};

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
    setInstallFolder(runContext().state, install_.root());
  }

  // An installed program as the download leaves it: the right bytes, no execute bit.
  void install(const std::string& name) const {
    fs::copy_file(VESTREL_RECORDING_PROGRAM, install_.path() / name);
    fs::permissions(install_.path() / name, fs::perms::owner_read | fs::perms::owner_write);
  }

  // Runs launch control, and then ends the log as the run does. `verified`: the programs this
  // run has verified, as the verification pass marks them.
  void launch(std::vector<std::string> verified = {"updateTool.exe", "process.exe"}) const {
    const std::string dir = install_.path().string();
    for (const char* name : {"updateTool.exe", "process.exe"}) {
      markListed(runContext().state, install_.root() + name);
    }
    for (const std::string& name : verified) {
      markVerified(runContext().state, install_.root() + name);
    }
    runContext().boxes.setSink(&test::boxIntoLog);
    logStart(dir);
    launchInstalled(runContext().state);
    logEnd();
  }

  // The record a started program left, once it appears.
  std::string record(const std::string& program) const {
    const fs::path path = install_.path() / (program + ".record");
    for (int i = 0; i < 500; ++i) {
      const std::string text = readFile(path);
      if (text.find("fds=") != std::string::npos) {
        return text;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
  }

  // The log's records after the start banner.
  std::string logBody() const {
    const std::string text = test::withoutStamps(readFile(install_.path() / "installer.log"));
    const std::string banner = "Log запущен!\n--------------\n\n";
    return text.substr(text.find(banner) + banner.size());
  }

  std::string stored() const { return readFile(config_.path() / "Vestrel" / "launcherPath"); }

  test::RecordingFakes fakes_;
  test::TempDir install_;
  test::TempDir config_;
  test::TempDir elsewhere_;
};

constexpr char kEnd[] = "\n--------------\n[T] Vestrel Installer Log завершил работу!\n";

TEST_F(LaunchTest, StartsBothProgramsDetachedWithTheirArguments) {
  install("updateTool.exe");
  install("process.exe");
  // A descriptor without close-on-exec: no started program may inherit it.
  const int leaked = ::open("/dev/zero", O_RDONLY);
  launch();
  ::close(leaked);

  const std::string root = install_.root();
  const std::string folder = install_.path().string();
  const std::string tool = record("updateTool.exe");
  EXPECT_NE(
      tool.find("argv[0]=" + root + "updateTool.exe\nargv[1]=" + root + "\ncwd=" + folder + "\n"),
      std::string::npos)
      << tool;
  const std::string launcher = record("process.exe");
  EXPECT_NE(launcher.find("argv[0]=" + root + "process.exe\nargv[1]=debu\ncwd=" + folder + "\n"),
            std::string::npos)
      << launcher;
  for (const std::string& text : {tool, launcher}) {
    EXPECT_NE(text.find("session-leader=1\n"), std::string::npos);
    EXPECT_NE(text.find("fds=0:/dev/null 1:/dev/null 2:/dev/null \n"), std::string::npos) << text;
  }
  EXPECT_EQ(logBody(), kEnd);
  EXPECT_EQ(stored(), root);
}

TEST_F(LaunchTest, ProgramsThisRunDidNotVerifyAreNeverStarted) {
  install("updateTool.exe");
  install("process.exe");
  launch({"updateTool.exe"});
  EXPECT_EQ(logBody(),
            std::string("[T] [ОШИБКА] Файл process.exe не прошёл проверку в этом запуске, запуск "
                        "невозможен\n[T] BOX ") +
                text::kReleaseIncompleteBox + "\n" + kEnd);
  EXPECT_FALSE(fs::exists(install_.path() / "updateTool.exe.record"));
  EXPECT_EQ(stored(), install_.root());
}

TEST_F(LaunchTest, RunningLauncherIsRefusedAfterTheUpdateToolStarted) {
  install("updateTool.exe");
  install("process.exe");
  RunningProgram running(elsewhere_.path(), "process.exe");
  launch();
  EXPECT_NE(record("updateTool.exe"), "");
  EXPECT_FALSE(fs::exists(install_.path() / "process.exe.record"));
  EXPECT_EQ(logBody(),
            std::string("[T] [ОШИБКА] Невозможен дублированный запуск лаунчера (VTGUI)\n"
                        "[T] BOX Во время запуска лаунчера произошла ошибка:\nОшибка: Невозможен "
                        "запуск двух копий лаунчера.\n\nПримечание: Вероятно, процесс лаунчера "
                        "(process.exe) запущен в данный момент.\nПопробуйте закрыть его через "
                        "диспетчер задач.\n\nЛибо обратитесь к разработчикам через "
                        "дискорд-сервер или группу Вконтакте.\n") +
                kEnd);
  EXPECT_EQ(stored(), install_.root());
}

TEST_F(LaunchTest, ImageNamesCompareExactly) {
  RunningProgram capital(elsewhere_.path(), "Process.exe");
  RunningProgram longer(elsewhere_.path(), "process.exe.bak");
  EXPECT_EQ(platform::findRunningProcess("process.exe"), 0u);
  EXPECT_EQ(platform::findRunningProcess("Process.exe"), static_cast<std::uint32_t>(capital.pid()));

  install("updateTool.exe");
  install("process.exe");
  launch();
  EXPECT_NE(record("process.exe"), "");  // not a duplicate: the launcher started
}

TEST_F(LaunchTest, MissingUpdateToolStopsBeforeTheProcessCheck) {
  install("process.exe");
  // Were the process list consulted, this would turn the report into the duplicate one.
  RunningProgram running(elsewhere_.path(), "process.exe");
  launch();
  EXPECT_FALSE(fs::exists(install_.path() / "process.exe.record"));
  EXPECT_EQ(logBody(),
            std::string("[T] \n[ОШИБКА] Во время запуска UpdateTool произошла ошибка "
                        "(FILE_NOT_FOUND) (VTGUI)\n"
                        "[T] [^] Вероятно, антивирус удалил файл UpdateTool (UpdateTool.exe). "
                        "Пожалуйста добавьте файл в исключение\n"
                        "[T] [^] либо отключите антивирус.\n\n"
                        "[T] BOX Во время запуска лаунчера произошла ошибка:\nОшибка: "
                        "FILE_NOT_FOUND\n\nПримечание: Вероятно, антивирус удалил файл "
                        "UpdateTool (UpdateTool.exe). Пожалуйста, добавьте требуемый файл в "
                        "исключения антивируса либо отключите антивирус.\n\nЛибо обратитесь к "
                        "разработчикам через дискорд-сервер или группу Вконтакте.\n") +
                kEnd);
  EXPECT_EQ(stored(), install_.root());
}

TEST_F(LaunchTest, UpdateToolThatCannotBeEnteredIsAccessDenied) {
  fs::create_directories(install_.path() / "updateTool.exe");  // a folder cannot be run
  launch();
  EXPECT_EQ(logBody(),
            std::string("[T] \n[ОШИБКА] Во время запуска UpdateTool произошла ошибка "
                        "(ACCESS_DENIED) (VTGUI)\n"
                        "[T] [^] UpdateTool не может быть запущен, так как не имеет прав "
                        "доступа, пожалуйста запустите UpdateTool от имени администратора.\n\n"
                        "[T] BOX Во время запуска UpdateTool произошла ошибка:\nОшибка: "
                        "ACCESS_DENIED\n\nПримечание: UpdateTool не может быть запущен из-за "
                        "отсутствия требуемых прав доступа, пожалуйста запустите лаунчер от "
                        "имени администратора.\n\nЛибо обратитесь к разработчикам через "
                        "дискорд-сервер или группу Вконтакте.\n") +
                kEnd);
}

TEST_F(LaunchTest, FilesThatAreNotProgramsGiveTheNumberedRows) {
  test::writeFile(install_.path() / "updateTool.exe", "not a program");
  launch();
  EXPECT_EQ(logBody(),
            std::string("[T] \n[ОШИБКА] Во время запуска UpdateTool произошла ошибка (8) "
                        "(VTGUI)\n"
                        "[T] [^] Попробуйте решить проблему при помощи гайда на форуме - ") +
                VESTREL_GENERAL_HELP_LINK +
                ".\n\n[T] BOX Во время запуска UpdateTool произошла неизвестная ошибка:\n"
                "Ошибка: 8\n\nПримечание: Попробуйте решить проблему при помощи гайда на форуме "
                "- " VESTREL_GENERAL_HELP_LINK
                ".\nЛибо обратитесь к разработчикам через дискорд-сервер или группу "
                "Вконтакте.\n" +
                kEnd);

  // The launcher's failure is not followed by a save: the stored folder stays as it was.
  test::writeFile(config_.path() / "Vestrel" / "launcherPath", "/previous/");
  fs::remove(install_.path() / "updateTool.exe");
  install("updateTool.exe");
  test::writeFile(install_.path() / "process.exe", "not a program either");
  launch();
  const std::string body = logBody();
  EXPECT_EQ(body.find("[T] \n[ОШИБКА] Во время запуска лаунчера произошла ошибка (8) (VTGUI)\n"),
            0u)
      << body;
  EXPECT_NE(body.find("[T] BOX Во время запуска лаунчера произошла неизвестная ошибка:\n"
                      "Ошибка: 8\n"),
            std::string::npos);
  EXPECT_EQ(stored(), "/previous/");
}

}  // namespace
}  // namespace vestrel
