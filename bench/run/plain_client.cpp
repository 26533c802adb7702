#include "bench/run/plain_client.h"

#include <windows.h>
#include <winhttp.h>

#include "bench/run/clock.h"
#include "bench/run/site_pages.h"

namespace harvester::bench {
namespace {

constexpr wchar_t kHeaders[] =
    L"Content-Type: application/x-www-form-urlencoded\r\n"
    L"User-Agent: Mozilla/5.0 (iPhone; U; CPU iPhone OS 3_0 like Mac OS X; en-us) AppleWebKit/528.18 "
    L"(KHTML, like Gecko) Version/4.0 Mobile/7A341 Safari/528.16\r\n";

class Handle {
 public:
  explicit Handle(HINTERNET handle = nullptr) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }
  void Close() {
    if (handle_) WinHttpCloseHandle(handle_);
    handle_ = nullptr;
  }
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

std::string Fetch(const std::wstring& url, PlainTimes& times) {
  Stopwatch watch;
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return {};
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring target = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);

  Handle session(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, 0));
  Handle connection(session ? WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0) : nullptr);
  Handle request(connection ? WinHttpOpenRequest(connection.get(), L"GET", target.c_str(), nullptr,
                                                 WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                            : nullptr);
  times.openMs += watch.Lap();
  std::string body;
  if (request && WinHttpAddRequestHeaders(request.get(), kHeaders, static_cast<DWORD>(-1L), WINHTTP_ADDREQ_FLAG_ADD) &&
      WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
      WinHttpReceiveResponse(request.get(), nullptr)) {
    times.sendMs += watch.Lap();
    for (;;) {
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(request.get(), &available) || available == 0) break;
      const size_t at = body.size();
      body.resize(at + available);
      DWORD read = 0;
      if (!WinHttpReadData(request.get(), body.data() + at, available, &read)) {
        body.resize(at);
        break;
      }
      body.resize(at + read);
    }
    times.readMs += watch.Lap();
  } else {
    times.sendMs += watch.Lap();
  }
  request.Close();
  connection.Close();
  session.Close();
  times.closeMs += watch.Lap();
  return body;
}

}  // namespace

std::vector<unsigned long long> PlainFetchAll(const std::vector<std::string>& urls, PlainTimes& times) {
  std::vector<unsigned long long> fingerprints;
  fingerprints.reserve(urls.size());
  for (const std::string& url : urls) {
    const std::string body = Fetch(std::wstring(url.begin(), url.end()), times);
    fingerprints.push_back(Fingerprint(body));
  }
  return fingerprints;
}

}  // namespace harvester::bench
