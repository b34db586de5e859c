#pragma once
// The one gateway to the XML document library (Qt's DOM): parses files and
// strings into documents, writes documents to files, creates empty documents
// and finds elements by tag name.
//
// Texts cross between the program's 8-bit strings and the DOM's UTF-16
// strings as UTF-8, the code page of this platform.

#include <QtXml/QDomDocument>
#include <QtXml/QDomElement>
#include <QtXml/QDomImplementation>
#include <string>

#include "basis/Exceptions.h"

// A failed DOM operation, such as a missing child element.
MORVANE_EXCEPTION(DOMException, Exception);

class TXMLHelper {
 public:
  // The process-wide helper, made on the first call and kept to the end.
  static TXMLHelper& getInstance();

  virtual ~TXMLHelper() = default;
  TXMLHelper(const TXMLHelper&) = delete;
  TXMLHelper& operator=(const TXMLHelper&) = delete;

  // The first element below `element`, in document order at any depth,
  // named `name`. None raises DOMException
  // "Element '<tag>' has no child '<name>'.".
  virtual QDomElement getChild(const QDomElement& element, const std::string& name);
  // A new document parsed from `text`. Failures raise IOException
  // "TXMLHelper.stringToDOM: " + the reason.
  virtual QDomDocument stringToDOM(const std::string& text);

  // Creates or replaces `fileName` with the document as UTF-8 text, declared
  // as UTF-8 and with CR LF line ends. The document's own declaration is
  // unchanged afterwards. Failures raise IOException "TXMLHelper.DOMToFile: " + reason.
  void DOMToFile(QDomDocument& document, const std::string& fileName);
  // A new document parsed from the file. Failures raise IOException
  // "TXMLHelper.fileToDOM: " + the reason.
  QDomDocument fileToDOM(const std::string& fileName);
  // A new document without document type whose document element is `rootName`.
  QDomDocument createDocument(const std::string& rootName);

 protected:
  TXMLHelper() = default;

 private:
  QDomDocument parse(const QByteArray& bytes);

  QDomImplementation implementation_;
};
