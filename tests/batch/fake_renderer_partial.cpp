// A libtavrinx.so that lacks most entry points, for the loader's failure path.
extern "C" __attribute__((visibility("default"))) int RendererOpen(void) {
  return 1;
}
