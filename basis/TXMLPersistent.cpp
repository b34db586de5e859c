#include "basis/TXMLPersistent.h"

#include "basis/TXMLHelper.h"

void TXMLPersistent::storeXML() { storeXML(fileName); }

void TXMLPersistent::storeXML(const std::string& name) { storeXML(name, "default"); }

void TXMLPersistent::storeXML(const std::string& name, const std::string& rootName) {
  try {
    QDomDocument document = TXMLHelper::getInstance().createDocument(rootName);
    while (!document.firstChild().isNull()) document.removeChild(document.firstChild());
    QDomNode node = onToXML ? onToXML(document) : toXML(document);
    if (node.isNull()) throw IllegalStateException(className() + ".toXML: No node to store.");
    document.appendChild(node);
    TXMLHelper::getInstance().DOMToFile(document, name);
  } catch (const std::exception& e) {
    throw IOException("TXMLPersistent.storeXML: " + wrappedText(e));
  }
}

void TXMLPersistent::loadXML() { loadXML(fileName); }

void TXMLPersistent::loadXML(const std::string& name) {
  try {
    QDomDocument document = TXMLHelper::getInstance().fileToDOM(name);
    loadXML(document);
  } catch (const std::exception& e) {
    throw IOException("TXMLPersistent.loadXML: " + wrappedText(e));
  }
}

void TXMLPersistent::loadXML(const QDomDocument& document) {
  try {
    initialize();
    // The XML declaration is a processing instruction in this DOM; the
    // object's node is the first node after it.
    QDomNode node = document.firstChild();
    if (node.isProcessingInstruction() && node.nodeName() == QLatin1String("xml")) {
      node = node.nextSibling();
    }
    if (onFromXML) {
      onFromXML(node);
    } else {
      fromXML(node);
    }
  } catch (const std::exception& e) {
    throw IOException("TXMLPersistent.loadXML: " + wrappedText(e));
  }
}
