// A libtavrinx.so with only the four required entry points: no RendererLastError, no
// RendererSetMemoryLimit.
#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int RendererOpen(void) {
  return 7;
}
EXPORT int RenderToBitmaps(int, const char*, const char*, int, int) {
  return 0;
}
EXPORT void RendererClose(int) {}
EXPORT void RendererAbort(int) {}
