#pragma once
// One page of the site by HTTP GET through the platform's request object.
#include <string_view>

#include "automation/com_object.h"

namespace harvester {

// Makes a fresh request object in requestObject (the old one is released only once the new
// one exists), sends the GET with the mobile browser's headers and returns the body bytes,
// empty when none arrived within 8 seconds.
Bytes FetchPage(ComObject& requestObject, std::string_view url);
// The same fetch, its body left in the array the request object answered with (no bytes when
// none arrived): the page is not copied out of it.
VariantBytes FetchPageBody(ComObject& requestObject, std::string_view url);

}  // namespace harvester
