// A loadable library without a registration entry.
extern "C" __attribute__((visibility("default"))) int PlainLibraryVersion() {
  return 1;
}
