// zrv-cli: the motor driver from the command line, for scripts, production lines and machines
// without a display. QtCore only.
#include <QCoreApplication>

#include <iostream>
#include <string>
#include <vector>

#include "cli_app.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::vector<std::string> args(argv + 1, argv + argc);
  zrv::cli::CliContext context;
  context.out = &std::cout;
  context.err = &std::cerr;
  return zrv::cli::RunCli(args, context);
}
