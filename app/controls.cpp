#include "app/controls.h"

#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "app/main_window.h"
#include "base/text_codec.h"

namespace harvester {
namespace {

HWND WindowOf(std::string_view control) {
  Control* found = FindProgramControl(control);
  return found ? found->hwnd : nullptr;
}

}  // namespace

std::string EditText(std::string_view control) {
  HWND hwnd = WindowOf(control);
  if (!hwnd) return {};
  int length = GetWindowTextLengthW(hwnd);
  std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
  length = GetWindowTextW(hwnd, wide.data(), length + 1);
  wide.resize(static_cast<size_t>(length));
  return WideToText(wide);
}

int ListBoxAddItem(std::string_view control, std::string_view text,
                   std::optional<std::intptr_t> value) {
  HWND hwnd = WindowOf(control);
  if (!hwnd) return -1;
  std::wstring wide = TextToWide(text);
  LRESULT index = SendMessageW(hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  if (index < 0) return -1;  // LB_ERR or LB_ERRSPACE
  SendMessageW(hwnd, LB_SETITEMDATA, static_cast<WPARAM>(index), value.value_or(0));
  return static_cast<int>(index);
}

int ListBoxItemCount(std::string_view control) {
  HWND hwnd = WindowOf(control);
  if (!hwnd) return 0;
  LRESULT count = SendMessageW(hwnd, LB_GETCOUNT, 0, 0);
  return count < 0 ? 0 : static_cast<int>(count);
}

std::string ListBoxItemText(std::string_view control, int index) {
  HWND hwnd = WindowOf(control);
  if (!hwnd || index < 0 || index >= ListBoxItemCount(control)) return {};
  LRESULT length = SendMessageW(hwnd, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
  length = SendMessageW(hwnd, LB_GETTEXT, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(wide.data()));
  if (length <= 0) return {};
  wide.resize(static_cast<size_t>(length));
  return WideToText(wide);
}

std::vector<std::string> ListBoxItems(std::string_view control) {
  std::vector<std::string> items(static_cast<size_t>(ListBoxItemCount(control)));
  for (size_t i = 0; i < items.size(); ++i) items[i] = ListBoxItemText(control, static_cast<int>(i));
  return items;
}

int ListViewInsertItem(std::string_view control, std::optional<int> index) {
  HWND hwnd = WindowOf(control);
  if (!hwnd) return -1;
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = index && *index >= 0 ? *index : INT_MAX;
  wchar_t empty[1] = {};
  item.pszText = empty;
  item.lParam = 0;
  return static_cast<int>(SendMessageW(hwnd, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

bool ListViewSetText(std::string_view control, int item, int column, std::string_view text) {
  HWND hwnd = WindowOf(control);
  if (!hwnd) return false;
  std::wstring wide = TextToWide(text);
  LVITEMW cell = {};
  cell.iSubItem = column;
  cell.pszText = wide.data();
  return SendMessageW(hwnd, LVM_SETITEMTEXTW, static_cast<WPARAM>(item),
                      reinterpret_cast<LPARAM>(&cell)) != FALSE;
}

int ListViewItemCount(std::string_view control) {
  HWND hwnd = WindowOf(control);
  return hwnd ? static_cast<int>(SendMessageW(hwnd, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

std::string ListViewText(std::string_view control, int item, int column) {
  HWND hwnd = WindowOf(control);
  if (!hwnd || item < 0 || item >= ListViewItemCount(control) || column < 0) return {};
  // The control copies at most the buffer's size less one; a copy that fills the buffer may
  // have been cut, so the buffer doubles until the text fits with room to spare.
  for (size_t size = 512;; size *= 2) {
    std::vector<wchar_t> buffer(size, L'\0');
    LVITEMW cell = {};
    cell.iSubItem = column;
    cell.pszText = buffer.data();
    cell.cchTextMax = static_cast<int>(size);
    LRESULT length = SendMessageW(hwnd, LVM_GETITEMTEXTW, static_cast<WPARAM>(item),
                                  reinterpret_cast<LPARAM>(&cell));
    if (length < 0) return {};
    if (static_cast<size_t>(length) + 1 < size || size >= (size_t{1} << 26)) {
      return WideToText(std::wstring_view(buffer.data(), static_cast<size_t>(length)));
    }
  }
}

bool ListViewDeleteAll(std::string_view control) {
  HWND hwnd = WindowOf(control);
  return hwnd && SendMessageW(hwnd, LVM_DELETEALLITEMS, 0, 0) != FALSE;
}

bool SetControlRedraw(std::string_view control, bool redraw) {
  HWND hwnd = WindowOf(control);
  if (!hwnd) return false;
  SendMessageW(hwnd, WM_SETREDRAW, redraw ? TRUE : FALSE, 0);
  // Resuming does not invalidate on Windows (Wine's list box invalidates only when a line it
  // added fell on the visible page): the control, its frame with the scroll bar and its
  // children (the list view's header) are drawn anew as they are now.
  if (redraw) RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  return true;
}

}  // namespace harvester
