#include "bench/run/plain_client.h"

#include <windows.h>

#include "base/winhttp_owner.h"
#include "bench/run/clock.h"
#include "bench/run/site_pages.h"

namespace harvester::bench {
namespace {

constexpr wchar_t kHeaders[] =
    L"Content-Type: application/x-www-form-urlencoded\r\n"
    L"User-Agent: Mozilla/5.0 (iPhone; U; CPU iPhone OS 3_0 like Mac OS X; en-us) AppleWebKit/528.18 "
    L"(KHTML, like Gecko) Version/4.0 Mobile/7A341 Safari/528.16\r\n";

std::string Fetch(const std::wstring& url, PlainTimes& times) {
  Stopwatch watch;
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return {};
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring target = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);

  UniqueInternet session(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
  UniqueInternet connection(session ? WinHttpConnect(session.Get(), host.c_str(), parts.nPort, 0) : nullptr);
  UniqueInternet request(connection ? WinHttpOpenRequest(connection.Get(), L"GET", target.c_str(), nullptr,
                                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                                    : nullptr);
  times.openMs += watch.Lap();
  std::string body;
  if (request && WinHttpAddRequestHeaders(request.Get(), kHeaders, static_cast<DWORD>(-1L), WINHTTP_ADDREQ_FLAG_ADD) &&
      WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
      WinHttpReceiveResponse(request.Get(), nullptr)) {
    times.sendMs += watch.Lap();
    for (;;) {
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(request.Get(), &available) || available == 0) break;
      const size_t at = body.size();
      body.resize(at + available);
      DWORD read = 0;
      if (!WinHttpReadData(request.Get(), body.data() + at, available, &read)) {
        body.resize(at);
        break;
      }
      body.resize(at + read);
    }
    times.readMs += watch.Lap();
  } else {
    times.sendMs += watch.Lap();
  }
  request.Reset();
  connection.Reset();
  session.Reset();
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
