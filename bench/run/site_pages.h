#pragma once
// The pages of the benchmark site: one list page of 45 listing links and the listings behind
// them, each a realistic page of about 300 KB of UTF-8 with Chinese text, the title and contact
// markers and two phone links.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace harvester::bench {

struct Listing {
  std::string path;   // "/l/<n>.html"
  std::string body;   // UTF-8
  std::string title, contact;       // program text (code page 936), as the run cuts them
  std::vector<std::string> phones;  // as the phone pattern captures them
};

constexpr int kListings = 45;
constexpr std::size_t kListingBytes = 300 * 1024;

// baseUrl: "http://127.0.0.1:<port>"; the pages are the same for every port and every call.
// The list page links to the listings 1 to count.
std::string MakeListPage(const std::string& baseUrl, int count = kListings);
Listing MakeListing(const std::string& baseUrl, int index, std::size_t size = kListingBytes);

// A short fingerprint of a page (64-bit FNV-1a), so that pages can be checked without keeping them.
unsigned long long Fingerprint(std::string_view bytes);

}  // namespace harvester::bench
