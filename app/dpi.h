#pragma once
// The layout's positions and sizes are pixels at 96 DPI; the window is made at the system DPI.
// These turn the one into the other, so that nothing else scales on its own.

namespace harvester {

// The DPI the layout's numbers are written for.
inline constexpr int kLayoutDpi = 96;

// The system DPI as this DPI-aware program sees it: the screen's logical pixels per inch.
int SystemDpi();

// A length of the layout in pixels at dpi, to the nearest pixel.
int ScaleToDpi(int length, int dpi);

}  // namespace harvester
