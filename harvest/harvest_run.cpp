#include "harvest/harvest_run.h"

#include <climits>

#include "app/controls.h"
#include "app/events.h"
#include "app/layout.h"
#include "automation/regex_object.h"
#include "harvest/fetch.h"
#include "harvest/page_count.h"
#include "harvest/page_text.h"
#include "harvest/text_search.h"

namespace harvester {
namespace {

constexpr char kPageCountBox[] = "编辑框2";
constexpr char kLinkList[] = "超级列表框3";
constexpr char kResultList[] = "列表框1";


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
  ListDrawing() { SetControlRedraw(kLinkList, false); }
  ListDrawing(const ListDrawing&) = delete;
  ListDrawing& operator=(const ListDrawing&) = delete;
  ~ListDrawing() {
    SetControlRedraw(kLinkList, true);
    if (!resultsDrawn_) SetControlRedraw(kResultList, true);
  }

  void BeforeResultLines() {
    if (resultsDrawn_) resultsDrawn_ = !SetControlRedraw(kResultList, false);
  }
  void AfterResultLines() {
    const ULONGLONG now = GetTickCount64();
    if (resultsDrawn_ || now - lastDrawn_ < kResultsDrawnEveryMs) return;
    SetControlRedraw(kResultList, true);
    resultsDrawn_ = true;
    lastDrawn_ = now;
  }

 private:
  bool resultsDrawn_ = true;
  ULONGLONG lastDrawn_ = GetTickCount64();
};

void AddResultLine(std::string_view prefix, std::string_view value) {
  std::string line(prefix);
  line += value;
  ListBoxAddItem(kResultList, line);
}

// Fetches one listing and appends its lines: contact, title, then every phone number.
void HarvestListing(RegexObject& pattern, ComObject& request, const std::string& url, ListDrawing& drawing) {
  const std::string page = PageBytesToText(FetchPageBody(request, url));
  const std::string title = Between(page, kTitleStart, kTitleEnd);
  const std::string contact = Between(page, kContactStart, kContactEnd);
  drawing.BeforeResultLines();
  AddResultLine(kContactPrefix, contact);
  AddResultLine(kTitlePrefix, title);
  pattern.Search(kPhonePattern, page);
  const int phones = pattern.GetMatchCount();
  for (int i = 1; i <= phones; ++i) AddResultLine(kPhonePrefix, pattern.GetSubMatchText(i, 1));
  drawing.AfterResultLines();
}

// Fills the link list with the listing links of one list page, in document order.
void CollectLinks(RegexObject& pattern, const std::string& listPage) {
  pattern.Search(kLinkPattern, listPage);
  const int links = pattern.GetMatchCount();
  for (int i = 1; i <= links; ++i) {
    const int item = ListViewInsertItem(kLinkList);
    ListViewSetText(kLinkList, item, 0, pattern.GetSubMatchText(i, 1));
  }
}

bool AnotherPage(int pagesBegun) {
  if (pagesBegun == INT_MAX) return false;  // the counter cannot go further
  return pagesBegun - ReadPageCount(EditText(kPageCountBox)) < kLoopTolerance;
}

}  // namespace

const std::string& SiteHost() { return SiteHostValue(); }

void SetSiteHost(std::string_view host) { SiteHostValue() = host; }

std::string ListPageAddress(int page) {
  return "http://" + SiteHost() + "/sh_shouji/?page=" + std::to_string(page) +
         "&url=shouji&pageSize=45&deal_type=1&agent=1&ifid=qz3g_list_next_wu";
}

// Runs on the GUI thread until every page is done; the window does not react meanwhile.
// The results stay in the result list for the user to save.
void HarvestRun() {
  RegexObject pattern;
  ComObject request;  // released before the pattern object
  {
    ListDrawing drawing;
    for (int page = 0; AnotherPage(page);) {
      ++page;
      CollectLinks(pattern, PageBytesToText(FetchPageBody(request, ListPageAddress(page))));
      const int listings = ListViewItemCount(kLinkList);
      for (int item = 0; item < listings; ++item)
        HarvestListing(pattern, request, ListViewText(kLinkList, item, 0), drawing);
      Sleep(kPauseAfterPageMs);
      ListViewDeleteAll(kLinkList);
    }
  }
  // Clicks and keys made while the window was frozen were meant for a window that did not
  // answer; acting on them now would start another run or open the save dialog unasked.
  DiscardQueuedInput();
}

}  // namespace harvester
