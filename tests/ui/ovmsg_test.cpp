// Status and progress windows: sizes, centring and the bar.
#include "ui/ovmsg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QScreen>

namespace ov {
namespace {

TEST(OvMsgTest, GrowsToFitAndNeverShrinks) {
  TOvMsg msg;
  msg.ShowText("A rather long line of text for the window");
  const QSize big = msg.size();
  EXPECT_GE(big.width(), QFontMetrics(msg.font()).horizontalAdvance(msg.Text()) + TOvMsg::kMargin);
  EXPECT_TRUE(msg.isVisible());
  msg.ShowText("short");
  EXPECT_EQ(msg.size(), big);
  EXPECT_EQ(msg.TextPanel()->text(), "short");
  msg.ShowText();  // empty: the current text again
  EXPECT_EQ(msg.Text(), "short");
}

TEST(OvMsgTest, WithoutAnActiveWindowItCentresOnTheScreen) {
  ASSERT_EQ(QApplication::activeWindow(), nullptr);
  TOvMsg msg;
  msg.ShowText("centred");
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_NEAR(msg.x() + msg.width() / 2, screen.center().x(), 2);
  EXPECT_NEAR(msg.y() + msg.height() / 2, screen.center().y(), 2);
}

TEST(OvMsgTest, CentresOverItsOwner) {
  QWidget owner;
  owner.setGeometry(100, 100, 600, 400);
  owner.show();
  TOvMsg msg(&owner);
  msg.ShowText("over the owner");
  const QRect around = owner.frameGeometry();
  EXPECT_NEAR(msg.x() + msg.width() / 2, around.center().x(), 2);
  EXPECT_NEAR(msg.y() + msg.height() / 2, around.center().y(), 2);
}

TEST(OvProgressTest, BarEmptiesAfter100StepsAndRefills) {
  TOvProgress100 progress;
  EXPECT_EQ(progress.windowTitle(), "Progress");
  EXPECT_EQ(progress.Bar(), QString(100, '|'));
  const QSize full = progress.size();
  for (int i = 1; i <= 100; ++i) {
    progress.Step();
    ASSERT_EQ(progress.Bar().size(), 100 - i);
  }
  EXPECT_TRUE(progress.Bar().isEmpty());
  EXPECT_EQ(progress.TextPanel()->text().trimmed(), "");
  EXPECT_EQ(progress.size(), full);  // never shrinks
  progress.Step();
  EXPECT_EQ(progress.Bar(), QString(100, '|'));
}

TEST(OvProgressTest, CaptionIsGiven) {
  TOvProgress100 progress(nullptr, "Building index");
  EXPECT_EQ(progress.windowTitle(), "Building index");
}

}  // namespace
}  // namespace ov
