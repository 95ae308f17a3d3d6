// cli_files.h: reading the tool's input files and writing its output.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mervalt::cli {

// The whole file at `path` as bytes ("-" is standard input), in a string
// with room for `spare` more bytes. On failure sets `error` to the reason and
// returns nothing.
std::optional<std::string> readFile(const std::string& path, std::string& error, std::size_t spare = 0);

// How messages name an input: its path, or "<stdin>" for "-".
std::string inputName(const std::string& path);

// readFile, saying on standard error why it failed.
std::optional<std::string> readInput(const std::string& path, std::size_t spare = 0);

// Writes `bytes` to standard output.
bool writeStandardOutput(std::string_view bytes, std::string& error);

// Replaces the file at `path` with `bytes`: they go to a temporary file in
// the same folder, which is renamed over `path` once complete, so that a
// failure leaves nothing behind and never a partial file. A new file gets the
// usual permissions (0666 less the umask), an existing one keeps its own.
bool replaceFile(const std::string& path, std::string_view bytes, std::string& error);

}  // namespace mervalt::cli
