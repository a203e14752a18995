#pragma once
// CPropertyPage: one page of the settings sheet. A page holds its own copy of the option fields
// (SetPageData, before the sheet is shown), builds its controls the first time its tab is shown,
// and on OK gives the sheet its keys to write into Profile.ini. Controls are placed in dialog
// units of the page's font; each one's objectName is its numeric id ("1031").

#include <QRect>
#include <QString>
#include <QWidget>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "settings/conversion_settings.h"
#include "ui/controls/dialog_units.h"

class QComboBox;
class QGroupBox;
class QLabel;

class CPropertyPage : public QWidget {
  Q_OBJECT

 public:
  // Every page is 247 x 164 dialog units.
  static constexpr QSize kPageUnits{247, 164};

  CPropertyPage(const QString& title, int dialogId, QWidget* parent = nullptr);

  // Copies the option fields; call before the page is shown.
  void SetPageData(const orvalis::ConversionSettings& options);

  // The dialog units the page lays out its controls in (by default those of its font).
  void SetUnits(const DialogUnits& units) { units_ = units; }

  const QString& Title() const { return title_; }
  int DialogId() const { return dialogId_; }
  bool IsBuilt() const { return built_; }
  // Builds the controls and fills them from the option fields, once.
  void EnsureBuilt();
  // What the page writes on OK: its keys, in their order, with the texts its controls hold.
  virtual orvalis::SettingEntries Entries() const = 0;

  QSize sizeHint() const override;

 protected:
  // Creates and fills the controls, in the order the keyboard visits them.
  virtual void BuildControls() = 0;

  const orvalis::ConversionSettings& Options() const { return options_; }
  const DialogUnits& Units() const { return units_; }

  // Puts `widget` on the page at `units` (dialog units) with its id as objectName (id 0: none).
  template <class Widget>
  Widget* Place(Widget* widget, int id, const QRect& units) {
    PlaceWidget(widget, id, units);
    return widget;
  }
  QLabel* AddLabel(int id, const QString& text, const QRect& units,
                   Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);
  QGroupBox* AddGroup(const QString& title, const QRect& units);
  // Makes the title of `group` (whose controls are its siblings) the label of `control`: a label
  // over the title, reading `caption` (the title with its "&" mnemonic), whose buddy is
  // `control`. Alt and the letter reach the control, and a screen reader hears the title with
  // it.
  QLabel* LabelGroupControl(QGroupBox* group, const QString& caption, QWidget* control);
  // A drop-down list with `items`, named after its label for screen readers.
  QComboBox* AddList(int id, const QStringList& items, const QRect& units,
                     const QString& accessibleName);
  // The keyboard visits `widgets` in this order.
  static void ChainTabOrder(std::initializer_list<QWidget*> widgets);

 private:
  void PlaceWidget(QWidget* widget, int id, const QRect& units);

  QString title_;
  int dialogId_;
  bool built_ = false;
  orvalis::ConversionSettings options_;
  DialogUnits units_;
};

// A caption as read aloud: without the "&" that marks its mnemonic ("&&" stays one "&").
QString WithoutMnemonic(QString text);

// The selected item's text of a list, or nullopt when nothing is selected.
std::optional<std::string> SelectedText(const QComboBox* list);
// The same as a view, for the page writers.
inline std::optional<std::string_view> AsView(const std::optional<std::string>& text) {
  return text ? std::optional<std::string_view>(*text) : std::nullopt;
}
// Selects the first item that begins with `text` (without regard to case), or nothing.
void SelectByPrefix(QComboBox* list, const QString& text);
