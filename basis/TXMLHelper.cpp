#include "basis/TXMLHelper.h"

#include <fcntl.h>
#include <unistd.h>

#include <QtCore/QRegularExpression>
#include <QtXml/QDomNodeList>
#include <QtXml/QDomProcessingInstruction>
#include <cerrno>

#include "basis/FileSystem.h"
#include "basis/WritableFile.h"

namespace {

QString toQ(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

std::string fromQ(const QString& text) { return text.toStdString(); }

// The declaration's pseudo-attributes with the encoding set to UTF-8.
QString withUtf8Encoding(const QString& data) {
  static const QRegularExpression encoding(QStringLiteral("encoding\\s*=\\s*(\"[^\"]*\"|'[^']*')"));
  QString result = data;
  if (encoding.match(result).hasMatch()) {
    result.replace(encoding, QStringLiteral("encoding=\"UTF-8\""));
  } else {
    result = result.trimmed() + QStringLiteral(" encoding=\"UTF-8\"");
  }
  return result;
}

// Declares the document as UTF-8 for the life of this object and puts the
// declaration back as it was afterwards.
class Utf8Declaration {
 public:
  explicit Utf8Declaration(QDomDocument& document) : document_(document) {
    QDomNode first = document.firstChild();
    if (first.isProcessingInstruction() && first.nodeName() == QLatin1String("xml")) {
      declaration_ = first.toProcessingInstruction();
      previous_ = declaration_.data();
      declaration_.setData(withUtf8Encoding(previous_));
    } else {
      declaration_ = document.createProcessingInstruction(
          QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"UTF-8\""));
      document.insertBefore(declaration_, first);
      added_ = true;
    }
  }
  ~Utf8Declaration() {
    if (added_) {
      document_.removeChild(declaration_);
    } else {
      declaration_.setData(previous_);
    }
  }
  Utf8Declaration(const Utf8Declaration&) = delete;
  Utf8Declaration& operator=(const Utf8Declaration&) = delete;

 private:
  QDomDocument& document_;
  QDomProcessingInstruction declaration_;
  QString previous_;
  bool added_ = false;
};

void writeAll(const std::string& fileName, const QByteArray& bytes) {
  fileutil::OpenedFile file =
      fileutil::openForWriting(fileName, fileutil::WriteMode::Replace, fileutil::FileKinds::RegularOnly);
  if (!file.ok()) throw IOException(file.failure);
  const int fd = file.fd.release();
  const char* p = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, static_cast<size_t>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int error = errno;
      ::close(fd);
      throw IOException(fileutil::systemMessage(error));
    }
    p += n;
    left -= n;
  }
  if (::close(fd) != 0) throw IOException(fileutil::systemMessage(errno));
}

QByteArray readAll(const std::string& fileName) {
  if (!fileutil::fileExists(fileName)) throw FileNotFoundException(fileName);
  int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw IOException(fileutil::systemMessage(errno));
  QByteArray bytes;
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int error = errno;
      ::close(fd);
      throw IOException(fileutil::systemMessage(error));
    }
    if (n == 0) break;
    bytes.append(chunk, static_cast<qsizetype>(n));
  }
  ::close(fd);
  return bytes;
}

}  // namespace

TXMLHelper& TXMLHelper::getInstance() {
  static TXMLHelper instance;  // kept to the end of the process
  return instance;
}

QDomElement TXMLHelper::getChild(const QDomElement& element, const std::string& name) {
  QDomElement child = element.elementsByTagName(toQ(name)).item(0).toElement();
  if (child.isNull()) {
    throw DOMException("Element '" + fromQ(element.tagName()) + "' has no child '" + name + "'.");
  }
  return child;
}

QDomDocument TXMLHelper::parse(const QByteArray& bytes) {
  QDomDocument document = implementation_.createDocument(QString(), QString(), QDomDocumentType());
  QString message;
  int line = 0;
  int column = 0;
  if (!document.setContent(bytes, &message, &line, &column)) {
    throw IOException(fromQ(message) + " (line " + std::to_string(line) + ", column " +
                      std::to_string(column) + ")");
  }
  return document;
}

QDomDocument TXMLHelper::stringToDOM(const std::string& text) {
  try {
    return parse(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  } catch (const std::exception& e) {
    throw IOException(std::string("TXMLHelper.stringToDOM: ") + e.what());
  }
}

void TXMLHelper::DOMToFile(QDomDocument& document, const std::string& fileName) {
  try {
    QByteArray text;
    {
      Utf8Declaration declared(document);
      text = document.toByteArray(1);
    }
    text.replace("\r\n", "\n");
    text.replace("\n", "\r\n");
    writeAll(fileName, text);
  } catch (const std::exception& e) {
    throw IOException(std::string("TXMLHelper.DOMToFile: ") + e.what());
  }
}

QDomDocument TXMLHelper::fileToDOM(const std::string& fileName) {
  try {
    return parse(readAll(fileName));
  } catch (const std::exception& e) {
    throw IOException(std::string("TXMLHelper.fileToDOM: ") + e.what());
  }
}

QDomDocument TXMLHelper::createDocument(const std::string& rootName) {
  return implementation_.createDocument(QString(), toQ(rootName), QDomDocumentType());
}
