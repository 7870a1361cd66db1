// The fixture of tests that drive the dataset components: the engine's
// fixture plus a fixed short date format ("MM/dd/yy") and the dataset's
// locale set-up, with the format settings put back afterwards.
#pragma once

#include "dataset/format_settings.h"
#include "dataset/ucommon.h"
#include "tests/test_support.h"

namespace ov::test {

class DatasetTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    saved_format_ = FormatSettings();
    FormatSettings() = TFormatSettings{"MM/dd/yy", '/', '.'};
    DatasetLocaleSetup();
  }
  void TearDown() override {
    FormatSettings() = saved_format_;
    EngineTest::TearDown();
  }

 private:
  TFormatSettings saved_format_;
};

}  // namespace ov::test
