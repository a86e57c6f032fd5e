// A library with a registration entry: leaves a marker file in $TMPDIR so tests see the call.
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" __attribute__((visibility("default"))) long DllRegisterServer() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = std::string(dir ? dir : "/tmp") + "/registered.marker";
  if (FILE* f = std::fopen(path.c_str(), "a")) {
    std::fputs("called\n", f);
    std::fclose(f);
  }
  return 0;
}
