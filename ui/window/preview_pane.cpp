#include "ui/window/preview_pane.h"

#include <sys/stat.h>

#include <QBuffer>
#include <QGridLayout>
#include <QImageReader>
#include <QLabel>
#include <QResizeEvent>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <tuple>

#include "batch/preview_rendering.h"
#include "engine/output_formats.h"

namespace orvalis {

namespace {

// Pages kept across documents, as PNG (a page of text at the preview's resolution takes a few
// dozen KB; a photograph, up to 1.4 MB).
constexpr size_t kCacheBytes = size_t{96} << 20;
// The written side is shown no larger than this: a page resized to thousands of pixels is
// scaled down on the worker, not on the window's thread.
constexpr int kLargestShown = 800;
// The longest a page may take to draw at the preview's resolution.
constexpr int kSlowPageSeconds = 10;

QImage Smaller(QImage image) {
  if (image.width() > kLargestShown || image.height() > kLargestShown)
    image =
        image.scaled(kLargestShown, kLargestShown, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  return image;
}

QString FormatName(const ConversionSettings& settings) {
  return QString::fromStdString(FormatFromType(settings.type).extension).mid(1).toUpper();
}

// "As written: PNG, turned 90°, 800 × 600".
QString WrittenCaption(const ConversionSettings& settings) {
  QString caption = QStringLiteral("As written: ") + FormatName(settings);
  if (settings.angle > 0) caption += QStringLiteral(", turned %1\u00b0").arg(settings.angle);
  if (settings.resize == 1 && settings.width > 0 && settings.height > 0)
    caption += QStringLiteral(", %1 \u00d7 %2").arg(settings.width).arg(settings.height);
  return caption;
}

}  // namespace

bool PreviewDocument::operator<(const PreviewDocument& other) const {
  return std::tie(path, size, mtime) < std::tie(other.path, other.size, other.mtime);
}

bool PreviewDocument::operator==(const PreviewDocument& other) const {
  return path == other.path && size == other.size && mtime == other.mtime;
}

PreviewDocument PreviewDocument::Of(const std::string& path) {
  PreviewDocument document;
  document.path = path;
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) {
    document.size = status.st_size;
    document.mtime = int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec;
  }
  return document;
}

QImage PreviewCache::Page::Image() const {
  return QImage::fromData(png, "PNG");
}

PreviewCache::Page PreviewCache::Page::Of(const QImage& image) {
  Page page;
  QBuffer buffer(&page.png);
  buffer.open(QIODevice::WriteOnly);
  // Little compression: the worker makes one for every page it draws.
  image.save(&buffer, "PNG", 80);
  return page;
}

void PreviewCache::Put(const PreviewDocument& document, int number, Page page) {
  std::lock_guard lock(mutex_);
  Entry& entry = documents_[document];
  const size_t bytes = static_cast<size_t>(page.png.size());
  if (auto old = entry.pages.find(number); old != entry.pages.end()) {
    const size_t oldBytes = static_cast<size_t>(old->second.png.size());
    entry.bytes -= oldBytes;
    bytes_ -= oldBytes;
  }
  entry.pages[number] = std::move(page);
  entry.bytes += bytes;
  bytes_ += bytes;
  entry.used = ++clock_;
  if (number > entry.known.pages) entry.known.pages = number;
  Trim(document);
}

std::optional<PreviewCache::Page> PreviewCache::Get(const PreviewDocument& document, int number) {
  std::lock_guard lock(mutex_);
  const auto entry = documents_.find(document);
  if (entry == documents_.end()) return std::nullopt;
  entry->second.used = ++clock_;
  const auto page = entry->second.pages.find(number);
  if (page == entry->second.pages.end()) return std::nullopt;
  return page->second;
}

void PreviewCache::SetEnded(const PreviewDocument& document, int pages, bool whole,
                            const std::string& error) {
  std::lock_guard lock(mutex_);
  Entry& entry = documents_[document];
  entry.known.pages = std::max(entry.known.pages, pages);
  entry.known.whole = whole;
  entry.known.error = error;
  entry.used = ++clock_;
}

PreviewCache::Known PreviewCache::KnownOf(const PreviewDocument& document) {
  std::lock_guard lock(mutex_);
  const auto entry = documents_.find(document);
  return entry == documents_.end() ? Known{} : entry->second.known;
}

size_t PreviewCache::Bytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

// The documents used longest ago go first; the one being drawn is kept whole, then loses its
// last pages.
void PreviewCache::Trim(const PreviewDocument& keep) {
  while (bytes_ > limitBytes_ && documents_.size() > 1) {
    auto oldest = documents_.end();
    for (auto it = documents_.begin(); it != documents_.end(); ++it) {
      if (it->first == keep) continue;
      if (oldest == documents_.end() || it->second.used < oldest->second.used) oldest = it;
    }
    bytes_ -= oldest->second.bytes;
    documents_.erase(oldest);
  }
  Entry& kept = documents_[keep];
  while (bytes_ > limitBytes_ && kept.pages.size() > 1) {
    auto last = std::prev(kept.pages.end());
    const size_t bytes = static_cast<size_t>(last->second.png.size());
    kept.bytes -= bytes;
    bytes_ -= bytes;
    kept.pages.erase(last);
  }
}

PreviewPane::PreviewPane(PageRenderer* renderer, QWidget* parent)
    : QWidget(parent), renderer_(renderer), cache_(kCacheBytes) {
  setObjectName(QStringLiteral("preview"));
  setAccessibleName(QStringLiteral("Preview"));
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  pageCaption_ = new QLabel(QStringLiteral("Page"), this);
  writtenCaption_ = new QLabel(WrittenCaption(settings_), this);
  auto makePicture = [this](const char* name, const QString& accessible) {
    auto* label = new QLabel(this);
    label->setObjectName(QString::fromLatin1(name));
    label->setAccessibleName(accessible);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameShape(QFrame::StyledPanel);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    label->setMinimumSize(40, 52);
    // Darker than a page, so that the page's edges show.
    label->setBackgroundRole(QPalette::Mid);
    label->setAutoFillBackground(true);
    return label;
  };
  pageLabel_ = makePicture("previewPage", QStringLiteral("Page as drawn"));
  writtenLabel_ = makePicture("previewWritten", QStringLiteral("Page as written"));
  slider_ = new QSlider(Qt::Horizontal, this);
  slider_->setObjectName(QStringLiteral("previewSlider"));
  slider_->setAccessibleName(QStringLiteral("Preview page"));
  slider_->setRange(1, 1);
  slider_->hide();
  pageText_ = new QLabel(this);
  pageText_->setObjectName(QStringLiteral("previewPageText"));
  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("previewNote"));
  note_->setWordWrap(true);
  note_->setTextFormat(Qt::PlainText);
  layout->addWidget(pageCaption_, 0, 0);
  layout->addWidget(writtenCaption_, 0, 1);
  layout->addWidget(pageLabel_, 1, 0);
  layout->addWidget(writtenLabel_, 1, 1);
  layout->addWidget(slider_, 2, 0, 1, 2);
  layout->addWidget(pageText_, 3, 0, 1, 2);
  layout->addWidget(note_, 4, 0, 1, 2);
  layout->setRowStretch(1, 1);
  layout->setColumnStretch(0, 1);
  layout->setColumnStretch(1, 1);
  slowPage_ = new QTimer(this);
  slowPage_->setSingleShot(true);
  slowPage_->setInterval(kSlowPageSeconds * 1000);
  connect(slowPage_, &QTimer::timeout, this, &PreviewPane::GiveUpSlowDocument);
  connect(slider_, &QSlider::valueChanged, this, [this](int page) {
    if (page != page_) ShowPage(page);
  });
  worker_ = std::thread([this] { Work(); });
}

PreviewPane::~PreviewPane() {
  std::stop_source stop;
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    stop = stop_;
  }
  stop.request_stop();
  wake_.notify_all();
  worker_.join();
}

void PreviewPane::ShowDocument(const std::string& path, const QString& why) {
  const PreviewDocument document = path.empty() ? PreviewDocument{} : PreviewDocument::Of(path);
  if (!path.empty() && document == document_) return;
  document_ = document;
  page_ = path.empty() ? 0 : 1;
  shownPage_ = QImage();
  shownWritten_ = QImage();
  pageLabel_->clear();
  writtenLabel_->clear();
  slider_->blockSignals(true);
  slider_->setRange(1, 1);
  slider_->setValue(1);
  slider_->blockSignals(false);
  slider_->hide();
  pageText_->clear();
  note_->setText(why);
  slowPage_->stop();
  if (!path.empty() && renderer_ != nullptr && !quiet_) slowPage_->start();
  if (!path.empty()) {
    if (const std::optional<PreviewCache::Page> first = cache_.Get(document_, 1)) {
      shownPage_ = first->Image();
      ShowImage(pageLabel_, shownPage_);
    }
    Refresh();
    if (renderer_ == nullptr)
      note_->setText(QStringLiteral("No preview: the page renderer is not available."));
    else if (quiet_ && shownPage_.isNull())
      note_->setText(QStringLiteral("The preview is drawn when the conversion is over."));
    else if (shownPage_.isNull())
      pageText_->setText(QStringLiteral("Drawing the first page\u2026"));
  }
  // During a run nothing is drawn: the rendering of the document before is stopped all the same.
  Ask({quiet_ ? PreviewDocument{} : document_, page_, settings_, settingsId_}, true);
}

void PreviewPane::SetQuiet(bool quiet) {
  if (quiet == quiet_) return;
  quiet_ = quiet;
  const std::string path = document_.path;
  if (quiet) {
    slowPage_->stop();
    Ask({}, true);
  } else if (!path.empty()) {
    // The document selected now, drawn afresh where the run left it unfinished.
    document_ = {};
    ShowDocument(path);
  }
}

void PreviewPane::SetSettings(const ConversionSettings& settings) {
  settings_ = settings;
  ++settingsId_;
  writtenCaption_->setText(WrittenCaption(settings_));
  if (!document_.path.empty() && !quiet_) Ask({document_, page_, settings_, settingsId_}, false);
}

void PreviewPane::ShowPage(int page) {
  if (document_.path.empty() || page < 1) return;
  page_ = page;
  if (const std::optional<PreviewCache::Page> cached = cache_.Get(document_, page)) {
    shownPage_ = cached->Image();
    ShowImage(pageLabel_, shownPage_);
    emit pageShown(page_);
  }
  Refresh();
  if (!quiet_) Ask({document_, page_, settings_, settingsId_}, false);
}

QString PreviewPane::PageText() const {
  return pageText_->text();
}

QString PreviewPane::Note() const {
  return note_->text();
}

void PreviewPane::GiveUpSlowDocument() {
  const PreviewCache::Known known = cache_.KnownOf(document_);
  if (document_.path.empty() || known.whole || !known.error.empty()) return;
  cache_.SetEnded(
      document_, known.pages, false,
      QStringLiteral("a page took longer than %1 s to draw").arg(kSlowPageSeconds).toStdString());
  // The same document, asked again: its rendering is stopped, and what was drawn is kept.
  Ask({document_, page_, settings_, settingsId_}, true);
  Refresh();
}

// The slider and the page line, from what the cache knows of the document.
void PreviewPane::Refresh() {
  const PreviewCache::Known known = cache_.KnownOf(document_);
  if (known.whole || !known.error.empty()) slowPage_->stop();
  if (known.pages > 1) {
    slider_->blockSignals(true);
    slider_->setRange(1, known.pages);
    slider_->setValue(page_);
    slider_->blockSignals(false);
    slider_->show();
  }
  if (known.pages > 0) {
    pageText_->setText(known.whole
                           ? QStringLiteral("Page %1 of %2").arg(page_).arg(known.pages)
                           : QStringLiteral("Page %1 of %2 so far").arg(page_).arg(known.pages));
  }
  if (!known.error.empty())
    note_->setText((known.pages > 0 ? QStringLiteral("Not drawn to its end: ")
                                    : QStringLiteral("No preview: ")) +
                   QString::fromStdString(known.error));
}

void PreviewPane::Ask(Request request, bool newDocument) {
  std::stop_source old;
  {
    std::lock_guard lock(mutex_);
    if (newDocument) {
      old = stop_;
      stop_ = std::stop_source();
    }
    request_ = std::move(request);
    pending_ = true;
  }
  // Outside the lock: the stop ends the rendering of the document before (RendererAbort).
  if (newDocument) old.request_stop();
  wake_.notify_one();
}

void PreviewPane::Work() {
  for (;;) {
    Request request;
    std::stop_token stop;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return quit_ || pending_; });
      if (quit_) return;
      request = request_;
      pending_ = false;
      stop = stop_.get_token();
    }
    if (request.document.path.empty() || renderer_ == nullptr) continue;
    Serve(request, stop);
  }
}

void PreviewPane::Serve(const Request& request, std::stop_token stop) {
  const PreviewDocument& document = request.document;
  if (!ServeWanted(document, stop)) return;
  const PreviewCache::Known known = cache_.KnownOf(document);
  Request now;
  {
    std::lock_guard lock(mutex_);
    now = request_;
  }
  // Drawn to its end, unless the page wanted has since been let go for room.
  const bool drawn =
      known.whole && (now.page > known.pages || cache_.Get(document, now.page).has_value());
  if (drawn || !known.error.empty() || stop.stop_requested()) {
    PostKnown(document);
    return;
  }
  PreviewRendering rendering(*renderer_);
  const PreviewRendering::Outcome outcome = rendering.Render(
      document.path, kPreviewDpi,
      [&](int number, const std::string& file) {
        const QImage image(QString::fromStdString(file), "BMP");
        if (!image.isNull()) cache_.Put(document, number, PreviewCache::Page::Of(image));
        PostKnown(document);
        return ServeWanted(document, stop) && !stop.stop_requested();
      },
      stop);
  if (!outcome.aborted) cache_.SetEnded(document, outcome.pages, outcome.whole, outcome.error);
  PostKnown(document);
  ServeWanted(document, stop);
}

bool PreviewPane::ServeWanted(const PreviewDocument& document, std::stop_token stop) {
  Request now;
  {
    std::lock_guard lock(mutex_);
    if (!(request_.document == document)) return false;
    now = request_;
  }
  const bool samePage = servedDocument_ == document && servedPage_ == now.page;
  if (samePage && servedSettings_ == now.settingsId) return true;
  const std::optional<PreviewCache::Page> page = cache_.Get(document, now.page);
  if (!page) return true;
  const QImage drawn = page->Image();
  if (!samePage) PostPage(now, drawn);
  servedDocument_ = document;
  servedPage_ = now.page;
  servedSettings_ = now.settingsId;
  if (stop.stop_requested()) return false;

  // The page as the settings write it: through the engine, into a private folder.
  static thread_local QTemporaryDir folder;
  QImage written;
  QString note;
  const std::string in = folder.filePath(QStringLiteral("page.bmp")).toStdString();
  // The page as the engine reads the renderer's: a 24-bit BMP file.
  const bool saved =
      folder.isValid() &&
      drawn.convertToFormat(QImage::Format_RGB888).save(QString::fromStdString(in), "BMP");
  std::string error = saved ? std::string() : std::string("Cannot write a temporary file");
  if (error.empty()) {
    const std::string out = folder.filePath(QStringLiteral("written")).toStdString() +
                            FormatFromType(now.settings.type).extension;
    error = ConvertPreviewPage(in, now.settings, out, false);
    if (error.empty()) written = QImageReader(QString::fromStdString(out)).read();
    ::unlink(out.c_str());
    if (error.empty() && written.isNull()) {
      // A format the window cannot read itself: the same steps, written as PNG to be shown.
      const std::string png = folder.filePath(QStringLiteral("written.png")).toStdString();
      error = ConvertPreviewPage(in, now.settings, png, true);
      if (error.empty()) written = QImageReader(QString::fromStdString(png)).read();
      ::unlink(png.c_str());
      note = QStringLiteral("Shown as PNG: the window cannot show %1 files")
                 .arg(FormatName(now.settings));
    }
  }
  ::unlink(in.c_str());
  if (!error.empty()) note = QStringLiteral("Not written: ") + QString::fromStdString(error);
  PostWritten(now, Smaller(written), note);
  return true;
}

void PreviewPane::PostPage(const Request& request, const QImage& image) {
  QMetaObject::invokeMethod(
      this,
      [this, document = request.document, page = request.page, image] {
        if (!(document == document_) || page != page_) return;
        shownPage_ = image;
        ShowImage(pageLabel_, shownPage_);
        Refresh();
        emit pageShown(page);
      },
      Qt::QueuedConnection);
}

void PreviewPane::PostWritten(const Request& request, const QImage& image, const QString& note) {
  QMetaObject::invokeMethod(
      this,
      [this, document = request.document, page = request.page, id = request.settingsId, image,
       note] {
        if (!(document == document_) || page != page_ || id != settingsId_) return;
        shownWritten_ = image;
        ShowImage(writtenLabel_, shownWritten_);
        note_->setText(note);
        Refresh();
        emit writtenShown(page);
      },
      Qt::QueuedConnection);
}

void PreviewPane::PostKnown(const PreviewDocument& document) {
  QMetaObject::invokeMethod(
      this,
      [this, document] {
        if (!(document == document_)) return;
        // A page came: the next one has its own time.
        if (slowPage_->isActive()) slowPage_->start();
        Refresh();
      },
      Qt::QueuedConnection);
}

void PreviewPane::ShowImage(QLabel* label, const QImage& image) {
  if (image.isNull()) {
    label->clear();
    return;
  }
  const QSize room = label->contentsRect().size();
  if (room.width() < 2 || room.height() < 2) return;
  label->setPixmap(QPixmap::fromImage(image.scaled(room * label->devicePixelRatioF(),
                                                   Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void PreviewPane::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ShowImage(pageLabel_, shownPage_);
  ShowImage(writtenLabel_, shownWritten_);
}

}  // namespace orvalis
