#pragma once
// CMyPropSheet: the modal "Settings" sheet with the common page and the ten format pages.
//
//   CMyPropSheet sheet(profilePath, parent);   // or (options, profilePath, parent)
//   if (sheet.exec() == QDialog::Accepted) LoadConversionOptions(profilePath, settings);
//
// RunSettingsSheet below does exactly that. The Common tab is shown first. A page builds its
// controls the first time its tab is shown; on OK every page built so far writes its keys into
// Profile.ini, in tab order and in one replacement of the file; pages never shown, and Cancel,
// write nothing.

#include <QDialog>
#include <QString>
#include <string>
#include <vector>

#include "settings/conversion_settings.h"

class CPropertyPage;
class QDialogButtonBox;
class QTabWidget;

class CMyPropSheet : public QDialog {
  Q_OBJECT

 public:
  // The pages show the option fields of `options` and write into `profilePath`.
  CMyPropSheet(const orvalis::ConversionSettings& options, const std::string& profilePath,
               QWidget* parent = nullptr);
  // The same with the option fields loaded from `profilePath`.
  explicit CMyPropSheet(const std::string& profilePath, QWidget* parent = nullptr);

  QTabWidget* Tabs() const { return tabs_; }
  int PageCount() const { return static_cast<int>(pages_.size()); }
  CPropertyPage* Page(int index) const { return pages_.at(static_cast<size_t>(index)); }

  // Saves the pages that were shown, all in one write, and closes with OK. When the file cannot
  // be written, nothing is saved: the sheet says why and stays open, so that nothing the user
  // chose is lost without notice.
  void accept() override;

 protected:
  // Shows a save failure to the user (a message box); tests replace it.
  virtual void ReportSaveFailure(const QString& message);

 private:
  void OnTabShown(int index);

  std::string profilePath_;
  QTabWidget* tabs_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
  std::vector<CPropertyPage*> pages_;
};

// Opens the sheet over `parent` with the option fields of `settings`; after OK reloads the option
// fields of `settings` from `profilePath`. True after OK.
bool RunSettingsSheet(QWidget* parent, const std::string& profilePath,
                      orvalis::ConversionSettings& settings);
