#include "temp_dir.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace qeltest {

namespace fs = std::filesystem;

TempDir::TempDir(std::string_view prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      (base && *base ? std::string(base) : std::string("/tmp")) + "/" + std::string(prefix) + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!::mkdtemp(buffer.data())) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
  }
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TempDir::make_dir(std::string_view relative_path) const {
  fs::path dir = fs::path(path_) / relative_path;
  fs::create_directories(dir);
  return dir.string();
}

std::string TempDir::write_file(std::string_view relative_path, std::string_view content) const {
  fs::path file = fs::path(path_) / relative_path;
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file.string();
}

}  // namespace qeltest
