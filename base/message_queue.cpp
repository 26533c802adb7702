#include "base/message_queue.h"

namespace harvester {

bool DispatchQueuedMessages(bool (*preTranslate)(const MSG& message)) {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));  // leave it for the loop that owns it
      return false;
    }
    if (preTranslate && preTranslate(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return true;
}

}  // namespace harvester
