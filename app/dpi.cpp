#include "app/dpi.h"

#include <windows.h>

#include "base/owners.h"

namespace harvester {

int SystemDpi() {
  const WindowDC screen(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
  return dpi > 0 ? dpi : kLayoutDpi;
}

int ScaleToDpi(int length, int dpi) { return MulDiv(length, dpi, kLayoutDpi); }

}  // namespace harvester
