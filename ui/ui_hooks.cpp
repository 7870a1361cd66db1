#include "ui/ui_hooks.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QString>
#include <cstdio>
#include <memory>

#include "dataset/warnings.h"
#include "engine/dbf/dbf4.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"
#include "ui/ovmsg.h"

namespace ov {

namespace {

QString FromAnsi(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<int>(s.size())); }

// A lone carriage return breaks the line in a message box; on a terminal
// it would overwrite the line, so it becomes a line feed there.
void ToStderr(const std::string& caption, const std::string& text) {
  std::string shown;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool lone_cr = text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n');
    shown += lone_cr ? '\n' : text[i];
  }
  std::fprintf(stderr, "%s\n%s\n", caption.c_str(), shown.c_str());
  std::fflush(stderr);
}

std::unique_ptr<TOvMsg>& StatusWindow() {
  static std::unique_ptr<TOvMsg> w;
  return w;
}

std::unique_ptr<TOvProgress100>& ProgressWindow() {
  static std::unique_ptr<TOvProgress100> w;
  return w;
}

}  // namespace

void InstallUiHooks(bool interactive) {
  UiHooks& ui = Engine().ui;
  if (interactive) {
    ui.ShowMessageBox = [](const std::string& text, const std::string& caption, unsigned flags) {
      const QMessageBox::Icon icon = (flags & kMbIconError) == kMbIconError       ? QMessageBox::Critical
                                     : (flags & kMbIconWarning) == kMbIconWarning ? QMessageBox::Warning
                                                                                  : QMessageBox::Information;
      QMessageBox box(icon, FromAnsi(caption), FromAnsi(text), QMessageBox::Ok, QApplication::activeWindow());
      box.exec();
    };
    SetWarningHook([](const std::string& text) {
      QMessageBox::warning(QApplication::activeWindow(), QStringLiteral("Warning"), FromAnsi(text));
    });
  } else {
    ui.ShowMessageBox = [](const std::string& text, const std::string& caption, unsigned) { ToStderr(caption, text); };
    SetWarningHook([](const std::string& text) { ToStderr("Warning", text); });
  }
  ui.ShowStatus = [](const std::string& text) {
    if (!StatusWindow()) StatusWindow() = std::make_unique<TOvMsg>();
    StatusWindow()->ShowText(FromAnsi(text));
  };
  ui.ProgressOpen = [](const std::string& caption) {
    ProgressWindow() = std::make_unique<TOvProgress100>(nullptr, FromAnsi(caption));
  };
  ui.ProgressStep = [] {
    if (ProgressWindow()) ProgressWindow()->Step();
  };
  ui.ProgressClose = [] { ProgressWindow().reset(); };
  AreaConfig().LockWaitHook = [](uint32_t ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
      if (QCoreApplication::closingDown()) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
  };
}

}  // namespace ov
