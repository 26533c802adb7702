#include "bench/run/site_server.h"

#include <cstdio>
#include <cstdlib>

#include "bench/run/site_pages.h"
#include "tests/support/http_server.h"

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

  std::wstring path(MAX_PATH * 4, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  std::wstring commandLine = L"\"" + path + L"\" --serve " + std::to_wstring(GetCurrentProcessId());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd.Get();
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
    return;
  CloseHandle(info.hThread);
  process_.Reset(info.hProcess);

  // "port <n>\n", within the time-out.
  std::string received;
  const ULONGLONG deadline = GetTickCount64() + kStartTimeoutMs;
  while (received.find('\n') == std::string::npos && GetTickCount64() < deadline) {
    DWORD available = 0;
    if (!PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &available, nullptr)) break;
    if (available == 0) {
      if (WaitForSingleObject(process_.Get(), 20) == WAIT_OBJECT_0) break;
      continue;
    }
    char buffer[64];
    DWORD read = 0;
    if (!ReadFile(readEnd.Get(), buffer, sizeof buffer, &read, nullptr) || read == 0) break;
    received.append(buffer, read);
  }
  if (received.rfind("port ", 0) == 0) port_ = static_cast<unsigned short>(std::strtoul(received.c_str() + 5, nullptr, 10));
}

SiteServerProcess::~SiteServerProcess() {
  if (!process_) return;
  if (WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.Get(), 0);
    WaitForSingleObject(process_.Get(), 5000);
  }
}

}  // namespace harvester::bench
