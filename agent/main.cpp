// fotello-agent: catalogs the local photo library, serves it to peers and pulls what it lacks.
#include <QApplication>
#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "agent/QVAgentController.h"
#include "loomkit/io/Streams.h"
#include "loomkit/shared/Log.h"
#include "platform/QtMainLoop.h"
#include "protocol/FotelloApp.h"

namespace {

void printUsage() {
  std::printf(
      "Usage: fotello-agent [--version | --help]\n"
      "\n"
      "Fotello Agent runs in the background: it catalogs the photo library named in the\n"
      "configuration, serves its catalog, thumbnails and photos to the other computers of the\n"
      "network, announces itself by DNS-SD, and pulls the photos it lacks from peers marked\n"
      "automatic. It never creates its configuration: run the Fotello application or\n"
      "'fotelloctl config init' first.\n"
      "\n"
      "Data directory: %s\n"
      "  ($FOTELLO_HOME, else $XDG_DATA_HOME/Fotello, else ~/.local/share/Fotello)\n",
      fotello::FotelloApp::applicationSupportPath().c_str());
}

bool hasGraphicalSession() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (display && *display) || (wayland && *wayland);
}

std::string executablePath(const char* argv0) {
  std::error_code ec;
  auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) return path.string();
  return std::filesystem::absolute(argv0, ec).string();
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Fotello Agent %s\n", FOTELLO_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      printUsage();
      return 0;
    }
    std::fprintf(stderr, "fotello-agent: unknown option %s\n", argv[i]);
    printUsage();
    return 2;
  }

  // Writes to a peer that went away must fail with EPIPE, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  // Transfers run at full speed; the automatic and fixed-rate modes stay available to the library.
  loomkit::Streams::setThrottleType(loomkit::Streams::kThrottleNone);
  loomkit::Log::openSystemLog("fotello-agent");

  std::unique_ptr<QCoreApplication> app;
  if (hasGraphicalSession()) {
    auto gui = std::make_unique<QApplication>(argc, argv);
    gui->setQuitOnLastWindowClosed(false);
    app = std::move(gui);
  } else {
    app = std::make_unique<QCoreApplication>(argc, argv);
  }
  QCoreApplication::setApplicationName("Fotello Agent");
  QCoreApplication::setApplicationVersion(FOTELLO_VERSION);

  fotello::QtMainLoop loop;
  fotello::QVAgentController controller(executablePath(argv[0]));
  QTimer::singleShot(0, [&controller] { controller.applicationDidFinishLaunching(); });
  return app->exec();
}
