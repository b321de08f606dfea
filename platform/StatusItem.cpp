#include "platform/StatusItem.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace fotello {

namespace {

// A photo in a white frame: sky, sun and a hill, in a square of size pixels.
QPixmap drawPhoto(int size, bool error) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size / 16.0;
  QRectF frame(1 * s, 2.5 * s, 14 * s, 11 * s);
  p.setPen(QPen(QColor(60, 60, 60), 1 * s));
  p.setBrush(Qt::white);
  p.drawRoundedRect(frame, 1.5 * s, 1.5 * s);
  QRectF picture = frame.adjusted(2 * s, 2 * s, -2 * s, -2 * s);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(110, 170, 230));
  p.drawRect(picture);
  p.setBrush(QColor(250, 200, 60));
  p.drawEllipse(QPointF(picture.right() - 2.2 * s, picture.top() + 2 * s), 1.3 * s, 1.3 * s);
  QPainterPath hill;
  hill.moveTo(picture.bottomLeft());
  hill.lineTo(picture.left() + 3.5 * s, picture.top() + 3 * s);
  hill.lineTo(picture.left() + 7 * s, picture.bottom());
  hill.closeSubpath();
  p.setBrush(QColor(70, 140, 70));
  p.drawPath(hill);
  if (error) {
    QRectF badge(8.5 * s, 7.5 * s, 7.5 * s, 7.5 * s);
    p.setBrush(QColor(210, 40, 40));
    p.setPen(QPen(Qt::white, 0.8 * s));
    p.drawEllipse(badge);
    p.setPen(QPen(Qt::white, 1.4 * s, Qt::SolidLine, Qt::RoundCap));
    QPointF c = badge.center();
    p.drawLine(QPointF(c.x(), c.y() - 2 * s), QPointF(c.x(), c.y() + 0.4 * s));
    p.drawPoint(QPointF(c.x(), c.y() + 2 * s));
  }
  return pixmap;
}

QIcon drawIcon(bool error) {
  QIcon icon;
  for (int size : {16, 22, 32, 48}) icon.addPixmap(drawPhoto(size, error));
  return icon;
}

}  // namespace

StatusItem::StatusItem(const std::string& statusLine, Actions actions)
    : menu_(std::make_unique<QMenu>()), trayIcon_(std::make_unique<QSystemTrayIcon>()), actions_(std::move(actions)) {
  statusMenuItem_ = menu_->addAction(QString::fromStdString(statusLine));
  statusMenuItem_->setEnabled(false);
  menu_->addSeparator();
  QObject::connect(menu_->addAction("Open Fotello"), &QAction::triggered, [this] {
    if (actions_.openQVApp) actions_.openQVApp();
  });
  QObject::connect(menu_->addAction("Quit Fotello Agent"), &QAction::triggered, [this] {
    if (actions_.userTerminateQVAgent) actions_.userTerminateQVAgent();
  });
  trayIcon_->setIcon(idleIcon());
  trayIcon_->setToolTip("Fotello Agent");
  trayIcon_->setContextMenu(menu_.get());
  // A plain click opens the menu too, as the right-click does.
  QObject::connect(trayIcon_.get(), &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) menu_->popup(QCursor::pos());
  });
  trayIcon_->show();
}

StatusItem::~StatusItem() {
  trayIcon_->hide();
  trayIcon_->setContextMenu(nullptr);
}

bool StatusItem::isAvailable() {
  return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr &&
         QSystemTrayIcon::isSystemTrayAvailable();
}

void StatusItem::setStatusLine(const std::string& statusLine) {
  statusMenuItem_->setText(QString::fromStdString(statusLine));
}

void StatusItem::setError(bool error) {
  if (error == isError_) return;
  isError_ = error;
  trayIcon_->setIcon(error ? errorIcon() : idleIcon());
}

QIcon StatusItem::idleIcon() { return drawIcon(false); }

QIcon StatusItem::errorIcon() { return drawIcon(true); }

}  // namespace fotello
