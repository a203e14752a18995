#pragma once
// The format pages: each shows "Introduce:" with a paragraph about its format and a colour list,
// and writes the chosen colour under its key. CJpg and CTiff (in their own files) add quality
// and compression controls; the others are plain colour pages.

#include <string_view>

#include "engine/output_formats.h"
#include "ui/sheet/property_page.h"

class QComboBox;
class QLabel;
class QSlider;

// Ids shared by the format pages: the value label of a quality track bar.
inline constexpr int kQualityValueId = 1042;

inline constexpr int kDescriptionId = 1035;

class CFormatPage : public CPropertyPage {
  Q_OBJECT

 public:
  CFormatPage(const QString& title, int dialogId, orvalis::OutputFormat outputFormat,
              int colorListId, QWidget* parent = nullptr);

  QComboBox* ColorList() const { return colorList_; }

 protected:
  // "Introduce:" and the description, the paragraph `descriptionHeight` units high.
  void AddIntroduction(int descriptionHeight);
  // The group "Color" at `groupTop` with the colour list in it, nothing selected.
  QComboBox* AddColorGroup(int groupTop);
  // Selects the stored colour `text` by prefix; no match leaves the list without a selection.
  void SelectColor(const std::string& text);
  std::optional<std::string> ColorText() const { return SelectedText(colorList_); }
  // A quality track bar (1..100, page step 10, ticks every 10 above it) at `quality`, with the
  // value label `valueUnits` that follows every move, dragging included.
  struct QualityControls {
    QSlider* slider;
    QLabel* value;
  };
  QualityControls AddQualitySlider(int sliderId, const QRect& sliderUnits, const QRect& valueUnits,
                                   int quality);

 public:
  orvalis::OutputFormat Format() const { return outputFormat_; }

 private:
  orvalis::OutputFormat outputFormat_;
  int colorListId_;
  QComboBox* colorList_ = nullptr;
};

// A page with a colour list only, writing the key `colorKey`.
class CColorPage : public CFormatPage {
  Q_OBJECT

 public:
  CColorPage(const QString& title, int dialogId, orvalis::OutputFormat outputFormat,
             int colorListId, std::string_view colorKey, QWidget* parent = nullptr);
  orvalis::SettingEntries Entries() const override;

 protected:
  void BuildControls() override;

 private:
  std::string_view colorKey_;
};

class CBmpp : public CColorPage {
 public:
  explicit CBmpp(QWidget* parent = nullptr);
};
class CGif : public CColorPage {
 public:
  explicit CGif(QWidget* parent = nullptr);
};
class CPng : public CColorPage {
 public:
  explicit CPng(QWidget* parent = nullptr);
};
class CPcx : public CColorPage {
 public:
  explicit CPcx(QWidget* parent = nullptr);
};
class CJp2 : public CColorPage {
 public:
  explicit CJp2(QWidget* parent = nullptr);
};
class CJpc : public CColorPage {
 public:
  explicit CJpc(QWidget* parent = nullptr);
};
class CRas : public CColorPage {
 public:
  explicit CRas(QWidget* parent = nullptr);
};
class CTga : public CColorPage {
 public:
  explicit CTga(QWidget* parent = nullptr);
};
