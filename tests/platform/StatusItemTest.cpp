// The status-bar item on an offscreen QApplication: its menu, its commands and its two icons.
// Offscreen has no status area, so what a tray would draw is not seen here; the item's own state
// is.
#include "platform/StatusItem.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QSystemTrayIcon>
#include <cstdlib>

#include "tests/support/OffscreenApplication.h"

namespace {

class StatusItemTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { fotello::test::OffscreenApplication::start(); }
  static void TearDownTestSuite() { fotello::test::OffscreenApplication::stop(); }

  static QStringList menuLines(fotello::StatusItem& item) {
    QStringList lines;
    for (QAction* action : item.menu().actions()) {
      if (!action->isSeparator()) lines << action->text();
    }
    return lines;
  }
};

TEST_F(StatusItemTest, MenuShowsTheStatusLineAndRunsItsCommands) {
  int opened = 0, quits = 0;
  fotello::StatusItem item("Idle", {[&] { ++opened; }, [&] { ++quits; }});
  EXPECT_EQ(menuLines(item), (QStringList{"Idle", "Open Fotello", "Quit Fotello Agent"}));
  EXPECT_FALSE(item.menu().actions().value(0)->isEnabled()) << "the status line is not a command";
  EXPECT_EQ(item.trayIcon().toolTip(), "Fotello Agent");
  EXPECT_EQ(item.trayIcon().contextMenu(), &item.menu());

  item.setStatusLine("Retrieving 3 of 1,204 items from Den");
  EXPECT_EQ(menuLines(item).value(0), "Retrieving 3 of 1,204 items from Den");

  item.menu().actions().value(2)->trigger();
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(quits, 0);
  item.menu().actions().value(3)->trigger();
  EXPECT_EQ(quits, 1);
}

TEST_F(StatusItemTest, IdleAndErrorIconsAreDrawnAndSwitched) {
  QImage idle = fotello::StatusItem::idleIcon().pixmap(16, 16).toImage();
  QImage error = fotello::StatusItem::errorIcon().pixmap(16, 16).toImage();
  ASSERT_EQ(idle.size(), QSize(16, 16));
  ASSERT_EQ(error.size(), QSize(16, 16));
  EXPECT_NE(idle, error);
  // Transparent corners, an opaque picture in the middle, and a red badge only on the error icon.
  EXPECT_EQ(qAlpha(idle.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(idle.pixel(8, 8)), 255);
  auto reddish = [](QRgb p) { return qRed(p) > qGreen(p) + 80 && qRed(p) > qBlue(p) + 80; };
  EXPECT_TRUE(reddish(error.pixel(10, 11)));
  EXPECT_FALSE(reddish(idle.pixel(10, 11)));

  fotello::StatusItem item("Idle", {});
  EXPECT_FALSE(item.isError());
  item.setError(true);
  EXPECT_TRUE(item.isError());
  EXPECT_EQ(item.trayIcon().icon().pixmap(16, 16).toImage(), error);
  item.setError(false);
  EXPECT_EQ(item.trayIcon().icon().pixmap(16, 16).toImage(), idle);
}

}  // namespace
