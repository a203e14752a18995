#pragma once
// What the main window asks of the desktop and of the rest of the program, gathered so that
// tests put recorders in their place: no real file dialog, browser or file manager opens in a
// test.

#include <QString>
#include <QStringList>
#include <functional>
#include <string>

#include "batch/batch_converter.h"
#include "batch/page_renderer.h"
#include "settings/conversion_settings.h"
#include "ui/window/row_status_pacer.h"

class QWidget;

namespace orvalis {

class LinkLauncher;

struct WindowServices {
  PageRenderer* renderer = nullptr;  // loaded by the caller, outlives the window
  // What the preview draws with (the same confined plug-in as `renderer`, in the program);
  // nullptr: the preview draws nothing.
  PageRenderer* previewRenderer = nullptr;
  std::string profilePath;              // Profile.ini
  BatchOptions batch;                   // the window's run; 0 threads: one per processor
  int filesAtOnce = 0;                  // files the run converts at once; 0: one per processor
  StatusPacing pacing = kWindowPacing;  // how long each progress text stays in sight

  // Opens files, folders and the help page with the desktop's default application; nullptr: the
  // desktop itself.
  LinkLauncher* launcher = nullptr;
  // A desktop notification (summary, body) at the end of a run the user is not looking at;
  // nullptr: none.
  std::function<void(const QString& summary, const QString& body)> notify;
  // The about box.
  std::function<void(QWidget* parent)> showAbout;
  // The settings sheet over the option fields of `settings`; true when it was closed with OK
  // (its pages have then written their keys into `profilePath`).
  std::function<bool(QWidget* parent, const std::string& profilePath,
                     const ConversionSettings& settings)>
      runSettings;
  // The file-open dialog for PostScript files, starting in `folder`; the chosen files in order.
  std::function<QStringList(QWidget* parent, const QString& folder)> chooseFiles;
  // A folder browser titled `title`, starting in `folder`; "" when cancelled.
  std::function<QString(QWidget* parent, const QString& title, const QString& folder)> chooseFolder;
};

// The real desktop: its default applications, QFileDialog, the settings sheet and the about
// box. `renderer` and `profilePath` are left for the caller.
WindowServices DesktopWindowServices();

}  // namespace orvalis
