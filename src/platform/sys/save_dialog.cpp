#include <cstdlib>

#include "platform/sys/portal_save_dialog.h"
#include "platform/sys/sys.h"

namespace vt::sys {
namespace {

std::string FirstLine(std::string text) {
  const auto end = text.find('\n');
  if (end != std::string::npos) text.resize(end);
  return text;
}

}  // namespace

std::optional<SaveFileChoice> ChooseSaveFile(const std::string& title, unsigned long parent_window,
                                             const std::vector<SaveFileFilter>& filters) {
  SaveFileChoice choice;
  switch (ChooseSaveFileWithPortal(title, parent_window, filters, &choice)) {
    case PortalResult::kChosen:
      return choice;
    case PortalResult::kCancelled:
      // The user has seen a dialog and closed it: no second one.
      return std::nullopt;
    case PortalResult::kNoPortal:
      break;
  }
  // Neither zenity nor kdialog tells which type was left chosen: the typed name decides.
  std::string chosen;
  bool accepted = false;
  if (ProgramOnPath("zenity")) {
    std::vector<std::string> command{"zenity", "--file-selection", "--save", "--confirm-overwrite",
                                     "--title=" + title};
    for (const SaveFileFilter& filter : filters)
      command.push_back("--file-filter=" + filter.name + " | " + filter.pattern);
    // Kept above the recorder and given the keyboard when the recorder is clicked.
    if (parent_window != 0) {
      command.push_back("--modal");
      command.push_back("--attach=" + std::to_string(parent_window));
    }
    // On the recorder's own X display even in a Wayland session, where GTK would otherwise open
    // it as a Wayland window that the recorder (on XWayland) can neither own nor raise.
    accepted = RunAndCapture(command, &chosen, {"GDK_BACKEND=x11"});
  } else if (ProgramOnPath("kdialog")) {
    const char* home = std::getenv("HOME");
    std::string kde_filters;
    for (const SaveFileFilter& filter : filters) {
      if (!kde_filters.empty()) kde_filters += '\n';
      kde_filters += filter.pattern + "|" + filter.name;
    }
    std::vector<std::string> command{"kdialog", "--title", title};
    if (parent_window != 0) {
      command.push_back("--attach");
      command.push_back(std::to_string(parent_window));
    }
    command.insert(command.end(), {"--getsavefilename", home ? home : ".", kde_filters});
    accepted = RunAndCapture(command, &chosen, {"QT_QPA_PLATFORM=xcb"});
  }
  chosen = FirstLine(chosen);
  if (!accepted || chosen.empty()) return std::nullopt;
  return SaveFileChoice{chosen, -1};
}

}  // namespace vt::sys
