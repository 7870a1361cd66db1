// Short-lived status windows of the engine: `TOvMsg`, an always-on-top
// yellow window that shows one line of text and grows and centres itself
// to fit it, and `TOvProgress100`, a `TOvMsg` whose text is a bar of 100
// "|" that loses one per step and refills once it is empty.
//
// Shown through the engine's status and progress hooks (InstallUiHooks),
// so the engine itself stays free of the window system.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QFrame;
class QLabel;

namespace ov {

class TOvMsg : public QWidget {
 public:
  // The owner form is the application's active window at creation; the
  // window centres over it, or on the screen when there is none.
  explicit TOvMsg(QWidget* owner = nullptr);

  // Shows `text`, or the current text when `text` is empty. The window
  // grows to fit and never shrinks.
  void ShowText(const QString& text = QString());
  const QString& Text() const { return text_; }
  QLabel* TextPanel() const { return text_panel_; }

  static constexpr int kMargin = 30;

 protected:
  // A window with a caption gets a dialog border.
  void SetCaption(const QString& caption);

 private:
  QFrame* frame_panel_;
  QLabel* text_panel_;
  QString text_;
  QString caption_;
  QPointer<QWidget> owner_;
  bool border_changed_ = true;
};

class TOvProgress100 : public TOvMsg {
 public:
  explicit TOvProgress100(QWidget* owner = nullptr, const QString& caption = QStringLiteral("Progress"));
  void Step();
  const QString& Bar() const { return bar_; }

 private:
  QString bar_;
};

}  // namespace ov
