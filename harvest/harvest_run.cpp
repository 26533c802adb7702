#include "harvest/harvest_run.h"

#include <windows.h>

#include <climits>

#include "automation/regex_object.h"
#include "harvest/fetch.h"
#include "harvest/page_count.h"
#include "harvest/page_text.h"
#include "harvest/text_search.h"

namespace harvester {
namespace {

// The link search cuts lines after the link pattern's closing: the pattern ends in its lazy group and that.
constexpr std::string_view kLinkPatternText = kLinkPattern;
constexpr std::string_view kLinkClosingText = kLinkClosing;
static_assert(kLinkPatternText.ends_with(kLinkClosingText) &&
              kLinkPatternText.substr(0, kLinkPatternText.size() - kLinkClosingText.size()).ends_with("(.*?)"));

// A page counter this far below the page count still begins another page.
constexpr double kLoopTolerance = -1e-07;
constexpr ULONGLONG kResultsDrawnEveryMs = 250;

std::string& SiteHostValue() {
  static std::string host = SITE_HOST;
  return host;
}

std::string Between(std::string_view text, std::string_view startMarker, std::string_view endMarker) {
  int position = 0;
  return GetTextBetween(text, startMarker, endMarker, position);
}

// Drawing a list control as it changes costs far more than the change: on some systems every
// added line draws the list's scroll bar at once, a few milliseconds each. And the window is
// drawn only while the run waits for a response. So during a run the link list, which lies
// outside the visible part of the window, is not drawn at all, and the result list is drawn
// after the lines of a listing at most every kResultsDrawnEveryMs. Both are drawn as they are
// when the run ends.
class ListDrawing {
 public:
  explicit ListDrawing(RunHost& host) : host_(host) { host_.HoldLinkDrawing(true); }
  ListDrawing(const ListDrawing&) = delete;
  ListDrawing& operator=(const ListDrawing&) = delete;
  ~ListDrawing() {
    host_.HoldLinkDrawing(false);
    if (!resultsDrawn_) host_.HoldResultDrawing(false);
  }

  void BeforeResultLines() {
    if (!resultsDrawn_) return;
    host_.HoldResultDrawing(true);
    resultsDrawn_ = false;
  }
  void AfterResultLines() {
    const ULONGLONG now = GetTickCount64();
    if (resultsDrawn_ || now - lastDrawn_ < kResultsDrawnEveryMs) return;
    host_.HoldResultDrawing(false);
    resultsDrawn_ = true;
    lastDrawn_ = now;
  }

 private:
  RunHost& host_;
  bool resultsDrawn_ = true;
  ULONGLONG lastDrawn_ = GetTickCount64();
};

// One run's objects and the host it works for.
class Run {
 public:
  explicit Run(RunHost& host) : host_(host), drawing_(host) {}

  bool AnotherPage(int pagesBegun) {
    if (host_.ShouldStop()) return false;
    if (pagesBegun == INT_MAX) return false;  // the counter cannot go further
    return pagesBegun - ReadPageCount(host_.PageCountText()) < kLoopTolerance;
  }

  // One list page: its links parked in the host, then every listing they lead to.
  void HarvestListPage(int page) {
    CollectLinks(PageText(ListPageAddress(page)));
    const int listings = host_.ParkedLinkCount();
    for (int item = 0; item < listings && !host_.ShouldStop(); ++item) HarvestListing(host_.ParkedLink(item));
    if (!host_.ShouldStop()) Sleep(kPauseAfterPageMs);
    host_.DropParkedLinks();
  }

  // The request object goes before the pattern object.
  void ReleaseRequest() { Clear(request_); }

 private:
  std::string PageText(const std::string& url) {
    VariantBytes body = FetchPageBody(request_, url, [this] { return host_.ShouldStop(); });
    host_.StepDone(RunStep::kFetched);
    std::string text = PageBytesToText(std::move(body));
    host_.StepDone(RunStep::kConverted);
    return text;
  }

  // Fills the link list with the listing links of one list page, in document order.
  void CollectLinks(std::string listPage) {
    links_.Search(std::move(listPage));
    const int links = pattern_.GetMatchCount();
    for (int i = 1; i <= links; ++i) {
      const std::string link = pattern_.GetSubMatchText(i, 1);
      host_.StepDone(RunStep::kSearched);
      host_.ParkLink(link);
    }
    host_.StepDone(RunStep::kSearched);
  }

  // Fetches one listing and appends its lines: contact, title, then every phone number.
  // A listing given up because the run stops gives no lines.
  void HarvestListing(const std::string& url) {
    const std::string page = PageText(url);
    if (host_.ShouldStop()) return;
    const std::string title = Between(page, kTitleStart, kTitleEnd);
    const std::string contact = Between(page, kContactStart, kContactEnd);
    host_.StepDone(RunStep::kCut);
    drawing_.BeforeResultLines();
    AddLine(kContactPrefix, contact);
    AddLine(kTitlePrefix, title);
    // The phone pattern needs no cut: every opening holds a quote, which closes a match begun
    // at the opening before it, so its scans never overlap and the search is linear as it is.
    pattern_.Search(kPhonePattern, page);
    const int phones = pattern_.GetMatchCount();
    for (int i = 1; i <= phones; ++i) {
      const std::string phone = pattern_.GetSubMatchText(i, 1);
      host_.StepDone(RunStep::kSearched);
      AddLine(kPhonePrefix, phone);
    }
    host_.StepDone(RunStep::kSearched);
    drawing_.AfterResultLines();
  }

  void AddLine(std::string_view prefix, std::string_view value) {
    std::string line(prefix);
    line += value;
    host_.AddResultLine(line);
  }

  RunHost& host_;
  RegexObject pattern_;
  LinkSearch links_{pattern_};
  ComObject request_;
  ListDrawing drawing_;
};

}  // namespace

// The line breaks of program text that this engine's "." does not take, asked of the pattern
// object once: Microsoft documents the line feed alone, Wine's object also stops at the carriage
// return. A break counts only where the object names it, so a probe that fails cuts no line.
const std::string& LinkSearch::LineBreaks() {
  if (!lineBreaks_) {
    std::string breaks;
    pattern_.Search("(?!.)[\\n\\r]", "\n\r");
    for (int i = 1; i <= pattern_.GetMatchCount(); ++i) {
      const std::string unit = pattern_.GetMatchText(i);
      if (unit == "\n" || unit == "\r") breaks += unit;
    }
    lineBreaks_ = std::move(breaks);
  }
  return *lineBreaks_;
}

void LinkSearch::Search(std::string listPage) {
  const std::string& breaks = LineBreaks();
  pattern_.Search(kLinkPattern, CutAfterLastClosings(std::move(listPage), kLinkClosing, breaks));
}

const std::string& SiteHost() { return SiteHostValue(); }

void SetSiteHost(std::string_view host) { SiteHostValue() = host; }

std::string ListPageAddress(int page) {
  return "http://" + SiteHost() + "/sh_shouji/?page=" + std::to_string(page) +
         "&url=shouji&pageSize=45&deal_type=1&agent=1&ifid=qz3g_list_next_wu";
}

void HarvestRun(RunHost& host) {
  Run run(host);
  for (int page = 0; run.AnotherPage(page);) run.HarvestListPage(++page);
  run.ReleaseRequest();
}

}  // namespace harvester
