// A QApplication on Qt's offscreen platform for the widget tests of one test suite (header-only:
// only the test executables that link Qt include it).
#pragma once

#include <stdlib.h>

#include <QApplication>

namespace fotello::test {

// Call start() from SetUpTestSuite and stop() from TearDownTestSuite, on the test's main thread.
class OffscreenApplication {
 public:
  static void start() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static char runtime[] = "/tmp/fotello-qt-XXXXXX";
    if (::mkdtemp(runtime)) ::setenv("XDG_RUNTIME_DIR", runtime, 1);
    app_ = new QApplication(argc_, argv_);
  }
  static void stop() {
    delete app_;
    app_ = nullptr;
  }

 private:
  static inline int argc_ = 1;
  static inline char name_[] = "agent_tests";
  static inline char* argv_[] = {name_, nullptr};
  static inline QApplication* app_ = nullptr;
};

}  // namespace fotello::test
