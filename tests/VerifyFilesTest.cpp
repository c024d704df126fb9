#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "tests/ServerFixture.h"
#include "update/RunContext.h"
#include "update/VerifyFiles.h"
#include "update/digest/DigestPool.h"
#include "update/digest/Md5.h"
#include "update/lists/ListRules.h"

namespace vestrel {
namespace {

using test::md5Of;
using test::readFile;
using test::writeFile;

std::vector<std::string> queueHead(const InstallState& state) {
  return std::vector<std::string>(state.fileQueue.begin(),
                                  state.fileQueue.begin() + state.pendingCount);
}

class VerifyFilesTest : public test::ServerFixture {};

TEST_F(VerifyFilesTest, SortsOutWhatMustBeDownloadedAndDeletesNothing) {
  namespace fs = std::filesystem;
  const std::string good = "good content", other = "other content";
  writeFile(installDir() / "good.txt", good);                // listed, digest listed
  writeFile(installDir() / "sub" / "other.bin", other);      // listed, digest on another line
  writeFile(installDir() / "wrong.txt", "corrupted");        // listed, wrong digest: kept
  writeFile(installDir() / "launcher.exe", "old launcher");  // listed, wrong digest, kept
  writeFile(installDir() / "Case.txt", "case");              // listed as case.txt only
  writeFile(installDir() / "unlisted.dat", "mine");          // not listed
  writeFile(installDir() / "sub" / "ufile.lists", "stray");  // list names are never touched
  writeFile(installDir() / "big.pak.vestrel-part", "half");  // an interrupted download
  writeFile(installDir() / "asdir" / "mine.txt", "mine");    // a listed file is a folder here
  fs::create_directory(installDir() / "empty");
  // Listed, and only as much of it as can be read is empty: an unreadable file is wrong.
  fs::create_directory_symlink(installDir() / "empty", installDir() / "unreadable.exe");
  fs::create_symlink("loop", installDir() / "loop");  // unlisted and not followed
  // Parts with their validators beside them: kept while their file is listed and wrong.
  for (const std::string name : {"wrong.txt", "missing.txt", "good.txt", "unlisted.dat"}) {
    writeFile(installDir() / (name + ".vestrel-part"), "part");
    writeFile(installDir() / (name + ".vestrel-resume"), "vestrel-resume 1\n\"v\"\n");
  }
  writeFile(installDir() / "sub" / "gone.bin.vestrel-resume", "vestrel-resume 1\n\"v\"\n");
  // CR LF line ends; a missing file.
  publishList("ufile.lists",
              "good.txt\r\nsub/other.bin\r\nwrong.txt\r\nlauncher.exe\r\ncase.txt\r\n"
              "missing.txt\r\nasdir\r\nunreadable.exe\r\n");
  publishList("uhash.lists", md5Of(other) + "\r\n" + md5Of(good) + "\r\n" + md5Of("") + "\r\n");
  startLog();
  ASSERT_TRUE(verifyFiles(runContext().state));

  const InstallState& state = runContext().state;
  EXPECT_EQ(queueHead(state),
            (std::vector<std::string>{root() + "asdir", root() + "case.txt",
                                      root() + "launcher.exe", root() + "missing.txt",
                                      root() + "unreadable.exe", root() + "wrong.txt"}));
  EXPECT_EQ(state.fileQueue.size(), static_cast<std::size_t>(state.pendingCount));
  EXPECT_EQ(state.digestList.size(), 3u);
  // Only what hashed to a listed digest counts as verified.
  EXPECT_FALSE(state.launcherVerified);

  // A wrong file stays until its verified replacement takes its name.
  EXPECT_EQ(readFile(installDir() / "wrong.txt"), "corrupted");
  EXPECT_EQ(readFile(installDir() / "launcher.exe"), "old launcher");
  EXPECT_EQ(readFile(installDir() / "good.txt"), good);
  EXPECT_EQ(readFile(installDir() / "Case.txt"), "case");
  EXPECT_EQ(readFile(installDir() / "unlisted.dat"), "mine");
  EXPECT_EQ(readFile(installDir() / "sub" / "ufile.lists"), "stray");
  EXPECT_EQ(readFile(installDir() / "asdir.old" / "mine.txt"), "mine");
  EXPECT_FALSE(fs::exists(installDir() / "asdir"));
  EXPECT_FALSE(fs::exists(installDir() / "big.pak.vestrel-part"));
  for (const std::string name : {"wrong.txt", "missing.txt"}) {
    EXPECT_TRUE(fs::exists(installDir() / (name + ".vestrel-part")) &&
                fs::exists(installDir() / (name + ".vestrel-resume")))
        << name;
  }
  for (const std::string name :
       {"good.txt.vestrel-part", "good.txt.vestrel-resume", "unlisted.dat.vestrel-part",
        "unlisted.dat.vestrel-resume", "sub/gone.bin.vestrel-resume"}) {
    EXPECT_FALSE(fs::exists(installDir() / name)) << name;
  }

  // Every walked entry is named by its last component, folders and lists included.
  const std::string text = log();
  for (const char* name : {"good.txt", "sub", "other.bin", "ufile.lists", "uhash.lists",
                           "unlisted.dat", "Case.txt", "launcher.exe", "loop"}) {
    EXPECT_NE(text.find(std::string("[T] [ПРОВЕРКА] ") + name + "\n"), std::string::npos) << name;
  }
  EXPECT_EQ(text.find("[ПРОВЕРКА] " + root()), std::string::npos);
  for (const std::string& line :
       {"[T] [ОШИБКА] Не удалось прочитать файл " + root() + "unreadable.exe (",
        "[T] [ПРОЦЕСС] " + root() + "asdir мешает установке и перемещён в " + root() + "asdir.old",
        "[T] [ПРОЦЕСС] Удалён незавершённый файл " + root() + "big.pak.vestrel-part",
        "[T] [ПРОЦЕСС] Незавершённый файл " + root() +
            "wrong.txt.vestrel-part сохранён, его загрузка будет продолжена"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }
}

// The files are hashed on more threads than there are processors, large ones among small, so
// that they finish in no particular order: the log still tells of every entry as the system
// lists the tree, each decision right after its entry, and the same files are queued.
TEST_F(VerifyFilesTest, HashesOnManyThreadsButReportsInWalkOrder) {
  namespace fs = std::filesystem;
  std::string files, hashes;
  std::vector<std::string> wrong = {root() + "asdir", root() + "sub/unreadable.exe"};
  for (int i = 0; i < 60; ++i) {
    const std::string name = (i % 3 == 0 ? "sub/f" : "f") + std::to_string(i) + ".bin";
    const std::string bytes(i % 7 == 0 ? 2 << 20 : 100, static_cast<char>('a' + i % 26));
    writeFile(installDir() / name, i % 4 == 1 ? bytes + "x" : bytes);
    files += name + "\n";
    hashes += md5Of(bytes) + "\n";
    if (i % 4 == 1) {
      wrong.push_back(root() + name);
    }
  }
  writeFile(installDir() / "sub" / "old.pak.vestrel-part", "half");
  writeFile(installDir() / "asdir" / "kept.txt", "mine");
  fs::create_directory(installDir() / "empty");
  fs::create_directory_symlink(installDir() / "empty", installDir() / "sub" / "unreadable.exe");
  publishList("ufile.lists", files + "asdir\nsub/unreadable.exe\n");
  publishList("uhash.lists", hashes);
  startLog();

  // The pass fetches the lists into the folder, and what it moves aside may or may not be
  // walked again under its new name: those entries come where the system puts them.
  const auto walkedLine = [](const std::string& line) {
    return line != "[T] [ПРОВЕРКА] ufile.lists" && line != "[T] [ПРОВЕРКА] uhash.lists" &&
           line != "[T] [ПРОВЕРКА] asdir.old" && line != "[T] [ПРОВЕРКА] kept.txt";
  };
  std::vector<std::string> expected;
  for (auto it = fs::recursive_directory_iterator(installDir());
       it != fs::recursive_directory_iterator(); ++it) {
    const std::string name = it->path().filename().string(), path = it->path().string();
    expected.push_back("[T] [ПРОВЕРКА] " + name);
    if (name == "asdir") {
      it.disable_recursion_pending();
      expected.push_back("[T] [ПРОЦЕСС] " + path + " мешает установке и перемещён в " + path +
                         ".old");
    } else if (name == "old.pak.vestrel-part") {
      expected.push_back("[T] [ПРОЦЕСС] Удалён незавершённый файл " + path);
    } else if (name == "unreadable.exe") {
      expected.push_back("[T] [ОШИБКА] Не удалось прочитать файл " + path +
                         " (read error), он будет загружен заново");
    }
  }
  runContext().digestThreads = 8;
  ASSERT_TRUE(verifyFiles(runContext().state));

  std::vector<std::string> walked;
  std::istringstream lines(log());
  for (std::string line; std::getline(lines, line);) {
    if ((!walked.empty() || line.starts_with("[T] [ПРОВЕРКА] ")) && walkedLine(line)) {
      walked.push_back(line);
    }
  }
  EXPECT_EQ(walked, expected);
  std::sort(wrong.begin(), wrong.end());
  EXPECT_EQ(queueHead(runContext().state), wrong);
}

TEST_F(VerifyFilesTest, EmptyListsAndEmptyFolder) {
  publishList("ufile.lists", "");
  publishList("uhash.lists", "");
  ASSERT_TRUE(verifyFiles(runContext().state));
  EXPECT_EQ(runContext().state.pendingCount, 0);
}

TEST_F(VerifyFilesTest, FailedListFetchTouchesNothing) {
  writeFile(installDir() / "wrong.txt", "corrupted");
  publishList("ufile.lists", "wrong.txt\n");  // no uhash.lists on the server
  EXPECT_FALSE(verifyFiles(runContext().state));
  EXPECT_EQ(readFile(installDir() / "wrong.txt"), "corrupted");
  EXPECT_EQ(runContext().state.pendingCount, 0);
}

// A list the installer must refuse: nothing is queued or deleted, inside or outside the
// install folder, and the offending line is logged with the list's name.
struct Refusal {
  const char* name;
  std::string files;
  std::string hashes;
  std::string loggedList;  // after "Недопустимая строка в списке ", or the whole line
};

TEST_F(VerifyFilesTest, HostileAndOversizedListsChangeNothing) {
  test::TempDir outside;
  writeFile(outside.path() / "victim.txt", "precious");
  const std::string escape = "../" + outside.path().filename().string() + "/victim.txt";
  std::string tooMany, tooManyHashes;
  for (std::size_t i = 0; i <= kMaxListLines; ++i) {
    tooMany += "f" + std::to_string(i) + "\n";
    tooManyHashes += md5Of(std::to_string(i)) + "\n";
  }
  const std::vector<Refusal> cases = {
      {"dot-dot", "wrong.txt\n" + escape + "\n", "", "ufile.lists: " + escape},
      {"backslash", "wrong.txt\nsub\\..\\..\\x\n", "", "ufile.lists: sub\\..\\..\\x"},
      {"blank", "wrong.txt\n\n", "", "ufile.lists: \n"},
      {"a line too many", "wrong.txt\n" + tooMany, "",
       "ufile.lists: f" + std::to_string(kMaxListLines - 1)},
      {"long path", "wrong.txt\n" + std::string(260 - root().size(), 'p') + "\n", "",
       "ufile.lists: ppp"},
      {"a digest too many", "wrong.txt\n", tooManyHashes, "uhash.lists: "},
      {"long digest", "wrong.txt\n", std::string(260, 'd') + "\n", "uhash.lists: ddd"},
      // Control bytes never belong in a name or digest; the log shows them escaped, so a
      // list cannot forge log records or terminal sequences.
      {"escape sequence", "wrong.txt\nbad\x1b[2Jname\n", "", "ufile.lists: bad\\x1b[2Jname\n"},
      {"stray CR", "wrong.txt\na\rb\n", "", "ufile.lists: a\\x0db\n"},
      {"NUL in digest", "wrong.txt\n", std::string("abc\0def\n", 8), "uhash.lists: abc\\x00def\n"},
      {"folder as file", "wrong.txt\nsub/\n", "", "ufile.lists: sub/\n"},
      {"cut to 200 bytes", "wrong.txt\n" + std::string(210, 'q') + "\x01\n", "",
       "ufile.lists: " + std::string(200, 'q') + "\n"},
      {"over-long line", "wrong.txt\n" + std::string(100000, 'L') + "\n", "",
       "ufile.lists: " + std::string(200, 'L') + "\n"},
      // What a broken server sends instead of lists, and lists a Windows player could not
      // install.
      {"HTML digests", "wrong.txt\n", "<html>\n", "uhash.lists: <html>\n"},
      {"HTML files", "<html>\n<body>\n", md5Of("x") + "\n", "ufile.lists: <html>\n"},
      {"no digests", "wrong.txt\n", "", "[T] [ОШИБКА] Список uhash.lists пуст, хотя список"},
      {"one local file", "launcher.exe\nlauncher_new.exe\n", md5Of("x") + "\n",
       "ufile.lists: launcher_new.exe\n"},
      {"the log", "installer.log\n", md5Of("x") + "\n", "ufile.lists: installer.log\n"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    test::RecordingFakes fakes;
    setInstallFolder(runContext().state, root());
    writeFile(installDir() / "wrong.txt", "corrupted");
    publishList("ufile.lists", c.files);
    publishList("uhash.lists", c.hashes);
    startLog();
    EXPECT_FALSE(verifyFiles(runContext().state));
    EXPECT_EQ(readFile(installDir() / "wrong.txt"), "corrupted");
    EXPECT_EQ(readFile(outside.path() / "victim.txt"), "precious");
    EXPECT_EQ(runContext().state.pendingCount, 0);
    const std::string logged = c.loggedList.starts_with("[T]")
                                   ? c.loggedList
                                   : "[T] [ОШИБКА] Недопустимая строка в списке " + c.loggedList;
    EXPECT_NE(log().find(logged), std::string::npos) << log();
    ASSERT_EQ(fakes.boxes().size(), 1u);
    EXPECT_EQ(fakes.boxes()[0].text,
              "Во время работы авто-апдейтера произошла ошибка:\nОшибка: сервер прислал "
              "недопустимый список файлов.\n\nЛибо обратитесь к разработчикам через "
              "дискорд-сервер или группу Вконтакте.");
  }
}

}  // namespace
}  // namespace vestrel
