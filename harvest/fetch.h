#pragma once
// One page of the site by HTTP GET through the platform's request object.
#include <functional>
#include <string_view>

#include "automation/com_object.h"

namespace harvester {

// Asked while a fetch waits: true when whoever wants the page no longer does.
using StopQuery = std::function<bool()>;

// How long a fetch waits for its response, by the program's own clock.
inline constexpr unsigned kResponseWaitMs = 8000;

// While one lives, fetches wait at most the given time for their responses instead of
// kResponseWaitMs; the previous bound comes back when it goes. Only tests make one: the bound
// is theirs to shorten where they wait for it to run out.
class ResponseWaitBound {
 public:
  explicit ResponseWaitBound(unsigned milliseconds);
  ~ResponseWaitBound();
  ResponseWaitBound(const ResponseWaitBound&) = delete;
  ResponseWaitBound& operator=(const ResponseWaitBound&) = delete;

 private:
  unsigned previous_;
};

// Makes a fresh request object in requestObject (the old one is released only once the new
// one exists), sends the GET with the mobile browser's headers and returns the body bytes,
// empty when none arrived within kResponseWaitMs. When shouldStop answers true the fetch is
// given up at once, with empty bytes; it is asked at least every 100 ms of the wait, also while
// messages keep arriving. While it waits, the messages of the thread are dispatched at least
// every 100 ms (the quit message stays queued), whatever the request object's own wait does
// with them.
Bytes FetchPage(ComObject& requestObject, std::string_view url, const StopQuery& shouldStop = {});
// The same fetch, its body left in the array the request object answered with (no bytes when
// none arrived): the page is not copied out of it.
VariantBytes FetchPageBody(ComObject& requestObject, std::string_view url, const StopQuery& shouldStop = {});

// The fetch asks once, on a fresh object of its own, which kind of request object the platform
// gives (does it refuse invalid time-outs, as documented?) and keeps the answer. After this
// the next fetch asks again: for a process that puts another class in the request object's place.
void ForgetRequestObjectKind();

}  // namespace harvester
