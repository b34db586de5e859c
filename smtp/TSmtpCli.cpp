#include "smtp/TSmtpCli.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "basis/TString.h"
#include "smtp/SmtpBase64.h"

namespace {

std::string baseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void copyLine(const std::string& line, char* buffer, int32_t maxLen) {
  size_t n = std::min(line.size(), static_cast<size_t>(maxLen));
  std::memcpy(buffer, line.data(), n);
  buffer[n] = '\0';
}

}  // namespace

TSmtpCli::~TSmtpCli() { CloseFile(); }

void TSmtpCli::CloseFile() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

void TSmtpCli::SetEmailFiles(const std::vector<std::string>& names) {
  emailFiles_.clear();
  for (const std::string& raw : names) {
    std::string name = TString::trim(raw);
    if (name.empty()) continue;
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
      throw SmtpException("File not found '" + name + "'");
    emailFiles_.push_back(name);
  }
}

void TSmtpCli::Data() {
  CheckReady();
  PrepareText();
  TCustomSmtpClient::Data();
}

void TSmtpCli::PrepareText() {
  getDataFlag_ = true;
  fileIndex_ = 0;
  lineCounter_ = 0;
  encoding_ = false;
  CloseFile();
  prepared_.clear();
  preparedPos_ = 0;
  boundary_.clear();
  if (!emailFiles_.empty()) {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.2d%.2d%.2d%.2d%.2d", t.tm_mon + 1, t.tm_mday, t.tm_year % 100,
                  t.tm_hour, t.tm_min);
    boundary_ = std::string("= Multipart Boundary ") + stamp;
    prepared_.push_back("This is a multipart MIME message.");
    prepared_.push_back("");
    prepared_.push_back("--" + boundary_);
    prepared_.push_back("Content-Type: " + MimeTypeText() + "; charset=\"" + CharSet() + "\"");
    prepared_.push_back("Content-Transfer-Encoding: 7bit");
    prepared_.push_back("");
  }
  prepared_.insert(prepared_.end(), mailMessage_.begin(), mailMessage_.end());
}

void TSmtpCli::TriggerHeaderLine(char* line, int32_t size) {
  if (!boundary_.empty() && TString::startsWith(line, "CONTENT-TYPE:", false)) {
    std::string folded = "Content-Type: multipart/mixed;\r\n\tboundary=\"" + boundary_ + "\"";
    copyLine(folded, line, size - 1);
  }
  TCustomSmtpClient::TriggerHeaderLine(line, size);
}

std::string TSmtpCli::Base64Line(const unsigned char* data, size_t length) {
  return base64Encode(data, length);
}

std::string TSmtpCli::EncodeChunk(bool& exhausted) {
  unsigned char chunk[45];
  size_t n = std::fread(chunk, 1, sizeof chunk, file_);
  if (std::ferror(file_))
    throw SmtpException("Cannot read '" + emailFiles_[fileIndex_] + "': " + std::strerror(errno));
  // Exhausted when the end is reached after this chunk.
  int next = std::getc(file_);
  exhausted = next == EOF;
  if (!exhausted) std::ungetc(next, file_);
  return Base64Line(chunk, n);
}

void TSmtpCli::TriggerGetData(int32_t lineNum, char* msgLine, int32_t maxLen, bool& more) {
  (void)lineNum;
  more = true;
  if (preparedPos_ < prepared_.size()) {
    copyLine(prepared_[preparedPos_++], msgLine, maxLen);
    if (preparedPos_ == prepared_.size()) {
      prepared_.clear();
      preparedPos_ = 0;
    }
    return;
  }
  LifeGuard::Watch alive = life_.watch();
  if (getDataFlag_) {
    ++lineCounter_;
    TCustomSmtpClient::TriggerGetData(lineCounter_, msgLine, maxLen, more);
    if (more || !alive) return;
    getDataFlag_ = false;
    more = true;
  }
  if (encoding_) {
    bool exhausted = false;
    std::string line = EncodeChunk(exhausted);
    if (exhausted) {
      CloseFile();
      encoding_ = false;
      ++fileIndex_;
      if (fileIndex_ >= emailFiles_.size()) {
        prepared_.push_back("");
        prepared_.push_back("--" + boundary_ + "--");
      }
    }
    copyLine(line, msgLine, maxLen);
    return;
  }
  if (fileIndex_ < emailFiles_.size()) {
    msgLine[0] = '\0';
    const std::string& path = emailFiles_[fileIndex_];
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) throw SmtpException("Cannot open '" + path + "': " + std::strerror(errno));
    std::string fileName = baseName(path);
    std::string name = fileName;
    std::string contentType = "application/octet-stream";
    int32_t number = static_cast<int32_t>(fileIndex_);
    if (!life_.notify(OnAttachContentType, this, number, name, contentType)) return;
    prepared_.push_back("--" + boundary_);
    prepared_.push_back("Content-Type: " + contentType + ";");
    prepared_.push_back("\tname=\"" + name + "\"");
    prepared_.push_back("Content-Transfer-Encoding: base64");
    prepared_.push_back("Content-Disposition: attachment;");
    prepared_.push_back("\tfilename=\"" + fileName + "\"");
    if (!life_.notify(OnAttachHeader, this, number, name, prepared_)) return;
    prepared_.push_back("");
    encoding_ = true;
    return;
  }
  more = false;
}
