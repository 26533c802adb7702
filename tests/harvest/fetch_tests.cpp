// Fetching pages through the real WinHTTP request object from a loopback server.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "automation/calls.h"
#include "harvest/fetch.h"
#include "tests/harvest/request_doubles.h"
#include "tests/support/http_server.h"
#include "tests/support/test_support.h"

namespace harvester {
namespace {

using testing::HttpServer;
using testing::RecordedRequest;
using testing::RequestMode;
using testing::Response;
using testing::RunningOnWine;

class OleEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
  void TearDown() override { OleUninitialize(); }
};
[[maybe_unused]] ::testing::Environment* const oleEnvironment =
    ::testing::AddGlobalTestEnvironment(new OleEnvironment);

constexpr char kMobileBrowser[] =
    "Mozilla/5.0 (iPhone; U; CPU iPhone OS 3_0 like Mac OS X; en-us) AppleWebKit/528.18 "
    "(KHTML, like Gecko) Version/4.0 Mobile/7A341 Safari/528.16";

std::string TextOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// <chrono> cannot be compiled with code page 936 narrow literals (it spells a micro sign).
LONGLONG Now() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

double MillisecondsSince(LONGLONG start) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(Now() - start) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

Response Page(std::string body, int status = 200) {
  Response response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

class FetchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Started()); }

  // Index of the header line equal to line, or -1; fails when it occurs more than once.
  static int HeaderIndex(const RecordedRequest& request, const std::string& line) {
    int found = -1;
    for (size_t i = 0; i < request.headers.size(); ++i) {
      if (request.headers[i] != line) continue;
      EXPECT_EQ(found, -1) << "header twice: " << line;
      found = static_cast<int>(i);
    }
    return found;
  }

  void ExpectProgramRequest(const RecordedRequest& request, const std::string& target) {
    EXPECT_EQ(request.requestLine, "GET " + target + " HTTP/1.1");
    const int contentType = HeaderIndex(request, "Content-Type: application/x-www-form-urlencoded");
    const int userAgent = HeaderIndex(request, std::string("User-Agent: ") + kMobileBrowser);
    EXPECT_GE(contentType, 0);
    EXPECT_GT(userAgent, contentType);
    EXPECT_EQ(request.bodyLength, 0u);
    const std::string length = request.Header("Content-Length");
    EXPECT_TRUE(length.empty() || length == "0") << length;
  }

  HttpServer server_;
  ComObject request_;
};

// The cases that depend on what the request object's wait does, against the platform's object
// and against each double of it. Whatever the double, the fetch keeps its rules.
class FetchByRequestMode : public FetchTest, public ::testing::WithParamInterface<RequestMode> {
 protected:
  void SetUp() override {
    FetchTest::SetUp();
    ASSERT_TRUE(doubles_.Registered());
  }
  void TearDown() override { EXPECT_EQ(doubles_.BrokenRules(), ""); }

  testing::RequestDoubles doubles_{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Modes, FetchByRequestMode, ::testing::ValuesIn(testing::kRequestModes), testing::ModeName);

TEST_F(FetchTest, ListPageRequestOnTheWire) {
  const std::string target =
      "/sh_shouji/?page=1&url=shouji&pageSize=45&deal_type=1&agent=1&ifid=qz3g_list_next_wu";
  server_.Route("/sh_shouji/", Page("<html>list</html>"));
  EXPECT_EQ(TextOf(FetchPage(request_, server_.Url(target))), "<html>list</html>");
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  ExpectProgramRequest(requests[0], target);
  EXPECT_EQ(requests[0].Header("Host"), "127.0.0.1:" + std::to_string(server_.Port()));
  EXPECT_FALSE(IsEmpty(request_));  // the run's variable keeps the last request object
}

TEST_F(FetchTest, ListingLinkToAnotherPathOnTheWire) {
  server_.Route("/shouji/48213.html", Page("<title>listing</title>"));
  EXPECT_EQ(TextOf(FetchPage(request_, server_.Url("/shouji/48213.html"))), "<title>listing</title>");
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  ExpectProgramRequest(requests[0], "/shouji/48213.html");
}

TEST_F(FetchTest, EveryFetchMakesANewRequestObject) {
  server_.Route("/a", Page("first"));
  server_.Route("/b", Page("second"));
  EXPECT_EQ(TextOf(FetchPage(request_, server_.Url("/a"))), "first");
  IUnknown* first = request_.Get();
  first->AddRef();
  EXPECT_EQ(TextOf(FetchPage(request_, server_.Url("/b"))), "second");
  EXPECT_NE(request_.Get(), first);
  EXPECT_EQ(first->Release(), 0u);  // ours was the last reference: the old object was released
}

TEST_F(FetchTest, ErrorPagesAreReturnedLikeAnyPage) {
  const struct {
    const char* path;
    int status;
    const char* body;
  } rows[] = {{"/missing", 404, "<h1>not here</h1>"}, {"/broken", 500, "<h1>server fault</h1>"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    server_.Route(row.path, Page(row.body, row.status));
    EXPECT_EQ(TextOf(FetchPage(request_, server_.Url(row.path))), row.body);
  }
}

TEST_F(FetchTest, BodyBytesArriveUnchanged) {
  std::string body = "\xEF\xBB\xBF<title>\xE7\x94\xB5\xE8\xAF\x9D</title>";
  body += std::string("\0\x80\xFF", 3);
  server_.Route("/raw", Page(body));
  EXPECT_EQ(TextOf(FetchPage(request_, server_.Url("/raw"))), body);
}

TEST_F(FetchTest, EmptyBodyGivesEmptyBytes) {
  server_.Route("/empty", Page(""));
  EXPECT_TRUE(FetchPage(request_, server_.Url("/empty")).empty());
  EXPECT_EQ(server_.RequestCount(), 1u);
}

TEST_F(FetchTest, ConnectionClosedMidBodyGivesNoMoreThanArrived) {
  Response cut = Page(std::string(4000, 'x'));
  cut.ending = Response::Ending::kCloseMidBody;
  server_.Route("/cut", cut);
  const auto start = Now();
  const std::string body = TextOf(FetchPage(request_, server_.Url("/cut")));
  EXPECT_LT(MillisecondsSince(start), 4000.0);
  if (RunningOnWine()) {
    // Wine's request object reports a response cut off by the server as complete and hands
    // out the part that arrived; Windows fails the response.
    EXPECT_EQ(body, std::string(2000, 'x'));
  } else {
    EXPECT_TRUE(body.empty());
  }
}

TEST_P(FetchByRequestMode, UnusableAddressesGiveEmptyBytesAndNoRequest) {
  // A port nobody listens on: bound and closed again by a server of its own.
  std::string refused;
  {
    HttpServer closed;
    ASSERT_TRUE(closed.Started());
    refused = closed.Url("/page");
  }
  server_.Route("/page", Page("should not be fetched"));
  const std::string rows[] = {"", "/page", "page?x=1", "http://", "not a url at all", refused};
  for (const std::string& url : rows) {
    SCOPED_TRACE(url);
    const auto start = Now();
    EXPECT_TRUE(FetchPage(request_, url).empty());
    EXPECT_LT(MillisecondsSince(start), 4000.0);
  }
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_P(FetchByRequestMode, DelayedAnswerIsWaitedForAndNotLonger) {
  Response slow = Page("late but whole");
  slow.delayMs = 1500;
  server_.Route("/slow", slow);
  const auto start = Now();
  EXPECT_EQ(TextOf(FetchPage(request_, server_.Url("/slow"))), "late but whole");
  const double elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 1400.0);
  EXPECT_LT(elapsed, 2500.0);
}

TEST_P(FetchByRequestMode, ImmediateAnswerIsNotWaitedFor) {
  server_.Route("/quick", Page("<html>quick</html>"));
  constexpr int kFetches = 20;
  double total = 0, longest = 0;
  for (int i = 0; i < kFetches; ++i) {
    const auto start = Now();
    ASSERT_EQ(TextOf(FetchPage(request_, server_.Url("/quick"))), "<html>quick</html>");
    const double elapsed = MillisecondsSince(start);
    total += elapsed;
    if (elapsed > longest) longest = elapsed;
  }
  std::printf("fetch of an immediate answer: %.1f ms on average, %.1f ms at most\n", total / kFetches, longest);
  EXPECT_LT(longest, 1000.0);
  EXPECT_EQ(server_.RequestCount(), static_cast<size_t>(kFetches));
}

// An answer that is already whole when the wait begins (the query between the send and the
// wait takes 300 ms, the server answers at once) comes back at once, not empty after 8 s:
// Wine 8 then answers every wait at once without saying yes.
TEST_P(FetchByRequestMode, AnswerCompleteBeforeTheWaitBeginsIsReturnedAtOnce) {
  server_.Route("/whole", Page("<html>whole before the wait</html>"));
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    int queries = 0;
    const auto start = Now();
    const Bytes body = FetchPage(request_, server_.Url("/whole"), [&queries] {
      if (++queries == 2) Sleep(300);  // the first query comes before the send, the second after it
      return false;
    });
    const double elapsed = MillisecondsSince(start);
    EXPECT_EQ(TextOf(body), "<html>whole before the wait</html>");
    EXPECT_GE(queries, 2);
    EXPECT_LT(elapsed, 1500.0);
  }
  EXPECT_EQ(server_.RequestCount(), 3u);
}

// Posts a message to a window of this thread every 100 ms while it lives, as the user's input
// and the system's messages would arrive during a fetch; at most 30 s. It counts those that
// reached the window: a fetch that lets no message through leaves them queued.
class MessagePoster {
 public:
  MessagePoster() {
    static const ATOM windowClass = [] {
      WNDCLASSW counting = {};
      counting.lpfnWndProc = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == kPosted) ++*reinterpret_cast<int*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        return DefWindowProcW(hwnd, message, wParam, lParam);
      };
      counting.lpszClassName = L"HarvesterTestMessages";
      return RegisterClassW(&counting);
    }();
    window_ = CreateWindowExW(0, MAKEINTATOM(windowClass), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                              nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&answered_));
    thread_ = std::thread([this] {
      for (int i = 0; i < 300 && !done_; ++i) {
        if (PostMessageW(window_, kPosted, 0, 0)) ++posted_;
        Sleep(100);
      }
    });
  }
  MessagePoster(const MessagePoster&) = delete;
  MessagePoster& operator=(const MessagePoster&) = delete;
  ~MessagePoster() { Stop(); }

  bool Started() const { return window_ != nullptr; }
  // Stops posting, takes what is left and returns how many were posted.
  int Stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    if (window_) {
      MSG message;
      while (PeekMessageW(&message, window_, 0, 0, PM_REMOVE)) {
      }
      DestroyWindow(window_);
      window_ = nullptr;
    }
    return posted_;
  }
  int Answered() const { return answered_; }

 private:
  static constexpr UINT kPosted = WM_USER + 7;
  HWND window_ = nullptr;
  int answered_ = 0;  // counted on this thread
  std::atomic<bool> done_{false};
  std::atomic<int> posted_{0};
  std::thread thread_;
};

// Fetches path while the thread's window gets a message every 100 ms: the fetch gives up at
// its bound by its own clock, with nothing, having let the messages through.
void ExpectGivenUpAtTheBound(const testing::RequestDoubles& doubles, ComObject& request, const std::string& url,
                             double boundMs, const char* what) {
  MessagePoster poster;
  ASSERT_TRUE(poster.Started());
  const auto start = Now();
  const Bytes body = FetchPage(request, url);
  const double elapsed = MillisecondsSince(start);
  const int posted = poster.Stop();
  std::printf("%s: gave up after %.0f ms, %d messages posted, %d answered\n", what, elapsed, posted,
              poster.Answered());
  EXPECT_TRUE(body.empty()) << body.size() << " bytes";
  EXPECT_GE(elapsed, boundMs - 100);
  EXPECT_LT(elapsed, boundMs + 1000);
  const int expected = static_cast<int>(boundMs / 100 * 3 / 4);
  EXPECT_GE(posted, expected);
  EXPECT_GE(poster.Answered(), expected);
  doubles.ExpectGivenUp(url);
}

// A server that never finishes its answer: the fetch waits out the whole 8 seconds, with the
// object's receive time-out left at its default; the next fetch works.
TEST_P(FetchByRequestMode, NeverEndingAnswerGivesUpAfterEightSecondsDespiteMessages) {
  Response hanging = Page(std::string(2000, 'h'));
  hanging.ending = Response::Ending::kNeverComplete;
  server_.Route("/hang", hanging);
  server_.Route("/next", Page("next page"));

  ExpectGivenUpAtTheBound(doubles_, request_, server_.Url("/hang"), kResponseWaitMs, "never-ending answer");

  IUnknown* abandoned = request_.Get();
  EXPECT_EQ(TextOf(FetchPage(request_, server_.Url("/next"))), "next page");
  EXPECT_NE(request_.Get(), abandoned);
  EXPECT_EQ(server_.RequestCount(), 2u);
}

// A server that keeps sending, one byte every 500 ms, so the connection never falls silent for
// the receive time-out: the fetch still ends at its bound, with nothing. (The case above waits
// out the full 8 s; this one takes a shorter bound.)
TEST_P(FetchByRequestMode, TricklingAnswerGivesUpAtTheBoundDespiteMessages) {
  Response trickle = Page(std::string(40, 't'));  // 20 s of body
  trickle.ending = Response::Ending::kTrickle;
  trickle.trickleMs = 500;
  server_.Route("/trickle", trickle);
  const ResponseWaitBound bound(2500);
  ExpectGivenUpAtTheBound(doubles_, request_, server_.Url("/trickle"), 2500, "trickling answer");
}

// Request objects that misbehave after a failure, given up within a bound of 1.5 s: the fetch
// still returns, with nothing, and never reads the body.
// - a documented object whose "Send" failed, and whose wait then answers false for ever;
// - Wine 8's object, given up inside its wait, whose wait then gets no end signal (it cannot be
//   opened and sent again to bring one): it ends once its own wait of 1 s passes without a
//   message, so the fetch must add no message of its own that would start that wait afresh.
TEST_F(FetchTest, ObjectsThatMisbehaveAfterAFailureAreGivenUpWithinTheBound) {
  const struct {
    RequestMode mode;
    testing::RequestFault fault;
    double withinMs;
    size_t requests;
  } rows[] = {{RequestMode::kDocumented, testing::RequestFault::kSendFails, 2500, 0},
              {RequestMode::kWine, testing::RequestFault::kOpenAfterAbortFails, 4000, 1}};
  Response hanging = Page(std::string(2000, 'h'));
  hanging.ending = Response::Ending::kNeverComplete;
  server_.Route("/hang", hanging);
  const ResponseWaitBound bound(1500);
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::ModeName({row.mode, 0}));
    if (row.mode == RequestMode::kWine && !RunningOnWine()) continue;  // Wine 8's request object
    const testing::RequestDoubles doubles(row.mode, row.fault);
    ASSERT_TRUE(doubles.Registered());
    const size_t before = server_.RequestCount();
    const auto start = Now();
    EXPECT_TRUE(FetchPage(request_, server_.Url("/hang")).empty());
    EXPECT_LT(MillisecondsSince(start), row.withinMs);
    doubles.ExpectGivenUp(server_.Url("/hang"));
    EXPECT_EQ(doubles.BrokenRules(), "");
    EXPECT_EQ(server_.RequestCount() - before, row.requests);
  }
}

// Told to stop 1 s into its wait, whether nothing has arrived yet or part of the body, the fetch
// gives up at once with nothing; told before it begins, it sends nothing.
TEST_P(FetchByRequestMode, StopGivesTheFetchUpAtOnce) {
  Response silent = Page("never sent");
  silent.delayMs = 20000;
  server_.Route("/silent", silent);
  Response half = Page(std::string(2000, 'h'));
  half.ending = Response::Ending::kNeverComplete;
  server_.Route("/half", half);
  for (const char* path : {"/silent", "/half"}) {
    SCOPED_TRACE(path);
    MessagePoster poster;
    const auto start = Now();
    const Bytes body = FetchPage(request_, server_.Url(path), [start] { return MillisecondsSince(start) >= 1000.0; });
    const double elapsed = MillisecondsSince(start);
    std::printf("%s: told to stop at 1000 ms, gave up at %.0f ms\n", path, elapsed);
    EXPECT_TRUE(body.empty());
    EXPECT_GE(elapsed, 1000.0);
    EXPECT_LT(elapsed, 1400.0);
    doubles_.ExpectGivenUp(server_.Url(path));
  }
  const size_t asked = server_.RequestCount();
  EXPECT_EQ(asked, 2u);
  EXPECT_TRUE(FetchPage(request_, server_.Url("/half"), [] { return true; }).empty());
  EXPECT_EQ(server_.RequestCount(), asked);
}

}  // namespace
}  // namespace harvester
