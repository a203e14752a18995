#pragma once
// The local help page, "help.html" in the program's folder, opened with the desktop's default
// handler. The about box's "Help" button calls it; so does the main window's help button while
// a conversion runs:
//
//   orvalis::OpenHelpFile();
//
// A missing help file gives no message; when nothing on the desktop can show it, a message says
// so and shows the page's address to copy (open_failure.h).

#include <string>
#include <string_view>

class QWidget;

namespace orvalis {

class LinkLauncher;

inline constexpr std::string_view kHelpFileName = "help.html";

// Opens `programFolder` + "help.html" (default folder: the program's own, found through
// /proc/self/exe) with `launcher` (default: the desktop). Returns true when the file was handed
// to the launcher; false, and nothing else happens, when the file is missing. When the desktop
// could not show it, the message that says so stands beside `noticeParent`.
bool OpenHelpFile(LinkLauncher* launcher = nullptr, const std::string& programFolder = {},
                  QWidget* noticeParent = nullptr);

}  // namespace orvalis
