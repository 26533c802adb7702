#pragma once
// The label kind: a window class of the program's own that draws its one line of text.
#include <windows.h>

namespace harvester {

inline constexpr wchar_t kLabelClass[] = L"HarvesterLabel";

// Registers the label class for instance; true when it is registered.
bool RegisterLabelClass(HINSTANCE instance);

}  // namespace harvester
