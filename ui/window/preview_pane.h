#pragma once
// PreviewPane: the window's picture of the selected document. Its first page (or the page under
// the slider, for a longer one) as the confined renderer plug-in draws it at a low resolution,
// and beside it the same page as the current settings would write it (format, rotation,
// colours, size: the page is run through the engine into a temporary file).
//
// The drawing happens on one worker thread that the pane owns (started with it, joined when it
// goes): the window's thread only asks and shows. Moving the selection to another document ends
// the rendering of the one before (a stop: RendererAbort). Pages already drawn are kept, by the
// document's path, size and time of change and the page number, within a memory bound, so that
// going back to a document or a page shows it at once. A document whose next page does not come
// within 10 s (a program that never ends, or one that draws for minutes) is left there: its
// rendering is stopped, and the pane says so.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QWidget>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "batch/page_renderer.h"
#include "settings/conversion_settings.h"

class QLabel;
class QSlider;
class QTimer;

namespace orvalis {

// A document as it is on disk now: the same path with another size or time of change is
// another document.
struct PreviewDocument {
  std::string path;
  int64_t size = -1;
  int64_t mtime = -1;  // nanoseconds
  bool operator<(const PreviewDocument& other) const;
  bool operator==(const PreviewDocument& other) const;
  // The document at `path` as it is now; size -1 when it cannot be examined.
  static PreviewDocument Of(const std::string& path);
};

// The pages drawn so far, shared by the worker (which adds) and the window (which reads).
// Thread-safe; its lock is a leaf.
class PreviewCache {
 public:
  explicit PreviewCache(size_t limitBytes) : limitBytes_(limitBytes) {}
  // A page as the renderer drew it, kept as PNG (a few dozen KB for a page of text).
  struct Page {
    QByteArray png;
    QImage Image() const;
    static Page Of(const QImage& image);
  };
  void Put(const PreviewDocument& document, int number, Page page);
  std::optional<Page> Get(const PreviewDocument& document, int number);
  // The document was drawn to its end, with `pages` pages, or failed with `error`.
  void SetEnded(const PreviewDocument& document, int pages, bool whole, const std::string& error);
  struct Known {
    int pages = 0;       // pages drawn
    bool whole = false;  // `pages` is the document's page count
    std::string error;   // why it could not be drawn (wholly)
  };
  Known KnownOf(const PreviewDocument& document);
  size_t Bytes() const;

 private:
  struct Entry {
    std::map<int, Page> pages;
    Known known;
    size_t bytes = 0;
    uint64_t used = 0;
  };
  void Trim(const PreviewDocument& keep);
  const size_t limitBytes_;
  mutable std::mutex mutex_;
  std::map<PreviewDocument, Entry> documents_;
  size_t bytes_ = 0;
  uint64_t clock_ = 0;
};

class PreviewPane : public QWidget {
  Q_OBJECT

 public:
  PreviewPane(PageRenderer* renderer, QWidget* parent = nullptr);
  ~PreviewPane() override;

  // Shows `path` (its first page); "" shows nothing, with `why` in its place.
  void ShowDocument(const std::string& path, const QString& why = QString());
  // The settings the written side follows.
  void SetSettings(const ConversionSettings& settings);
  // While a run converts (true), the pane draws nothing: it shows what it drew before, and draws
  // the document selected then once the run is over. A preview drawn beside a run took a third
  // of its time on two processors.
  void SetQuiet(bool quiet);
  // The page shown (from 1), 0 when none.
  int Page() const { return page_; }
  void ShowPage(int page);

  // What the pane shows, for tests and the window's own checks.
  QImage ShownPage() const { return shownPage_; }
  QImage ShownWritten() const { return shownWritten_; }
  QString PageText() const;
  QString Note() const;

 signals:
  // The page under the slider, drawn and shown.
  void pageShown(int page);
  // The written side of it, shown.
  void writtenShown(int page);

 private:
  struct Request {
    PreviewDocument document;
    int page = 1;
    ConversionSettings settings;
    uint64_t settingsId = 0;
  };
  void Work();
  void Serve(const Request& request, std::stop_token stop);
  // Shows (from the worker) what the current request wants of `document` that the cache has and
  // has not been shown; false when the request is for another document now.
  bool ServeWanted(const PreviewDocument& document, std::stop_token stop);
  void PostPage(const Request& request, const QImage& image);
  void PostWritten(const Request& request, const QImage& image, const QString& note);
  void PostKnown(const PreviewDocument& document);
  void Ask(Request request, bool newDocument);
  void Refresh();
  // No page came within kSlowPage: the document's rendering is stopped and the pane says why.
  void GiveUpSlowDocument();
  void ShowImage(QLabel* label, const QImage& image);
  void resizeEvent(QResizeEvent* event) override;

  PageRenderer* const renderer_;
  PreviewCache cache_;

  // Window thread only.
  QLabel* pageLabel_ = nullptr;
  QLabel* writtenLabel_ = nullptr;
  QLabel* pageCaption_ = nullptr;
  QLabel* writtenCaption_ = nullptr;
  QLabel* pageText_ = nullptr;
  QLabel* note_ = nullptr;
  QSlider* slider_ = nullptr;
  QTimer* slowPage_ = nullptr;  // runs while the document is drawn, from one page to the next
  PreviewDocument document_;
  int page_ = 0;
  ConversionSettings settings_;
  uint64_t settingsId_ = 0;
  bool quiet_ = false;
  QImage shownPage_;
  QImage shownWritten_;

  // Shared with the worker, under mutex_ (a leaf lock).
  std::mutex mutex_;
  std::condition_variable wake_;
  Request request_;
  bool pending_ = false;
  bool quit_ = false;
  std::stop_source stop_;  // the current document's rendering
  // The worker's own: what it has shown of the current request.
  int servedPage_ = 0;
  uint64_t servedSettings_ = 0;
  PreviewDocument servedDocument_;

  std::thread worker_;  // last: started once everything above exists
};

}  // namespace orvalis
