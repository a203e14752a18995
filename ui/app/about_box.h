#pragma once
// CAboutBox: the modal "About..." box that the main window shows from its help button. It shows
// the application icon, the product name and version, a link to the maker's web site and one
// that starts a new mail to the support address, and a "Help" button that opens "help.html"
// from the program folder. It closes with the title bar's close button or Escape and stores
// nothing. See converter_app.h for how the main window calls it.

#include <QDialog>
#include <string>

namespace orvalis {

class CLinkLabel;
class LinkLauncher;

inline constexpr char kProductText[] = "Kestrune Orvalis";
// The build's version (the CMake project's), the one orvalis-cli --version and the help page show.
inline constexpr char kVersionText[] = "Version: " ORVALIS_VERSION;
inline constexpr char kMakerSiteText[] = "orvalis.kestrune.example";
inline constexpr char kMakerSiteUrl[] = "https://orvalis.kestrune.example/";
inline constexpr char kSupportAddress[] = "support@kestrune.example";

class CAboutBox : public QDialog {
  Q_OBJECT

 public:
  // `launcher`: how the links and the help page are opened (default: the desktop).
  // `programFolder`: where "help.html" is looked for (default: the program's own folder).
  explicit CAboutBox(QWidget* parent = nullptr, LinkLauncher* launcher = nullptr,
                     std::string programFolder = {});

 private:
  void OnHelp();

  LinkLauncher* launcher_;
  std::string programFolder_;
  CLinkLabel* site_ = nullptr;
  CLinkLabel* mail_ = nullptr;
};

}  // namespace orvalis
