// How often the run holds a whole listing page: every buffer of about a page's size that the
// run allocates for one listing, counted through the program's heap and the task allocator.
// What the request object allocates for a body is its own (and differs between systems): it
// is measured here with the body read by a bare Invoke, and the program may add nothing to it
// but the one string it hands the pattern object.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "automation/calls.h"
#include "base/owners.h"
#include "harvest/fetch.h"
#include "harvest/page_text.h"
#include "tests/harvest/run_fixture.h"
#include "tests/support/allocation_census.h"

namespace harvester {
namespace {

using testing::AllocationCensus;
using testing::AllocationCount;
using testing::kListPath;
using testing::Listing;
using testing::Page;
using testing::Utf8;

// A listing of about 300 KB of UTF-8, mostly Chinese, as the site's listings are.
std::string LongListing(const wchar_t* contact) {
  std::string page = Listing(L"整页", contact, {"13800000001", "13800000002"});
  const std::string filler = Utf8(L"二手房出租，交通便利，拎包入住。");
  while (page.size() < 300u * 1024) page += filler;
  return page;
}

// A third of a UTF-8 page: its UTF-16 form and its program text are two thirds of it, and a
// list page or a header is far smaller.
size_t ThresholdFor(const std::string& page) { return page.size() / 3; }

// The request object's own page-size allocations for one fetch of url: the program's request,
// then "ResponseBody" read with a bare IDispatch::Invoke, outside the program's call layer.
// Sets body to what was read.
AllocationCount PlatformAllocationsOfAFetch(const std::string& url, size_t threshold, std::string& body) {
  ComObject request;
  if (!Create(request, "Winhttp.WinHttpRequest.5.1")) return {-1, -1};
  ComPtr<IDispatch> dispatch;
  request.Get()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Put()));
  DISPID id = 0;
  OLECHAR name[] = L"ResponseBody";
  LPOLESTR names[] = {name};
  if (!dispatch || FAILED(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return {-1, -1};
  VARIANT result;
  VariantInit(&result);
  AllocationCount count;
  {
    AllocationCensus census(threshold);
    if (!census.Started()) return {-1, -1};
    CallMethod(request, "Open", {"GET", url, true});
    CallMethod(request, "Send");
    for (int i = 0; i < 8 && !CallBoolMethod(request, "WaitForResponse", {std::int32_t{1}}); ++i) {
    }
    DISPPARAMS none = {};
    dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    count = census.Count();
  }
  Variant held(result);
  VariantClear(&result);
  const Bytes bytes = ToBytes(held);
  body.assign(bytes.begin(), bytes.end());
  return count;
}

class PageCopies : public testing::HarvestRunTest {};

TEST_F(PageCopies, OneListingIsHeldOnlyInTheFormsItPassesThrough) {
  const std::string listing = LongListing(L"甲");
  server_.Route(kListPath, Page(ListPage({"/l/1.html"})));
  server_.Route("/l/1.html", Page(listing));
  std::string received;
  const AllocationCount platform = PlatformAllocationsOfAFetch(server_.Url("/l/1.html"), ThresholdFor(listing), received);
  ASSERT_EQ(received, listing);
  ASSERT_GE(platform.taskAllocator, 1) << "the body's array at least";
  EXPECT_EQ(platform.program, 0);
  AllocationCount count;
  {
    AllocationCensus census(ThresholdFor(listing));
    ASSERT_TRUE(census.Started());
    ClickStart();
    count = census.Count();
  }
  const std::vector<std::string> expected = {"联系人：甲", "标题文本：整页", "电话：13800000001", "电话：13800000002"};
  ASSERT_EQ(Lines(), expected);
  std::printf("one listing: %d page-size buffers of the program, %d of the task allocator (%d the request object's)\n",
              count.program, count.taskAllocator, platform.taskAllocator);
  // The program's: the UTF-16 form, the program text, and the pattern object's copy of its subject.
  EXPECT_EQ(count.program, 3);
  // Beside the request object's own: the subject as a string for the pattern object.
  EXPECT_EQ(count.taskAllocator, platform.taskAllocator + 1);
}

TEST_F(PageCopies, FetchPageBodyAddsNothingToTheRequestObjectsOwn) {
  const std::string listing = LongListing(L"丙");
  server_.Route("/l/1.html", Page(listing));
  server_.Route("/empty", Page(""));
  std::string received;
  const AllocationCount platform = PlatformAllocationsOfAFetch(server_.Url("/l/1.html"), ThresholdFor(listing), received);
  ASSERT_EQ(received, listing);
  ComObject request;
  AllocationCount count;
  VariantBytes body;
  {
    AllocationCensus census(ThresholdFor(listing));
    ASSERT_TRUE(census.Started());
    body = FetchPageBody(request, server_.Url("/l/1.html"));
    count = census.Count();
  }
  EXPECT_EQ(std::string(body.Get().begin(), body.Get().end()), listing);
  EXPECT_EQ(count.program, 0);
  EXPECT_EQ(count.taskAllocator, platform.taskAllocator);
  const Bytes copied = FetchPage(request, server_.Url("/l/1.html"));
  EXPECT_EQ(std::string(copied.begin(), copied.end()), listing);
  EXPECT_EQ(PageBytesToText(std::move(body)), PageBytesToText(copied));
  EXPECT_TRUE(FetchPageBody(request, server_.Url("/empty")).Empty());
  const size_t requests = server_.RequestCount();
  EXPECT_TRUE(FetchPageBody(request, "").Empty());
  EXPECT_EQ(server_.RequestCount(), requests) << "nothing sent, nothing read";
}

}  // namespace
}  // namespace harvester
