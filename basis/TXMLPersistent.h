#pragma once
// Objects that store themselves to and load themselves from XML files through
// a DOM document. Subclasses build their node in toXML and read it back in
// fromXML; the file handling and the wrapping of failures live here.

#include <QtXml/QDomDocument>
#include <QtXml/QDomNode>
#include <string>

#include "basis/TPObject.h"

class TXMLPersistent : public TPObject {
  MORVANE_CLASS(TXMLPersistent, TPObject)

  // When set, loadXML(document) calls it instead of fromXML.
  OptionalHandler<void(const QDomNode&)> onFromXML;
  // When set, storeXML calls it instead of toXML; it returns the node to store.
  OptionalHandler<QDomNode(QDomDocument&)> onToXML;

  // Fills this object from `node`.
  virtual void fromXML(const QDomNode& node) = 0;
  // A node of `document` that represents this object.
  virtual QDomNode toXML(QDomDocument& document) = 0;

  // storeXML(fileName).
  virtual void storeXML();
  // storeXML(fileName, "default").
  virtual void storeXML(const std::string& fileName);
  // Writes a file whose root element is the node that toXML returns; the
  // root name only seeds the scratch document. Failures raise IOException
  // "TXMLPersistent.storeXML: (Class) message".
  virtual void storeXML(const std::string& fileName, const std::string& rootName);
  // loadXML(fileName).
  virtual void loadXML();
  // Parses the file and loads from it. Failures raise IOException
  // "TXMLPersistent.loadXML: (Class) message".
  virtual void loadXML(const std::string& fileName);
  // initialize(), then fromXML (or onFromXML) with the document's first node.
  // Failures raise IOException "TXMLPersistent.loadXML: (Class) message".
  virtual void loadXML(const QDomDocument& document);
};
