#pragma once
// The SMTP client with message text and file attachments: the text of
// MailMessage, and when EmailFiles is not empty a multipart message whose
// further parts carry the files in base64.

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "smtp/TCustomSmtpClient.h"

class TSmtpCli : public TCustomSmtpClient {
 public:
  using TSmtpAttachContentType = std::function<void(TCustomSmtpClient* sender, int32_t fileNumber,
                                                    std::string& fileName, std::string& contentType)>;
  using TSmtpAttachHeader = std::function<void(TCustomSmtpClient* sender, int32_t fileNumber,
                                               const std::string& fileName, std::vector<std::string>& hdrLines)>;

  TSmtpCli() = default;
  ~TSmtpCli() override;

  // Prepares the text and its attachments, then sends as the base class does.
  void Data() override;

  const std::vector<std::string>& MailMessage() const { return mailMessage_; }
  void SetMailMessage(const std::vector<std::string>& lines) { mailMessage_ = lines; }
  const std::vector<std::string>& EmailFiles() const { return emailFiles_; }
  // Stores the names trimmed, skipping empty ones; raises SmtpException
  // "File not found '<name>'" at the first name without a file (the names
  // before it stay stored).
  void SetEmailFiles(const std::vector<std::string>& names);

  TSmtpAttachContentType OnAttachContentType;
  TSmtpAttachHeader OnAttachHeader;

  // One base64 line of up to 45 bytes: 60 characters for a full chunk.
  static std::string Base64Line(const unsigned char* data, size_t length);

 protected:
  void TriggerHeaderLine(char* line, int32_t size) override;
  void TriggerGetData(int32_t lineNum, char* msgLine, int32_t maxLen, bool& more) override;

 private:
  void PrepareText();
  void CloseFile();
  // The next base64 line of the open attachment; exhausted tells the end.
  std::string EncodeChunk(bool& exhausted);

  std::vector<std::string> mailMessage_;
  // The prepared lines still to hand out, from preparedPos_ on.
  std::vector<std::string> prepared_;
  size_t preparedPos_ = 0;
  std::vector<std::string> emailFiles_;
  size_t fileIndex_ = 0;
  std::FILE* file_ = nullptr;
  std::string boundary_;
  bool getDataFlag_ = true;
  bool encoding_ = false;
  int32_t lineCounter_ = 0;
};
