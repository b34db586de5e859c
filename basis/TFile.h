#pragma once
// Binary object file: an optional header text, then length-prefixed records.
// Integers are 32-bit little-endian, doubles IEEE 754 little-endian, strings
// a 32-bit byte count followed by the bytes. Objects nest other objects as
// their class name followed by their own record.
//
// A TFile is opened by its constructor for either reading or writing and
// closed when it is destroyed (or by close()).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "basis/TPObject.h"

class TFile : public TPObject {
  MORVANE_CLASS(TFile, TPObject)

  // Opens `path` for reading (checking the header) or for writing (replacing
  // the file and writing the header). Failures raise IOException
  // "TFile.open: (Class) message".
  TFile(const std::string& path, bool forWrite, const std::string& header);
  // The TFile's own path, header and mode loaded from the object file `text`
  // (or read from `file`), then opened.
  explicit TFile(const std::string& text);
  explicit TFile(TFile& file);
  ~TFile() override;

  // Closes the file now; further reads and writes fail.
  void close();
  bool isOpened() const noexcept { return opened_; }
  bool isForWrite() const noexcept { return forWrite_; }
  const std::string& getPath() const noexcept { return path_; }
  const std::string& headerText() const noexcept { return header_; }

  void writeBuffer(const void* bytes, int32_t count);
  void writeInteger(int32_t value);
  void writeString(const std::string& value);
  void writeChars(const std::string& value);
  void writeDouble(double value);
  void writeByte(uint8_t value);
  // Class name, then obj.write(*this).
  void writeTPObject(TPObject& obj);

  void readBuffer(void* bytes, int32_t count);
  int32_t readInteger();
  // Rejects a negative length or one longer than the bytes left before
  // allocating anything.
  std::string readString();
  std::string readChars(int32_t count);
  double readDouble();
  uint8_t readByte();

  void beginWriteRecord(bool sized, bool buffered);
  void endWriteRecord();
  void beginReadRecord(bool sized);
  void endReadRecord();

  int64_t getPosition() const;
  void seek(int64_t position);
  int64_t getSize() const;

  // Bytes that may still be read inside the innermost record that was read
  // into memory, or up to the end of the file. Readers use it to reject
  // counts a record cannot hold before allocating for them.
  int64_t bytesLeft() const;
  // Raises the corrupt-file error when `count` items of at least
  // `minBytesEach` bytes cannot fit in bytesLeft().
  void checkCount(int32_t count, int32_t minBytesEach) const;

  // A blank instance of the stored class name (translated through classMap
  // when set); the caller owns it.
  virtual std::unique_ptr<TPObject> createTPObject();
  // createTPObject(), then its read(); the caller owns the result.
  virtual std::unique_ptr<TPObject> readTPObject();

  void readFrom(TFile& file) override;
  void writeTo(TFile& file) override;

  // The bytes writeTPObject(obj) adds to a file (its class name, then its
  // record), built in memory: what appending `obj` to a stored list adds.
  static std::string bytesOf(TPObject& obj);
  // The 4 bytes writeInteger(value) writes, and the integer 4 such bytes hold.
  static std::string integerBytes(int32_t value);
  static int32_t integerOf(const char* bytes);

  // Stored class names to the names to create: TString -> TString, not owned.
  THashtable* classMap = nullptr;

  // Deepest nesting of records accepted when reading; deeper files are corrupt.
  static constexpr int32_t MAX_READ_DEPTH = 128;

 private:
  bool open();
  void writeRaw(const void* bytes, size_t count);
  void readRaw(void* bytes, size_t count);
  [[noreturn]] void failRead() const;
  [[noreturn]] void failBuffer() const;
  void releaseBuffer();
  // The class name that classMap gives for a stored name.
  std::string mapClassName(const std::string& name);

  int fd_ = -1;
  std::string path_;
  std::string header_;
  bool forWrite_ = false;
  bool opened_ = false;
  // One slot per open record: its running length, or nothing when unsized.
  std::vector<std::optional<int32_t>> sizeStack_;
  std::optional<std::vector<uint8_t>> buffer_;
  // Set by bytesOf: written bytes go here instead of to a file.
  std::string* memory_ = nullptr;
  int32_t bufferCapacity_ = -1;
  int32_t bufferLevel_ = 0;
  int32_t bufferIncrement_ = 256;
  int32_t bufferPosition_ = 0;
  int32_t readDepth_ = 0;
  // Index in sizeStack_ of the innermost record with a length, or -1.
  int currentSize_ = -1;

  void findCurrentSize();
};
