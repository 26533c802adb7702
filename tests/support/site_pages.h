#pragma once
// Pages shaped like the classified site's mobile pages, in UTF-8, with the markers the program
// reads: on a list page each listing's link as <a class="list-item" href="...">, on a listing
// page the title in <title>, the contact after "&nbsp;</p><p>" up to "</p></div>" and every
// phone number in href="tel:...". What lies around the markers is the caller's. The demo site,
// the harvest tests and the run benchmark all make their pages here.
#include <string>
#include <string_view>
#include <vector>

namespace harvester::site {

struct ListItem {
  std::string url = {};    // written as it is
  std::string inner = {};  // markup inside the link
};

struct ListPage {
  std::string title = {};   // empty: the page has no title element
  std::string header = {};  // markup before the list
  std::vector<ListItem> items = {};
  std::string nextPage = {};  // target of the pager's link; no pager when empty
};

struct ListingPage {
  std::string title = {};    // in <title> and the heading; empty: no title element
  std::string contact = {};  // in the contact block, after the marker
  std::vector<std::string> phones = {};  // one phone link each, in order
  std::string description = {};          // markup between the heading and the contact block
  std::string more = {};                 // markup after the listing's block
};

// The page's head up to and with </head>.
std::string Head(std::string_view title);

std::string Html(const ListPage& page);
std::string Html(const ListingPage& page);

}  // namespace harvester::site
