#include "platform/Alert.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "loomkit/shared/Log.h"

namespace fotello {

bool Alert::hasDisplay() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

int Alert::runModal(const std::string& message, const std::string& informative,
                    const std::vector<std::string>& buttons) {
  if (!hasDisplay()) {
    LOG_ERROR("%s: %s", message.c_str(), informative.c_str());
    return -1;
  }
  QMessageBox box;
  box.setText(QString::fromStdString(message));
  box.setInformativeText(QString::fromStdString(informative));
  std::vector<QPushButton*> added;
  for (const std::string& title : buttons) {
    added.push_back(box.addButton(QString::fromStdString(title), QMessageBox::AcceptRole));
  }
  if (!added.empty()) box.setDefaultButton(added.front());
  box.exec();
  for (size_t i = 0; i < added.size(); ++i) {
    if (box.clickedButton() == added[i]) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace fotello
