#include "ui/window/window_services.h"

#include <QFileDialog>

#include "ui/app/about_box.h"
#include "ui/sheet/my_prop_sheet.h"
#include "ui/window/run_feedback.h"

namespace orvalis {

WindowServices DesktopWindowServices() {
  WindowServices services;
  services.notify = [](const QString& summary, const QString& body) {
    SendDesktopNotification(QStringLiteral("Kestrune Orvalis"), summary, body);
  };
  services.showAbout = [](QWidget* parent) {
    CAboutBox about(parent);
    about.exec();
  };
  services.chooseFiles = [](QWidget* parent, const QString& folder) {
    // The first filter is the one chosen when the dialog opens.
    return QFileDialog::getOpenFileNames(
        parent, QStringLiteral("Kestrune Orvalis"), folder,
        QStringLiteral("PS Files (*.ps);;"
                       "All supported files (*.ps *.eps *.epsf *.epsi *.ps.gz *.eps.gz *.pdf);;"
                       "EPS Files (*.eps *.epsf *.epsi);;"
                       "Compressed PostScript (*.ps.gz *.eps.gz);;"
                       "PDF Files (*.pdf)"));
  };
  services.chooseFolder = [](QWidget* parent, const QString& title, const QString& folder) {
    return QFileDialog::getExistingDirectory(parent, title, folder, QFileDialog::ShowDirsOnly);
  };
  services.runSettings = [](QWidget* parent, const std::string& profilePath,
                            const ConversionSettings& settings) {
    CMyPropSheet sheet(settings, profilePath, parent);
    return sheet.exec() == QDialog::Accepted;
  };
  return services;
}

}  // namespace orvalis
