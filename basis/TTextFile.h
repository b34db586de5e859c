#pragma once
// Line-oriented 8-bit text file opened for appending, reading or writing.
// Lines are written with CR LF; reading accepts LF, CR LF and a lone CR.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "basis/TPObject.h"

class TStringCollection;

class TTextFile : public TPObject {
  MORVANE_CLASS(TTextFile, TPObject)

  static constexpr int32_t MODE_APPEND = 0;
  static constexpr int32_t MODE_READ = 1;
  static constexpr int32_t MODE_WRITE = 2;

  // Opens `path` in `mode`. Failures raise IOException "TTextFile.open: " + reason.
  TTextFile(const std::string& path, int32_t mode);
  explicit TTextFile(const std::string& text);
  explicit TTextFile(TFile& file);
  // Closes quietly; call close() to see a failure.
  ~TTextFile() override;

  // Closes the file; a failure raises IOException "TTextFile.close: " + reason.
  void close();
  bool isOpened() const noexcept { return file_ != nullptr; }
  const std::string& getPath() const noexcept { return path_; }
  int32_t getMode() const noexcept { return mode_; }

  using TPObject::read;
  using TPObject::write;

  // Writes `s` without a line end and flushes.
  virtual void write(const std::string& s);
  // The rest of the current line; stops before its line end, so reading
  // again on the same line gives "".
  virtual std::string read();
  // Up to `count` lines (all remaining when negative); the caller owns them.
  virtual std::unique_ptr<TStringCollection> readLines(int32_t count);
  virtual std::unique_ptr<TStringCollection> readLines();

  void writeln(const std::string& s);
  // The rest of the current line; moves past its line end.
  std::string readln();
  bool eof();

  void initialize() override;
  void readFrom(TFile& file) override;
  void writeTo(TFile& file) override;

 private:
  bool open();
  void writeBytes(const std::string& s);
  std::string lineAhead(bool consume);

  std::FILE* file_ = nullptr;
  std::string path_;
  int32_t mode_ = MODE_WRITE;
};
