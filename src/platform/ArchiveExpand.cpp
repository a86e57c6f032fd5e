#include "platform/ArchiveExpand.h"

#include <archive.h>
#include <archive_entry.h>

#include <fstream>
#include <memory>

namespace vantrel {

namespace {

std::string BaseName(const std::string& prmPath) {
  size_t slash = prmPath.find_last_of("/\\");
  return slash == std::string::npos ? prmPath : prmPath.substr(slash + 1);
}

bool CopyEntry(archive* prmArchive, const std::string& prmTarget, std::string& prmError) {
  std::ofstream out(prmTarget, std::ios::binary | std::ios::trunc);
  if (!out) {
    prmError = "cannot create " + prmTarget;
    return false;
  }
  char buf[8192];
  for (;;) {
    la_ssize_t n = archive_read_data(prmArchive, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      prmError = archive_error_string(prmArchive) ? archive_error_string(prmArchive) : "read";
      return false;
    }
    out.write(buf, n);
  }
  out.close();
  if (!out) prmError = "cannot write " + prmTarget;
  return static_cast<bool>(out);
}

}  // namespace

bool ExpandArchive(const std::string& prmArchive, const std::string& prmDestDir,
                   std::string& prmError) {
  std::unique_ptr<archive, decltype(&archive_read_free)> a(archive_read_new(), archive_read_free);
  if (!a) {
    prmError = "out of memory";
    return false;
  }
  archive_read_support_filter_all(a.get());
  archive_read_support_format_all(a.get());
  if (archive_read_open_filename(a.get(), prmArchive.c_str(), 16384) != ARCHIVE_OK) {
    prmError = archive_error_string(a.get()) ? archive_error_string(a.get()) : "open";
    return false;
  }
  archive_entry* entry = nullptr;
  for (;;) {
    int r = archive_read_next_header(a.get(), &entry);
    if (r == ARCHIVE_EOF) return true;
    if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
      prmError = archive_error_string(a.get()) ? archive_error_string(a.get()) : "header";
      return false;
    }
    if (archive_entry_filetype(entry) != AE_IFREG) continue;
    const char* path = archive_entry_pathname(entry);
    std::string name = BaseName(path != nullptr ? path : "");
    if (name.empty() || name == "." || name == "..") continue;
    if (!CopyEntry(a.get(), prmDestDir + "/" + name, prmError)) return false;
  }
}

}  // namespace vantrel
