#pragma once
// CMyPropSheet: the modal "Settings" sheet with the common page and the ten format pages.
//
//   CMyPropSheet sheet(profilePath, parent);   // or (options, profilePath, parent)
//   if (sheet.exec() == QDialog::Accepted) LoadConversionOptions(profilePath, settings);
//
// RunSettingsSheet below does exactly that, opening on the page of the format the window has
// chosen (ShowFormatPage); otherwise the Common tab is shown first. The keyboard visits the
// shown page's controls first, then OK and Cancel, then the tab bar; the focus starts on the
// page. A page builds its
// controls the first time its tab is shown; on OK every page built so far writes its keys into
// Profile.ini, in tab order and in one replacement of the file; pages never shown, and Cancel,
// write nothing.

#include <QDialog>
#include <QString>
#include <string>
#include <vector>

#include "engine/output_formats.h"
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

  // Shows the page of `format` (the Common page for a format without a page of its own) with
  // the focus on its first control.
  void ShowFormatPage(orvalis::OutputFormat format);

  // Saves the pages that were shown, all in one write, and closes with OK. When the file cannot
  // be written, nothing is saved: the sheet says why and stays open, so that nothing the user
  // chose is lost without notice.
  void accept() override;

 protected:
  // Shows a save failure to the user (a message box); tests replace it.
  virtual void ReportSaveFailure(const QString& message);

 private:
  void OnTabShown(int index);
  // The shown page's controls, then OK, Cancel and the tab bar, in the keyboard's order; the
  // focus goes to the page's first control.
  void ChainPageFirst(CPropertyPage* page);

  std::string profilePath_;
  QTabWidget* tabs_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
  std::vector<CPropertyPage*> pages_;
};

// Opens the sheet over `parent` with the option fields of `settings`; after OK reloads the option
// fields of `settings` from `profilePath`. True after OK.
bool RunSettingsSheet(QWidget* parent, const std::string& profilePath,
                      orvalis::ConversionSettings& settings);
