#ifndef ORVALIS_RENDERER_TAVRINX_H_
#define ORVALIS_RENDERER_TAVRINX_H_
/* libtavrinx.so: the page renderer. It renders one PostScript file at a time into numbered BMP
 * pages by running Ghostscript's gs as a child process (never through a shell):
 *   gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bmp16m -r<x>x<y> -dTextAlphaBits=4
 *      -dGraphicsAlphaBits=4 -sOutputFile=<pattern> -f <file>
 * The child runs in its own process group, with its address space capped, its temporary folder
 * (TMPDIR, TMP, TEMP) and working folder inside a private folder next to the pages that is
 * removed afterwards, and everything it prints captured. The kernel confines it as well, so that
 * a document that defeats -dSAFER still cannot reach beyond its pages: Landlock limits what it
 * may read, write and run, a seccomp filter denies sockets, ptrace and the like, an empty
 * network namespace cuts it off the network, and it may gain no privileges. RendererProtections
 * says which of these the kernel offers.
 *
 * Usage for one source file: RendererOpen, RenderToBitmaps once, RendererClose. The program
 * loads the library with dlopen and finds these entry points by name with dlsym. The four
 * entry points RendererOpen, RenderToBitmaps, RendererClose and RendererAbort are required of
 * every renderer plug-in; RendererLastError, RendererSetMemoryLimit, RendererPause,
 * RendererSetPageListener, RendererProtections, RendererPageCount, RenderPagesToBitmaps and
 * RendererPagesExpected are optional. All strings are NUL-terminated
 * bytes (UTF-8 file names pass through unchanged). */

#ifdef __cplusplus
extern "C" {
#endif

#define TAVRINX_EXPORT __attribute__((visibility("default")))

/* Results of RenderToBitmaps. */
#define TAVRINX_RENDER_SUCCEEDED 1  /* gs ended normally; every page is written */
#define TAVRINX_RENDER_FAILED 0     /* gs failed (pages before the failure may be there) */
#define TAVRINX_RENDER_ABORTED (-1) /* RendererAbort or RendererClose ended the rendering */
/* No process could be started for the interpreter: the limit on the user's processes is
 * reached. Nothing was rendered; the same call may succeed once another process has ended. */
#define TAVRINX_RENDER_NO_PROCESS (-2)

/* Opens a renderer handle. Returns a handle greater than 0, or 0 when the interpreter (gs, searched
 * on PATH, absolute entries only) cannot be found. */
TAVRINX_EXPORT int RendererOpen(void);

/* Renders every page of the PostScript file psPath into BMP files (24 bits per pixel) named by
 * outputPattern, which holds one page-number conversion "%d" or "%0<n>d" in its file-name part
 * (the last one there counts): page 7 with "/tmp/mtmp_x/report_%03d.bmp" becomes
 * /tmp/mtmp_x/report_007.bmp; numbers above 999 keep all their digits. Every other '%' of the
 * pattern is taken literally. The folder of the pattern must exist. Resolutions are clamped to
 * 72..600 dots per inch. Blocks until the interpreter has ended.
 * Returns TAVRINX_RENDER_SUCCEEDED, TAVRINX_RENDER_FAILED (with the reason in RendererLastError;
 * also for an invalid handle, a missing file or a pattern without a page number),
 * TAVRINX_RENDER_ABORTED, or TAVRINX_RENDER_NO_PROCESS (with the reason too). One rendering at a
 * time per handle: a second call while one runs fails. */
TAVRINX_EXPORT int RenderToBitmaps(int handle, const char* psPath, const char* outputPattern,
                                   int xdpi, int ydpi);

/* Ends a rendering of this handle at once, from any thread: the interpreter's process group gets
 * SIGTERM, then SIGKILL after a short grace. RenderToBitmaps then returns TAVRINX_RENDER_ABORTED,
 * and so does every later call with this handle. Unknown handles are ignored. */
TAVRINX_EXPORT void RendererAbort(int handle);

/* Releases the handle; a rendering still running with it is aborted first. */
TAVRINX_EXPORT void RendererClose(int handle);

/* Why the last RenderToBitmaps of this handle failed or was aborted: the interpreter's error
 * lines (its "Error: ..." line and its closing message), or our own reason. After a success, the
 * errors and warnings the interpreter reported while it went on (a damaged PDF that opens to no
 * page), or ""; "" before any rendering. Printable text: control characters and invalid UTF-8 are replaced by
 * '?'. The pointer stays valid until the next RenderToBitmaps or RendererClose with the handle.
 * An unknown handle gives a static message. */
TAVRINX_EXPORT const char* RendererLastError(int handle);

/* Optional: the pages the last rendering of this handle was held to, or -1. A PDF rendering is
 * held to the pages the interpreter set out to draw (the document's page count, or the range's
 * pages it has); a PostScript program that ends before the pages its DSC header promises
 * ("%%Pages: N") without the "%%EOF" a DSC document ends with was cut short, and is held to
 * them. A rendering that drew fewer pages than it was held to fails, its pages kept, with the
 * pages missing in RendererLastError. -1 for any other rendering (a PostScript program that
 * ended as it should: its pages are whatever it printed), and before any. */
TAVRINX_EXPORT int RendererPagesExpected(int handle);

/* Optional: caps the address space of the interpreter of this handle's later renderings, in
 * bytes (at least 128 MiB is given; 3 GiB until set). A program that runs several renderings
 * at once shares its memory between them with it. Unknown handles are ignored. */
TAVRINX_EXPORT void RendererSetMemoryLimit(int handle, unsigned long long bytes);

/* Optional: holds the interpreter of this handle's running rendering where it is (paused not 0)
 * or lets it go on (0), from any thread. A program that converts pages while they render uses
 * it to keep the interpreter from running far ahead. The hold stays until let go: a rendering
 * that starts on a held handle starts held. A rendering that is aborted or closed ends whether
 * held or not. Unknown handles are ignored. */
TAVRINX_EXPORT void RendererPause(int handle, int paused);

/* Optional: reports the pages of this handle's later renderings as they are finished. During
 * RenderToBitmaps, on the thread running it, listener(context, path) is called once for each
 * page file the interpreter has finished writing (closed), in the order it closed them (page
 * order), with the page's path as the pattern names it; every call comes before
 * RenderToBitmaps returns. A page the renderer cut short itself (at the file-size limit, or
 * when it ended the interpreter for lack of disk space or files) is removed, not reported, as
 * without a listener; one that RendererAbort or RendererClose cut short is reported, and the
 * caller checks it. From the call on, the file belongs to the caller: the renderer never opens,
 * renames or removes it again. NULL stops the reports. Unknown handles are ignored. */
TAVRINX_EXPORT void RendererSetPageListener(int handle,
                                            void (*listener)(void* context, const char* pagePath),
                                            void* context);

/* Optional: counts the pages of the PDF document pdfPath (a file that begins with "%PDF-"; any
 * other is refused), through an interpreter confined as a rendering's is, whose private folder
 * is made in workFolder and removed afterwards. Returns the count (at least 1), or -1 with the
 * reason in RendererLastError (a damaged or locked document, one that is not PDF, a stop by
 * RendererAbort). Blocks until the interpreter has ended; one call at a time per handle, like
 * RenderToBitmaps. */
TAVRINX_EXPORT int RendererPageCount(int handle, const char* pdfPath, const char* workFolder);

/* Optional: renders pages firstPage to lastPage (counted from 1, firstPage <= lastPage) of the
 * PDF document pdfPath, as RenderToBitmaps renders a whole document, each page under its own
 * number: page 7 with "/tmp/mtmp_x/report_%03d.bmp" becomes /tmp/mtmp_x/report_007.bmp
 * whatever the first page of the range. Only PDF documents are taken (a file that begins with
 * "%PDF-"): their pages do not depend on one another, so that two handles may render two parts
 * of one document at once. A range past the document's last page gives the pages there are. */
TAVRINX_EXPORT int RenderPagesToBitmaps(int handle, const char* pdfPath, const char* outputPattern,
                                        int xdpi, int ydpi, int firstPage, int lastPage);

/* Optional: which protections hold the interpreter on this machine, one line of text:
 * "active: -dSAFER, ..., empty network namespace", followed by "; missing: ..." when the kernel
 * lacks some of them (renderings then run with the others). *allActive (when not NULL) is set
 * to 1 when nothing is missing, else 0. The text is static. */
TAVRINX_EXPORT const char* RendererProtections(int* allActive);

/* Entry-point types, for dlsym. */
typedef int (*RendererOpenFn)(void);
typedef int (*RenderToBitmapsFn)(int, const char*, const char*, int, int);
typedef void (*RendererAbortFn)(int);
typedef void (*RendererCloseFn)(int);
typedef const char* (*RendererLastErrorFn)(int);
typedef void (*RendererSetMemoryLimitFn)(int, unsigned long long);
typedef void (*RendererPauseFn)(int, int);
typedef const char* (*RendererProtectionsFn)(int*);
typedef void (*RendererPageListener)(void* context, const char* pagePath);
typedef void (*RendererSetPageListenerFn)(int, RendererPageListener, void*);
typedef int (*RendererPageCountFn)(int, const char*, const char*);
typedef int (*RenderPagesToBitmapsFn)(int, const char*, const char*, int, int, int, int);
typedef int (*RendererPagesExpectedFn)(int);

#ifdef __cplusplus
}
#endif

#endif /* ORVALIS_RENDERER_TAVRINX_H_ */
