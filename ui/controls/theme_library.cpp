#include "ui/controls/theme_library.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>

namespace {

bool IsButtonClass(std::u16string_view classList) {
  constexpr std::u16string_view kButton = u"BUTTON";
  if (classList.size() != kButton.size()) return false;
  for (size_t i = 0; i < kButton.size(); ++i) {
    char16_t c = classList[i];
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    if (c != kButton[i]) return false;
  }
  return true;
}

void SetButtonState(QStyleOptionButton& option, int state) {
  option.state &= ~(QStyle::State_MouseOver | QStyle::State_Sunken | QStyle::State_On |
                    QStyle::State_HasFocus | QStyle::State_Raised);
  option.state |= QStyle::State_Enabled;
  switch (state) {
    case kThemeDisabled:
      option.state &= ~QStyle::State_Enabled;
      option.state |= QStyle::State_Raised;
      break;
    case kThemePressed:
      option.state |= QStyle::State_Sunken;
      break;
    case kThemeHot:
      option.state |= QStyle::State_MouseOver | QStyle::State_Raised;
      break;
    case kThemeDefaulted:
      option.features |= QStyleOptionButton::DefaultButton;
      option.state |= QStyle::State_Raised;
      break;
    default:
      option.state |= QStyle::State_Raised;
      break;
  }
}

}  // namespace

CThemeLibrary::CThemeLibrary() : useApplicationStyle_(true), style_(nullptr) {}

CThemeLibrary::CThemeLibrary(const QStyle* style) : useApplicationStyle_(false), style_(style) {}

const QStyle* CThemeLibrary::Style() const {
  if (!useApplicationStyle_) return style_;
  return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr
             ? QApplication::style()
             : nullptr;
}

CThemeLibrary::Theme CThemeLibrary::OpenThemeData(const QWidget*,
                                                  std::u16string_view classList) const {
  if (!IsButtonClass(classList)) return nullptr;
  return Style();
}

bool CThemeLibrary::CloseThemeData(Theme theme) const {
  return theme != nullptr && Style() != nullptr;
}

bool CThemeLibrary::DrawThemeBackground(Theme theme, const QWidget* window, QPainter* painter,
                                        int part, int state, const QRect& rect) const {
  if (theme == nullptr || painter == nullptr || part != kThemePushButton) return false;
  // The parent's background first, so the bevel's rounded corners show what lies behind.
  if (window != nullptr) {
    const QWidget* parent = window->parentWidget();
    painter->fillRect(rect, (parent != nullptr ? parent : window)->palette().window());
  }
  QStyleOptionButton option;
  if (window != nullptr) option.initFrom(window);
  option.rect = rect;
  SetButtonState(option, state);
  theme->drawControl(QStyle::CE_PushButtonBevel, &option, painter, window);
  return true;
}

bool CThemeLibrary::IsAppThemed() const {
  return Style() != nullptr;
}
