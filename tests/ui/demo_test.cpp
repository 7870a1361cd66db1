// The demo window driven for real (offscreen): its look, the listing, the
// title width sequence, the notice, and that every restructuring keeps
// every record, memo, number, date, logical and deleted flag.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>
#include <cctype>
#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/form1.h"
#include "dataset/db_error.h"
#include "dataset/ucommon.h"
#include "dataset/uovfds.h"
#include "dataset/warnings.h"
#include "engine/dbf/dbf4.h"
#include "engine/engine.h"
#include "engine/support/ovcommon.h"
#include "tests/test_support.h"
#include "ui/ui_hooks.h"

namespace ov {
namespace {

namespace fs = std::filesystem;

struct Movie {
  std::string title;
  int year;
  bool color;
  int runtime;
  std::string plot;
  std::string premiere;  // YYYYMMDD or blanks
  bool deleted;
};

const std::vector<std::string> kListing = {"title, C, 20, 0",  "year, N, 4, 0",    "color, L, 1, 0",
                                           "runtime, N, 3, 0", "stars, C, 50, 0",  "director, C, 20, 0",
                                           "plot, M, 10, 0",   "premiere, D, 8, 0"};

class DemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_dir_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("ovdemo" + std::to_string(getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
    StartEngine();
    DatasetLocaleSetup();
    Engine().ui.ShowMessageBox = [this](const std::string& text, const std::string& caption, unsigned) {
      messages_.push_back(caption + "|" + text);
    };
    g_show_once = true;
  }
  void TearDown() override {
    StopEngine();
    fs::current_path(old_dir_);
    fs::remove_all(dir_);
  }

  // Writes movie.DBF through the component's own table layer.
  void WriteMovies(const std::vector<Movie>& movies, int title_width = 20) {
    TOvDbf maker("Maker");
    for (const std::string& l : Listing(title_width)) maker.DbfFields().Add(l);
    maker.SetDbfFileName("movie.DBF");
    maker.SetExclusive(true);
    maker.SetActive(true);
    maker.SetActive(false);
    USE("movie.DBF EXCLUSIVE");
    Engine().dates.CenturyOn = true;  // the dates written carry their century
    for (const Movie& m : movies) {
      ClearRecord();
      SetFieldText(1, m.title);
      SetFieldNumber(2, m.year);
      SetFieldLogical(3, m.color);
      SetFieldNumber(4, m.runtime);
      SetFieldText(8, m.premiere.empty()
                          ? ""
                          : m.premiere.substr(4, 2) + "/" + m.premiere.substr(6, 2) + "/" + m.premiere.substr(0, 4));
      if (!m.plot.empty()) SetFieldNumber(7, Areas().memo.write_text(*CurrentArea(), m.plot, 0));
      Append();
      if (m.deleted) DeleteRec();
    }
    Engine().dates.CenturyOn = false;
    CloseArea();
  }

  // Reads movie.DBF back and compares with what was written, titles cut
  // or padded to `width`.
  void ExpectMovies(const std::vector<Movie>& movies, int width) {
    Select(kCallerAreas);
    USE("movie.DBF");
    ASSERT_NE(CurrentArea(), nullptr);
    ASSERT_EQ(RecCount(), static_cast<int32_t>(movies.size()));
    EXPECT_EQ(FieldLen(1), width);
    for (size_t i = 0; i < movies.size(); ++i) {
      const Movie& m = movies[i];
      GO(static_cast<int32_t>(i + 1));
      // The first table holds 20 characters; wider tables pad them.
      std::string title = m.title.substr(0, std::min<size_t>(20, static_cast<size_t>(width)));
      title.resize(static_cast<size_t>(width), ' ');
      EXPECT_EQ(GetFieldText(1), title) << i;
      EXPECT_EQ(GetFieldNumber(2), m.year) << i;
      EXPECT_EQ(GetFieldLogical(3), m.color) << i;
      EXPECT_EQ(GetFieldNumber(4), m.runtime) << i;
      EXPECT_EQ(GetDeletedFlag(), m.deleted) << i;
      const std::string stored(CurrentArea()->table.record.data() + CurrentArea()->table.fields[7].offset, 8);
      EXPECT_EQ(stored, m.premiere.empty() ? std::string(8, ' ') : m.premiere) << i;
      const int32_t block = static_cast<int32_t>(GetFieldNumber(7));
      EXPECT_EQ(block == 0 ? std::string() : Areas().memo.read_text(*CurrentArea(), block), m.plot) << i;
    }
    CloseArea();
    Select(1);
  }

  std::vector<std::string> Listing(int width) {
    std::vector<std::string> l = kListing;
    l[0] = "title, C, " + std::to_string(width) + ", 0";
    return l;
  }

  fs::path old_dir_, dir_;
  std::vector<std::string> messages_;
};

std::vector<Movie> SomeMovies() {
  return {
      {"Metropolis", 1927, false, 153, "A city of the future.\r\nWorkers below, thinkers above.", "19270110", false},
      {"Casablanca", 1942, false, 102, "", "19421126", true},
      {"A title that is far longer than thirty characters", 2001, true, 142, std::string(1500, 'x'), "", false},
      {"", 0, false, 0, "", "", false},
      {"Blade Runner", 1982, true, 117, "Replicants.", "19820625", false},
  };
}

TEST_F(DemoTest, WindowLooksAsDesigned) {
  TForm1 form;
  EXPECT_EQ(form.windowTitle(), "Form1");
  EXPECT_EQ(form.geometry(), QRect(200, 108, 544, 377));
  EXPECT_EQ(form.font().pixelSize(), 11);
  EXPECT_EQ(form.Label1->text(), "Current Database Structure");
  EXPECT_EQ(form.Label1->pos(), QPoint(182, 116));
  EXPECT_EQ(form.Button1->text(), "Change the Structure");
  EXPECT_EQ(form.Button1->geometry(), QRect(134, 39, 201, 35));
  EXPECT_EQ(form.ListBox1->geometry(), QRect(197, 137, 228, 148));
  EXPECT_EQ(form.ListedLines(), kListing);
  EXPECT_TRUE(fs::exists("movie.DBF"));
  EXPECT_TRUE(fs::exists("movie.DBT"));
}

TEST_F(DemoTest, TitleWidthsCycleAndTheNoticeShowsOnce) {
  TForm1 form;
  form.Button1->click();
  EXPECT_EQ(form.ListedLines(), Listing(20));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].find("Done reconfiguring the database.\rWatch how the TITLE field description "
                              "changes with every single button click..."),
            std::string::npos);
  for (int click = 2; click <= 24; ++click) {
    form.Button1->click();
    ASSERT_EQ(form.ListedLines(), Listing(10 + 10 * click)) << click;
  }
  EXPECT_EQ(form.ListedLines()[0], "title, C, 250, 0");
  form.Button1->click();  // the 25th
  EXPECT_EQ(form.ListedLines()[0], "title, C, 20, 0");
  EXPECT_EQ(messages_.size(), 1u);
}

// What the independent dBASE readers make of movie.DBF: their JSON, which
// they agree on.
std::string PeersRead(const std::string& table) {
  std::string out;
  const int status = test::ReadWithPeers(table, "all", &out);
  EXPECT_EQ(status, 0) << "the independent readers disagree on " << table << " or are missing:\n" << out;
  return out;
}

TEST_F(DemoTest, EveryClickKeepsEveryRecord) {
  const std::vector<Movie> movies = SomeMovies();
  WriteMovies(movies);
  const std::string before = PeersRead("movie.DBF");
  EXPECT_NE(before.find("Metropolis"), std::string::npos);
  EXPECT_NE(before.find("Workers below, thinkers above."), std::string::npos);
  fs::copy_file("movie.DBF", "movie.MDX");  // stands in for an index file
  TForm1 form;
  for (int width : {20, 30, 40}) {
    form.Button1->click();
    ASSERT_EQ(form.ListedLines()[0], "title, C, " + std::to_string(width) + ", 0");
    form.OvDbf1->SetActive(false);
    ExpectMovies(movies, width);
    form.OvDbf1->SetActive(true);
  }
  form.OvDbf1->SetActive(false);
  const std::string after = PeersRead("movie.DBF");
  EXPECT_NE(after.find("Metropolis"), std::string::npos);
  EXPECT_NE(after.find("Workers below, thinkers above."), std::string::npos);
  form.OvDbf1->SetActive(true);
  EXPECT_TRUE(fs::exists("movie.~BF"));
  EXPECT_TRUE(fs::exists("movie.~BT"));
  EXPECT_FALSE(fs::exists("movie.MDX"));
  EXPECT_TRUE(fs::exists("junk.dbf"));
  EXPECT_TRUE(FileExistsResolved("junk.DBT"));  // the memo's letter case may follow the table's
  EXPECT_FALSE(fs::exists("movie.~DX"));        // the stand-in was backed up at the first click only
}

TEST_F(DemoTest, IndexFileSurvivesAsBackup) {
  TForm1 form;
  form.OvDbf1->SetActive(false);
  fs::copy_file("movie.DBF", "movie.MDX");
  form.OvDbf1->SetActive(true);
  form.Button1->click();
  EXPECT_FALSE(fs::exists("movie.MDX"));
  EXPECT_TRUE(fs::exists("movie.~DX"));
}

// A table with a production index: the restructured table arrives without
// tags or index file, and its component builds them again when it opens,
// showing the Qt progress window meanwhile.
TEST_F(DemoTest, ProductionIndexIsRebuiltAfterEachRestructuring) {
  WriteMovies(SomeMovies());
  InstallUiHooks(false);
  std::vector<std::string> captions;
  const auto open_window = Engine().ui.ProgressOpen;
  Engine().ui.ProgressOpen = [&](const std::string& caption) {
    captions.push_back(caption);
    open_window(caption);
  };
  TForm1 form;
  form.OvDbf1->SetActive(false);
  form.OvDbf1->IndexList() = {"TITLE,F,F,UPPER(TITLE)", "", "YEAR,T,F,YEAR", ""};
  form.OvDbf1->SetActive(true);
  const std::vector<std::string> by_title = {"", "A title that is far", "Blade Runner", "Casablanca",
                                             "Metropolis"};
  for (int click = 0; click < 3; ++click) {
    SCOPED_TRACE(click);
    ASSERT_TRUE(FileExistsResolved("movie.MDX"));
    EXPECT_EQ(captions.size(), static_cast<size_t>(click + 1));
    EXPECT_EQ(form.OvDbf1->IndexOrder(), "TITLE");
    std::vector<std::string> titles;
    for (form.OvDbf1->First(); !form.OvDbf1->Eof(); form.OvDbf1->Next()) {
      titles.push_back(form.OvDbf1->FieldByName("title")->AsString());
    }
    EXPECT_EQ(titles, by_title);
    EXPECT_TRUE(form.OvDbf1->FindExact("BLADE RUNNER"));
    form.Button1->click();
  }
  EXPECT_EQ(captions.front(), "Indexing movie.MDX...");
  EXPECT_TRUE(FileExistsResolved("movie.~DX"));
  Engine().ui.ProgressOpen = nullptr;
}

TEST_F(DemoTest, ATableThatIsNotATableRaisesTheEnginesText) {
  test::WriteAll("movie.DBF", std::vector<uint8_t>(300, 0x5A));
  try {
    TForm1 form;
    FAIL() << "the window opened a table that is not one";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("Not a dBASE data file"), std::string::npos) << e.what();
  }
}

// A folder the program may not write to: the table cannot be created and
// the open fails with the engine's text, not a crash. (Permissions do not
// stop the root user the tests may run as, so the platform refuses.)
TEST_F(DemoTest, AFolderThatRefusesWritesGivesTheEnginesError) {
  test::FaultEnv env;
  env.FailOpens(5);
  SetEnv(&env);
  std::vector<std::string> warnings;
  WarningHook old = SetWarningHook([&](const std::string& w) { warnings.push_back(w); });
  try {
    TForm1 form;
    ADD_FAILURE() << "the window opened a table it could not create";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("File access denied"), std::string::npos) << e.what();
  }
  SetWarningHook(old);
  SetEnv(nullptr);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0], "Could not create \"movie.DBF\"");
}

// Every file of the folder with its bytes.
std::map<std::string, std::vector<uint8_t>> FolderBytes() {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& e : fs::directory_iterator(".")) {
    files[e.path().filename().string()] = test::ReadAll(e.path().string());
  }
  return files;
}

// Expects the table and its memo byte for byte as `before`, and each
// backup either as before or a whole copy of the table.
void ExpectTableAsBefore(const std::map<std::string, std::vector<uint8_t>>& before) {
  const auto after = FolderBytes();
  // Scratch files may go; nothing else may come or go.
  std::vector<std::string> names_before, names_after;
  for (const auto& [name, bytes] : before) {
    if (name.rfind("junk.", 0) != 0) names_before.push_back(name);
  }
  for (const auto& [name, bytes] : after) {
    if (name.rfind("junk.", 0) != 0) names_after.push_back(name);
  }
  EXPECT_EQ(names_after, names_before);
  for (const char* name : {"movie.DBF", "movie.DBT"}) {
    EXPECT_TRUE(after.count(name) && after.at(name) == before.at(name)) << name << " changed";
  }
  for (const auto& [backup, table] : {std::pair{"movie.~BF", "movie.DBF"}, std::pair{"movie.~BT", "movie.DBT"}}) {
    if (!after.count(backup)) continue;
    const std::vector<uint8_t>& b = after.at(backup);
    EXPECT_TRUE((before.count(backup) && b == before.at(backup)) || b == after.at(table)) << backup << " is half made";
  }
}

// Platform layer whose files misbehave on request: one name that cannot
// be deleted (in any letter case), the n-th copy running out of disk half way, the n-th rename
// refused.
class BrokenFilesEnv : public EnvWrapper {
 public:
  BrokenFilesEnv() : EnvWrapper(DefaultEnv()) {}
  uint16_t Delete(const std::string& p) override {
    const std::string name = fs::path(p).filename().string();
    const bool refused = name.size() == undeletable.size() &&
                         std::equal(name.begin(), name.end(), undeletable.begin(),
                                    [](char a, char b) { return std::tolower(a) == std::tolower(b); });
    return refused ? 5 : EnvWrapper::Delete(p);
  }
  uint16_t CopyFile(const std::string& from, const std::string& to) override {
    if (--copies_until_full != 0) return EnvWrapper::CopyFile(from, to);
    (void)EnvWrapper::CopyFile(from, to);
    fs::resize_file(to, fs::file_size(to) / 2);
    return 101;
  }
  uint16_t Rename(const std::string& from, const std::string& to) override {
    return --renames_until_refused == 0 ? 5 : EnvWrapper::Rename(from, to);
  }
  std::string undeletable;
  int copies_until_full = 0;
  int renames_until_refused = 0;
};

// A click whose scratch file cannot be deleted, or whose copy or rename
// fails at any step, stops with the engine's error and leaves the table,
// its memo and its backups whole. (Permissions do not stop the root user
// the tests may run as, so the platform refuses.)
TEST_F(DemoTest, AFailingStepLeavesTheTableAsItWas) {
  struct Case {
    const char* undeletable;
    int copy;    // the failing copy: 1, 2 backups; 3, 4 scratch onto table
    int rename;  // the failing rename: 1..4 backups; 5..8 scratch onto table
    const char* text;
  };
  const Case cases[] = {
      {"junk.dbf", 0, 0, "Error # 5 (File access denied)\r\nError erasing junk.dbf"},
      {"junk.dbt", 0, 0, "Error erasing junk."},
      {"", 1, 0, "Error # 101 (Disk write error (probable cause: Disk Full).)\r\nError copying movie.DBF to movie.~BF"},
      {"", 4, 0, "Error copying junk."},
      {"", 0, 3, "Error renaming movie.~BT"},
      {"", 0, 7, "Error renaming movie.DBT"},
      {"", 0, 8, "to movie.DBT"},
  };
  WriteMovies(SomeMovies());
  std::vector<int> halts;
  Engine().ui.Terminate = [&](int status) { halts.push_back(status); };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    halts.clear();
    messages_.clear();
    g_show_once = true;
    Errors() = ErrorState{};
    {
      TForm1 form;
      form.Button1->click();  // leaves scratch files and backups behind
      const auto before = FolderBytes();
      BrokenFilesEnv env;
      env.undeletable = c.undeletable;
      env.copies_until_full = c.copy;
      env.renames_until_refused = c.rename;
      SetEnv(&env);
      form.Button1->click();
      SetEnv(nullptr);
      ExpectTableAsBefore(before);
      EXPECT_EQ(halts.size(), 1u);
      ASSERT_EQ(messages_.size(), 2u);
      EXPECT_EQ(messages_[1].rfind("Program halted.|", 0), 0u) << messages_[1];
      EXPECT_NE(messages_[1].find(c.text), std::string::npos) << messages_[1];
    }
    Errors() = ErrorState{};
    ExpectMovies(SomeMovies(), 20);
  }
}

// Runs the program with files limited to `limit` bytes (SIGXFSZ ignored,
// so a write past it fails as on a full disk) and answers its exit status.
int RunDemoWithFileLimit(const fs::path& demo, rlim_t limit, std::string& out) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return -1;
  // The program halts by exit() from inside its window, so what the window
  // system holds is still allocated then: no leak check for the child.
  const char* asan = std::getenv("ASAN_OPTIONS");
  std::vector<std::string> env_text = {"QT_QPA_PLATFORM=offscreen",
                                       "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":detect_leaks=0"};
  for (char** e = environ; *e != nullptr; ++e) env_text.emplace_back(*e);
  std::vector<char*> envp;
  for (std::string& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  const char* const argv[] = {demo.c_str(), "--clicks", "1", nullptr};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[1], 1);
    dup2(pipe_fds[1], 2);
    close(pipe_fds[0]);
    const rlimit lim{limit, limit};
    setrlimit(RLIMIT_FSIZE, &lim);
    signal(SIGXFSZ, SIG_IGN);
    execve(demo.c_str(), const_cast<char* const*>(argv), envp.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(pipe_fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A disk that fills up while the table is backed up: the program halts
// with the engine's error, and neither the table nor its memo has changed,
// nor is an empty backup left.
TEST_F(DemoTest, AFullDiskHaltsTheProgramBeforeTheTableChanges) {
  const fs::path demo = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "app" / "movie-demo";
  if (!fs::exists(demo)) GTEST_SKIP() << "movie-demo not built";
  std::vector<Movie> movies = SomeMovies();
  movies.resize(300, Movie{"Filler", 1999, true, 90, "", "", false});
  WriteMovies(movies, 250);
  const auto before = FolderBytes();
  // The scratch table (titles of 20) fits; the backup of the table does not.
  ASSERT_GT(before.at("movie.DBF").size(), 3 * 1024 * 32u);
  std::string out;
  EXPECT_EQ(RunDemoWithFileLimit(demo, 64 * 1024, out), 101) << out;
  EXPECT_NE(out.find("Program halted."), std::string::npos) << out;
  EXPECT_NE(out.find("Error copying movie.DBF to movie.~BF"), std::string::npos) << out;
  ExpectTableAsBefore(before);
}

// The program itself: random bytes as movie.DBF end in "Program halted."
// with the engine's text and the code as exit status, never a crash.
TEST_F(DemoTest, TheProgramHaltsOnABadTable) {
  const fs::path demo = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "app" / "movie-demo";
  if (!fs::exists(demo)) GTEST_SKIP() << "movie-demo not built";
  test::WriteAll("movie.DBF", std::vector<uint8_t>(300, 0x5A));
  std::string out;
  const int status = test::RunCommand("QT_QPA_PLATFORM=offscreen " + demo.string() + " --clicks 1 2>&1", &out);
  EXPECT_EQ(status, 210) << out;
  EXPECT_NE(out.find("Program halted."), std::string::npos) << out;
  EXPECT_NE(out.find("Not a dBASE data file"), std::string::npos) << out;
}

// Unattended runs print the listing after start and after every click.
TEST_F(DemoTest, TheProgramPrintsEveryListingAndSavesAScreenshot) {
  const fs::path demo = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "app" / "movie-demo";
  if (!fs::exists(demo)) GTEST_SKIP() << "movie-demo not built";
  std::string out;
  const int status = test::RunCommand(
      "QT_QPA_PLATFORM=offscreen " + demo.string() + " --clicks 2 --screenshot s.png 2>/dev/null", &out);
  ASSERT_EQ(status, 0) << out;
  std::string want;
  for (int width : {20, 20, 30}) {
    for (const std::string& line : Listing(width)) want += line + "\n";
    want += "\n";
  }
  EXPECT_EQ(out, want);
  EXPECT_GT(fs::file_size("s.png"), 1000u);
}

}  // namespace
}  // namespace ov
