#pragma once
// Saving the result list as a user does: a left-button press on the list or Ctrl+S, then the
// save dialog answered with a file type and a file name.
#include <string>

#include "tools/driver/harvester_window.h"

namespace harvester::driver {

// The file types of the save dialog, in its order.
enum class SavedType { kText, kTable };

// Opens the save dialog (the text with a left press on the result list, the table with Ctrl+S),
// chooses the type, types path (a Windows path) into the dialog's file name box, confirms,
// answers a replace question with Yes and waits until the program has written the file.
// Returns the path of the written file. Throws Failure.
std::wstring Save(Session& session, const std::wstring& path, SavedType type);

}  // namespace harvester::driver
