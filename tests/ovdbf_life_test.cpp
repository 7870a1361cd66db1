// The table component over a whole life of the demo's table: creation from
// its definition lines, a thousand appends with every field kind, walks in
// both directions, edits, deletions hidden and shown, reopening and
// searching; then two components sharing the table while a record lock is
// held elsewhere, and the structure listing under both date formats.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dataset/format_settings.h"
#include "dataset/ucommon.h"
#include "dataset/uovfds.h"
#include "dataset/warnings.h"
#include "engine/dbf/dbf4.h"
#include "engine/memo/memo_area.h"
#include "tests/test_support.h"

namespace ov {
namespace {

const TStrings kMovieFields = {"title, C, 20, 0", "year, N, 4, 0",      "color, L, 1, 0", "runtime, N, 3, 0",
                               "stars, C, 50, 0", "director, C, 20, 0", "plot, M, 10, 0", "premiere, D, 10, 0"};
constexpr int kMovies = 1000;

struct Movie {
  std::string title;
  int year = 0;
  bool color = false;
  int runtime = 0;
  std::string stars;
  std::string director;
  std::string plot;
  TDateTime premiere = 0;  // 0: no date
  bool deleted = false;
};

TDateTime Date(int y, int m, int d) {
  TDateTime dt = 0;
  EXPECT_TRUE(TryEncodeDate(y, m, d, dt));
  return dt;
}

std::string Numbered(const char* format, int n) {
  char text[64];
  std::snprintf(text, sizeof text, format, n);
  return text;
}

// Memo text of some lines; long ones span several memo blocks. The
// accented letters exist in both character sets, so they survive the
// conversion to the table's OEM text and back.
std::string PlotText(int k, int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    if (i > 0) text += "\r\n";
    text +=
        Numbered("Line %d of the plot: a caf\xE9 scene, a ch\xE2teau, a long walk", i) + Numbered(" (movie %d).", k);
  }
  return text;
}

// Every field kind varies: accented text, empty text, both logicals, dates
// across two centuries, missing dates, missing and multi-block memos.
Movie MakeMovie(int k) {
  Movie m;
  m.title = Numbered(k % 3 == 0 ? "Film \xE9t\xE9 %04d" : (k % 3 == 1 ? "M\xFCnchen %04d" : "Se\xF1or %04d"), k);
  m.year = 1900 + k % 120;
  m.color = k % 3 != 0;
  m.runtime = 60 + k % 140;
  if (k % 10 != 0) m.stars = Numbered("Star A%d, Star B", k) + std::string(static_cast<size_t>(k % 25), 'x');
  m.director = Numbered("Director %03d", k % 250);
  if (k % 5 != 0) m.plot = PlotText(k, 1 + k % 13);
  if (k % 11 != 0) m.premiere = Date(1930 + k % 100, 1 + k % 12, 1 + k % 28);
  return m;
}

std::string DateText(TDateTime dt) { return dt == 0 ? "" : DateToStr(dt); }

std::string Describe(const Movie& m) {
  return m.title + "|" + std::to_string(m.year) + "|" + (m.color ? "True" : "False") + "|" + std::to_string(m.runtime) +
         "|" + m.stars + "|" + m.director + "|" + m.plot + "|" + DateText(m.premiere);
}

// The current record as the component presents it, in text form.
std::string Describe(TDataSet& ds) {
  std::string out;
  for (const char* name : {"title", "year", "color", "runtime", "stars", "director", "plot", "premiere"}) {
    if (!out.empty()) out += "|";
    out += ds.FieldByName(name)->AsString();
  }
  return out;
}

void WriteMovie(TDataSet& ds, const Movie& m) {
  ds.FieldByName("title")->SetAsString(m.title);
  ds.FieldByName("year")->SetAsInteger(m.year);
  ds.FieldByName("color")->SetAsBoolean(m.color);
  ds.FieldByName("runtime")->SetAsString(std::to_string(m.runtime));
  ds.FieldByName("stars")->SetAsString(m.stars);
  ds.FieldByName("director")->SetAsString(m.director);
  ds.FieldByName("plot")->SetAsString(m.plot);
  if (m.premiere == 0) {
    ds.FieldByName("premiere")->Clear();
  } else {
    ds.FieldByName("premiere")->SetAsDateTime(m.premiere);
  }
}

// Record numbers (1-based) of the records a walk must show.
std::vector<int> Visible(const std::vector<Movie>& movies, bool hide_deleted) {
  std::vector<int> out;
  for (int i = 0; i < static_cast<int>(movies.size()); ++i) {
    if (!hide_deleted || !movies[static_cast<size_t>(i)].deleted) out.push_back(i + 1);
  }
  return out;
}

class OvDbfLifeTest : public test::EngineTest {
 protected:
  void SetUp() override {
    test::EngineTest::SetUp();
    saved_format_ = FormatSettings();
    UseDateFormat("MM/dd/yyyy");
    SetWarningHook([this](const std::string& text) { warnings_.push_back(text); });
    Engine().ui.ShowMessageBox = [this](const std::string& text, const std::string&, unsigned) {
      messages_.push_back(text);
    };
  }
  void TearDown() override {
    tables_.clear();
    SetWarningHook(nullptr);
    FormatSettings() = saved_format_;
    test::EngineTest::TearDown();
  }

  static void UseDateFormat(const std::string& format) {
    FormatSettings() = TFormatSettings{format, '/', '.'};
    DatasetLocaleSetup();
  }

  // A component named `name` on the demo table; not yet open.
  TOvDbf& Table(const std::string& name) {
    tables_.push_back(std::make_unique<TOvDbf>(name));
    TOvDbf& t = *tables_.back();
    t.DbfFields().Assign(kMovieFields);
    t.SetDbfFileName(Path("movie"));
    return t;
  }

  // Walks the whole table forwards and then backwards, comparing every
  // record with the expected one; failures are reported for at most a few.
  void ExpectWalks(TOvDbf& t, const std::vector<Movie>& movies, bool hide_deleted) {
    const std::vector<int> want = Visible(movies, hide_deleted);
    std::vector<int> seen;
    int mismatches = 0;
    auto check = [&] {
      const int n = t.RecNo();
      seen.push_back(n);
      ASSERT_TRUE(n >= 1 && n <= static_cast<int>(movies.size())) << n;
      const std::string expected = Describe(movies[static_cast<size_t>(n - 1)]);
      if (Describe(t) != expected && ++mismatches <= 3) {
        ADD_FAILURE() << "record " << n << "\n got: " << Describe(t) << "\nwant: " << expected;
      }
    };
    for (t.First(); !t.Eof(); t.Next()) check();
    EXPECT_EQ(seen, want) << "forward walk";
    seen.clear();
    for (t.Last(); !t.Bof(); t.Prior()) check();
    std::vector<int> backwards(want.rbegin(), want.rend());
    EXPECT_EQ(seen, backwards) << "backward walk";
    EXPECT_EQ(mismatches, 0);
  }

  void Go(TOvDbf& t, int n) {
    t.SetRecNo(n);
    ASSERT_EQ(t.RecNo(), n);
  }

  std::vector<std::string> warnings_;
  std::vector<std::string> messages_;
  std::vector<std::unique_ptr<TOvDbf>> tables_;
  TFormatSettings saved_format_;
};

// ---- One table from creation to the last search ----

TEST_F(OvDbfLifeTest, DemoTableKeepsEveryValueThroughItsWholeLife) {
  TOvDbf& t = Table("OvDbf1");
  t.Open();
  ASSERT_TRUE(t.Active());
  EXPECT_EQ(t.DbfFileName(), Path("movie.DBF"));
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_TRUE(t.Eof() && t.Bof());
  // The date's length 10 in the definition line becomes the table's 8.
  const std::vector<uint8_t> header = test::ReadAll(Path("movie.DBF"));
  ASSERT_GT(header.size(), 32u + 8 * 32);
  EXPECT_EQ(header[32 + 7 * 32 + 11], 'D');
  EXPECT_EQ(header[32 + 7 * 32 + 16], 8);

  std::vector<Movie> movies;
  for (int k = 1; k <= kMovies; ++k) {
    movies.push_back(MakeMovie(k));
    t.Append();
    WriteMovie(t, movies.back());
    t.Post();
    ASSERT_EQ(t.RecNo(), k);
  }
  EXPECT_EQ(t.RecordCount(), kMovies);
  ExpectWalks(t, movies, false);

  // Edits: every field changes, memos grow, vanish or appear, dates go and come.
  for (int k = 3; k <= kMovies; k += 97) {
    Movie& m = movies[static_cast<size_t>(k - 1)];
    Go(t, k);
    t.Edit();
    m.title = Numbered("Edited %04d", k);
    m.year += 1;
    m.color = !m.color;
    m.runtime = 999 - k % 100;
    m.stars = m.stars.empty() ? "Newly cast" : "";
    m.plot = m.plot.empty() ? PlotText(k, 30) : (k % 2 == 0 ? "" : PlotText(-k, 2));
    m.premiere = m.premiere == 0 ? Date(2001, 2, 28) : 0;
    WriteMovie(t, m);
    t.Post();
    EXPECT_EQ(t.RecNo(), k);
    EXPECT_EQ(Describe(t), Describe(m)) << "after posting record " << k;
  }
  ExpectWalks(t, movies, false);

  // Deletions with deleted records shown, then hidden, then more while hidden.
  for (int k = 7; k <= kMovies; k += 50) {
    Go(t, k);
    t.Delete();
    movies[static_cast<size_t>(k - 1)].deleted = true;
    EXPECT_EQ(t.RecNo(), k) << "a shown deleted record stays current";
  }
  ExpectWalks(t, movies, false);
  t.SetHideDeletedRecs(true);
  ExpectWalks(t, movies, true);
  for (int k = 30; k <= kMovies; k += 50) {
    Go(t, k);
    t.Delete();
    movies[static_cast<size_t>(k - 1)].deleted = true;
    EXPECT_NE(t.RecNo(), k) << "a hidden deleted record is left";
  }
  Go(t, kMovies);
  t.Delete();
  movies.back().deleted = true;
  EXPECT_EQ(t.RecNo(), kMovies - 1) << "after the last record, the one before it";
  ExpectWalks(t, movies, true);
  EXPECT_EQ(t.RecordCount(), kMovies);
  EXPECT_TRUE(warnings_.empty()) << warnings_.front();

  // Reopened, everything is as written.
  t.Close();
  t.Open();
  EXPECT_TRUE(t.HideDeletedRecs());
  EXPECT_EQ(t.RecordCount(), kMovies);
  ExpectWalks(t, movies, true);
  // Searches scan from the top, so a sample of titles (and every deleted
  // one, which a hidden search must not find) keeps the test quick.
  int misses = 0;
  for (int k = 1; k <= kMovies; ++k) {
    const Movie& m = movies[static_cast<size_t>(k - 1)];
    if (k % 10 != 1 && !m.deleted) continue;
    const bool found = t.Locate("title", {TVarValue(m.title)}, {});
    EXPECT_EQ(found, !m.deleted) << k;
    if (!found) continue;
    if ((t.RecNo() != k || Describe(t) != Describe(m)) && ++misses <= 3) {
      ADD_FAILURE() << "locating " << m.title << " gave record " << t.RecNo() << ": " << Describe(t);
    }
  }
  EXPECT_EQ(misses, 0);
  EXPECT_TRUE(t.Locate("runtime", {TVarValue(int64_t{71})}, {}));
  EXPECT_EQ(t.RecNo(), 11);
  EXPECT_TRUE(t.Locate("premiere", {TVarValue(movies[0].premiere)}, {}));
  EXPECT_EQ(t.RecNo(), 1);
  Go(t, 500);
  const TBookmark mark = t.GetBookmark();
  t.First();
  t.GotoBookmark(mark);
  EXPECT_EQ(t.RecNo(), 500);
  EXPECT_EQ(Describe(t), Describe(movies[499]));
  t.SetHideDeletedRecs(false);
  ExpectWalks(t, movies, false);
  t.Close();

  // The files hold the same through the work-area layer.
  USE(Path("movie.DBF"));
  ASSERT_EQ(RecCount(), kMovies);
  for (int k = 1; k <= kMovies; ++k) {
    GO(k);
    const Movie& m = movies[static_cast<size_t>(k - 1)];
    ASSERT_EQ(GetDeletedFlag(), m.deleted) << k;
    std::string title = GetFieldText(1);
    title.erase(title.find_last_not_of(' ') + 1);
    ASSERT_EQ(title, m.title) << k;
    const int32_t block = static_cast<int32_t>(GetFieldNumber(7));
    ASSERT_EQ(block == 0, m.plot.empty()) << k;
    if (block != 0) {
      ASSERT_EQ(LoadMemoText(*CurrentArea(), block, "test"), m.plot) << k;
    }
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(OvDbfLifeTest, StructureListingFollowsTheShortDateFormat) {
  TStrings expected = kMovieFields;
  expected[7] = "premiere, D, 8, 0";
  UseDateFormat("MM/dd/yy");
  TOvDbf& t = Table("OvDbf1");
  t.Open();
  TStrings listing = {"stale"};
  t.StructureListing(listing, false);
  EXPECT_EQ(listing, expected);
  t.Close();
  t.StructureListing(listing, false);
  EXPECT_EQ(listing, expected) << "the listing outlives the open table";

  UseDateFormat("MM/dd/yyyy");
  t.Open();
  t.StructureListing(listing, false);
  EXPECT_EQ(listing, kMovieFields);
  t.StructureListing(listing, true);
  EXPECT_EQ(listing, (TStrings{"color, L, 1, 0", "director, C, 20, 0", "plot, M, 10, 0", "premiere, D, 10, 0",
                               "runtime, N, 3, 0", "stars, C, 50, 0", "title, C, 20, 0", "year, N, 4, 0"}));
  EXPECT_TRUE(warnings_.empty());
}

// The C locale's short date format has two-digit years; a date outside the
// engine's century window must still come back as it was written.
TEST_F(OvDbfLifeTest, DatesKeepTheirCenturyWithTwoDigitYears) {
  UseDateFormat("MM/dd/yy");
  TOvDbf& t = Table("OvDbf1");
  t.Open();
  const int epoch = Engine().dates.EpochYear;
  const TDateTime dates[] = {Date(epoch - 14, 3, 5), Date(epoch, 1, 1), Date(epoch + 99, 12, 31),
                             Date(epoch + 120, 6, 30)};
  for (TDateTime d : dates) {
    t.Append();
    t.FieldByName("premiere")->SetAsDateTime(d);
    t.Post();
  }
  t.Close();
  t.Open();
  int n = 0;
  for (t.First(); !t.Eof(); t.Next(), ++n) {
    ASSERT_LT(n, 4);
    EXPECT_EQ(t.FieldByName("premiere")->AsDateTime(), dates[n]) << "record " << n + 1 << ", epoch " << epoch;
  }
  EXPECT_EQ(n, 4);
}

// ---- Two components sharing the table ----

class OvDbfSharedTest : public OvDbfLifeTest {
 protected:
  void SetUp() override {
    OvDbfLifeTest::SetUp();
    TOvDbf& writer = Table("Writer");
    writer.Open();
    for (int k = 1; k <= 3; ++k) {
      movies_.push_back(MakeMovie(k));
      writer.Append();
      WriteMovie(writer, movies_.back());
      writer.Post();
    }
    writer.Close();
    left_ = &Table("Left");
    right_ = &Table("Right");
    left_->Open();
    right_->Open();
  }

  // Holds the lock of record n from a work area of its own.
  void LockFromAnotherArea(int n) {
    const int previous = SelectedArea();
    Select(0);
    USE(Path("movie.DBF") + " ALIAS HOLDER");
    GO(n);
    ASSERT_TRUE(RLock());
    holder_ = SelectedArea();
    Select(previous);
  }
  void ReleaseHolder() {
    const int previous = SelectedArea();
    Select(holder_);
    Unlock();
    Select(previous);
  }

  // Edits the title of record n in `t` and posts it.
  void PostTitle(TOvDbf& t, int n, const std::string& title) {
    Go(t, n);
    t.Edit();
    t.FieldByName("title")->SetAsString(title);
    t.Post();
  }

  // The memo of record n as `t` reads it from the file; a mismatch shows
  // only the start of the text (a damaged memo can run on for pages).
  void ExpectPlot(TOvDbf& t, int n, const std::string& want) {
    const std::string got = StoredField(t, n, "plot");
    EXPECT_TRUE(got == want) << t.Name() << ", record " << n << ": memo of " << got.size() << " bytes, \""
                             << got.substr(0, 40) << "\", want \"" << want.substr(0, 40) << "\"";
  }
  std::string StoredField(TOvDbf& t, int n, const char* name) {
    Go(t, n == 1 ? 2 : 1);  // leave the record, so coming back reads the file
    Go(t, n);
    return t.FieldByName(name)->AsString();
  }
  std::string StoredTitle(TOvDbf& t, int n) { return StoredField(t, n, "title"); }

  std::vector<Movie> movies_;
  TOvDbf* left_ = nullptr;
  TOvDbf* right_ = nullptr;
  int holder_ = 0;
};

TEST_F(OvDbfSharedTest, RefusedRecordLockOnPostWarnsOnceAndKeepsTheRecord) {
  LockFromAnotherArea(2);
  EXPECT_NO_THROW(PostTitle(*left_, 2, "Never stored"));
  EXPECT_EQ(warnings_, std::vector<std::string>{"Lock failed [Post]"});
  EXPECT_EQ(left_->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(left_->FieldByName("title")->AsString(), movies_[1].title) << "the dataset shows what is stored";
  EXPECT_EQ(Describe(*left_), Describe(movies_[1]));
  EXPECT_EQ(StoredTitle(*right_, 2), movies_[1].title);

  // Other records are not locked, and the other component sees the change.
  PostTitle(*left_, 3, "Third, edited");
  EXPECT_EQ(warnings_.size(), 1u);
  EXPECT_EQ(StoredTitle(*right_, 3), "Third, edited");
}

// A memo typed into a record whose post is refused must not reach the
// stored record: the memo text is written before the post takes the lock.
TEST_F(OvDbfSharedTest, RefusedPostLeavesTheStoredMemoAlone) {
  LockFromAnotherArea(2);
  Go(*left_, 2);
  left_->Edit();
  left_->FieldByName("plot")->SetAsString("Never stored");
  EXPECT_NO_THROW(left_->Post());
  EXPECT_EQ(warnings_, std::vector<std::string>{"Lock failed [Post]"});
  ExpectPlot(*left_, 2, movies_[1].plot);
  ExpectPlot(*right_, 2, movies_[1].plot);
}

// Cancelled memo edits leave the stored memo, and its blocks stay its own:
// a later memo elsewhere must not land on them.
TEST_F(OvDbfSharedTest, CancelledMemoEditsKeepTheStoredMemo) {
  Go(*left_, 1);
  left_->Edit();
  left_->FieldByName("plot")->SetAsString("Typed, then cancelled");
  left_->Cancel();
  ExpectPlot(*left_, 1, movies_[0].plot);

  left_->Edit();
  left_->FieldByName("plot")->SetAsString("");
  left_->Cancel();
  ExpectPlot(*left_, 1, movies_[0].plot);

  Go(*left_, 3);
  left_->Edit();
  left_->FieldByName("plot")->SetAsString("Another memo, short");
  left_->Post();
  ExpectPlot(*right_, 1, movies_[0].plot);
  ExpectPlot(*right_, 3, "Another memo, short");
}

TEST_F(OvDbfSharedTest, LockEventRetriesUntilTheLockIsGranted) {
  LockFromAnotherArea(2);
  int calls = 0;
  left_->OnRLockFailedOnPost = [&](TDataSet& sender, bool& retry) {
    EXPECT_EQ(&sender, left_);
    ++calls;
    if (calls == 2) ReleaseHolder();  // the other side lets go after one more try
    retry = true;
  };
  PostTitle(*left_, 2, "Stored at last");
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(warnings_.empty()) << "an assigned event replaces the warning";
  EXPECT_EQ(left_->FieldByName("title")->AsString(), "Stored at last");
  EXPECT_EQ(StoredTitle(*right_, 2), "Stored at last");
  EXPECT_EQ(StoredTitle(*left_, 2), "Stored at last");
}

TEST_F(OvDbfSharedTest, EventWithoutRetryGivesUpSilently) {
  LockFromAnotherArea(1);
  int calls = 0;
  left_->OnRLockFailedOnPost = [&](TDataSet&, bool& retry) {
    ++calls;
    EXPECT_FALSE(retry);
  };
  EXPECT_NO_THROW(PostTitle(*left_, 1, "Never stored"));
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(warnings_.empty());
  EXPECT_EQ(StoredTitle(*right_, 1), movies_[0].title);
  EXPECT_EQ(StoredTitle(*left_, 1), movies_[0].title);
}

TEST_F(OvDbfSharedTest, RefusedRecordLockOnDeleteKeepsTheRecord) {
  LockFromAnotherArea(2);
  left_->SetHideDeletedRecs(true);
  Go(*left_, 2);
  EXPECT_NO_THROW(left_->Delete());
  EXPECT_EQ(warnings_, std::vector<std::string>{"Lock failed [Delete]"});
  ReleaseHolder();
  std::vector<int> seen;
  for (left_->First(); !left_->Eof(); left_->Next()) seen.push_back(left_->RecNo());
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
}

TEST_F(OvDbfSharedTest, LockHeldByAnotherProcessBlocksPostUntilReleased) {
  const std::string path = Path("movie.DBF");
  test::ChildHolder holder([path] {
    Select(0);
    USE(path + " ALIAS CHILD");
    GO(3);
    return RLock();
  });
  ASSERT_TRUE(holder.ready());
  PostTitle(*left_, 3, "Never stored");
  EXPECT_EQ(warnings_, std::vector<std::string>{"Lock failed [Post]"});
  EXPECT_EQ(StoredTitle(*right_, 3), movies_[2].title);

  int calls = 0;
  left_->OnRLockFailedOnPost = [&](TDataSet&, bool& retry) {
    ++calls;
    EXPECT_EQ(holder.Release(), 0);
    retry = true;
  };
  PostTitle(*left_, 3, "After the child");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(warnings_.size(), 1u);
  EXPECT_EQ(StoredTitle(*right_, 3), "After the child");
}

}  // namespace
}  // namespace ov
