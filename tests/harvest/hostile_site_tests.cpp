// The run against sites that misbehave: whatever a listing sends or fails to send, the run
// ends, the healthy listings give exactly their lines in order, and the window stays open.
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

#include "app/controls.h"
#include "tests/harvest/run_fixture.h"
#include "tests/support/object_census.h"
#include "tests/support/test_support.h"

namespace harvester {
namespace {

using testing::HarvestRunTest;
using testing::kListPath;
using testing::Listing;
using testing::Page;
using testing::Response;
using testing::Utf8;

struct Memory {
  double privateMb;
  double peakWorkingSetMb;
};

Memory MemoryNow() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  // Wine leaves PrivateUsage at 0; the commit charge is the same figure on Windows.
  const SIZE_T privateBytes = counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
  return {static_cast<double>(privateBytes) / (1 << 20),
          static_cast<double>(counters.PeakWorkingSetSize) / (1 << 20)};
}

// Deterministic noise: the same bytes on every run.
std::string RandomBytes(size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    seed = seed * 1664525u + 1013904223u;
    byte = static_cast<char>(seed >> 24);
  }
  return bytes;
}

Response Ending(std::string body, Response::Ending ending) {
  Response response = Page(std::move(body));
  response.ending = ending;
  return response;
}

// The lines of a healthy listing made by Listing(), in program text.
std::vector<std::string> LinesOf(const std::string& contact, const std::string& title,
                                 std::initializer_list<const char*> phones = {}) {
  std::vector<std::string> lines = {"联系人：" + contact, "标题文本：" + title};
  for (const char* phone : phones) lines.push_back(std::string("电话：") + phone);
  return lines;
}

const std::vector<std::string> kNothing = LinesOf("", "");

void Append(std::vector<std::string>& lines, const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
}

struct Resources;

class HostileSiteTest : public HarvestRunTest {
 protected:
  // The resources once the server's connection threads and the request objects' own threads
  // (each holding a handle) have ended: read until two readings 100 ms apart agree and, when a
  // baseline is given, the handles are back at or below it; at most five seconds, since on a
  // loaded machine those threads end late.
  Resources Settled(const Resources* baseline = nullptr);
};

TEST_F(HostileSiteTest, EveryMisbehavingListingGivesWayToTheHealthyOnes) {
  server_.Route("/h/1", Page(Listing(L"第一", L"甲", {"13800000001"})));
  server_.Route("/h/2", Page(Listing(L"第二", L"乙", {})));
  server_.Route("/h/3", Page(Listing(L"第三", L"丙", {"13800000003", "13800000033"})));
  // Silent after half its body; the run waits its 8 seconds and goes on.
  server_.Route("/bad/never", Ending(Listing(L"永不", L"丁", {"1"}), Response::Ending::kNeverComplete));
  // Cut off mid-body, before any marker arrives.
  server_.Route("/bad/cut", Ending(std::string(4000, ' ') + Listing(L"断开", L"戊", {"2"}),
                                   Response::Ending::kCloseMidBody));
  server_.Route("/bad/random", Page(RandomBytes(1 << 16, 7)));
  // Invalid UTF-8, an encoded lone surrogate and a zero byte: the text ends at the zero byte.
  server_.Route("/bad/encoding", Page(Utf8(L"<title>坏字</title>") + "\xFF\xFE\xC0\xAF\xED\xA0\x80" +
                                      Utf8(L"&nbsp;</p><p>己</p></div>") + std::string(1, '\0') +
                                      "<a href=\"tel:00000000\">"));
  // Markers right after two-byte characters, phone links in other letter case.
  server_.Route("/bad/adjacent",
                Page(Utf8(L"电<title>标题</title>话&nbsp;</p><p>庚</p></div>号<a HREF=\"Tel:400\">")));
  // A long page: 50 MB of text between the contact and the phone link.
  std::string huge = Utf8(L"<title>很长</title>&nbsp;</p><p>辛</p></div>");
  const std::string filler = Utf8(L"二手房出租，交通便利。");
  while (huge.size() < (50u << 20)) huge += filler;
  server_.Route("/bad/huge", Page(huge + "<a href=\"tel:13800000050\">"));
  huge.clear();
  huge.shrink_to_fit();
  server_.Route("/bad/slow", Page(Listing(L"慢", L"壬", {"13800000079"}), 7900));
  // One byte a second: the 8-second bound cuts it off.
  Response trickle = Page(Listing(L"滴", L"癸", {"3"}));
  trickle.ending = Response::Ending::kTrickle;
  server_.Route("/bad/trickle", trickle);
  // A redirect to itself: the request object gives up after its own limit.
  Response loop = Page("moved");
  loop.status = 302;
  loop.headers = {"Location: " + server_.Url("/bad/loop")};
  server_.Route("/bad/loop", loop);
  // A compressed body that was never asked for: its bytes are taken as they are.
  Response gzip = Page(std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03", 10) + RandomBytes(200, 3));
  gzip.headers = {"Content-Encoding: gzip"};
  server_.Route("/bad/gzip", gzip);

  server_.Route(kListPath,
                Page(ListPage({"/h/1", "/bad/never", "/h/2", "/bad/cut", "/bad/random", "/bad/encoding",
                               "file:///C:/windows/win.ini", "javascript:alert(1)", "", "/bad/adjacent",
                               "/bad/huge", "/bad/slow", "/bad/trickle", "/bad/loop", "/bad/gzip",
                               "/h/3"})));
  const Memory before = MemoryNow();
  const ULONGLONG start = GetTickCount64();
  ClickStart();
  const double seconds = static_cast<double>(GetTickCount64() - start) / 1000;
  const Memory after = MemoryNow();
  std::printf("hostile run: %.1f s, private %.0f -> %.0f MB, peak working set %.0f MB\n", seconds,
              before.privateMb, after.privateMb, after.peakWorkingSetMb);

  std::vector<std::string> expected = LinesOf("甲", "第一", {"13800000001"});
  Append(expected, kNothing);                     // never answered
  Append(expected, LinesOf("乙", "第二"));
  Append(expected, kNothing);                     // cut off before its markers
  Append(expected, kNothing);                     // random bytes
  Append(expected, LinesOf("己", "坏字"));          // nothing after the zero byte
  Append(expected, kNothing);                     // file:
  Append(expected, kNothing);                     // javascript:
  Append(expected, kNothing);                     // empty link
  Append(expected, LinesOf("庚", "标题", {"400"}));
  Append(expected, LinesOf("辛", "很长", {"13800000050"}));
  Append(expected, LinesOf("壬", "慢", {"13800000079"}));
  Append(expected, kNothing);                     // one byte a second
  Append(expected, kNothing);                     // redirected without end
  Append(expected, kNothing);                     // compressed
  Append(expected, LinesOf("丙", "第三", {"13800000003", "13800000033"}));
  EXPECT_EQ(Lines(), expected);

  // The links that are not http addresses reach no server; the redirect loop is followed a
  // bounded number of times.
  std::vector<std::string> targets = Targets();
  const auto loops = std::count(targets.begin(), targets.end(), "/bad/loop");
  EXPECT_GE(loops, 2);
  EXPECT_LE(loops, 100);
  targets.erase(std::remove(targets.begin(), targets.end(), "/bad/loop"), targets.end());
  const std::vector<std::string> order = {testing::ListTarget(1), "/h/1", "/bad/never", "/h/2", "/bad/cut",
                                          "/bad/random", "/bad/encoding", "/bad/adjacent", "/bad/huge",
                                          "/bad/slow", "/bad/trickle", "/bad/gzip", "/h/3"};
  EXPECT_EQ(targets, order);
  EXPECT_TRUE(IsWindow(window_->hwnd));
  // What the run held for the long page is given back.
  EXPECT_LT(after.privateMb, before.privateMb + 32);
  // The 50 MB page is held a few times over while it is worked on (its bytes, its UTF-16
  // form, its program text, the pattern object's copy), and by the test's own server.
  EXPECT_LT(after.peakWorkingSetMb, 512);
}

struct Resources {
  DWORD handles = 0, gdiObjects = 0, userObjects = 0;
  double privateMb = 0;
  // The counts only: private bytes move by a few kilobytes all the time.
  bool operator==(const Resources& other) const {
    return handles == other.handles && gdiObjects == other.gdiObjects && userObjects == other.userObjects;
  }
};

// Wine answers 0 to the process's handle count: the open handles are then counted from the
// system's handle table (one call), or where that cannot be read, one handle value at a time.
DWORD HandleCount() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
  std::vector<std::uint8_t> table(1 << 16);
  NTSTATUS status;  // grown while too small (STATUS_INFO_LENGTH_MISMATCH), up to 64 MB
  while ((status = NtQuerySystemInformation(SystemHandleInformation, table.data(), static_cast<ULONG>(table.size()),
                                            nullptr)) == static_cast<NTSTATUS>(0xC0000004L) && table.size() < (1u << 26))
    table.resize(table.size() * 2);
  const auto* handles = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(table.data());
  for (ULONG i = 0; status >= 0 && i < handles->Count; ++i) count += handles->Handle[i].OwnerPid == GetCurrentProcessId();
  if (count != 0) return count;
  for (ULONG_PTR value = 4; value < (1u << 18); value += 4) {
    DWORD flags;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

BOOL CALLBACK CountWindow(HWND hwnd, LPARAM count) {
  ++*reinterpret_cast<DWORD*>(count);
  EnumChildWindows(hwnd, [](HWND, LPARAM inner) -> BOOL {
    ++*reinterpret_cast<DWORD*>(inner);
    return TRUE;
  }, count);
  return TRUE;
}

// Wine answers 0 to the GUI resource counts too; its windows stand in for the USER objects
// there, and GDI objects are counted only where the system counts them.
Resources ResourcesNow() {
  Resources now;
  now.handles = HandleCount();
  now.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  now.userObjects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  if (now.userObjects == 0) EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&now.userObjects));
  now.privateMb = MemoryNow().privateMb;
  return now;
}

Resources HostileSiteTest::Settled(const Resources* baseline) {
  Resources last = ResourcesNow();
  for (int i = 0; i < 50; ++i) {
    Sleep(100);
    server_.JoinFinishedConnections();
    const Resources now = ResourcesNow();
    if (now == last && (!baseline || now.handles <= baseline->handles)) return now;
    last = now;
  }
  return last;
}

TEST_F(HostileSiteTest, RunsGiveBackWhatTheyTake) {
  server_.Route("/h/1", Page(Listing(L"第一", L"甲", {"13800000001"})));
  server_.Route("/bad/cut", Ending(std::string(4000, ' ') + Listing(L"断开", L"戊", {"2"}),
                                   Response::Ending::kCloseMidBody));
  server_.Route("/bad/random", Page(RandomBytes(1 << 20, 11)));
  server_.Route("/bad/status", [] {
    Response response = Page(Listing(L"错误页", L"癸", {}));
    response.status = 500;
    return response;
  }());
  server_.Route(kListPath, Page(ListPage({"/h/1", "/bad/cut", "/bad/random", "/bad/status", "/missing",
                                          "javascript:void(0)", "http://127.0.0.1:1/closed-port"})));
  std::vector<std::string> expected = LinesOf("甲", "第一", {"13800000001"});
  for (int i = 0; i < 2; ++i) Append(expected, kNothing);
  Append(expected, LinesOf("癸", "错误页"));  // an error page is a page like any other
  for (int i = 0; i < 3; ++i) Append(expected, kNothing);

  auto pass = [&] {
    ClickStart();
    EXPECT_EQ(Lines(), expected);
    SendMessageW(Hwnd(testing::kResultList), LB_RESETCONTENT, 0, 0);
    testing::PumpFor(100);
  };
  pass();  // the first run loads what every later run shares
  std::string watchFailure;
  ASSERT_TRUE(testing::WatchPlatformKinds(watchFailure)) << watchFailure;
  const Resources start = Settled();
  testing::StartCensus();
  pass();
  pass();
  const testing::CensusCount objects = testing::StopCensus();
  testing::UnwatchAll();
  const Resources end = Settled(&start);
  // Every request, pattern, match collection, match and group object of two runs is released.
  EXPECT_GT(objects.seen, 10);
  EXPECT_EQ(objects.alive, 0);
  EXPECT_EQ(objects.destroyed, objects.seen);
  std::printf("resources: handles %lu -> %lu, GDI %lu -> %lu, USER %lu -> %lu, private %.2f -> %.2f MB\n",
              start.handles, end.handles, start.gdiObjects, end.gdiObjects, start.userObjects, end.userObjects,
              start.privateMb, end.privateMb);
  EXPECT_GT(start.handles, 0u);
  EXPECT_GT(start.userObjects, 0u);
  // Handles of threads the platform started before may end meanwhile; none may be added.
  EXPECT_LE(end.handles, start.handles);
  EXPECT_EQ(end.gdiObjects, start.gdiObjects);
  EXPECT_EQ(end.userObjects, start.userObjects);
  EXPECT_LT(end.privateMb - start.privateMb, 1.0);
}

// Many links on one list page: every listing's lines, in order. The full count runs with
// HARVESTER_FULL_TESTS set (scripts/test --full); the default run takes 300.
TEST_F(HostileSiteTest, AListPageOfThousandsOfLinks) {
  const char* full = std::getenv("HARVESTER_FULL_TESTS");
  const int links = full && *full ? 5000 : 300;
  server_.SetHandler([](const testing::RecordedRequest& request) {
    const std::string number = request.Path().substr(3);  // "/n/<number>"
    return Page(Listing(L"房", L"人", {number.c_str()}));
  });
  std::vector<std::string> paths;
  std::vector<std::string> expected;
  for (int i = 0; i < links; ++i) {
    paths.push_back("/n/" + std::to_string(i));
    Append(expected, LinesOf("人", "房", {std::to_string(i).c_str()}));
  }
  server_.Route(kListPath, Page(ListPage(paths)));
  const ULONGLONG start = GetTickCount64();
  ClickStart();
  std::printf("%d links: %.1f s\n", links, static_cast<double>(GetTickCount64() - start) / 1000);
  EXPECT_EQ(server_.RequestCount(), static_cast<size_t>(links) + 1);
  EXPECT_EQ(Lines(), expected);
  EXPECT_EQ(ListViewItemCount(testing::kLinkList), 0);
}

}  // namespace
}  // namespace harvester
