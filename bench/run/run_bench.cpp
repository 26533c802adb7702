// A whole run under Wine against the loopback server: one list page of 45 links, each listing
// about 300 KB. The program's run (the start button, to its end) is timed beside a plain WinHTTP
// client making the same requests in the same process; each phase of the run is timed by calling
// the same program functions on the same inputs; then memory, handles and automation objects
// over repeated runs. Prints a table and, last, one line "wine_result key=value ...".
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/events.h"
#include "app/layout.h"
#include "app/main_window.h"
#include "automation/calls.h"
#include "automation/regex_object.h"
#include "bench/run/clock.h"
#include "bench/run/fetch_wait.h"
#include "bench/run/plain_client.h"
#include "bench/run/site_pages.h"
#include "bench/run/site_server.h"
#include "harvest/fetch.h"
#include "harvest/harvest_run.h"
#include "harvest/page_text.h"
#include "harvest/text_search.h"
#include "tests/support/object_census.h"
#include "tests/support/test_support.h"

namespace harvester::bench {
namespace {

using testing::CensusCount;
using testing::StartCensus;
using testing::StopCensus;
using testing::UnwatchAll;
using testing::WatchPlatformKinds;

constexpr char kStartButton[] = "按钮1";
constexpr char kPageCountBox[] = "编辑框2";
constexpr char kResultList[] = "列表框1";
constexpr char kLinkList[] = "超级列表框3";
constexpr char kRequestProgId[] = "Winhttp.WinHttpRequest.5.1";

constexpr int kTimedRounds = 5;  // program run and plain client, alternately
constexpr int kPhaseRounds = 3;
constexpr int kLeakRuns = 20;
constexpr int kFetchWaitRounds = 20;
constexpr DWORD kSettleMs = 300;  // for the request objects' own threads to end before counting

constexpr double kRatioTarget = 1.3;
constexpr double kPeakTargetMb = 64;
constexpr double kLeakTargetKb = 1024;

double Min(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }
double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Lets the window and the platform's threads finish what they do after a run.
void Settle(DWORD ms) { testing::PumpFor(ms); }

struct ProcessFigures {
  double workingSetMb = 0, peakWorkingSetMb = 0;
  double privateKb = 0;          // PrivateUsage, as the system reports it
  double committedPrivateKb = 0; // committed private memory, added up region by region
  DWORD handles = 0;             // GetProcessHandleCount, as the system reports it
  DWORD openHandles = 0;         // handle values that are open, found one by one
  DWORD gdiObjects = 0, userObjects = 0;
  DWORD windows = 0;             // windows of the process, top-level and child
};

double CommittedPrivateKb() {
  double bytes = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) bytes += static_cast<double>(region.RegionSize);
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return bytes / 1024.0;
}

// Handle values are multiples of 4, given out lowest first; the search ends after a long gap.
DWORD OpenHandles() {
  constexpr std::uintptr_t kGap = 4096 * 4;
  DWORD open = 0;
  std::uintptr_t lastOpen = 0;
  for (std::uintptr_t value = 4; value - lastOpen <= kGap && value < (std::uintptr_t{1} << 24); value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
      ++open;
      lastOpen = value;
    }
  }
  return open;
}

BOOL CALLBACK CountChild(HWND, LPARAM count) {
  ++*reinterpret_cast<DWORD*>(count);
  return TRUE;
}

BOOL CALLBACK CountWindow(HWND hwnd, LPARAM count) {
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  if (process != GetCurrentProcessId()) return TRUE;
  ++*reinterpret_cast<DWORD*>(count);
  EnumChildWindows(hwnd, CountChild, count);
  return TRUE;
}

ProcessFigures ReadProcessFigures() {
  ProcessFigures figures;
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof memory;
  HANDLE self = GetCurrentProcess();
  if (GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
    figures.workingSetMb = static_cast<double>(memory.WorkingSetSize) / (1024.0 * 1024.0);
    figures.peakWorkingSetMb = static_cast<double>(memory.PeakWorkingSetSize) / (1024.0 * 1024.0);
    figures.privateKb = static_cast<double>(memory.PrivateUsage) / 1024.0;
  }
  figures.committedPrivateKb = CommittedPrivateKb();
  GetProcessHandleCount(self, &figures.handles);
  figures.openHandles = OpenHandles();
  figures.gdiObjects = GetGuiResources(self, GR_GDIOBJECTS);
  figures.userObjects = GetGuiResources(self, GR_USEROBJECTS);
  EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&figures.windows));
  return figures;
}

// What the run must give, and the fingerprints of the pages; the pages themselves are not kept.
struct Expected {
  std::vector<std::string> lines;
  std::vector<unsigned long long> fingerprints;  // list page, then every listing
  std::size_t listPageBytes = 0, listingBytes = 0;
};

Expected ExpectedOfSite(const std::string& baseUrl) {
  Expected expected;
  const std::string listPage = MakeListPage(baseUrl);
  expected.fingerprints.push_back(Fingerprint(listPage));
  expected.listPageBytes = listPage.size();
  for (int i = 1; i <= kListings; ++i) {
    const Listing listing = MakeListing(baseUrl, i);
    expected.fingerprints.push_back(Fingerprint(listing.body));
    expected.listingBytes += listing.body.size();
    expected.lines.push_back(kContactPrefix + listing.contact);
    expected.lines.push_back(kTitlePrefix + listing.title);
    for (const std::string& phone : listing.phones) expected.lines.push_back(kPhonePrefix + phone);
  }
  return expected;
}

std::vector<std::string> ResultLines() {
  std::vector<std::string> lines;
  for (int i = 0; i < ListBoxItemCount(kResultList); ++i) lines.push_back(ListBoxItemText(kResultList, i));
  return lines;
}

void ClearResults() { SendMessageW(FindProgramControl(kResultList)->hwnd, LB_RESETCONTENT, 0, 0); }

// The user's click on the start button; the time until the run has returned.
double TimedRun() {
  ClearResults();
  HWND button = FindProgramControl(kStartButton)->hwnd;
  const double start = NowMs();
  SendMessageW(button, BM_CLICK, 0, 0);
  const double elapsed = NowMs() - start;
  PumpPendingMessages();
  return elapsed;
}

// ---- phases: the program's own functions, called one phase at a time on the run's inputs

struct Phases {
  double fetch = 0, conversion = 0, patterns = 0, markers = 0, controls = 0;
  double Sum() const { return fetch + conversion + patterns + markers + controls; }
  // Not part of the run: the same conversions with the second stage's composite check left
  // out, which gives the same text for pages without combining characters.
  double conversionWithoutCompositeCheck = 0;
};

// PageBytesToText's two stages, each sizing then filling, with flags 0 in the second stage.
std::string ConvertWithoutCompositeCheck(const Bytes& utf8) {
  if (utf8.empty()) return {};
  const auto* input = reinterpret_cast<const char*>(utf8.data());
  const int length = static_cast<int>(utf8.size());
  const int units = MultiByteToWideChar(CP_UTF8, 0, input, length, nullptr, 0);
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, input, length, wide.data(), units);
  const int size = WideCharToMultiByte(936, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(936, 0, wide.data(), units, text.data(), size, nullptr, nullptr);
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  return text;
}

struct FetchSteps {
  double create = 0, openAndHeaders = 0, send = 0, wait = 0, body = 0;
};

// The run's own sequence of calls for one list page, with the time of each call added to its
// phase; one page and one listing in memory at a time, as in the run.
Phases MeasurePhases(const std::string& listUrl) {
  Phases phases;
  ClearResults();
  Stopwatch watch;
  const auto lap = [&watch](double& phase) { phase += watch.Lap(); };
  // The run holds the drawing of the link list for the whole run and of the result list
  // between its redrawings, at most every 250 ms after a listing's lines.
  double lastDrawn = NowMs();
  bool resultsDrawn = true;
  {
    RegexObject pattern;
    ComObject request;
    lap(phases.patterns);
    SetControlRedraw(kLinkList, false);
    EditText(kPageCountBox);
    lap(phases.controls);
    Bytes body = FetchPage(request, listUrl);
    lap(phases.fetch);
    const std::string listText = PageBytesToText(body);
    lap(phases.conversion);
    if (ConvertWithoutCompositeCheck(body) != listText) std::printf("what-if conversion differs on the list page\n");
    phases.conversionWithoutCompositeCheck += watch.Lap();
    pattern.Search(kLinkPattern, listText);
    const int links = pattern.GetMatchCount();
    lap(phases.patterns);
    for (int i = 1; i <= links; ++i) {
      const std::string link = pattern.GetSubMatchText(i, 1);
      lap(phases.patterns);
      ListViewSetText(kLinkList, ListViewInsertItem(kLinkList), 0, link);
      lap(phases.controls);
    }
    const int listings = ListViewItemCount(kLinkList);
    lap(phases.controls);
    for (int item = 0; item < listings; ++item) {
      const std::string url = ListViewText(kLinkList, item, 0);
      lap(phases.controls);
      body = FetchPage(request, url);
      lap(phases.fetch);
      const std::string page = PageBytesToText(body);
      lap(phases.conversion);
      if (ConvertWithoutCompositeCheck(body) != page) std::printf("what-if conversion differs on %s\n", url.c_str());
      phases.conversionWithoutCompositeCheck += watch.Lap();
      int position = 0;
      const std::string title = GetTextBetween(page, kTitleStart, kTitleEnd, position);
      position = 0;
      const std::string contact = GetTextBetween(page, kContactStart, kContactEnd, position);
      lap(phases.markers);
      if (resultsDrawn) resultsDrawn = !SetControlRedraw(kResultList, false);
      ListBoxAddItem(kResultList, kContactPrefix + contact);
      ListBoxAddItem(kResultList, kTitlePrefix + title);
      lap(phases.controls);
      pattern.Search(kPhonePattern, page);
      const int phones = pattern.GetMatchCount();
      lap(phases.patterns);
      for (int i = 1; i <= phones; ++i) {
        const std::string phone = pattern.GetSubMatchText(i, 1);
        lap(phases.patterns);
        ListBoxAddItem(kResultList, kPhonePrefix + phone);
        lap(phases.controls);
      }
      if (!resultsDrawn && NowMs() - lastDrawn >= 250) {
        SetControlRedraw(kResultList, true);
        resultsDrawn = true;
        lastDrawn = NowMs();
      }
      lap(phases.controls);
    }
    ListViewDeleteAll(kLinkList);
    SetControlRedraw(kLinkList, true);
    if (!resultsDrawn) SetControlRedraw(kResultList, true);
    EditText(kPageCountBox);
    lap(phases.controls);
    Clear(request);
    lap(phases.fetch);
  }
  lap(phases.patterns);  // the pattern object's end
  ClearResults();
  return phases;
}

// FetchPage's steps one by one, with the same calls, so that the fetch's time can be placed.
FetchSteps MeasureFetchSteps(const std::vector<std::string>& urls) {
  FetchSteps steps;
  ComObject request;
  constexpr char kMobileBrowser[] =
      "Mozilla/5.0 (iPhone; U; CPU iPhone OS 3_0 like Mac OS X; en-us) AppleWebKit/528.18 "
      "(KHTML, like Gecko) Version/4.0 Mobile/7A341 Safari/528.16";
  for (const std::string& url : urls) {
    Stopwatch watch;
    Create(request, kRequestProgId);
    steps.create += watch.Lap();
    CallMethod(request, "Open", {"GET", url, true});
    CallMethod(request, "SetRequestHeader", {"Content-Type", "application/x-www-form-urlencoded"});
    CallMethod(request, "SetRequestHeader", {"User-Agent", kMobileBrowser});
    CallMethod(request, "SetTimeouts", {std::int32_t{0}, std::int32_t{60000}, std::int32_t{30000}, std::int32_t{8000}});
    steps.openAndHeaders += watch.Lap();
    CallMethod(request, "Send");
    steps.send += watch.Lap();
    const double deadline = NowMs() + 8000;
    while (!CallBoolMethod(request, "WaitForResponse", {std::int32_t{1}}) && LastCallError() == kCallOk &&
           NowMs() < deadline) {
    }
    steps.wait += watch.Lap();
    Variant body = ReadProperty(request, "ResponseBody");
    Bytes bytes = ToBytes(body);
    Clear(body);
    steps.body += watch.Lap();
  }
  return steps;
}

// ---- automation objects

// ---- output

struct Row {
  std::string figure, value, baseline, target, met;
};

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

void PrintTable(const std::vector<Row>& rows) {
  std::printf("%-44s %14s %22s %10s %s\n", "figure", "value", "baseline", "target", "met");
  for (const Row& row : rows)
    std::printf("%-44s %14s %22s %10s %s\n", row.figure.c_str(), row.value.c_str(), row.baseline.c_str(),
                row.target.c_str(), row.met.c_str());
}

int Main() {
  OleInitialize(nullptr);
  const SiteServerProcess server;
  if (server.Port() == 0) {
    std::printf("run_bench: the loopback server did not start\n");
    return 1;
  }
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());
  const std::string baseUrl = "http://" + host;
  SetSiteHost(host);
  const Expected expected = ExpectedOfSite(baseUrl);
  std::vector<std::string> urls = {ListPageAddress(1)};
  for (int i = 1; i <= kListings; ++i) urls.push_back(baseUrl + "/l/" + std::to_string(i) + ".html");

  if (!CreateProgramWindow(MainWindowLayout(), SW_SHOWNOACTIVATE)) {
    std::printf("run_bench: the main window was not created\n");
    return 1;
  }
  Settle(200);
  const ProcessFigures atStart = ReadProcessFigures();

  // The first run and round load the platform's libraries and objects; they are checked, not timed.
  TimedRun();
  if (ResultLines() != expected.lines) {
    std::printf("run_bench: the run did not give the %zu expected lines (%d lines)\n", expected.lines.size(),
                ListBoxItemCount(kResultList));
    return 1;
  }
  PlainTimes warmUp;
  if (PlainFetchAll(urls, warmUp) != expected.fingerprints) {
    std::printf("run_bench: the plain client did not get the pages\n");
    return 1;
  }

  std::vector<double> runMs, plainMs;
  PlainTimes plainSteps;
  for (int round = 0; round < kTimedRounds; ++round) {
    runMs.push_back(TimedRun());
    PlainTimes times;
    PlainFetchAll(urls, times);
    plainMs.push_back(times.TotalMs());
    if (times.TotalMs() <= Min(plainMs)) plainSteps = times;
  }
  Phases phases;
  FetchSteps fetchSteps;
  for (int round = 0; round < kPhaseRounds; ++round) {
    const Phases measured = MeasurePhases(urls[0]);
    if (round == 0 || measured.Sum() < phases.Sum()) phases = measured;
    const FetchSteps steps = MeasureFetchSteps(urls);
    if (round == 0 || steps.wait < fetchSteps.wait) fetchSteps = steps;
  }

  const FetchWaitTimes fetchWait = MeasureFetchWait(urls[0], kFetchWaitRounds);

  // Resources over repeated runs: the result list is emptied before each run (its lines are the
  // run's product, not a leak).
  Settle(kSettleMs);
  const ProcessFigures before = ReadProcessFigures();
  for (int run = 0; run < kLeakRuns; ++run) TimedRun();
  Settle(kSettleMs);
  const ProcessFigures after = ReadProcessFigures();

  // Automation objects of one more run, after a check that a kept object is counted.
  std::string watchFailure;
  const bool watching = WatchPlatformKinds(watchFailure);
  CensusCount selfCheck, census;
  if (watching) {
    StartCensus();
    ComObject* kept = nullptr;
    {
      ComObject pattern;
      Create(pattern, "VBScript.RegExp");
      kept = new ComObject(pattern);
    }
    selfCheck = StopCensus();
    delete kept;
    StartCensus();
    TimedRun();
    Settle(kSettleMs);
    census = StopCensus();
    UnwatchAll();
  }
  const ProcessFigures atEnd = ReadProcessFigures();
  const bool censusWorks = watching && selfCheck.alive == 1;

  const double bestRun = Min(runMs), bestPlain = Min(plainMs);
  const double ratio = (bestRun - kPauseAfterPageMs) / bestPlain;
  // The system's own figures where it gives them (Wine gives 0), otherwise the counted ones.
  const bool privateReported = before.privateKb > 0;
  const double privateBefore = privateReported ? before.privateKb : before.committedPrivateKb;
  const double leakKb = (privateReported ? after.privateKb : after.committedPrivateKb) - privateBefore;
  const bool handlesReported = before.handles > 0;
  const DWORD handlesBefore = handlesReported ? before.handles : before.openHandles;
  const DWORD handlesAfter = handlesReported ? after.handles : after.openHandles;
  const double peakMb = atEnd.peakWorkingSetMb;
  const std::string yes = "yes", no = "NO";

  std::vector<Row> rows;
  const auto ms = [](double value) { return Format("%.1f ms", value); };
  rows.push_back({"run: button to end, fastest of 5", ms(bestRun), "plain " + ms(bestPlain), "", ""});
  rows.push_back({"run: button to end, median of 5", ms(Median(runMs)), "plain " + ms(Median(plainMs)), "", ""});
  rows.push_back({"run minus 300 ms pause / plain client", Format("%.2f", ratio), "1.00", "<= 1.3",
                  ratio <= kRatioTarget ? yes : no});
  rows.push_back({"run minus pause minus plain client", ms(bestRun - kPauseAfterPageMs - bestPlain), "", "", ""});
  rows.push_back({"phase fetch (46 FetchPage)", ms(phases.fetch), "plain " + ms(bestPlain), "", ""});
  rows.push_back({"  fetch: create request objects", ms(fetchSteps.create), "plain open " + ms(plainSteps.openMs), "", ""});
  rows.push_back({"  fetch: Open, headers, time-outs", ms(fetchSteps.openAndHeaders), "", "", ""});
  rows.push_back({"  fetch: Send", ms(fetchSteps.send), "plain send " + ms(plainSteps.sendMs), "", ""});
  rows.push_back({"  fetch: WaitForResponse", ms(fetchSteps.wait), "plain read " + ms(plainSteps.readMs), "", ""});
  rows.push_back({"  fetch: ResponseBody to bytes", ms(fetchSteps.body), "plain close " + ms(plainSteps.closeMs), "", ""});
  rows.push_back({"  fetch of the list page, average of 20", ms(fetchWait.fetchPageMs),
                  "own wait " + ms(fetchWait.ownWaitMs), "", fetchWait.sameBytes ? "" : "bytes differ"});
  rows.push_back({"phase conversion (46 PageBytesToText)", ms(phases.conversion), "", "", ""});
  rows.push_back({"  what-if: no composite check (46 pages)", ms(phases.conversionWithoutCompositeCheck), "", "", ""});
  rows.push_back({"phase link and phone patterns", ms(phases.patterns), "", "", ""});
  rows.push_back({"phase markers (90 GetTextBetween)", ms(phases.markers), "", "", ""});
  rows.push_back({"phase list controls", ms(phases.controls), "", "", ""});
  rows.push_back({"phases together + 300 ms pause", ms(phases.Sum() + kPauseAfterPageMs), "run " + ms(bestRun), "", ""});
  rows.push_back({"peak working set", Format("%.1f MB", peakMb), Format("start %.1f MB", atStart.workingSetMb),
                  "<= 64 MB", peakMb <= kPeakTargetMb ? yes : no});
  rows.push_back({privateReported ? "private bytes growth over 20 runs" : "committed private memory growth, 20 runs",
                  Format("%.0f KB", leakKb), Format("%.0f KB before", privateBefore), "<= 1024 KB",
                  leakKb <= kLeakTargetKb ? yes : no});
  rows.push_back({handlesReported ? "handle count after 20 runs" : "open handles after 20 runs (counted)",
                  std::to_string(handlesAfter), std::to_string(handlesBefore), "equal",
                  handlesAfter <= handlesBefore ? yes : no});
  rows.push_back({"windows of the process after 20 runs", std::to_string(after.windows),
                  std::to_string(before.windows), "equal", after.windows <= before.windows ? yes : no});
  const bool guiCounted = before.gdiObjects + before.userObjects + after.gdiObjects + after.userObjects > 0;
  rows.push_back({"GDI objects after 20 runs", std::to_string(after.gdiObjects), std::to_string(before.gdiObjects),
                  "equal", guiCounted ? (after.gdiObjects <= before.gdiObjects ? yes : no) : "not counted"});
  rows.push_back({"USER objects after 20 runs", std::to_string(after.userObjects), std::to_string(before.userObjects),
                  "equal", guiCounted ? (after.userObjects <= before.userObjects ? yes : no) : "not counted"});
  rows.push_back({"automation objects seen in one run", std::to_string(census.seen),
                  "destroyed " + std::to_string(census.destroyed), "", censusWorks ? "" : "not counted"});
  rows.push_back({"automation objects alive after the run", std::to_string(census.alive), "0", "0",
                  censusWorks ? (census.alive == 0 ? yes : no) : "not counted"});
  PrintTable(rows);
  if (!watching) std::printf("automation objects: %s\n", watchFailure.c_str());
  if (watching && !censusWorks) std::printf("automation objects: a kept object was not counted\n");
  std::printf("pages: list page %zu bytes, %d listings of %zu bytes on average; %zu result lines a run\n",
              expected.listPageBytes, kListings, expected.listingBytes / kListings, expected.lines.size());

  if (!privateReported) std::printf("note: PrivateUsage is 0 here; committed private regions were added up instead\n");
  if (!handlesReported) std::printf("note: GetProcessHandleCount gives 0 here; open handle values were counted instead\n");
  if (!guiCounted) std::printf("note: GetGuiResources gives 0 here; the windows of the process were counted instead\n");
  std::printf("wine_result run_vs_plain_client=%.2f run_ms=%.1f plain_ms=%.1f peak_ws_mb=%.1f "
              "leak_kb_per_20_runs=%.0f handles_before=%lu handles_after=%lu windows_before=%lu windows_after=%lu "
              "objects_alive=%ld census=%s\n",
              ratio, bestRun, bestPlain, peakMb, leakKb, handlesBefore, handlesAfter, before.windows,
              after.windows, census.alive, censusWorks ? "yes" : "no");
  std::fflush(stdout);
  DestroyAllProgramWindows();
  return 0;
}

}  // namespace
}  // namespace harvester::bench

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--serve")
    return harvester::bench::ServeSite(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
  return harvester::bench::Main();
}
