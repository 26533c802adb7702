#pragma once
// One page of the site by HTTP GET through the platform's request object.
#include <functional>
#include <string_view>

#include "automation/com_object.h"

namespace harvester {

// Asked while a fetch waits: true when whoever wants the page no longer does.
using StopQuery = std::function<bool()>;

// Makes a fresh request object in requestObject (the old one is released only once the new
// one exists), sends the GET with the mobile browser's headers and returns the body bytes,
// empty when none arrived within 8 seconds by the program's own clock. When shouldStop
// answers true the fetch is given up at once, with empty bytes; it is asked about every
// 100 ms of the wait, also while messages keep arriving.
Bytes FetchPage(ComObject& requestObject, std::string_view url, const StopQuery& shouldStop = {});
// The same fetch, its body left in the array the request object answered with (no bytes when
// none arrived): the page is not copied out of it.
VariantBytes FetchPageBody(ComObject& requestObject, std::string_view url, const StopQuery& shouldStop = {});

}  // namespace harvester
