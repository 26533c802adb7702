#pragma once
// Copying the result list to the clipboard, for whatever program the user pastes into next.
namespace harvester {

// Every line of the result list, as it stands, on the clipboard as Unicode text, CR LF between
// the lines, so that any program pastes the Chinese text right. An empty list leaves the
// clipboard as it is; a clipboard that another program keeps to itself is reported in a box.
void CopyResults();

}  // namespace harvester
