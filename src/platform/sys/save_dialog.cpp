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

std::optional<std::string> ChooseSaveFile(const std::string& title) {
  std::string chosen;
  switch (ChooseSaveFileWithPortal(title, &chosen)) {
    case PortalResult::kChosen:
      return chosen;
    case PortalResult::kCancelled:
      // The user has seen a dialog and closed it: no second one.
      return std::nullopt;
    case PortalResult::kNoPortal:
      break;
  }
  bool accepted = false;
  if (ProgramOnPath("zenity")) {
    accepted = RunAndCapture({"zenity", "--file-selection", "--save", "--confirm-overwrite",
                              "--title=" + title, "--file-filter=Sound Files (*.wav) | *.wav"},
                             &chosen);
  } else if (ProgramOnPath("kdialog")) {
    const char* home = std::getenv("HOME");
    accepted = RunAndCapture({"kdialog", "--title", title, "--getsavefilename", home ? home : ".",
                              "*.wav|Sound Files (*.wav)"},
                             &chosen);
  }
  chosen = FirstLine(chosen);
  if (!accepted || chosen.empty()) return std::nullopt;
  return chosen;
}

}  // namespace vt::sys
