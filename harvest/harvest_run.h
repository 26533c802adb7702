#pragma once
// The harvest run behind the start button: list pages 1 to N of the site's category, every
// listing on them, and the result lines each listing gives.
#include <optional>
#include <string>
#include <string_view>

#include "harvest/run_host.h"

namespace harvester {

class RegexObject;

// The fixed texts of the run: the patterns its pattern object searches with, the markers it
// cuts listings with, the prefixes of its result lines, and its pause after each list page.
inline constexpr char kLinkPattern[] = "<a class=\"list-item\" href=\"(.*?)\">";
inline constexpr char kPhonePattern[] = "href=\"tel:(.*?)\"";
// What follows the link pattern's lazy group: a link match ends at the first one after its start.
inline constexpr char kLinkClosing[] = "\">";
inline constexpr char kTitleStart[] = "<title>";
inline constexpr char kTitleEnd[] = "</title>";
inline constexpr char kContactStart[] = "&nbsp;</p><p>";
inline constexpr char kContactEnd[] = "</p></div>";
inline constexpr char kContactPrefix[] = "联系人：";
inline constexpr char kTitlePrefix[] = "标题文本：";
inline constexpr char kPhonePrefix[] = "电话：";
inline constexpr unsigned kPauseAfterPageMs = 300;

// The site's mobile host ("name" or "name:port") that list page addresses are built on.
const std::string& SiteHost();
void SetSiteHost(std::string_view host);

// The address of list page p.
std::string ListPageAddress(int page);

// The run's search of a list page for its listing links. A match of the link pattern lies within
// one line (its lazy group takes no line break that the pattern object's "." does not) and ends
// at the first closing after its start; so each line goes to the pattern object only up to its
// last closing. A line of openings that never close then costs nothing, and the search takes
// time linear in the page, whatever the page holds, on either engine.
class LinkSearch {
 public:
  explicit LinkSearch(RegexObject& pattern) : pattern_(pattern) {}
  // The links are then the first groups of the pattern object's matches, in document order.
  void Search(std::string listPage);

 private:
  const std::string& LineBreaks();

  RegexObject& pattern_;
  std::optional<std::string> lineBreaks_;
};

// The run: list pages 1 to the page count (read from the host before every page), every
// listing linked from them, and their result lines, until done or until the host says stop.
// It keeps its links and its lines in the host.
void HarvestRun(RunHost& host);

}  // namespace harvester
