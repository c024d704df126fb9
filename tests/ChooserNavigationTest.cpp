// The chooser's model on the real file system: listing and sorting a folder, the drive list,
// the search filter, moving through entries, ".." and the path parts, and what closing keeps.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "chooser/ChooserModel.h"
#include "support/Texts.h"
#include "support/Windows1251.h"
#include "tests/TestSupport.h"
#include "tests/WorkingDirectory.h"

namespace vestrel {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

Names folderNames(const ChooserModel& chooser) {
  Names names;
  for (const ChooserEntry& entry : chooser.folders) {
    names.push_back(entry.name);
  }
  return names;
}

using test::WorkingDirectory;

// The parts splitPath gives for an absolute POSIX folder.
Names partsOf(const fs::path& folder) {
  Names parts{"Computer", "/"};
  for (const fs::path& piece : folder.relative_path()) {
    if (!piece.empty()) {
      parts.push_back(piece.string());
    }
  }
  return parts;
}

TEST(ChooserNavigation, SortOrderFoldsCaseAndPlacesDotDotAmongPunctuation) {
  std::vector<ChooserEntry> entries;
  for (const char* name : {"beta", "Alpha", "..", "-dash", "!bang", " space", "1digit", "._x",
                           "(paren", "alphabet", "Zed", "_under", "Юг", "яма", "Ель"}) {
    entries.push_back(chooserEntry(name, false));
  }
  std::sort(entries.begin(), entries.end(), &ChooserModel::lessNoCase);
  Names sorted;
  for (const ChooserEntry& entry : entries) {
    sorted.push_back(entry.name);
  }
  // Letters compare folded to lower case, so '_' (0x5F) sorts before every letter; Cyrillic
  // letters fold too.
  EXPECT_EQ(sorted, (Names{" space", "!bang", "(paren", "-dash", "..", "._x", "1digit", "_under",
                           "Alpha", "alphabet", "beta", "Zed", "Ель", "Юг", "яма"}));
}

TEST(ChooserNavigation, ListsFoldersWithHiddenFlagsAndSkipsWhatCannotBeRead) {
  test::TempDir dir;
  for (const char* folder : {"beta", "Alpha", "._x", "target"}) {
    fs::create_directories(dir.path() / folder);
  }
  test::writeFile(dir.path() / "file.txt", "a file is not listed when choosing a folder");
  fs::create_directory_symlink(dir.path() / "target", dir.path() / "link");
  fs::create_symlink(dir.path() / "nowhere", dir.path() / "broken");

  ChooserModel chooser;
  chooser.reloadPending = false;
  ASSERT_TRUE(chooser.readFolder(dir.root()));
  EXPECT_EQ(folderNames(chooser), (Names{"..", "._x", "Alpha", "beta", "link", "target"}));
  EXPECT_TRUE(chooser.folders[1].hidden);
  EXPECT_FALSE(chooser.folders[0].hidden);
  EXPECT_FALSE(chooser.folders[2].hidden);
  EXPECT_EQ(chooser.visibleFolders.size(), 6u);
  EXPECT_EQ(chooser.selectedIndex, -1);
}

TEST(ChooserNavigation, MovesThroughEntriesDotDotAndPathParts) {
  test::TempDir dir;
  fs::create_directories(dir.path() / "Games" / "Launcher" / "data");
  const fs::path base = fs::canonical(dir.path());
  WorkingDirectory cwd(base / "Games" / "Launcher");

  ChooserModel chooser;
  ASSERT_TRUE(chooser.readFolder("./"));  // the first listing adopts the working directory
  EXPECT_EQ(chooser.currentPath, (base / "Games" / "Launcher").string() + "/");
  EXPECT_EQ(chooser.pathParts, partsOf(base / "Games" / "Launcher"));
  chooser.reloadPending = false;

  // ".." moves up and drops the last path part.
  ASSERT_EQ(chooser.folders[0].name, "..");
  ASSERT_TRUE(chooser.openEntry(0));
  EXPECT_EQ(chooser.currentPath, (base / "Games").string() + "/");
  EXPECT_EQ(chooser.pathParts, partsOf(base / "Games"));

  // Into a folder and back through a path part.
  const std::vector<std::size_t>& visible = chooser.visibleFolders;
  const auto launcher = std::find_if(visible.begin(), visible.end(), [&](std::size_t i) {
    return chooser.folders[i].name == "Launcher";
  });
  ASSERT_TRUE(chooser.openEntry(static_cast<std::size_t>(launcher - visible.begin())));
  EXPECT_EQ(chooser.currentPath, (base / "Games" / "Launcher").string() + "/");
  const std::size_t gamesPart = chooser.pathParts.size() - 2;
  ASSERT_TRUE(chooser.openPathPart(gamesPart));
  EXPECT_EQ(chooser.currentPath, (base / "Games").string() + "/");
  EXPECT_EQ(chooser.pathParts, partsOf(base / "Games"));

  // The drive part is the root.
  ASSERT_TRUE(chooser.openPathPart(1));
  EXPECT_EQ(chooser.currentPath, "/");
  EXPECT_EQ(chooser.pathParts, (Names{"Computer", "/"}));
  const Names atRoot = folderNames(chooser);
  EXPECT_EQ(std::count(atRoot.begin(), atRoot.end(), ".."), 0);
}

TEST(ChooserNavigation, DriveListAndOpeningADrive) {
  ChooserModel chooser;
  chooser.reloadPending = false;
  chooser.currentPath = "/tmp/";
  chooser.splitPath("/tmp/");
  ASSERT_TRUE(chooser.openPathPart(0));
  EXPECT_EQ(chooser.currentPath, "");
  EXPECT_EQ(chooser.pathParts, (Names{"Computer"}));
  ASSERT_FALSE(chooser.folders.empty());
  EXPECT_EQ(chooser.folders[0].name, "/");
  for (std::size_t i = 1; i < chooser.folders.size(); ++i) {
    EXPECT_EQ(chooser.folders[i].name.rfind("Removable Disk: ", 0), 0u);
  }
  EXPECT_TRUE(chooser.filterDirty);  // filtered on the next frame
  chooser.refilter();
  ASSERT_TRUE(chooser.openEntry(0));
  EXPECT_EQ(chooser.currentPath, "/");
  EXPECT_EQ(chooser.pathParts, (Names{"Computer", "/"}));
}

TEST(ChooserNavigation, FailedReadKeepsTheLocationAndOpeningFallsBackToTheWorkingDirectory) {
  test::TempDir dir;
  fs::create_directories(dir.path() / "work" / "sub");
  fs::create_directories(dir.path() / "gone");
  WorkingDirectory cwd(dir.path() / "work");

  ChooserModel chooser;
  chooser.reloadPending = false;
  ASSERT_TRUE(chooser.readFolder(dir.root()));
  chooser.currentPath = dir.root();
  const Names before = folderNames(chooser);
  EXPECT_FALSE(chooser.readFolder(dir.root() + "missing/"));
  ASSERT_TRUE(chooser.error.has_value());
  EXPECT_EQ(chooser.error->title, "ОШИБКА!");
  EXPECT_EQ(chooser.error->text,
            "Ошибка во время открытия папки. Убедитесь что имеете должные права к директории.");
  EXPECT_EQ(folderNames(chooser), before);
  EXPECT_EQ(chooser.currentPath, dir.root());

  // At an opening, a remembered folder that was deleted silently gives the working directory.
  chooser.error.reset();
  chooser.reloadPending = true;
  chooser.currentPath = dir.root() + "gone/";
  fs::remove(dir.path() / "gone");
  ASSERT_TRUE(chooser.readFolder(chooser.currentPath));
  EXPECT_EQ(chooser.currentPath, fs::canonical(dir.path() / "work").string() + "/");
  EXPECT_EQ(folderNames(chooser), (Names{"..", "sub"}));
  EXPECT_FALSE(chooser.error.has_value());
}

TEST(ChooserNavigation, FilterIncludesAndExcludesTerms) {
  ChooserModel chooser;
  for (const char* name : {"alpha", "beta", "gamma", "Alphabet"}) {
    chooser.folders.push_back(chooserEntry(name, false));
  }
  const auto visibleWith = [&chooser](const char* terms) {
    ImGuiTextFilter& filter = chooser.searchFilter;
    std::snprintf(filter.InputBuf, sizeof filter.InputBuf, "%s", terms);
    filter.Build();
    chooser.refilter();
    Names visible;
    for (std::size_t i : chooser.visibleFolders) {
      visible.push_back(chooser.folders[i].name);
    }
    return visible;
  };
  // "-b" excludes names containing b (any case) first; "a" then includes the rest with an a.
  EXPECT_EQ(visibleWith("-b,a"), (Names{"alpha", "gamma"}));
  EXPECT_FALSE(chooser.filterDirty);

  // The terms are tried in order, and the first that decides wins.
  EXPECT_EQ(visibleWith("a,-b"), (Names{"alpha", "beta", "gamma", "Alphabet"}));

  // The same for Cyrillic terms, whatever the case of either side.
  chooser.folders.clear();
  for (const char* name : {"Игры", "игрушки", "МЫЛО", "Ёж"}) {
    chooser.folders.push_back(chooserEntry(name, false));
  }
  EXPECT_EQ(visibleWith(" -ИГРУ , ы, ё "), (Names{"Игры", "МЫЛО", "Ёж"}));
}

// A refused name leaves its error pending until the player dismisses it, but not beyond the
// chooser's closing: the next opening starts without it. The accepted folder outlives the
// closing, for the owner to read in that frame. ".." is the folder above, and a folder the
// player may not write in is refused with its own error.
TEST(ChooserNavigation, AcceptsAListedFolderItMayWriteAndDotDotAsTheFolderAbove) {
  test::TempDir dir;
  fs::create_directories(dir.path() / "Games" / "Launcher");
  ChooserModel chooser;
  chooser.currentPath = dir.root() + "Games/";
  chooser.splitPath(chooser.currentPath);
  for (const char* name : {"..", "Launcher", "ro"}) {
    chooser.folders.push_back(chooserEntry(name, false));
  }
  chooser.resultName = "Missing";
  EXPECT_FALSE(chooser.finishAccept());
  ASSERT_TRUE(chooser.error.has_value());
  EXPECT_EQ(chooser.error->title, text::kChooserWrongFolderTitle);
  EXPECT_FALSE(chooser.accepted());

  chooser.resultName = "..";
  ASSERT_TRUE(chooser.finishAccept());
  EXPECT_EQ(chooser.installFolder, dir.root());

  // Read-only even for root, who may write anywhere else.
  fs::create_directories(dir.path() / "Games" / "ro");
  const std::string ro = (dir.path() / "Games" / "ro").string();
  if (std::system(("mount -t tmpfs -o ro,size=64k tmpfs " + ro + " 2>/dev/null").c_str()) == 0) {
    chooser.resultName = "ro";
    EXPECT_FALSE(chooser.finishAccept());
    ASSERT_TRUE(chooser.error.has_value());
    EXPECT_EQ(chooser.error->title, text::kChooserNotWritableTitle);
    EXPECT_FALSE(chooser.accepted());
    EXPECT_EQ(std::system(("umount -l " + ro).c_str()), 0);
  } else {
    std::printf("not checked: a read-only folder needs a tmpfs mount (root)\n");
  }

  chooser.resultName = "Launcher";
  ASSERT_TRUE(chooser.finishAccept());
  chooser.close();
  EXPECT_FALSE(chooser.error.has_value());
  EXPECT_TRUE(chooser.accepted());
  EXPECT_EQ(chooser.installFolder, dir.root() + "Games/Launcher/");
  EXPECT_TRUE(chooser.reloadPending);
}

TEST(ChooserNavigation, FoldCaseMakesAsciiAndCyrillicCapitalsSmall) {
  EXPECT_EQ(foldCase("AZaz@[`{09"), "azaz@[`{09");
  EXPECT_EQ(foldCase("АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"), "абвгдеёжзийклмнопрстуфхцчшщъыьэюя");
  EXPECT_EQ(foldCase("ЂЃЄЅІЇЈЉЊЋЌЎЏҐ"), "ђѓєѕіїјљњћќўџґ");
  // Small letters, other scripts, symbols and a cut-off character stay as they are.
  EXPECT_EQ(foldCase("абв ёя ÀÉ €№ 日本 \xD0"), "абв ёя ÀÉ €№ 日本 \xD0");
}

}  // namespace
}  // namespace vestrel
