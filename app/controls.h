#pragma once
// The control operations the run and the save use, addressed by control name in the loaded
// program window. Texts are program text (code page 936). A name no loaded window has gives
// the empty or failed result of the operation.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harvester {

// Edit box: the text it shows now.
std::string EditText(std::string_view control);

// List box: appends text as the new last item with the item value (0 when omitted); the new
// item's index, or -1 when the list box refuses it.
int ListBoxAddItem(std::string_view control, std::string_view text,
                   std::optional<std::intptr_t> value = std::nullopt);
int ListBoxItemCount(std::string_view control);
// The item's text; the empty text for an index outside the list.
std::string ListBoxItemText(std::string_view control, int index);
// Every item's text in list order, the count read once.
std::vector<std::string> ListBoxItems(std::string_view control);

// List view: inserts an empty item at index (at the end when omitted or negative); the new
// item's index, or -1.
int ListViewInsertItem(std::string_view control, std::optional<int> index = std::nullopt);
bool ListViewSetText(std::string_view control, int item, int column, std::string_view text);
int ListViewItemCount(std::string_view control);
// A copy of the cell's text, of any length; the empty text for a cell that does not exist.
std::string ListViewText(std::string_view control, int item, int column = 0);
bool ListViewDeleteAll(std::string_view control);

// Any control with a window: false holds the drawing of its changes, true resumes it and has
// the control drawn as it is now. False when no loaded window has the control.
bool SetControlRedraw(std::string_view control, bool redraw);

}  // namespace harvester
