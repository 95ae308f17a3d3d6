// cli_output_names.cpp: the names records give their -o files, and writing them inside the output folder.
#include "cli_output_names.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "cli_files.h"

namespace mervalt::cli {
namespace {

namespace fs = std::filesystem;

std::size_t firstMarkup(std::string_view pattern) {
  return std::min(pattern.find("{{"), pattern.find("{%"));
}

// The real path of `path`, or nothing after setting `error`.
std::optional<std::string> realPath(const std::string& path, std::string& error) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  std::string out(resolved);
  std::free(resolved);
  return out;
}

// The parts of `path` between slashes, without empty and "." parts.
std::vector<std::string_view> partsOf(std::string_view path) {
  std::vector<std::string_view> parts;
  while (!path.empty()) {
    std::size_t slash = path.find('/');
    std::string_view part = path.substr(0, slash);
    if (!part.empty() && part != ".") parts.push_back(part);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  }
  return parts;
}

}  // namespace

std::string patternFolder(std::string_view pattern) {
  std::string_view head = pattern.substr(0, firstMarkup(pattern));
  std::size_t slash = head.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(head.substr(0, slash + 1));
}

bool patternVaries(std::string_view pattern) { return firstMarkup(pattern) != std::string_view::npos; }

std::string quotedName(std::string_view name) {
  std::string out = "'";
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      out += c;
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
    out += escaped;
  }
  return out + "'";
}

std::optional<OutputFolder> OutputFolder::open(const std::string& prefix, std::string& error) {
  std::string folder = prefix.empty() ? "." : prefix;
  std::error_code ec;
  fs::create_directories(folder, ec);
  struct stat st;
  if (ec || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = "cannot make the output folder " + quotedName(folder) + ": " +
            (ec ? ec.message() : std::string(std::strerror(errno ? errno : ENOTDIR)));
    return std::nullopt;
  }
  std::optional<std::string> real = realPath(folder, error);
  if (!real) return std::nullopt;
  return OutputFolder(prefix, *real);
}

std::optional<std::string> OutputFolder::relativeName(std::string_view name, std::string& reason) const {
  auto refuse = [&](const std::string& why) {
    reason = why;
    return std::nullopt;
  };
  if (name.empty()) return refuse("the name is empty");
  if (name.find('\0') != std::string_view::npos) return refuse("the name holds a NUL byte");
  if (name[0] == '/' && (prefix_.empty() || prefix_[0] != '/')) return refuse("the name is absolute");
  if (name.substr(0, prefix_.size()) != prefix_)
    return refuse("the name does not begin with the output folder " + quotedName(prefix_));
  std::string_view rest = name.substr(prefix_.size());
  std::vector<std::string_view> parts = partsOf(rest);
  for (std::string_view part : parts)
    if (part == "..") return refuse("the name has a '..' part");
  if (parts.empty() || rest.back() == '/' || partsOf(rest.substr(rest.rfind('/') + 1)).empty())
    return refuse("the name is a folder's");
  std::string relative;
  for (std::string_view part : parts) (relative.empty() ? relative : relative += '/') += part;
  return relative;
}

std::optional<uint64_t> OutputFolder::claim(const std::string& relative, uint64_t line) {
  auto [at, fresh] = claimed_.emplace(relative, line);
  if (fresh) return std::nullopt;
  return at->second;
}

bool OutputFolder::inside(const std::string& path) const {
  if (real_ == "/") return true;
  return path.compare(0, real_.size(), real_) == 0 && (path.size() == real_.size() || path[real_.size()] == '/');
}

// Creates the folders of `relative` one at a time, checking where each one
// really is before going into it; the real path of the file's folder.
std::optional<std::string> OutputFolder::placeFolders(const std::string& relative, std::string_view name,
                                                      std::string& error) const {
  std::string dir = real_;
  for (std::size_t start = 0, slash; (slash = relative.find('/', start)) != std::string::npos; start = slash + 1) {
    std::string next = (dir == "/" ? "" : dir) + "/" + relative.substr(start, slash - start);
    std::string shown = prefix_ + relative.substr(0, slash);
    std::string reason;
    std::optional<std::string> real;
    if ((::mkdir(next.c_str(), 0777) != 0 && errno != EEXIST) || !(real = realPath(next, reason))) {
      error = "cannot make the folder " + quotedName(shown) + ": " + (reason.empty() ? std::strerror(errno) : reason);
      return std::nullopt;
    }
    if (!inside(*real)) {
      error = "refusing to write " + quotedName(name) + ": " + quotedName(shown) + " leads outside " +
              quotedName(prefix_.empty() ? "." : prefix_);
      return std::nullopt;
    }
    dir = *real;
  }
  return dir;
}

bool OutputFolder::write(const std::string& relative, std::string_view name, std::string_view bytes,
                         std::string& error) const {
  std::optional<std::string> dir = placeFolders(relative, name, error);
  if (!dir) return false;
  std::string target = (*dir == "/" ? "" : *dir) + "/" + relative.substr(relative.rfind('/') + 1);
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::error_code readError, resolveError;
    fs::path link = fs::read_symlink(target, readError);
    fs::path resolved = fs::weakly_canonical(fs::path(*dir) / link, resolveError);
    if (readError || resolveError || !inside(resolved.string())) {
      error = "refusing to write " + quotedName(name) + ": it is a symbolic link that leads outside " +
              quotedName(prefix_.empty() ? "." : prefix_);
      return false;
    }
  }
  std::string reason;
  if (replaceFile(target, bytes, reason)) return true;
  error = "cannot write " + quotedName(name) + ": " + reason;
  return false;
}

}  // namespace mervalt::cli
