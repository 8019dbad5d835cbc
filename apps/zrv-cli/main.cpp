// zrv-cli: the motor driver from the command line, for scripts, production lines and machines
// without a display. QtCore only.
#include <QCoreApplication>

#include <iostream>
#include <string>
#include <vector>

#include "cli_app.h"

int main(int argc, char** argv) {
  // The plain event dispatcher: a command-line program needs no GLib main loop, and each of its
  // wake-ups (25 a second while watching) costs less without one.
  if (qEnvironmentVariableIsEmpty("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
  // Before Qt opens descriptors of its own: a closed standard output must stay closed, not
  // become one of those.
  const int outputFd = zrv::cli::StandardOutputFd();
  QCoreApplication app(argc, argv);
  const std::vector<std::string> args(argv + 1, argv + argc);
  zrv::cli::FdSink output(outputFd);
  zrv::cli::CliContext context;
  context.out = &std::cout;
  context.sink = &output;
  context.err = &std::cerr;
  context.exitWhenDone = true;
  return zrv::cli::RunCli(args, context);
}
