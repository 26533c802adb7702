// FindText and GetTextBetween over generated pages of 1 MB and 8 MB, each beside
// std::string_view::find on the same bytes as the baseline. After the benchmarks the program
// prints one "figure" line per page and size and the summary ratios that scripts/bench reads:
//   figure <page> <size> findtext_us=<t> find_us=<t> ... (one per page and size)
//   summary findtext_vs_find=<x> ... findtext_8mb_vs_1mb=<y> ...
// Times are the fastest of the repetitions (other work on the machine only ever adds time).
// The growth from 1 MB to 8 MB is measured with the pages out of the second-level cache.
// "--once <page> <size>" searches one page once instead, for counting instructions.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "harvest/text_search.h"

namespace harvester {
namespace {

constexpr std::size_t kMegabyte = 1024 * 1024;
constexpr std::string_view kTitleStart = "<title>";
constexpr std::string_view kTitleEnd = "</title>";
constexpr std::string_view kContactStart = "&nbsp;</p><p>";
constexpr std::string_view kContactEnd = "</p></div>";

// Program text (code page 936): every two-byte character of this literal is one GBK character.
constexpr std::string_view kChinese =
    "出售二手手机九成新无拆修电池健康屏幕完好配件齐全发票在保价格可议本人自用"
    "因换新机转让同城面交先验货后付款非诚勿扰联系电话微信同号上海市浦东新区"
    "华为小米苹果三星安卓系统内存存储全网通双卡双待原装充电器耳机包装盒说明书";
constexpr std::string_view kFullWidthPunctuation[] = {"，", "。", "；", "、", "！", "："};

// A small fixed generator, so that every run searches the same bytes.
class Random {
 public:
  std::uint32_t Next(std::uint32_t bound) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state_ >> 33) % bound;
  }

 private:
  std::uint64_t state_ = 0x2545F4914F6CDD1DULL;
};

void AppendChinese(std::string& page, Random& random, int characters) {
  const std::uint32_t count = static_cast<std::uint32_t>(kChinese.size() / 2);
  for (int i = 0; i < characters; ++i) page.append(kChinese.substr(random.Next(count) * 2, 2));
}

// The listing's markers as the site writes them, close to the end of the page.
std::string Markers() {
  return "<title>出售二手手机</title>\n<div class=\"user\"><p>联系人</p><p>&nbsp;</p><p>王先生</p></div>\n";
}

// Fills page up to size - tail bytes with filler, then the markers, then filler to size.
template <typename Filler>
std::string Page(std::size_t size, Filler filler) {
  constexpr std::size_t kTail = 2048;
  std::string page;
  page.reserve(size + 4096);
  while (page.size() + kTail < size) filler(page);
  page += Markers();
  while (page.size() < size) filler(page);
  page.resize(size);
  return page;
}

// Chinese sentences; about one separator in four is ASCII (a full stop, a line break, digits).
std::string ChinesePage(std::size_t size) {
  Random random;
  return Page(size, [&](std::string& page) {
    AppendChinese(page, random, 8 + static_cast<int>(random.Next(33)));
    switch (random.Next(8)) {
      case 0: page += ". "; break;
      case 1: page += "\r\n"; break;
      default: page += kFullWidthPunctuation[random.Next(6)];
    }
  });
}

// A list page as HTML: tags and attributes with a little Chinese in the text.
std::string HtmlPage(std::size_t size) {
  Random random;
  return Page(size, [&](std::string& page) {
    page += "<li class=\"item\"><a class=\"list-item\" href=\"http://m.example.com/sh_shouji/";
    page += std::to_string(100000 + random.Next(900000));
    page += "x.shtml\"><div class=\"pic\"><img src=\"//img.example.com/p/";
    page += std::to_string(random.Next(1000000));
    page += ".jpg\" alt=\"\"></div><div class=\"info\"><p class=\"title\">";
    AppendChinese(page, random, 6 + static_cast<int>(random.Next(10)));
    page += "</p><p class=\"price\"><span>";
    page += std::to_string(100 + random.Next(9000));
    page += "</span>元</p></div></a></li>\n";
  });
}

// Near-misses of every marker: each breaks off at its last byte, or differs in case.
std::string NearMissPage(std::size_t size) {
  Random random;
  const std::string_view misses[] = {"<title", "<titlE>", "</title", "</Title>", "&nbsp;</p><p",
                                     "&nbsp;</P><p>", "</p></div", "</p></DIV>", "<", "&"};
  return Page(size, [&](std::string& page) { page += misses[random.Next(10)]; });
}

// The hardest pages for the character rule: Chinese without a single ASCII byte before the
// markers, and a page where the marker's bytes keep turning up on second bytes ("\xB0<" is one
// character), each of which must be rejected.
std::string ChineseOnlyPage(std::size_t size) {
  Random random;
  return Page(size, [&](std::string& page) { AppendChinese(page, random, 64); });
}

std::string SecondBytePage(std::size_t size) {
  return Page(size, [](std::string& page) { page += "\xB0<title>\xB0&nbsp;</p><p>"; });
}

struct PageKind {
  const char* name;
  std::string (*make)(std::size_t);
};

const PageKind kPages[] = {
    {"chinese", ChinesePage},
    {"html", HtmlPage},
    {"near-miss", NearMissPage},
    {"chinese-only", ChineseOnlyPage},
    {"second-byte", SecondBytePage},
};
const std::size_t kSizes[] = {1 * kMegabyte, 8 * kMegabyte};

std::vector<std::string>& Pages() {
  static std::vector<std::string> pages;
  return pages;
}

// Where the search must end up on a page: the first occurrence that begins a character, found
// by walking the characters from the first byte (the plain form of the rule, used to check).
std::size_t BoundaryOccurrence(std::string_view text, std::string_view marker) {
  std::size_t boundary = 0;
  for (std::size_t at = text.find(marker); at != std::string_view::npos; at = text.find(marker, at + 1)) {
    while (boundary < at) boundary += static_cast<unsigned char>(text[boundary]) > 0x80 ? 2 : 1;
    if (boundary == at) return at;
  }
  return std::string_view::npos;
}

// The baseline visits the same candidates as FindText: on most pages the first occurrence is
// the answer; where earlier occurrences begin on second bytes, find is asked again after each.
std::size_t FindSame(std::string_view text, std::string_view marker, std::size_t from, std::size_t answer) {
  std::size_t at = text.find(marker, from);
  while (at < answer) at = text.find(marker, at + 1);
  return at;
}

struct Answers {
  std::size_t titleStart, titleEnd, contactStart, contactEnd;
};

// The baseline of GetTextBetween: the same searches without the character rule.
std::string FindBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker,
                        std::size_t startAnswer, std::size_t endAnswer) {
  const std::size_t start = FindSame(text, startMarker, 0, startAnswer);
  if (start == std::string_view::npos) return {};
  const std::size_t valueStart = start + startMarker.size();
  const std::size_t end = FindSame(text, endMarker, valueStart, endAnswer);
  if (end == std::string_view::npos) return {};
  return std::string(text.substr(valueStart, end - valueStart));
}

// Bytes written between the iterations of a cold benchmark: more than the second-level cache,
// so that pages of either size come from the same level of the memory hierarchy. A warm 1 MB
// page stays in that cache while an 8 MB one cannot, which makes the memory, not the search,
// the difference between the two sizes.
constexpr std::size_t kEvictionBytes = 8 * kMegabyte;

void EvictSecondLevelCache() {
  static std::vector<unsigned char> buffer(kEvictionBytes);
  static unsigned char round = 0;
  ++round;
  for (std::size_t i = 0; i < buffer.size(); i += 64) buffer[i] = round;
  benchmark::ClobberMemory();
}

struct Subject {
  const std::string* page;
  Answers answers;
  bool cold;
};

template <typename Search>
void Measure(benchmark::State& state, const Subject& subject, Search search) {
  for (auto _ : state) {
    if (subject.cold) {
      state.PauseTiming();
      EvictSecondLevelCache();
      state.ResumeTiming();
    }
    search(std::string_view(*subject.page), subject.answers);
  }
}

// Each iteration looks for both markers of the listing, as the run does.
void FindTextBench(benchmark::State& state, Subject subject) {
  Measure(state, subject, [](std::string_view text, const Answers&) {
    benchmark::DoNotOptimize(FindText(text, kTitleStart, 1));
    benchmark::DoNotOptimize(FindText(text, kContactStart, 1));
  });
}

void FindBench(benchmark::State& state, Subject subject) {
  Measure(state, subject, [](std::string_view text, const Answers& answers) {
    benchmark::DoNotOptimize(FindSame(text, kTitleStart, 0, answers.titleStart));
    benchmark::DoNotOptimize(FindSame(text, kContactStart, 0, answers.contactStart));
  });
}

void BetweenBench(benchmark::State& state, Subject subject) {
  Measure(state, subject, [](std::string_view text, const Answers&) {
    int position = 0;
    benchmark::DoNotOptimize(GetTextBetween(text, kTitleStart, kTitleEnd, position));
    position = 0;
    benchmark::DoNotOptimize(GetTextBetween(text, kContactStart, kContactEnd, position));
  });
}

void FindBetweenBench(benchmark::State& state, Subject subject) {
  Measure(state, subject, [](std::string_view text, const Answers& answers) {
    benchmark::DoNotOptimize(FindBetween(text, kTitleStart, kTitleEnd, answers.titleStart, answers.titleEnd));
    benchmark::DoNotOptimize(
        FindBetween(text, kContactStart, kContactEnd, answers.contactStart, answers.contactEnd));
  });
}

// Keeps the fastest time of every benchmark over its repetitions, in microseconds.
class FastestReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      const std::string name = run.run_name.function_name;
      const double us = run.GetAdjustedRealTime();
      auto found = fastest.find(name);
      if (found == fastest.end() || us < found->second) fastest[name] = us;
    }
  }
  std::map<std::string, double> fastest;
};

std::string BenchName(const char* what, const char* page, std::size_t size) {
  return std::string(what) + "/" + page + "/" + std::to_string(size / kMegabyte) + "mb";
}

std::vector<Answers>& PageAnswers() {
  static std::vector<Answers> answers;
  return answers;
}

// Finds where every search must end up on each page and checks that FindText and GetTextBetween
// get there: near the end of the page, or the figures would time a search that stops early.
bool CheckPages() {
  for (const std::string& page : Pages()) {
    Answers answers;
    answers.titleStart = BoundaryOccurrence(page, kTitleStart);
    answers.contactStart = BoundaryOccurrence(page, kContactStart);
    if (answers.titleStart == std::string_view::npos || answers.contactStart == std::string_view::npos ||
        answers.titleStart < page.size() - 4096)
      return false;
    answers.titleEnd = page.find(kTitleEnd, answers.titleStart);
    answers.contactEnd = page.find(kContactEnd, answers.contactStart);
    if (FindText(page, kTitleStart, 1) != static_cast<int>(answers.titleStart) + 1) return false;
    if (FindText(page, kContactStart, 1) != static_cast<int>(answers.contactStart) + 1) return false;
    int position = 0;
    if (GetTextBetween(page, kTitleStart, kTitleEnd, position) != "出售二手手机") return false;
    position = 0;
    if (GetTextBetween(page, kContactStart, kContactEnd, position) != "王先生") return false;
    PageAnswers().push_back(answers);
  }
  return true;
}

// One search of each kind on one page, for counting instructions (scripts/bench --profile runs
// this under callgrind, collecting inside these two functions only).
[[gnu::noinline]] int OnceFindText(std::string_view page) {
  return FindText(page, kTitleStart, 1) + FindText(page, kContactStart, 1);
}
[[gnu::noinline]] std::size_t OnceFind(std::string_view page, const Answers& answers) {
  return FindSame(page, kTitleStart, 0, answers.titleStart) + FindSame(page, kContactStart, 0, answers.contactStart);
}

int SearchOnce(std::string_view pageName, std::string_view sizeName) {
  for (const PageKind& kind : kPages) {
    for (std::size_t size : kSizes) {
      if (pageName != kind.name || sizeName != std::to_string(size / kMegabyte) + "mb") continue;
      const std::string page = kind.make(size);
      Answers answers{};
      answers.titleStart = BoundaryOccurrence(page, kTitleStart);
      answers.contactStart = BoundaryOccurrence(page, kContactStart);
      const int found = OnceFindText(page);
      const std::size_t baseline = OnceFind(page, answers);
      std::printf("once %s %s bytes=%zu findtext=%d find=%zu\n", kind.name, sizeName.data(), page.size(), found,
                  baseline);
      return 0;
    }
  }
  std::fprintf(stderr, "text_search_bench: no page %s of %s\n", pageName.data(), sizeName.data());
  return 1;
}

}  // namespace
}  // namespace harvester

int main(int argc, char** argv) {
  using namespace harvester;
  if (argc == 4 && std::string_view(argv[1]) == "--once") return SearchOnce(argv[2], argv[3]);
  for (const PageKind& kind : kPages)
    for (std::size_t size : kSizes) Pages().push_back(kind.make(size));
  if (!CheckPages()) {
    std::fprintf(stderr, "text_search_bench: a generated page lacks its markers\n");
    return 1;
  }

  std::size_t index = 0;
  for (const PageKind& kind : kPages) {
    for (std::size_t size : kSizes) {
      const std::string* page = &Pages()[index];
      const Answers answers = PageAnswers()[index++];
      const auto add = [&](const char* what, void (*bench)(benchmark::State&, Subject), bool cold) {
        benchmark::RegisterBenchmark(BenchName(what, kind.name, size).c_str(), bench, Subject{page, answers, cold})
            ->Unit(benchmark::kMicrosecond);
      };
      add("FindText", FindTextBench, false);
      add("find", FindBench, false);
      add("GetTextBetween", BetweenBench, false);
      add("findBetween", FindBetweenBench, false);
      add("FindText.cold", FindTextBench, true);
      add("find.cold", FindBench, true);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  FastestReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const auto time = [&](const char* what, const char* page, std::size_t size) {
    const auto found = reporter.fastest.find(BenchName(what, page, size));
    return found == reporter.fastest.end() ? 0.0 : found->second;
  };
  // The ratios are the worst over every page (and, for the search, over warm and cold).
  double findTextVsFind = 0, betweenVsFind = 0, growth = 0, findGrowth = 0, warmGrowth = 0, findWarmGrowth = 0;
  const auto worst = [](double& figure, double value, double baseline) {
    if (baseline > 0) figure = std::max(figure, value / baseline);
  };
  for (const PageKind& kind : kPages) {
    for (std::size_t size : kSizes) {
      const double findText = time("FindText", kind.name, size), find = time("find", kind.name, size);
      const double between = time("GetTextBetween", kind.name, size);
      const double findBetween = time("findBetween", kind.name, size);
      const double findTextCold = time("FindText.cold", kind.name, size);
      const double findCold = time("find.cold", kind.name, size);
      std::printf("figure %s %zumb findtext_us=%.2f find_us=%.2f between_us=%.2f find_between_us=%.2f "
                  "findtext_cold_us=%.2f find_cold_us=%.2f\n",
                  kind.name, size / kMegabyte, findText, find, between, findBetween, findTextCold, findCold);
      worst(findTextVsFind, findText, find);
      worst(findTextVsFind, findTextCold, findCold);
      worst(betweenVsFind, between, findBetween);
    }
    const auto growthOf = [&](const char* what) {
      const double small = time(what, kind.name, kSizes[0]);
      return small > 0 ? time(what, kind.name, kSizes[1]) / small : 0.0;
    };
    growth = std::max(growth, growthOf("FindText.cold"));
    findGrowth = std::max(findGrowth, growthOf("find.cold"));
    warmGrowth = std::max(warmGrowth, growthOf("FindText"));
    findWarmGrowth = std::max(findWarmGrowth, growthOf("find"));
  }
  std::printf("summary findtext_vs_find=%.2f between_vs_find=%.2f findtext_8mb_vs_1mb=%.2f "
              "find_8mb_vs_1mb=%.2f findtext_warm_8mb_vs_1mb=%.2f find_warm_8mb_vs_1mb=%.2f\n",
              findTextVsFind, betweenVsFind, growth, findGrowth, warmGrowth, findWarmGrowth);
  return 0;
}
