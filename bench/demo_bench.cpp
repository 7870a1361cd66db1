// One press of the demo's button on a table of 100,000 records with memos:
// build the scratch table, append every record and memo into it, keep the
// backups, copy the files back, reopen and list the structure.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <filesystem>
#include <string>

#include "app/form1.h"
#include "dataset/ucommon.h"
#include "dataset/uovfds.h"
#include "engine/dbf/dbf4.h"
#include "engine/engine.h"
#include "engine/support/ovcommon.h"

namespace {

namespace fs = std::filesystem;
constexpr int kRecords = 100000;

void MakeMovies() {
  ov::TOvDbf maker("Maker");
  for (const char* l : {"title, C, 20, 0", "year, N, 4, 0", "color, L, 1, 0", "runtime, N, 3, 0", "stars, C, 50, 0",
                        "director, C, 20, 0", "plot, M, 10, 0", "premiere, D, 10, 0"}) {
    maker.DbfFields().Add(l);
  }
  maker.SetDbfFileName("movie.DBF");
  maker.SetActive(true);
  maker.SetActive(false);
  ov::USE("movie.DBF EXCLUSIVE");
  for (int i = 1; i <= kRecords; ++i) {
    ov::ClearRecord();
    ov::SetFieldText(1, "Movie number " + std::to_string(i));
    ov::SetFieldNumber(2, 1900 + i % 120);
    ov::SetFieldLogical(3, i % 2 == 0);
    ov::SetFieldNumber(4, 60 + i % 120);
    ov::SetFieldText(5, "Star A, Star B");
    ov::SetFieldText(6, "Director " + std::to_string(i % 500));
    ov::SetFieldText(8, "12/31/99");
    ov::SetFieldNumber(
        7, ov::Areas().memo.write_text(*ov::CurrentArea(),
                                       "Plot of movie " + std::to_string(i) + ".\r\nA second line of plot.", 0));
    ov::Append();
  }
  ov::CloseArea();
}

void BM_DemoClick100k(benchmark::State& state) {
  const fs::path dir = fs::temp_directory_path() / ("ov_demo_bench_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path old = fs::current_path();
  fs::current_path(dir);
  ov::StartEngine();
  ov::DatasetLocaleSetup();
  ov::Engine().ui.ShowMessageBox = [](const std::string&, const std::string&, unsigned) {};
  MakeMovies();
  {
    ov::TForm1 form;
    for (auto _ : state) form.Button1Click();
    state.counters["records"] = kRecords;
  }
  ov::StopEngine();
  fs::current_path(old);
  fs::remove_all(dir);
}
BENCHMARK(BM_DemoClick100k)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
