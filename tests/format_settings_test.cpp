#include "dataset/format_settings.h"

#include <locale.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "engine/support/timedate.h"
#include "tests/test_support.h"

// The C library's newlocale keeps its copy of LOCPATH (which these tests
// set to reach the locales they compile) for good; the leak checker of
// sanitizer builds is told so. Other builds never call this.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

namespace ov {
namespace {

// Locale variables under the test's control.
class LocaleEnv : public test::FaultEnv {
 public:
  std::string GetEnvVar(const std::string& name) override {
    auto it = vars.find(name);
    return it == vars.end() ? "" : it->second;
  }
  std::map<std::string, std::string> vars;
};

// Compiles a locale into a shared cache folder (once per machine) and
// answers the folder, or "" when the system cannot make it.
std::string CompiledLocaleDir(const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path cache = fs::temp_directory_path() / ("ov_test_locales_" + std::to_string(getuid()));
  const std::string full = name + ".UTF-8";
  if (fs::exists(cache / full / "LC_TIME")) return cache.string();
  if (!test::HaveCommand("command -v localedef")) return "";
  std::error_code ec;
  fs::create_directories(cache, ec);
  // Built beside the cache and moved in, so parallel test runs never see
  // a half-written locale.
  const fs::path scratch = cache / (full + ".tmp" + std::to_string(getpid()));
  test::RunCommand("localedef -i " + name + " -f UTF-8 " + scratch.string() + " >/dev/null 2>&1");
  fs::rename(scratch, cache / full, ec);
  fs::remove_all(scratch, ec);
  return fs::exists(cache / full / "LC_TIME") ? cache.string() : "";
}

class FormatSettingsTest : public test::EngineTest {
 protected:
  void SetUp() override {
    test::EngineTest::SetUp();
    SetEnv(&locale_env_);
    saved_ = FormatSettings();
    const char* locpath = std::getenv("LOCPATH");
    had_locpath_ = locpath != nullptr;
    if (had_locpath_) saved_locpath_ = locpath;
  }
  void TearDown() override {
    FormatSettings() = saved_;
    if (had_locpath_) {
      setenv("LOCPATH", saved_locpath_.c_str(), 1);
    } else {
      unsetenv("LOCPATH");
    }
    SetEnv(&env_);
    test::EngineTest::TearDown();
  }
  // Makes the named locales loadable; false when one cannot be made.
  bool UseLocales(std::initializer_list<const char*> names) {
    std::string dir;
    for (const char* n : names) {
      dir = CompiledLocaleDir(n);
      if (dir.empty()) return false;
    }
    setenv("LOCPATH", dir.c_str(), 1);
    return true;
  }
  TDateTime Date(int y, int m, int d) {
    TDateTime dt = 0;
    EXPECT_TRUE(TryEncodeDate(y, m, d, dt));
    return dt;
  }

  LocaleEnv locale_env_;
  TFormatSettings saved_;
  bool had_locpath_ = false;
  std::string saved_locpath_;
};

TEST_F(FormatSettingsTest, CLibraryLayoutsBecomeFormatLetters) {
  EXPECT_EQ(FrameworkDateFormat("%m/%d/%y"), "MM/dd/yy");    // C, POSIX
  EXPECT_EQ(FrameworkDateFormat("%m/%d/%Y"), "MM/dd/yyyy");  // en_US
  EXPECT_EQ(FrameworkDateFormat("%d.%m.%Y"), "dd.MM.yyyy");  // de_DE
  EXPECT_EQ(FrameworkDateFormat("%d/%m/%Y"), "dd/MM/yyyy");  // fr_FR
  EXPECT_EQ(FrameworkDateFormat("%Y-%m-%d"), "yyyy-MM-dd");
  EXPECT_EQ(FrameworkDateFormat("%D"), "MM/dd/yy");
  EXPECT_EQ(FrameworkDateFormat("%F"), "yyyy-MM-dd");
  EXPECT_EQ(FrameworkDateFormat("%e.%-m.%Ey"), "d.M.yy");
  EXPECT_EQ(FrameworkDateFormat("%d%"), "dd");
  EXPECT_EQ(DateSeparatorOf("dd.MM.yyyy"), '.');
  EXPECT_EQ(DateSeparatorOf("yyyy-MM-dd"), '-');
  EXPECT_EQ(DateSeparatorOf("ddMMyy"), '/');
}

TEST_F(FormatSettingsTest, CAndUnknownLocalesGiveTheCSettings) {
  for (const char* name : {"C", "POSIX", "xx_NOWHERE.UTF-8", ""}) {
    TFormatSettings s = LocaleFormatSettings(name, name);
    EXPECT_EQ(s.ShortDateFormat, "MM/dd/yy") << name;
    EXPECT_EQ(s.DateSeparator, '/') << name;
    EXPECT_EQ(s.DecimalSeparator, '.') << name;
  }
  locale_env_.vars = {{"LANG", "C"}};
  LoadFormatSettings();
  EXPECT_EQ(FormatSettings().ShortDateFormat, "MM/dd/yy");
}

TEST_F(FormatSettingsTest, InstalledLocalesGiveTheirLayoutAndRadix) {
  if (!UseLocales({"en_US", "de_DE", "fr_FR"})) GTEST_SKIP() << "locales cannot be compiled here";
  const std::string global_before = setlocale(LC_ALL, nullptr);

  locale_env_.vars = {{"LANG", "en_US.UTF-8"}};
  LoadFormatSettings();
  EXPECT_EQ(FormatSettings().ShortDateFormat, "MM/dd/yyyy");
  EXPECT_EQ(FormatSettings().DecimalSeparator, '.');

  locale_env_.vars = {{"LANG", "de_DE.UTF-8"}};
  LoadFormatSettings();
  EXPECT_EQ(FormatSettings().ShortDateFormat, "dd.MM.yyyy");
  EXPECT_EQ(FormatSettings().DateSeparator, '.');
  EXPECT_EQ(FormatSettings().DecimalSeparator, ',');

  locale_env_.vars = {{"LANG", "fr_FR.UTF-8"}};
  LoadFormatSettings();
  EXPECT_EQ(FormatSettings().ShortDateFormat, "dd/MM/yyyy");
  EXPECT_EQ(FormatSettings().DecimalSeparator, ',');

  // The process's own locale is never switched.
  EXPECT_EQ(setlocale(LC_ALL, nullptr), global_before);
}

TEST_F(FormatSettingsTest, CategoriesFollowPosixPrecedence) {
  if (!UseLocales({"de_DE", "en_US"})) GTEST_SKIP() << "locales cannot be compiled here";
  locale_env_.vars = {{"LANG", "en_US.UTF-8"}, {"LC_NUMERIC", "de_DE.UTF-8"}};
  LoadFormatSettings();
  EXPECT_EQ(FormatSettings().ShortDateFormat, "MM/dd/yyyy");
  EXPECT_EQ(FormatSettings().DecimalSeparator, ',');

  locale_env_.vars = {{"LC_ALL", "C"}, {"LC_TIME", "de_DE.UTF-8"}, {"LANG", "de_DE.UTF-8"}};
  LoadFormatSettings();
  EXPECT_EQ(FormatSettings().ShortDateFormat, "MM/dd/yy");
  EXPECT_EQ(FormatSettings().DecimalSeparator, '.');
}

TEST_F(FormatSettingsTest, FormatsTheDatePart) {
  const TDateTime dt = Date(2024, 3, 5) + 0.75;
  EXPECT_EQ(FormatDateTime("dd.MM.yyyy", dt), "05.03.2024");
  EXPECT_EQ(FormatDateTime("M/d/yy", dt), "3/5/24");
  EXPECT_EQ(FormatDateTime("yyyy-MM-dd", dt), "2024-03-05");
  EXPECT_EQ(FormatDateTime("MM/dd/yy", Date(1, 1, 1)), "01/01/01");
  EXPECT_EQ(FormatDateTime("dd/MM/yyyy", Date(9999, 12, 31)), "31/12/9999");
  // Outside the calendar: zeros, never a crash.
  EXPECT_EQ(FormatDateTime("dd.MM.yyyy", 1e300), "00.00.0000");
}

TEST_F(FormatSettingsTest, ReadsDatesInTheShortFormatOrder) {
  locale_env_.SetToday(2024, 6, 1);
  FormatSettings() = TFormatSettings{"dd.MM.yyyy", '.', ','};
  EXPECT_EQ(StrToDate("31.12.1999"), Date(1999, 12, 31));
  EXPECT_EQ(StrToDate(" 5.3 "), Date(2024, 3, 5));   // this year
  EXPECT_EQ(StrToDate("1.1.75"), Date(1975, 1, 1));  // within 50 years
  EXPECT_EQ(StrToDate("1.1.70"), Date(2070, 1, 1));

  FormatSettings() = TFormatSettings{"MM/dd/yy", '/', '.'};
  EXPECT_EQ(StrToDate("12/31/1999"), Date(1999, 12, 31));
  FormatSettings() = TFormatSettings{"yyyy-MM-dd", '-', '.'};
  EXPECT_EQ(StrToDate("2000-02-29"), Date(2000, 2, 29));
}

TEST_F(FormatSettingsTest, BadDateTextRaisesConvertError) {
  FormatSettings() = TFormatSettings{"dd.MM.yyyy", '.', ','};
  for (const char* text : {"31.02.2020", "abc", "", "1.2.3.4", "1..2000", "12345.1.2000", "-1.1.2000", "1 2.3.2000"}) {
    try {
      StrToDate(text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'") + text + "' is not a valid date");
    }
  }
}

TEST_F(FormatSettingsTest, TheEnginesDateTypeReachesTheFramework) {
  Engine().dates.CenturyOn = true;
  SetDateType(5);
  EXPECT_EQ(FormatSettings().ShortDateFormat, "dd.MM.yyyy");
  EXPECT_EQ(FormatSettings().DateSeparator, '.');
}

}  // namespace
}  // namespace ov
