#include "basis/TFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "basis/FileSystem.h"
#include "basis/THashtable.h"
#include "basis/TString.h"
#include "basis/WritableFile.h"

namespace {

const char* const WRITE_ERROR = "TFile: IO error while write binary.";

void putLittleEndian(uint8_t* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

TFile::TFile(const std::string& path, bool forWrite, const std::string& header)
    : TPObject(TBlank{}) {
  initialize();
  path_ = path;
  forWrite_ = forWrite;
  header_ = header;
  opened_ = open();
}

TFile::TFile(const std::string& text) : TPObject(TBlank{}) {
  initialize();
  constructFromText(text);
  opened_ = open();
}

TFile::TFile(TFile& file) : TPObject(TBlank{}) {
  initialize();
  constructFromFile(file);
  opened_ = open();
}

TFile::~TFile() { close(); }

void TFile::close() {
  if (opened_ && fd_ >= 0) ::close(fd_);
  fd_ = -1;
  opened_ = false;
  buffer_.reset();
  sizeStack_.clear();
  currentSize_ = -1;
}

bool TFile::open() {
  try {
    if (forWrite_) {
      fileutil::OpenedFile file =
          fileutil::openForWriting(path_, fileutil::WriteMode::Replace, fileutil::FileKinds::RegularOnly);
      if (!file.ok()) throw IOException(file.failure);
      fd_ = file.fd.release();
      if (!header_.empty()) writeChars(header_);
    } else {
      if (path_.empty()) throw IOException(fileutil::missingNameMessage());
      if (!fileutil::fileExists(path_)) throw FileNotFoundException(path_);
      fileutil::OpenedFile file = fileutil::openFile(path_, O_RDONLY, fileutil::FileKinds::RegularOnly);
      if (!file.ok()) throw IOException(file.failure);
      fd_ = file.fd.release();
      if (!header_.empty()) {
        std::string start(header_.size(), '\0');
        ssize_t got = ::pread(fd_, start.data(), start.size(), 0);
        if (got != static_cast<ssize_t>(header_.size()) || start != header_) {
          throw IOException("File '" + path_ + "' does not support header: '" + header_ + "'.");
        }
        ::lseek(fd_, static_cast<off_t>(header_.size()), SEEK_SET);
      }
    }
    return true;
  } catch (const std::exception& e) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw IOException("TFile.open: " + wrappedText(e));
  }
}

void TFile::findCurrentSize() {
  currentSize_ = -1;
  for (int i = static_cast<int>(sizeStack_.size()) - 1; i >= 0; --i) {
    if (sizeStack_[static_cast<size_t>(i)].has_value()) {
      currentSize_ = i;
      return;
    }
  }
}

void TFile::writeRaw(const void* bytes, size_t count) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  if (memory_ != nullptr) {
    memory_->append(reinterpret_cast<const char*>(p), count);
    return;
  }
  if (fileutil::writeAll(fd_, reinterpret_cast<const char*>(p), count) != 0) throw IOException(WRITE_ERROR);
}

void TFile::readRaw(void* bytes, size_t count) {
  auto* p = static_cast<uint8_t*>(bytes);
  while (count > 0) {
    ssize_t n = fd_ >= 0 ? ::read(fd_, p, count) : -1;
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) failRead();
    p += n;
    count -= static_cast<size_t>(n);
  }
}

void TFile::failRead() const {
  throw IOException("TFile: IO error while read binary." + std::to_string(getPosition()) +
                    " @file.");
}

void TFile::failBuffer() const {
  throw IOException("TFile: Read-Buffer too small or too large, file corrupt: " +
                    std::to_string(bufferPosition_) + "@buffer.");
}

void TFile::writeBuffer(const void* bytes, int32_t count) {
  if (!forWrite_) throw IOException("TFile: Illegal write, file opened for read.");
  if (count <= 0) return;
  if (currentSize_ >= 0) *sizeStack_[static_cast<size_t>(currentSize_)] += count;
  if (buffer_) {
    if (bufferCapacity_ - bufferPosition_ < count) {
      bufferCapacity_ = count + bufferPosition_ + bufferIncrement_;
      buffer_->resize(static_cast<size_t>(bufferCapacity_));
    }
    std::memcpy(buffer_->data() + bufferPosition_, bytes, static_cast<size_t>(count));
    bufferPosition_ += count;
  } else {
    writeRaw(bytes, static_cast<size_t>(count));
  }
}

void TFile::writeInteger(int32_t value) {
  uint8_t bytes[4];
  putLittleEndian(bytes, static_cast<uint32_t>(value));
  writeBuffer(bytes, 4);
}

void TFile::writeString(const std::string& value) {
  if (value.size() > INT32_MAX) throw IOException("TFile: String too long to write.");
  writeInteger(static_cast<int32_t>(value.size()));
  writeChars(value);
}

void TFile::writeChars(const std::string& value) {
  if (value.size() > INT32_MAX) throw IOException("TFile: String too long to write.");
  writeBuffer(value.data(), static_cast<int32_t>(value.size()));
}

void TFile::writeDouble(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, 8);
  uint8_t bytes[8];
  putLittleEndian(bytes, static_cast<uint32_t>(bits));
  putLittleEndian(bytes + 4, static_cast<uint32_t>(bits >> 32));
  writeBuffer(bytes, 8);
}

void TFile::writeByte(uint8_t value) { writeBuffer(&value, 1); }

std::string TFile::bytesOf(TPObject& obj) {
  std::string bytes;
  TFile file{TBlank{}};
  file.initialize();
  file.forWrite_ = true;
  file.memory_ = &bytes;
  // An unsized buffered frame keeps every length patch in memory; closing
  // it hands the whole buffer to writeRaw at once.
  file.beginWriteRecord(false, true);
  file.writeTPObject(obj);
  file.endWriteRecord();
  return bytes;
}

void TFile::writeTPObject(TPObject& obj) {
  writeString(obj.className());
  obj.write(*this);
}

void TFile::readBuffer(void* bytes, int32_t count) {
  if (forWrite_) throw IOException("TFile: Illegal read, file opened for write.");
  if (count <= 0) return;
  if (buffer_) {
    if (bufferCapacity_ - bufferPosition_ < count) failBuffer();
    std::memcpy(bytes, buffer_->data() + bufferPosition_, static_cast<size_t>(count));
    bufferPosition_ += count;
  } else {
    readRaw(bytes, static_cast<size_t>(count));
  }
}

int32_t TFile::readInteger() {
  char b[4];
  readBuffer(b, 4);
  return integerOf(b);
}

std::string TFile::integerBytes(int32_t value) {
  uint8_t bytes[4];
  putLittleEndian(bytes, static_cast<uint32_t>(value));
  return std::string(reinterpret_cast<const char*>(bytes), 4);
}

int32_t TFile::integerOf(const char* bytes) {
  const auto* b = reinterpret_cast<const uint8_t*>(bytes);
  return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                              static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
}

int64_t TFile::bytesLeft() const {
  if (buffer_) return bufferCapacity_ - bufferPosition_;
  int64_t left = getSize() - getPosition();
  return left < 0 ? 0 : left;
}

void TFile::checkCount(int32_t count, int32_t minBytesEach) const {
  if (count < 0 || static_cast<int64_t>(count) * minBytesEach > bytesLeft()) {
    if (buffer_) failBuffer();
    failRead();
  }
}

std::string TFile::readString() {
  int32_t n = readInteger();
  if (!forWrite_) checkCount(n, 1);
  return readChars(n);
}

std::string TFile::readChars(int32_t count) {
  if (count <= 0) return {};
  if (!forWrite_) checkCount(count, 1);
  std::string s(static_cast<size_t>(count), '\0');
  readBuffer(s.data(), count);
  return s;
}

double TFile::readDouble() {
  uint8_t b[8];
  readBuffer(b, 8);
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = bits << 8 | b[i];
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}

uint8_t TFile::readByte() {
  uint8_t b;
  readBuffer(&b, 1);
  return b;
}

void TFile::beginWriteRecord(bool sized, bool buffered) {
  if (buffered && !buffer_) {
    buffer_.emplace(static_cast<size_t>(bufferIncrement_));
    bufferCapacity_ = bufferIncrement_;
    bufferLevel_ = static_cast<int32_t>(sizeStack_.size());
    bufferPosition_ = 0;
  }
  if (sized) {
    writeInteger(0);  // placeholder, counted by the enclosing record
    sizeStack_.emplace_back(0);
    currentSize_ = static_cast<int>(sizeStack_.size()) - 1;
  } else {
    sizeStack_.emplace_back(std::nullopt);
  }
}

void TFile::endWriteRecord() {
  if (sizeStack_.empty()) return;
  std::optional<int32_t> popped = sizeStack_.back();
  sizeStack_.pop_back();
  findCurrentSize();
  if (popped) {
    int32_t length = *popped;
    if (currentSize_ >= 0) *sizeStack_[static_cast<size_t>(currentSize_)] += length;
    uint8_t bytes[4];
    putLittleEndian(bytes, static_cast<uint32_t>(length));
    if (buffer_) {
      std::memcpy(buffer_->data() + bufferPosition_ - length - 4, bytes, 4);
    } else {
      int64_t end = getSize();
      seek(end - length - 4);
      writeRaw(bytes, 4);
      seek(end);
    }
  }
  if (buffer_ && static_cast<int32_t>(sizeStack_.size()) == bufferLevel_) {
    std::vector<uint8_t> data = std::move(*buffer_);
    int32_t used = bufferPosition_;
    releaseBuffer();
    writeRaw(data.data(), static_cast<size_t>(used));
  }
}

void TFile::releaseBuffer() {
  buffer_.reset();
  bufferCapacity_ = 0;
  bufferLevel_ = -1;
  bufferPosition_ = 0;
}

void TFile::beginReadRecord(bool sized) {
  if (readDepth_ >= MAX_READ_DEPTH) {
    throw IOException("TFile: Records nested too deeply, file corrupt: " +
                      std::to_string(readDepth_) + "@depth.");
  }
  if (sized) {
    int32_t length = readInteger();
    if (!buffer_) {
      // A top-level record is read into memory in one piece; its length
      // must fit in what the file still holds.
      if (length < 0 || length > bytesLeft()) failRead();
      bufferCapacity_ = length;
      if (length > 0) {
        std::vector<uint8_t> data(static_cast<size_t>(length));
        readRaw(data.data(), data.size());
        buffer_ = std::move(data);
        bufferPosition_ = 0;
        bufferLevel_ = readDepth_;
      }
    } else if (length < 0 || bufferCapacity_ - bufferPosition_ < length) {
      failRead();
    }
  }
  ++readDepth_;
}

void TFile::endReadRecord() {
  if (readDepth_ <= 0) return;
  int32_t before = readDepth_--;
  if (buffer_ && before == bufferLevel_ + 1) {
    bool exact = bufferPosition_ == bufferCapacity_;
    releaseBuffer();
    if (!exact) throw IOException("TFile: Read-Buffer too small or too large, file corrupt: ");
  }
}

int64_t TFile::getPosition() const {
  if (fd_ < 0) return 0;
  return ::lseek(fd_, 0, SEEK_CUR);
}

void TFile::seek(int64_t position) {
  if (fd_ < 0 || ::lseek(fd_, static_cast<off_t>(position), SEEK_SET) < 0) {
    throw IOException("TFile.seek: " + fileutil::systemMessage(errno));
  }
}

int64_t TFile::getSize() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
  return st.st_size;
}

std::unique_ptr<TPObject> TFile::createTPObject() {
  try {
    std::string name = readString();
    if (classMap != nullptr) name = mapClassName(name);
    const TClass& cls = TClassRegistry::find(name);
    if (!cls.inheritsFrom(TPObject::classInfo())) {
      throw Exception("Class reference isn't TPObject.");
    }
    std::unique_ptr<TMappedObject> obj = cls.newBlank();
    return std::unique_ptr<TPObject>(static_cast<TPObject*>(obj.release()));
  } catch (const std::exception& e) {
    throw IOException("TFile.createTPObject: " + wrappedText(e));
  }
}

std::string TFile::mapClassName(const std::string& name) {
  TString stored(name);
  TMappedObject* mapped = classMap->get(&stored);
  if (const auto* text = as<TString>(mapped)) return text->stringValue();
  return mapped->toString();
}

std::unique_ptr<TPObject> TFile::readTPObject() {
  std::unique_ptr<TPObject> obj;
  try {
    obj = createTPObject();
    obj->read(*this);
    return obj;
  } catch (const std::exception& e) {
    // What the object read so far belongs to nobody else.
    TAbstractCollection::adoptContentsOf(obj.get());
    obj.reset();
    throw IOException("TFile.readTPObject: " + wrappedText(e));
  }
}

void TFile::readFrom(TFile& file) {
  path_ = file.readString();
  header_ = file.readString();
  forWrite_ = file.readByte() != 0;
}

void TFile::writeTo(TFile& file) {
  file.writeString(path_);
  file.writeString(header_);
  file.writeByte(forWrite_ ? 1 : 0);
}
