// ombackup: installs itself as a Windows service and, started by the Service
// Control Manager, runs the Java agent in an in-process virtual machine.
#include <cstdio>

#include "service/service_controller.h"

int main(int argc, char** argv) {
  int code = ombackup::runCommandLine(argc, argv);
  std::fflush(stdout);
  return code;
}
