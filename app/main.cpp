// movie-demo: the demo window over "movie.DBF" in the current folder.
//
//   movie-demo [--clicks N] [--screenshot FILE]
//
// With a display and no options it runs as a normal window. With --clicks
// it presses the button N times by itself and prints the structure listing
// after start and after each click (one listing per block, blocks
// separated by an empty line). Without a display it runs offscreen and
// behaves as with --clicks 1 --screenshot movie.png unless told otherwise.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "app/form1.h"
#include "dataset/ucommon.h"
#include "engine/engine.h"
#include "engine/support/ovcommon.h"
#include "ui/ui_hooks.h"

namespace {

struct Options {
  int clicks = -1;  // -1: not given
  std::string screenshot;
  bool ok = true;
};

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--clicks" && i + 1 < argc) {
      o.clicks = std::atoi(argv[++i]);
      if (o.clicks < 0) o.ok = false;
    } else if (a == "--screenshot" && i + 1 < argc) {
      o.screenshot = argv[++i];
    } else {
      o.ok = false;
    }
  }
  return o;
}

bool HaveDisplay() {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (platform == "offscreen" || platform == "minimal") return false;
  return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void PrintListing(const ov::TForm1& form) {
  for (const std::string& line : form.ListedLines()) std::printf("%s\n", line.c_str());
  std::printf("\n");
  std::fflush(stdout);
}

// A dataset error nobody handled ends the program the way the engine's own
// errors do: "Program halted." with the text, the code as exit status.
int Halt(const std::exception& e) {
  ov::ShowMessageBox(e.what(), "Program halted.", ov::kMbIconError);
  const uint16_t code = ov::Errors().DbfError;
  return code != 0 ? ov::ExitStatusFor(code) : 1;
}

int Run(int argc, char** argv) {
  Options opt = Parse(argc, argv);
  if (!opt.ok) {
    std::fprintf(stderr, "usage: movie-demo [--clicks N] [--screenshot FILE]\n");
    return 2;
  }
  const bool display = HaveDisplay();
  if (!display) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (opt.clicks < 0) opt.clicks = 1;
    if (opt.screenshot.empty()) opt.screenshot = "movie.png";
  }
  const bool unattended = opt.clicks >= 0;
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
    // A private runtime folder, as Qt wants one.
    const std::string dir = "/tmp/movie-demo-" + std::to_string(getuid());
    mkdir(dir.c_str(), 0700);
    chmod(dir.c_str(), 0700);
    qputenv("XDG_RUNTIME_DIR", dir.c_str());
  }
  QApplication app(argc, argv);
  ov::StartEngine();
  ov::DatasetLocaleSetup();
  ov::InstallUiHooks(!unattended);
  std::unique_ptr<ov::TForm1> form_ptr;
  try {
    form_ptr = std::make_unique<ov::TForm1>();
  } catch (const std::exception& e) {
    return Halt(e);
  }
  ov::TForm1& form = *form_ptr;
  form.show();
  if (!unattended) {
    if (!opt.screenshot.empty()) form.grab().save(QString::fromStdString(opt.screenshot));
    return app.exec();
  }
  PrintListing(form);
  for (int i = 0; i < opt.clicks; ++i) {
    try {
      form.Button1->click();
    } catch (const std::exception& e) {
      return Halt(e);
    }
    PrintListing(form);
  }
  if (!opt.screenshot.empty() && !form.grab().save(QString::fromStdString(opt.screenshot))) {
    std::fprintf(stderr, "could not save %s\n", opt.screenshot.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    // The engine halts on its own errors; what reaches here is a dataset
    // error that nobody handled. The windows are gone by now.
    std::fprintf(stderr, "Program halted.\n%s\n", e.what());
    return 1;
  }
}
