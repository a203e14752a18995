#pragma once
// CLinkLabel: a label that behaves as a web link. It draws its text in link colours (normal,
// visited, hover), underlines it while the mouse is over it, shows a hand cursor and a tooltip
// with its URL, and on a click opens the URL with the desktop's default handler, falling back to
// the handler registered for text/html. It takes the focus with Tab, shows a focus frame then,
// and Enter, Return or Space open it. When nothing opens the URL, it beeps and a message shows
// the address to copy (open_failure.h).
//
// Use: create the label with its text and geometry as a dialog lays it out, set the URL, then
// call Attach() once, which fills an empty text or URL from the other and fits the label to its
// text:
//
//   auto* site = new CLinkLabel(this);
//   site->setObjectName("1054");
//   site->setGeometry(...);
//   site->setText("www.example.org");
//   site->SetURL("https://www.example.org/");
//   site->Attach();
//
// Opening goes through a LinkLauncher, so that tests can put a recording launcher in place of
// the desktop.

#include <QBasicTimer>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>

namespace orvalis {

// How a link reaches the desktop. The default, DesktopLinkLauncher, uses xdg-open and the
// desktop entry registered for text/html.
class LinkLauncher {
 public:
  // Whether an opener took the URL; called once, on the GUI thread.
  using Outcome = std::function<void(bool opened)>;

  virtual ~LinkLauncher() = default;
  // Opens `url` with the desktop's default handler. `outcome` (may be empty) learns, now or
  // once the opener has answered, whether a handler took the URL.
  virtual void OpenWithDesktop(const QString& url, Outcome outcome) = 0;
  // The Exec line of the desktop entry registered for text/html; empty when there is none.
  virtual QString HtmlHandlerExec() = 0;
  // Starts a program detached: arguments[0] is the program. False when it could not start.
  virtual bool StartDetached(const QStringList& arguments) = 0;
  // The short warning sound of a failed click.
  virtual void Beep() = 0;
};

// xdg-open judged by its exit status: 0 means a handler took the URL; any other status ("no
// method available"), or no xdg-open at all, means nothing opened it. An xdg-open still running
// after `patience` counts as success: it runs the handler it found in the foreground (a
// desktop without its own opener) and ends only when the user closes it.
class DesktopLinkLauncher : public LinkLauncher {
 public:
  explicit DesktopLinkLauncher(std::chrono::milliseconds patience = std::chrono::seconds(5))
      : patience_(patience) {}
  void OpenWithDesktop(const QString& url, Outcome outcome) override;
  QString HtmlHandlerExec() override;
  bool StartDetached(const QStringList& arguments) override;
  void Beep() override;

 private:
  std::chrono::milliseconds patience_;
};

// The launcher every link and the help opener use unless they are given another one.
LinkLauncher& DefaultLinkLauncher();

// Results of CLinkLabel::GotoURL, counted as the shell counts its results: above 32 is success.
inline constexpr int kGotoFailed = 2;  // neither the desktop nor the html handler opened it
inline constexpr int kGotoHandlerStarted = 33;  // the text/html handler was started with the URL
inline constexpr int kGotoNothingToOpen = 36;   // empty URL: nothing opened, counted as success
inline constexpr int kGotoOpened = 42;          // the desktop's default handler took the URL
inline constexpr bool GotoSucceeded(int result) {
  return result > 32;
}

// The handler's Exec line cut before its URL placeholder: before a quoted placeholder ("%u",
// "%U", "%f" or "%F" in double quotes) if there is one, else before a bare one, else whole.
// "%%" is a literal percent sign, never a placeholder.
QString CutBeforePlaceholder(const QString& exec);
// CutBeforePlaceholder(exec) + " " + url: the command line that opens `url`.
QString BrowserCommandLine(const QString& exec, const QString& url);
// The program and arguments that open `url`: the cut Exec line split as a desktop entry's Exec
// value is split (double quotes with backslash escapes), "%%" turned into "%", other field codes
// (%i, %c, %k, ...) dropped, and the URL appended as one argument of its own, so that nothing in
// it can become a further argument. Empty when the cut line names no program.
QStringList BrowserArguments(const QString& exec, const QString& url);

class CLinkLabel : public QLabel {
  Q_OBJECT

 public:
  // Underline modes.
  static constexpr int kUnderlineAlways = 1;
  static constexpr int kUnderlineNever = 0;
  static constexpr int kUnderlineHover = -1;
  // The hover timer's period: the mouse is found to have left at the next tick.
  static constexpr int kHoverTimerMs = 100;

  explicit CLinkLabel(QWidget* parent = nullptr, LinkLauncher* launcher = nullptr);
  ~CLinkLabel() override;

  // Binds the label: an empty URL becomes the label text, an empty label text becomes the URL;
  // the fonts are made from the label's font, the size fits the text, and the tooltip shows the
  // URL.
  void Attach();

  // Stores the URL; once attached, fits the size again and updates the tooltip.
  void SetURL(const QString& url);
  QString URL() const { return url_; }

  void SetVisited(bool visited);
  bool Visited() const { return visited_; }
  bool Hovering() const { return hovering_; }

  // An invalid background colour (the default) stands for the window's button colour.
  void SetColours(const QColor& normal, const QColor& visited, const QColor& hover,
                  const QColor& background = QColor());
  QColor NormalColour() const { return normal_; }
  QColor VisitedColour() const { return visitedColour_; }
  QColor HoverColour() const { return hover_; }
  // The colour the text is drawn in now, and the background behind it.
  QColor CurrentTextColour() const;
  QColor CurrentBackground() const;

  // kUnderlineAlways, kUnderlineNever or kUnderlineHover (the default).
  void SetUnderline(int mode);
  int Underline() const { return underline_; }

  void SetAutoSize(bool fit) { adjustToFit_ = fit; }
  void SetOpenOnClick(bool open) { openOnClick_ = open; }
  // When on, a click also emits Clicked (off by default).
  void SetNotifyParent(bool notify) { notifyParent_ = notify; }

  void SetLauncher(LinkLauncher* launcher);

  // Opens `url`: with the desktop's default handler, else with the text/html handler. An empty
  // URL opens nothing and counts as success. `done` gets one of the kGoto... results, now or
  // once the desktop's opener has answered; `launcher` must live until then.
  static void GotoURL(const QString& url, LinkLauncher& launcher, std::function<void(int)> done);

  // Fits the label to its text (with its frame). Centred text keeps its centre, right-aligned
  // text its right edge, other text its left edge; vertically centred text keeps its vertical
  // centre, other text its top edge.
  void AdjustSize();

  // The hover timer's tick with the mouse at `globalPos`: outside the label, hovering ends.
  // The timer calls it with the cursor's position.
  void CheckHover(const QPoint& globalPos);

 signals:
  // A click, when SetNotifyParent(true); `id` is the label's object name as a number.
  void Clicked(int id);

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  // Enter, Return and Space open the link, as a click does.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void StartHover();
  void EndHover();
  void OnClick();
  // The click's outcome: visited on success, a beep on failure.
  void FinishClick(int result);
  void ApplyLook();
  void MakeFonts();
  LinkLauncher& Launcher() const;

  QColor normal_{0, 0, 238};
  QColor visitedColour_{85, 26, 139};
  QColor hover_{255, 0, 0};
  QColor background_;  // invalid: the window's button colour
  bool hovering_ = false;
  bool visited_ = false;
  int underline_ = kUnderlineHover;
  bool adjustToFit_ = true;
  bool attached_ = false;
  QString url_;
  QFont normalFont_;
  QFont underlinedFont_;
  QBasicTimer hoverTimer_;
  bool openOnClick_ = true;
  bool notifyParent_ = false;
  LinkLauncher* launcher_ = nullptr;
};

}  // namespace orvalis
