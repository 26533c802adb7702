#pragma once
// Saving the result list as a user does: a left-button press on the list, then the save dialog
// answered with a file name.
#include <string>

#include "tools/driver/harvester_window.h"

namespace harvester::driver {

// Presses the result list, types path (a Windows path) into the dialog's file name box,
// confirms, answers a replace question with Yes and waits until the program has written the
// file. Returns the path of the written file. Throws Failure.
std::wstring Save(Session& session, const std::wstring& path);

}  // namespace harvester::driver
