#pragma once
// A fresh directory under $TMPDIR for one test, removed with everything in it.

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string file(const std::string& name) const;
  // Writes `bytes` to file(name) and returns its path.
  std::string write(const std::string& name, const std::string& bytes) const;
  // The whole content of a file ("" when missing).
  static std::string read(const std::string& path);

 private:
  std::string path_;
};
