// The save-file dialog of the desktop portal (org.freedesktop.portal.FileChooser), reached over
// the session bus.
#pragma once

#include <string>
#include <vector>

#include "platform/sys/sys.h"

namespace vt::sys {

enum class PortalResult {
  kNoPortal,   // no session bus, no portal, or the portal failed: use another dialog
  kChosen,     // *choice holds the chosen file and type
  kCancelled,  // the user closed the portal's dialog without choosing
};

// Shows the portal's save dialog with the given file types (it confirms overwriting by itself) and
// waits for the user's answer. Blocks the calling thread; returns early when the portal goes away.
// parent_window: the X window id the dialog belongs to, 0 for none.
PortalResult ChooseSaveFileWithPortal(const std::string& title, unsigned long parent_window,
                                      const std::vector<SaveFileFilter>& filters,
                                      SaveFileChoice* choice);

// "file:///a%20b/c.wav" -> "/a b/c.wav". False for other schemes, remote hosts and bad escapes.
bool FileUriToPath(const std::string& uri, std::string* path);

}  // namespace vt::sys
