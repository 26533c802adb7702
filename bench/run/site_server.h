#pragma once
// The benchmark site on the loopback server, served from a process of its own, so that the
// server's pages, threads and records are not counted with the run's memory and handles.
#include <windows.h>

#include <memory>

#include "tests/support/test_support.h"

namespace harvester::bench {

// The server process's main: serves the list page and the listings on 127.0.0.1, writes
// "port <n>" to its standard output and serves until the process parentId has ended.
int ServeSite(DWORD parentId);

class SiteServerProcess {
 public:
  // Starts this program again with "--serve"; Port() is 0 when that failed.
  SiteServerProcess();
  SiteServerProcess(const SiteServerProcess&) = delete;
  SiteServerProcess& operator=(const SiteServerProcess&) = delete;
  ~SiteServerProcess();  // ends the server process

  unsigned short Port() const { return port_; }

 private:
  std::unique_ptr<testing::ChildProcess> server_;  // killed when this goes if still serving
  unsigned short port_ = 0;
};

}  // namespace harvester::bench
