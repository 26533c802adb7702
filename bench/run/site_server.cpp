#include "bench/run/site_server.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/run/site_pages.h"
#include "tests/support/http_server.h"
#include "tests/support/test_support.h"

namespace harvester::bench {
namespace {

constexpr DWORD kLongestServeMs = 20 * 60 * 1000;
constexpr DWORD kStartTimeoutMs = 30000;

}  // namespace

int ServeSite(DWORD parentId) {
  const UniqueHandle parent(OpenProcess(SYNCHRONIZE, FALSE, parentId));
  testing::HttpServer server;
  if (!server.Started() || !parent) return 1;
  const std::string base = server.Url("");
  testing::Response list;
  list.body = MakeListPage(base);
  server.Route("/sh_shouji/", list);
  for (int i = 1; i <= kListings; ++i) {
    Listing listing = MakeListing(base, i);
    testing::Response page;
    page.body = std::move(listing.body);
    server.Route(listing.path, std::move(page));
  }
  std::printf("port %u\n", static_cast<unsigned>(server.Port()));
  std::fflush(stdout);
  WaitForSingleObject(parent.Get(), kLongestServeMs);
  return 0;
}

SiteServerProcess::SiteServerProcess() {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  UniqueHandle readEnd, writeEnd;
  if (!CreatePipe(readEnd.Put(), writeEnd.Put(), &inherit, 0)) return;
  SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);

  const testing::StandardHandles handles = {GetStdHandle(STD_INPUT_HANDLE), writeEnd.Get(),
                                            GetStdHandle(STD_ERROR_HANDLE)};
  server_ = std::make_unique<testing::ChildProcess>(
      L"\"" + testing::ExecutablePath() + L"\" --serve " + std::to_wstring(GetCurrentProcessId()), nullptr,
      &handles);
  if (!server_->Started()) return;
  writeEnd.Reset();  // the server's copy is the only one left

  // "port <n>\n", within the time-out.
  std::string received;
  const ULONGLONG deadline = GetTickCount64() + kStartTimeoutMs;
  while (received.find('\n') == std::string::npos && GetTickCount64() < deadline) {
    DWORD available = 0;
    if (!PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &available, nullptr)) break;
    if (available == 0) {
      if (server_->WaitForExit(20) != STILL_ACTIVE) break;
      continue;
    }
    char buffer[64];
    DWORD read = 0;
    if (!ReadFile(readEnd.Get(), buffer, sizeof buffer, &read, nullptr) || read == 0) break;
    received.append(buffer, read);
  }
  if (received.rfind("port ", 0) == 0) port_ = static_cast<unsigned short>(std::strtoul(received.c_str() + 5, nullptr, 10));
}

SiteServerProcess::~SiteServerProcess() = default;

}  // namespace harvester::bench
