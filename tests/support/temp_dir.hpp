#pragma once

#include <string>
#include <string_view>

namespace qeltest {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
// when the object goes away. Tests use it as HOME for the server under test
// and to hold generated certificates.
class TempDir {
 public:
  explicit TempDir(std::string_view prefix = "qeltest");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }

  // Writes `content` to `relative_path` below the directory, creating the
  // parent directories on the way; returns the absolute path of the file.
  std::string write_file(std::string_view relative_path, std::string_view content) const;

  // Creates `relative_path` (and its parents); returns the absolute path.
  std::string make_dir(std::string_view relative_path) const;

 private:
  std::string path_;
};

}  // namespace qeltest
