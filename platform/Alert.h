// Modal alerts of both programs. On a desktop they are Qt message boxes; on a headless box
// (no QApplication) each becomes one ERROR line in the log.
#pragma once

#include <string>
#include <vector>

namespace fotello {

// Main thread only.
class Alert {
 public:
  // True when the program runs a graphical session (a QApplication with a display).
  static bool hasDisplay();

  // Shows message and informative text with the given buttons (the first is the default) and
  // returns the index of the button pressed; without a display, logs
  // "<message>: <informative>" at ERROR level and returns -1.
  static int runModal(const std::string& message, const std::string& informative,
                      const std::vector<std::string>& buttons);
};

}  // namespace fotello
