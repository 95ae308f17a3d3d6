// cli_files.cpp: reading the tool's input files and writing its output.
#include "cli_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace mervalt::cli {

std::optional<std::string> readFile(const std::string& path, std::string& error, std::size_t spare) {
  bool isStdin = path == "-";
  std::FILE* f = isStdin ? stdin : std::fopen(path.c_str(), "rb");
  if (!f) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  std::string bytes;
  // A file of known size is read into one allocation, so that reading a
  // large document never holds two growing copies of it.
  struct stat st;
  if (::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    bytes.reserve(static_cast<std::size_t>(st.st_size) + spare);
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  bool failed = std::ferror(f) != 0;
  int savedErrno = errno;
  if (!isStdin) std::fclose(f);
  if (failed) {
    error = std::strerror(savedErrno);
    return std::nullopt;
  }
  return bytes;
}

std::string inputName(const std::string& path) { return path == "-" ? "<stdin>" : path; }

std::optional<std::string> readInput(const std::string& path, std::size_t spare) {
  std::string error;
  std::optional<std::string> bytes = readFile(path, error, spare);
  if (!bytes) std::fprintf(stderr, "mervalt: cannot read '%s': %s\n", inputName(path).c_str(), error.c_str());
  return bytes;
}

namespace {

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The permissions for the output: those of the file it replaces, or those of
// a newly created file.
mode_t outputMode(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool writeStandardOutput(std::string_view bytes, std::string& error) {
  if (writeAll(STDOUT_FILENO, bytes)) return true;
  error = std::strerror(errno);
  return false;
}

bool replaceFile(const std::string& path, std::string_view bytes, std::string& error) {
  std::filesystem::path target(path);
  std::filesystem::path folder = target.parent_path();
  std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  std::vector<char> temp(pattern.begin(), pattern.end());
  temp.push_back('\0');
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  bool ok = ::fchmod(fd, outputMode(path)) == 0 && writeAll(fd, bytes);
  int savedErrno = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && ::rename(temp.data(), path.c_str()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    ::unlink(temp.data());
    error = std::strerror(savedErrno);
  }
  return ok;
}

}  // namespace mervalt::cli
