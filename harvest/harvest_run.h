#pragma once
// The harvest run behind the start button: list pages 1 to N of the site's category, every
// listing on them, and the result lines each listing gives.
#include <string>
#include <string_view>

namespace harvester {

// The site's mobile host ("name" or "name:port") that list page addresses are built on.
const std::string& SiteHost();
void SetSiteHost(std::string_view host);

// The address of list page p.
std::string ListPageAddress(int page);

}  // namespace harvester
