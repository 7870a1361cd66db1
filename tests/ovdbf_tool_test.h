// Tests that run the built ovdbf program as a user runs it: a separate
// process in the test's folder, on real files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/test_support.h"

namespace ov::test {

// The tool is built next to the tests: <build>/tests/ov_tests and
// <build>/tools/ovdbf.
inline std::string ToolPath() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path().parent_path() / "tools" / "ovdbf").string();
}

class OvdbfToolTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (!std::filesystem::exists(ToolPath())) GTEST_SKIP() << "ovdbf not built";
  }

  // Runs the tool in the test folder; stdout into out_, stderr into err_
  // (by way of the file "stderr.txt" there).
  int Run(const std::string& args) {
    out_.clear();
    const int status = RunCommand("cd '" + dir() + "' && " + ToolPath() + " " + args + " 2>stderr.txt", &out_);
    auto bytes = ReadAll(Path("stderr.txt"));
    err_.assign(bytes.begin(), bytes.end());
    return status;
  }

  std::string out_;
  std::string err_;
};

}  // namespace ov::test
