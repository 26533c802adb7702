// demo-site: serves the demo classifieds category on 127.0.0.1 until it is killed, its standard
// input ends, or the given number of seconds has passed.
//   demo-site [--port N] [--seconds S] [--log]
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/http_server.h"
#include "tools/demo-site/site_pages.h"

namespace {

using harvester::testing::HttpServer;
using harvester::testing::RecordedRequest;
using harvester::testing::Response;

constexpr char kUsage[] =
    "usage: demo-site [--port N] [--seconds S] [--log]\n"
    "  serves the demo list pages /sh_shouji/?page=P and listings /listing/P-N.html on 127.0.0.1\n"
    "  --port N     listen on port N instead of the port of the built-in site host (" SITE_HOST ")\n"
    "  --seconds S  stop after S seconds (otherwise: when killed or when standard input ends)\n"
    "  --log        print one line per request\n";

std::atomic<bool> g_inputEnded{false};

// Standard input ending (the starting script has gone) stops the server. A process without
// standard input runs until killed or until its time is up.
void WatchInput() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return;
  char buffer[256];
  DWORD got = 0;
  while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
  }
  g_inputEnded = true;
}

bool ParseNumber(const char* text, long long low, long long high, long long& value) {
  char* end = nullptr;
  value = std::strtoll(text, &end, 10);
  return end != text && *end == '\0' && value >= low && value <= high;
}

}  // namespace

int main(int argc, char** argv) {
  const auto builtIn = harvester::demo::PortOf(SITE_HOST);
  long long port = builtIn ? *builtIn : 0;
  long long seconds = 0;
  bool log = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc && ParseNumber(argv[i + 1], 1, 65535, port)) {
      ++i;
    } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc &&
               ParseNumber(argv[i + 1], 1, 7 * 24 * 3600, seconds)) {
      ++i;
    } else if (std::strcmp(argv[i], "--log") == 0) {
      log = true;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (port == 0) {
    std::fprintf(stderr, "demo-site: the built-in site host %s has no usable port; give --port\n", SITE_HOST);
    return 2;
  }

  const std::string host = "127.0.0.1:" + std::to_string(port);
  std::mutex output;  // outlives the server, whose connection threads print under it
  HttpServer server(static_cast<unsigned short>(port));
  if (!server.Started()) {
    std::fprintf(stderr, "demo-site: cannot listen on %s (is the port taken?)\n", host.c_str());
    return 1;
  }
  server.SetHandler([&host, &output, log](const RecordedRequest& request) {
    const harvester::demo::Answer answer = harvester::demo::AnswerFor(host, request.Target());
    if (log) {
      std::lock_guard lock(output);
      std::printf("demo-site: %s %d\n", request.requestLine.c_str(), answer.status);
      std::fflush(stdout);
    }
    Response response;
    response.status = answer.status;
    response.body = answer.body;
    return response;
  });
  {
    std::lock_guard lock(output);
    std::printf("demo-site: listening on http://%s\n", host.c_str());
    std::fflush(stdout);
  }

  std::thread(WatchInput).detach();  // a read of the standard input cannot be interrupted
  const ULONGLONG end = seconds ? GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000 : 0;
  while (!g_inputEnded && (!end || GetTickCount64() < end)) Sleep(100);
  std::lock_guard lock(output);
  std::printf("demo-site: stopping (%s)\n", g_inputEnded ? "standard input ended" : "time is up");
  std::fflush(stdout);
  return 0;
}
