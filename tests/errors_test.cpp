#include <gtest/gtest.h>

#include "engine/support/ovcommon.h"
#include "tests/test_support.h"

namespace ov {
namespace {

class ErrorsTest : public test::EngineTest {};

TEST_F(ErrorsTest, DescriptionsComeFromTheTable) {
  EXPECT_EQ(ErrorDescription(0), "");
  EXPECT_EQ(ErrorDescription(215), "Error # 215 (No database in use)");
  EXPECT_EQ(ErrorDescription(7), "Error # 7 (Undefined error)");
  EXPECT_EQ(ErrorDescription(1203), "Error # 1203 (Network Error)");
  EXPECT_EQ(ErrorDescription(1299), "Error # 1299 (Network Error)");
  EXPECT_EQ(ErrorDescription(1300), "Error # 1300 (File format not supported)");
  EXPECT_EQ(ErrorDescription(227), "Error # 227 (Insufficient disk space )");
  EXPECT_EQ(ErrorDescription(14), "Error # 14 (Unknown unit)");
  EXPECT_STREQ(ErrorTableText(20), "Unknown unit");
  EXPECT_STREQ(ErrorTableText(162), "File sharing violation");
  EXPECT_STREQ(ErrorTableText(65535), "Undefined error");
}

TEST_F(ErrorsTest, RaisingCarriesDescriptionAndContext) {
  try {
    ReportError(215, "No database in use [GoTop]  WorkArea = 1");
    FAIL() << "expected EOrvelError";
  } catch (const EOrvelError& e) {
    EXPECT_EQ(std::string(e.what()), "Error # 215 (No database in use)\r\nNo database in use [GoTop]  WorkArea = 1");
  }
  EXPECT_EQ(Errors().DbfError, 215);
  EXPECT_EQ(Errors().LastErrorCode, 0);  // the handler took the text
}

TEST_F(ErrorsTest, QuietReportWaitsForTheCaller) {
  {
    QuietErrors quiet;
    EXPECT_NO_THROW(ReportError(212, "Invalid record number = 0 (x.dbf)  [GetDbfRecord]"));
    EXPECT_EQ(Errors().DbfError, 212);
    EXPECT_EQ(ErrorText(), "Request beyond range\r\nInvalid record number = 0 (x.dbf)  [GetDbfRecord]");
    EXPECT_EQ(ErrorText(), "");  // once only
  }
  EXPECT_TRUE(Errors().ImmediateErrors);
}

TEST_F(ErrorsTest, ReportAndRaiseUnwindsEvenWhenQuiet) {
  QuietErrors quiet;
  try {
    ReportAndRaise(222, "Unable to open index: x.mdx");
    FAIL();
  } catch (const EOrvelError& e) {
    EXPECT_EQ(std::string(e.what()), "Corrupted index file\r\nUnable to open index: x.mdx");
  }
}

TEST_F(ErrorsTest, HaltShowsMessageAndEndsWithTheCode) {
  SetRaiseErrors(false);
  std::string shown, caption;
  int status = -1;
  Engine().ui.ShowMessageBox = [&](const std::string& t, const std::string& c, unsigned) {
    shown = t;
    caption = c;
  };
  Engine().ui.Terminate = [&](int s) { status = s; };
  ReportError(1017, "ctx");
  EXPECT_EQ(caption, "Program halted.");
  EXPECT_EQ(shown, "Error # 1017 (Cannot lock memo file)\r\nctx");
  EXPECT_EQ(status, 255);
  EXPECT_TRUE(Errors().Halted);
  status = -1;
  ReportError(2, "again");  // nothing more once halted
  EXPECT_EQ(status, -1);
  EXPECT_EQ(ExitStatusFor(33), 33);
  EXPECT_EQ(ExitStatusFor(256), 255);
}

TEST_F(ErrorsTest, HaltOfTheRealProcessUsesTheCodeAsExitStatus) {
  SetRaiseErrors(false);
  EXPECT_EXIT(
      {
        Engine().ui.Terminate = [](int s) { std::exit(s); };
        ReportError(33, "lock");
      },
      ::testing::ExitedWithCode(33), "Program halted.");
}

TEST_F(ErrorsTest, FreeingNilBlockReportsCode9) {
  Block b = AllocBlock(16);
  FreeBlock(b);
  EXPECT_EQ(b, nullptr);
  QuietErrors quiet;
  FreeBlock(b);
  EXPECT_EQ(Errors().DbfError, 9);
  EXPECT_EQ(Errors().ErrorContext, "Attempt to free NIL pointer [FreeMem()]");
}

TEST_F(ErrorsTest, SwitchesAnswerTheirPreviousValue) {
  EXPECT_FALSE(SetImmediateErrors(false) == false);
  EXPECT_FALSE(SetImmediateErrors(true));
  EXPECT_TRUE(SetRaiseErrors(false));
  EXPECT_FALSE(SetRaiseErrors(true));
}

TEST_F(ErrorsTest, TrimsAndNamePieces) {
  EXPECT_EQ(TrimText("\t  a b \r\n"), "a b");
  EXPECT_EQ(TrimRightText("  a  "), "  a");
  EXPECT_EQ(TrimLeftText("  a  "), "a  ");
  EXPECT_EQ(StrToOem(""), "");
  NameParts p = SplitName("/data/movie.DBF");
  EXPECT_EQ(p.dir, "/data/");
  EXPECT_EQ(p.name, "movie");
  EXPECT_EQ(p.ext, ".DBF");
  EXPECT_EQ(DefaultExt("movie", "DBF"), "movie.DBF");
  EXPECT_EQ(DefaultExt("movie.dbf", "DBF"), "movie.dbf");
  EXPECT_EQ(ForceExt("a.b/movie.DBF", "DBT"), "a.b/movie.DBT");
  EXPECT_EQ(ForceExt("a.b/movie", "DBT"), "a.b/movie.DBT");
  EXPECT_EQ(StripExt("dir.x/name"), "dir.x/name");
  EXPECT_EQ(BareName("/x/y/z.dbf"), "z.dbf");
  EXPECT_EQ(ExpandName("/abs"), "/abs");
  EXPECT_EQ(ExpandName("rel").back(), 'l');
  EXPECT_EQ(ExpandName("rel")[0], '/');
}

TEST_F(ErrorsTest, TodayComesFromThePlatformClock) {
  env_.SetToday(2024, 3, 15);
  LocalDate d = Today();
  EXPECT_EQ(d.year, 2024);
  EXPECT_EQ(d.month, 3);
  EXPECT_EQ(d.day, 15);
}

}  // namespace
}  // namespace ov
