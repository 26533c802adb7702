#pragma once
// The owner of a WinHTTP handle (session, connection or request). Apart from base/owners.h:
// mingw-w64's winhttp.h and wininet.h declare the same names differently, so only a translation
// unit that uses WinHTTP itself includes this.
#include <windows.h>

#include <winhttp.h>

#include "base/owners.h"

namespace harvester {

namespace owner_traits {

struct Internet {
  using Value = HINTERNET;
  static Value None() noexcept { return nullptr; }
  static bool Close(Value value) noexcept { return WinHttpCloseHandle(value) != FALSE; }
};

}  // namespace owner_traits

using UniqueInternet = UniqueResource<owner_traits::Internet>;
static_assert(kIsMoveOnlyOwner<UniqueInternet>);

}  // namespace harvester
