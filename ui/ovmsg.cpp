#include "ui/ovmsg.h"

#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QStyle>

namespace ov {

namespace {

const QString kFullBar(100, QLatin1Char('|'));

QRect ScreenArea() {
  QScreen* s = QGuiApplication::primaryScreen();
  return s != nullptr ? s->availableGeometry() : QRect(0, 0, 1024, 768);
}

}  // namespace

TOvMsg::TOvMsg(QWidget* owner)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool),
      frame_panel_(new QFrame(this)),
      text_panel_(new QLabel(this)),
      owner_(owner != nullptr ? owner : QApplication::activeWindow()) {
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(255, 255, 0));
  setPalette(pal);
  setAutoFillBackground(true);
  frame_panel_->setFrameStyle(QFrame::Panel | QFrame::Raised);
  frame_panel_->setLineWidth(2);
  text_panel_->setFrameStyle(QFrame::Box | QFrame::Plain);
  text_panel_->setAlignment(Qt::AlignCenter);
  text_panel_->setAutoFillBackground(true);
  text_panel_->setPalette(pal);
  resize(0, 0);
}

void TOvMsg::SetCaption(const QString& caption) {
  const bool had = !caption_.isEmpty();
  caption_ = caption;
  if (had != !caption.isEmpty()) border_changed_ = true;
  Qt::WindowFlags flags = Qt::WindowStaysOnTopHint;
  flags |= caption.isEmpty() ? (Qt::FramelessWindowHint | Qt::Tool) : (Qt::Dialog | Qt::WindowTitleHint);
  setWindowFlags(flags);
  setWindowTitle(caption);
}

void TOvMsg::ShowText(const QString& text) {
  if (!text.isEmpty()) text_ = text;
  const QFontMetrics fm(font());
  const int w = fm.horizontalAdvance(text_);
  const int h = fm.height();
  const bool dialog = !caption_.isEmpty();
  int caption_h = 0, caption_w = 0, frame = 4;
  if (dialog) {
    caption_h = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    caption_w = QFontMetrics(QFont(QStringLiteral("System"))).horizontalAdvance(caption_) + 2 * caption_h;
    frame = 0;
    frame_panel_->hide();
  } else {
    frame_panel_->show();
  }
  const int need_w = std::max(w + kMargin, caption_w);
  const int need_h = h + kMargin + (dialog ? 0 : 0);
  if (width() < need_w || height() < need_h || border_changed_) {
    border_changed_ = false;
    const int new_w = std::max(width(), need_w);
    const int new_h = std::max(height(), need_h);
    resize(new_w, new_h);
    const QRect around = owner_ ? owner_->frameGeometry() : ScreenArea();
    move(around.left() + (around.width() - new_w) / 2, around.top() + (around.height() - new_h) / 2);
    frame_panel_->setGeometry(0, 0, new_w, new_h);
    text_panel_->setGeometry(frame, frame, new_w - 2 * frame, new_h - 2 * frame);
    show();
  }
  text_panel_->setText(text_);
  text_panel_->repaint();
  QCoreApplication::processEvents();
}

TOvProgress100::TOvProgress100(QWidget* owner, const QString& caption) : TOvMsg(owner), bar_(kFullBar) {
  SetCaption(caption);
  ShowText(bar_);
}

void TOvProgress100::Step() {
  if (bar_.isEmpty()) {
    bar_ = kFullBar;
  } else {
    bar_.remove(0, 1);
  }
  // An empty bar must still show, so pass a blank rather than "keep".
  ShowText(bar_.isEmpty() ? QStringLiteral(" ") : bar_);
}

}  // namespace ov
