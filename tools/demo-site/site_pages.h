#pragma once
// The demo site's pages: a made-up classifieds category on the loopback interface, shaped like
// the mobile list and listing pages the program reads. Every page is a pure function of the
// page number P and the listing number N, so a test can compute what a run must collect.
// All texts here are UTF-8.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harvester::demo {

inline constexpr int kListingsPerPage = 45;

// One listing as its page shows it.
struct Listing {
  std::string title;
  std::string contact;
  std::vector<std::string> phones;  // one or two, in page order
};

// The listing N (1..kListingsPerPage) of list page P (1 and up).
Listing ListingOf(int page, int number);

// "http://<host>/listing/P-N.html": how the list page writes the link to a listing.
std::string ListingUrl(std::string_view host, int page, int number);

// The list page P: kListingsPerPage links to its listings, in order, among other markup.
std::string ListPage(std::string_view host, int page);

// The page of listing N of list page P.
std::string ListingPage(int page, int number);

// The result lines a run over list page P collects: for each listing in order the contact line,
// the title line, then one phone line per number.
std::vector<std::string> ResultLines(int page);

struct Answer {
  int status = 404;
  std::string body;
};

// The answer to a GET of target ("/path?query"):
//   /sh_shouji/?...page=P...  the list page P
//   /listing/P-N.html         the listing page
//   anything else             404
Answer AnswerFor(std::string_view host, std::string_view target);

// The port of "host[:port]" (80 when none is written); nullopt when the port is not a number
// from 1 to 65535.
std::optional<unsigned short> PortOf(std::string_view host);

}  // namespace harvester::demo
