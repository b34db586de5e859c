#include "basis/TTextFile.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>

#include "basis/FileSystem.h"
#include "basis/TFile.h"
#include "basis/TStringCollection.h"
#include "basis/WritableFile.h"

TTextFile::TTextFile(const std::string& path, int32_t mode) : TPObject(TBlank{}) {
  initialize();
  path_ = path;
  mode_ = mode;
  open();
}

TTextFile::TTextFile(const std::string& text) : TPObject(TBlank{}) {
  initialize();
  constructFromText(text);
  open();
}

TTextFile::TTextFile(TFile& file) : TPObject(TBlank{}) {
  initialize();
  constructFromFile(file);
  open();
}

TTextFile::~TTextFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void TTextFile::initialize() {
  TPObject::initialize();
  path_.clear();
  mode_ = MODE_WRITE;
}

bool TTextFile::open() {
  try {
    const auto kinds = fileutil::FileKinds::AlsoCharacterDevices;
    fileutil::OpenedFile opened;
    if (mode_ == MODE_READ) {
      if (path_.empty()) throw IOException(fileutil::missingNameMessage());
      if (!fileutil::fileExists(path_)) throw IOException("File '" + path_ + "' does not exist.");
      opened = fileutil::openFile(path_, O_RDONLY, kinds);
    } else {
      const auto mode = mode_ == MODE_APPEND ? fileutil::WriteMode::Append : fileutil::WriteMode::Replace;
      opened = fileutil::openForWriting(path_, mode, kinds);
    }
    if (!opened.ok()) throw IOException(opened.failure);
    // Appends exclude each other, and the text writers, until the file is closed.
    if (mode_ == MODE_APPEND && !fileutil::lockFile(opened.fd.get(), true, fileutil::LOCK_WAIT_MILLISECONDS)) {
      throw IOException(fileutil::lockedMessage(path_));
    }
    file_ = ::fdopen(opened.fd.get(), mode_ == MODE_READ ? "rb" : mode_ == MODE_APPEND ? "ab" : "wb");
    if (file_ == nullptr) throw IOException(fileutil::systemMessage(errno));
    opened.fd.release();
    return true;
  } catch (const std::exception& e) {
    throw IOException(std::string("TTextFile.open: ") + e.what());
  }
}

void TTextFile::close() {
  if (file_ == nullptr) return;
  std::FILE* f = file_;
  file_ = nullptr;
  if (std::fclose(f) != 0) {
    throw IOException("TTextFile.close: " + fileutil::systemMessage(errno));
  }
}

void TTextFile::writeBytes(const std::string& s) {
  if (file_ == nullptr) throw IOException("File not open.");
  if (mode_ == MODE_READ) throw IOException("File not open for output.");
  if (!s.empty() && std::fwrite(s.data(), 1, s.size(), file_) != s.size()) {
    throw IOException(fileutil::systemMessage(errno));
  }
}

void TTextFile::write(const std::string& s) {
  try {
    writeBytes(s);
    if (std::fflush(file_) != 0) throw IOException(fileutil::systemMessage(errno));
  } catch (const std::exception& e) {
    throw IOException(std::string("TTextFile.write: ") + e.what());
  }
}

void TTextFile::writeln(const std::string& s) {
  try {
    writeBytes(s);
    writeBytes("\r\n");
  } catch (const std::exception& e) {
    throw IOException(std::string("TTextFile.writeln: ") + e.what());
  }
}

// Reads up to the next line end. With `consume` the line end is passed too;
// without it the file stays at the line end, so the next read gives "".
std::string TTextFile::lineAhead(bool consume) {
  if (file_ == nullptr) throw IOException("File not open.");
  if (mode_ != MODE_READ) throw IOException("File not open for input.");
  std::string line;
  int c;
  while ((c = std::getc(file_)) != EOF && c != '\n' && c != '\r') line.push_back(static_cast<char>(c));
  if (std::ferror(file_)) throw IOException(fileutil::systemMessage(errno));
  if (c == EOF) return line;
  if (!consume) {
    std::ungetc(c, file_);
  } else if (c == '\r') {
    int next = std::getc(file_);
    if (next != '\n' && next != EOF) std::ungetc(next, file_);
  }
  return line;
}

std::string TTextFile::read() {
  try {
    return lineAhead(false);
  } catch (const std::exception& e) {
    throw IOException(std::string("TTextFile.read: ") + e.what());
  }
}

std::string TTextFile::readln() {
  try {
    return lineAhead(true);
  } catch (const std::exception& e) {
    throw IOException(std::string("TTextFile.readln: ") + e.what());
  }
}

bool TTextFile::eof() {
  try {
    if (file_ == nullptr) throw IOException("File not open.");
    if (mode_ != MODE_READ) throw IOException("File not open for input.");
    int c = std::getc(file_);
    if (c == EOF) {
      if (std::ferror(file_)) throw IOException(fileutil::systemMessage(errno));
      return true;
    }
    std::ungetc(c, file_);
    return false;
  } catch (const std::exception& e) {
    throw IOException(std::string("TTextFile.eof: ") + e.what());
  }
}

std::unique_ptr<TStringCollection> TTextFile::readLines(int32_t count) {
  auto lines = std::make_unique<TStringCollection>();
  try {
    while (!eof() && (count < 0 || lines->size() < count)) lines->add(readln());
  } catch (const std::exception& e) {
    throw IOException(std::string("TTextFile.readLines: ") + e.what());
  }
  return lines;
}

std::unique_ptr<TStringCollection> TTextFile::readLines() { return readLines(-1); }

void TTextFile::readFrom(TFile& file) {
  path_ = file.readString();
  mode_ = file.readInteger();
}

void TTextFile::writeTo(TFile& file) {
  file.writeString(path_);
  file.writeInteger(mode_);
}
