#include "basis/TAbstractCollection.h"

#include "basis/TMapEntry.h"

void TAbstractCollection::fromXML(const QDomNode&) {
  throw IllegalStateException(className() + ".fromXML not implemented!");
}

QDomNode TAbstractCollection::toXML(QDomDocument&) {
  throw IllegalStateException(className() + ".toXML not implemented!");
}

TAbstractCollection* TAbstractCollection::setOwner(bool isOwner) {
  owner = isOwner;
  return this;
}

void TAbstractCollection::adoptContentsOf(TMappedObject* obj) {
  if (auto* collection = as<TAbstractCollection>(obj)) {
    collection->adoptContents();
  } else if (auto* entry = as<TMapEntry>(obj)) {
    adoptContentsOf(entry->getKey());
    adoptContentsOf(entry->getValue());
  }
}
