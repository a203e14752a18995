#include "ui/controls/link_label.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QDirIterator>
#include <QEnterEvent>
#include <QFile>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTextStream>
#include <QTimer>
#include <QTimerEvent>
#include <memory>
#include <utility>

#include "ui/controls/open_failure.h"

namespace orvalis {

namespace {

// How long the look-up of the text/html handler may take before the click counts as failed.
constexpr int kXdgMimeTimeoutMs = 3000;

bool IsUrlPlaceholder(QChar code) {
  return code == 'u' || code == 'U' || code == 'f' || code == 'F';
}

// A desktop entry value with its escapes (\s, \n, \t, \r, \\) resolved.
QString UnescapeDesktopValue(const QString& value) {
  QString text;
  for (qsizetype i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      text += value[i];
      continue;
    }
    const QChar next = value[++i];
    if (next == 's') {
      text += ' ';
    } else if (next == 'n') {
      text += '\n';
    } else if (next == 't') {
      text += '\t';
    } else if (next == 'r') {
      text += '\r';
    } else {
      text += next;
    }
  }
  return text;
}

// The Exec value of the [Desktop Entry] group of the file at `path`; empty when there is none.
QString ReadDesktopExec(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  QTextStream in(&file);
  bool inEntryGroup = false;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.startsWith('[')) {
      inEntryGroup = line == "[Desktop Entry]";
    } else if (inEntryGroup && line.startsWith("Exec")) {
      const qsizetype equals = line.indexOf('=');
      if (equals > 0 && line.left(equals).trimmed() == "Exec") {
        return UnescapeDesktopValue(line.mid(equals + 1).trimmed());
      }
    }
  }
  return {};
}

// The file of a desktop entry id: applications/<id>, or a file in a sub-folder whose path
// relative to applications/, with '/' read as '-', is the id (vendor/app.desktop is
// "vendor-app.desktop").
QString FindDesktopEntry(const QString& desktopId) {
  const QString direct = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopId);
  if (!direct.isEmpty()) return direct;
  for (const QString& folder :
       QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation)) {
    const QDir applications(folder);
    QDirIterator entries(folder, {"*.desktop"}, QDir::Files, QDirIterator::Subdirectories);
    while (entries.hasNext()) {
      const QString path = entries.next();
      if (applications.relativeFilePath(path).replace('/', '-') == desktopId) return path;
    }
  }
  return {};
}

// Splits an Exec line into arguments: blanks separate them, double quotes group them, and
// inside quotes a backslash takes the next character literally.
QStringList SplitExecLine(const QString& line) {
  QStringList arguments;
  QString current;
  bool haveArgument = false;
  bool quoted = false;
  for (qsizetype i = 0; i < line.size(); ++i) {
    const QChar c = line[i];
    if (quoted) {
      if (c == '\\' && i + 1 < line.size()) {
        current += line[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        current += c;
      }
    } else if (c == ' ' || c == '\t' || c == '\n') {
      if (haveArgument) arguments << current;
      current.clear();
      haveArgument = false;
    } else if (c == '"') {
      quoted = true;
      haveArgument = true;
    } else {
      current += c;
      haveArgument = true;
    }
  }
  if (haveArgument) arguments << current;
  return arguments;
}

bool IsFieldCode(const QString& argument) {
  return argument.size() == 2 && argument[0] == '%' && argument[1] != '%';
}

}  // namespace

void DesktopLinkLauncher::OpenWithDesktop(const QString& url, Outcome outcome) {
  // Lives with the application: an opener still running when the program ends is ended with it
  // (a handler it started keeps running).
  auto* opener = new QProcess(QCoreApplication::instance());
  opener->setProgram(QStringLiteral("xdg-open"));
  opener->setArguments({url});
  opener->setStandardInputFile(QProcess::nullDevice());
  opener->setStandardOutputFile(QProcess::nullDevice());
  opener->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  // The first of: the opener's exit, its failure to start, its patience running out.
  auto pending = std::make_shared<Outcome>(std::move(outcome));
  auto answer = [pending](bool opened) {
    if (!*pending) return;
    const Outcome once = std::exchange(*pending, nullptr);
    once(opened);
  };
  QObject::connect(opener, &QProcess::finished, opener,
                   [opener, answer](int code, QProcess::ExitStatus status) {
                     answer(status == QProcess::NormalExit && code == 0);
                     opener->deleteLater();
                   });
  QObject::connect(opener, &QProcess::errorOccurred, opener,
                   [opener, answer](QProcess::ProcessError error) {
                     if (error != QProcess::FailedToStart) return;
                     answer(false);
                     opener->deleteLater();
                   });
  QTimer::singleShot(patience_, opener, [answer] { answer(true); });
  opener->start();
}

QString DesktopLinkLauncher::HtmlHandlerExec() {
  QProcess query;
  query.start("xdg-mime", {"query", "default", "text/html"});
  if (!query.waitForFinished(kXdgMimeTimeoutMs)) {
    query.kill();
    query.waitForFinished();
    return {};
  }
  if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0) return {};
  const QString desktopId = QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
  if (desktopId.isEmpty() || desktopId.contains('/')) return {};
  const QString path = FindDesktopEntry(desktopId);
  return path.isEmpty() ? QString() : ReadDesktopExec(path);
}

bool DesktopLinkLauncher::StartDetached(const QStringList& arguments) {
  if (arguments.isEmpty()) return false;
  return QProcess::startDetached(arguments.first(), arguments.mid(1));
}

void DesktopLinkLauncher::Beep() {
  QApplication::beep();
}

LinkLauncher& DefaultLinkLauncher() {
  static DesktopLinkLauncher launcher;
  return launcher;
}

QString CutBeforePlaceholder(const QString& exec) {
  qsizetype quoted = -1;
  qsizetype bare = -1;
  for (qsizetype i = 0; i + 1 < exec.size(); ++i) {
    if (exec[i] != '%') continue;
    const QChar code = exec[i + 1];
    if (IsUrlPlaceholder(code)) {
      if (bare < 0) bare = i;
      const bool inQuotes =
          i > 0 && exec[i - 1] == '"' && i + 2 < exec.size() && exec[i + 2] == '"';
      if (quoted < 0 && inQuotes) quoted = i - 1;
    }
    ++i;  // "%%" and every field code take two characters
  }
  if (quoted >= 0) return exec.left(quoted);
  if (bare >= 0) return exec.left(bare);
  return exec;
}

QString BrowserCommandLine(const QString& exec, const QString& url) {
  return CutBeforePlaceholder(exec) + " " + url;
}

QStringList BrowserArguments(const QString& exec, const QString& url) {
  QStringList arguments;
  for (const QString& argument : SplitExecLine(CutBeforePlaceholder(exec))) {
    if (IsFieldCode(argument)) continue;
    arguments << QString(argument).replace("%%", "%");
  }
  if (arguments.isEmpty()) return {};
  arguments << url;
  return arguments;
}

CLinkLabel::CLinkLabel(QWidget* parent, LinkLauncher* launcher)
    : QLabel(parent), launcher_(launcher) {
  // A URL is shown as it is written, never read as markup.
  setTextFormat(Qt::PlainText);
  setFocusPolicy(Qt::StrongFocus);
  ApplyLook();
}

CLinkLabel::~CLinkLabel() = default;

void CLinkLabel::Attach() {
  if (url_.isEmpty()) url_ = text();
  if (text().isEmpty()) setText(url_);
  setMouseTracking(true);
  setCursor(Qt::PointingHandCursor);
  MakeFonts();
  attached_ = true;
  AdjustSize();
  setToolTip(url_);
  ApplyLook();
}

void CLinkLabel::SetURL(const QString& url) {
  url_ = url;
  if (!attached_) return;
  AdjustSize();
  setToolTip(url_);
}

void CLinkLabel::SetVisited(bool visited) {
  visited_ = visited;
  ApplyLook();
}

void CLinkLabel::SetColours(const QColor& normal, const QColor& visited, const QColor& hover,
                            const QColor& background) {
  normal_ = normal;
  visitedColour_ = visited;
  hover_ = hover;
  background_ = background;
  ApplyLook();
}

QColor CLinkLabel::CurrentTextColour() const {
  if (hovering_) return hover_;
  return visited_ ? visitedColour_ : normal_;
}

QColor CLinkLabel::CurrentBackground() const {
  return background_.isValid() ? background_ : palette().color(QPalette::Button);
}

void CLinkLabel::SetUnderline(int mode) {
  underline_ = mode;
  ApplyLook();
}

void CLinkLabel::SetLauncher(LinkLauncher* launcher) {
  launcher_ = launcher;
}

void CLinkLabel::GotoURL(const QString& url, LinkLauncher& launcher,
                         std::function<void(int)> done) {
  if (url.isEmpty()) {
    done(kGotoNothingToOpen);
    return;
  }
  launcher.OpenWithDesktop(url, [url, &launcher, done = std::move(done)](bool opened) {
    if (opened) {
      done(kGotoOpened);
      return;
    }
    const QStringList arguments = BrowserArguments(launcher.HtmlHandlerExec(), url);
    done(!arguments.isEmpty() && launcher.StartDetached(arguments) ? kGotoHandlerStarted
                                                                   : kGotoFailed);
  });
}

void CLinkLabel::AdjustSize() {
  if (!adjustToFit_) return;
  const QFontMetrics metrics(attached_ ? underlinedFont_ : font());
  const QSize textSize = metrics.size(0, text());
  const QRect frame = geometry();
  const QRect content = contentsRect();
  const int newWidth = textSize.width() + 2 * margin() + frame.width() - content.width();
  const int newHeight = textSize.height() + 2 * margin() + frame.height() - content.height();

  int x = frame.x();
  int y = frame.y();
  int width = newWidth;
  int height = newHeight;
  const Qt::Alignment align = alignment();
  if (align & Qt::AlignHCenter) {
    const int shift = (frame.width() - newWidth) / 2;
    x += shift;
    width = frame.width() - 2 * shift;
  } else if (align & Qt::AlignRight) {
    x = frame.x() + frame.width() - newWidth;
  }
  if (align & Qt::AlignVCenter) {
    const int shift = (frame.height() - newHeight) / 2;
    y += shift;
    height = frame.height() - 2 * shift;
  }
  setGeometry(x, y, width, height);
}

void CLinkLabel::CheckHover(const QPoint& globalPos) {
  if (!rect().contains(mapFromGlobal(globalPos))) EndHover();
}

void CLinkLabel::EndHover() {
  hovering_ = false;
  hoverTimer_.stop();
  ApplyLook();
}

void CLinkLabel::mouseMoveEvent(QMouseEvent* event) {
  StartHover();
  QLabel::mouseMoveEvent(event);
}

void CLinkLabel::enterEvent(QEnterEvent* event) {
  StartHover();
  QLabel::enterEvent(event);
}

void CLinkLabel::leaveEvent(QEvent* event) {
  // Where the window system reports no cursor position outside the program's windows (Wayland),
  // the timer would not notice the mouse leaving; the leave notification ends the hover there.
  EndHover();
  QLabel::leaveEvent(event);
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    OnClick();
  }
}

void CLinkLabel::timerEvent(QTimerEvent* event) {
  if (event->timerId() == hoverTimer_.timerId()) {
    CheckHover(QCursor::pos());
    return;
  }
  QLabel::timerEvent(event);
}

void CLinkLabel::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(this);
    painter.fillRect(rect(), CurrentBackground());
  }
  QLabel::paintEvent(event);
  if (hasFocus()) {
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.backgroundColor = CurrentBackground();
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
  }
}

void CLinkLabel::keyPressEvent(QKeyEvent* event) {
  const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
                event->key() == Qt::Key_Space)) {
    event->accept();
    OnClick();
    return;
  }
  QLabel::keyPressEvent(event);
}

void CLinkLabel::StartHover() {
  if (hovering_) return;
  hovering_ = true;
  ApplyLook();
  hoverTimer_.start(kHoverTimerMs, this);
}

void CLinkLabel::OnClick() {
  // The click shows its outcome as soon as it is known: the visited colour after a success, the
  // normal one after a failure, even while the mouse stays over the link.
  hovering_ = false;
  ApplyLook();
  if (!openOnClick_) {
    FinishClick(kGotoHandlerStarted);
    return;
  }
  GotoURL(url_, Launcher(), [self = QPointer<CLinkLabel>(this)](int result) {
    if (self) self->FinishClick(result);
  });
}

void CLinkLabel::FinishClick(int result) {
  visited_ = GotoSucceeded(result);
  if (!visited_) {
    Launcher().Beep();
    ShowCannotOpen(window(), url_);
  }
  ApplyLook();
  if (notifyParent_) emit Clicked(objectName().toInt());
}

void CLinkLabel::ApplyLook() {
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, CurrentTextColour());
  setPalette(colours);
  if (attached_) {
    // The underline follows the mouse only in hover mode; a click that clears hovering leaves
    // the underline to the timer, which removes it once the mouse has gone.
    const bool underlined =
        underline_ == kUnderlineAlways ||
        (underline_ == kUnderlineHover && (hovering_ || hoverTimer_.isActive()));
    setFont(underlined ? underlinedFont_ : normalFont_);
  }
  update();
}

void CLinkLabel::MakeFonts() {
  normalFont_ = font();
  normalFont_.setUnderline(false);
  underlinedFont_ = normalFont_;
  underlinedFont_.setUnderline(true);
}

LinkLauncher& CLinkLabel::Launcher() const {
  return launcher_ != nullptr ? *launcher_ : DefaultLinkLauncher();
}

}  // namespace orvalis
