// The daemon's start-up steps that do not start anything: settling the HTTP
// port and writing the pid file. Main.cpp runs them in order.
#pragma once

#include <string>

namespace Kelm {

// fv.cfg's "port" (truncated toward zero), else 8080; the first command-line
// argument, converted like atoi, wins over both. Further arguments are ignored.
int SettlePort(int argc, char** argv);

// Writes the process id and a line end to Farview.pid in the data folder,
// replacing an earlier one. Failures are logged; start-up goes on.
void WritePidFile();

// Every poll holds a descriptor while it connects, so thousands of servers
// need thousands of descriptors: raises the soft open-file limit to the hard
// one and logs the limit in force.
void RaiseOpenFileLimit();

}  // namespace Kelm
