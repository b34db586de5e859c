#include <gtest/gtest.h>

#include <QtXml/QDomProcessingInstruction>

#include "basis/FileSystem.h"
#include "basis/TArrayList.h"
#include "basis/THashSet.h"
#include "basis/TXMLHelper.h"
#include "basis/TXMLPersistent.h"
#include "tests/support/TempDir.h"
#include "tests/support/MessageOf.h"

namespace {

// Test-only persistent object: <item x="..."><label>...</label></item>.
class TXmlPoint : public TXMLPersistent {
  MORVANE_CLASS(TXmlPoint, TXMLPersistent)

  TXmlPoint() : TXMLPersistent(TBlank{}) { initialize(); }

  void initialize() override {
    TXMLPersistent::initialize();
    x = 0;
    label.clear();
  }
  void fromXML(const QDomNode& node) override {
    QDomElement element = node.toElement();
    if (element.tagName() != "item") throw IllegalArgumentException("TXmlPoint.fromXML: No item.");
    x = element.attribute("x").toInt();
    label = TXMLHelper::getInstance().getChild(element, "label").text().toStdString();
  }
  QDomNode toXML(QDomDocument& document) override {
    QDomElement item = document.createElement("item");
    item.setAttribute("x", x);
    QDomElement text = document.createElement("label");
    text.appendChild(document.createTextNode(QString::fromStdString(label)));
    item.appendChild(text);
    return item;
  }

  int x = 0;
  std::string label;
};


}  // namespace

TEST(XMLPersistence, StoresTheNodeAsRootElementInUtf8WithCrLf) {
  TempDir dir;
  TXmlPoint point;
  point.x = 3;
  point.label = "Gr\xc3\xbc\xc3\x9f" "e";
  point.storeXML(dir.file("p.xml"), "ignored");
  std::string text = TempDir::read(dir.file("p.xml"));
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<item x=\"3\">\r\n", 0), 0u) << text;
  EXPECT_EQ(text.find("ignored"), std::string::npos) << "the root name is not written";
  EXPECT_NE(text.find("Gr\xc3\xbc\xc3\x9f" "e"), std::string::npos);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare line feed at " << i;
    }
  }

  TXmlPoint loaded;
  loaded.loadXML(dir.file("p.xml"));
  EXPECT_EQ(loaded.x, 3);
  EXPECT_EQ(loaded.label, point.label);

  loaded.fileName = dir.file("q.xml");
  loaded.storeXML();
  TXmlPoint again;
  again.fileName = loaded.fileName;
  again.loadXML();
  EXPECT_EQ(again.x, 3);
}

TEST(XMLPersistence, HandlersReplaceToXmlAndFromXml) {
  TempDir dir;
  TXmlPoint point;
  point.onToXML = [](QDomDocument& document) { return document.createElement("other"); };
  point.storeXML(dir.file("h.xml"));
  EXPECT_NE(TempDir::read(dir.file("h.xml")).find("<other/>"), std::string::npos);
  QString seen;
  point.onFromXML = [&seen](const QDomNode& node) { seen = node.nodeName(); };
  point.loadXML(dir.file("h.xml"));
  EXPECT_EQ(seen, "other");
}

TEST(XMLPersistence, CollectionsRefuseAndNothingIsWritten) {
  TempDir dir;
  TArrayList list;
  EXPECT_EQ(messageOf<IOException>([&] { list.storeXML(dir.file("list.xml")); }),
            "TXMLPersistent.storeXML: (IllegalStateException) TArrayList.toXML not implemented!");
  EXPECT_FALSE(fileutil::fileExists(dir.file("list.xml")));

  std::string path = dir.write("set.xml", "<set/>");
  THashSet set;
  EXPECT_EQ(messageOf<IOException>([&] { set.loadXML(path); }),
            "TXMLPersistent.loadXML: (IOException) TXMLPersistent.loadXML: (IllegalStateException) "
            "THashSet.fromXML not implemented!");
}

TEST(XMLPersistence, LoadFailuresAreWrapped) {
  TempDir dir;
  TXmlPoint point;
  std::string missing = dir.file("missing.xml");
  EXPECT_EQ(messageOf<IOException>([&] { point.loadXML(missing); }),
            "TXMLPersistent.loadXML: (IOException) TXMLHelper.fileToDOM: File '" + missing + "' not found.");
  std::string broken = dir.write("broken.xml", "<item><label></item>");
  std::string message = messageOf<IOException>([&] { point.loadXML(broken); });
  const std::string prefix = "TXMLPersistent.loadXML: (IOException) TXMLHelper.fileToDOM: ";
  EXPECT_EQ(message.rfind(prefix, 0), 0u) << message;
  EXPECT_GT(message.size(), prefix.size()) << "the parser's reason follows";

  point.x = 9;
  QDomDocument document = TXMLHelper::getInstance().stringToDOM("<point/>");
  EXPECT_EQ(messageOf<IOException>([&] { point.loadXML(document); }),
            "TXMLPersistent.loadXML: (IllegalArgumentException) TXmlPoint.fromXML: No item.");
  EXPECT_EQ(point.x, 0) << "loading starts with initialize()";

  std::string noLabel = dir.write("nolabel.xml", "<item x=\"1\"/>");
  EXPECT_EQ(messageOf<IOException>([&] { point.loadXML(noLabel); }),
            "TXMLPersistent.loadXML: (IOException) TXMLPersistent.loadXML: (DOMException) "
            "Element 'item' has no child 'label'.");
}

TEST(XMLHelper, GetChildSearchesAtAnyDepth) {
  TXMLHelper& helper = TXMLHelper::getInstance();
  QDomDocument document = helper.stringToDOM("<a><b><c id=\"1\"/></b><c id=\"2\"/></a>");
  QDomElement root = document.documentElement();
  EXPECT_EQ(helper.getChild(root, "c").attribute("id"), "1") << "first in document order";
  EXPECT_EQ(messageOf<DOMException>([&] { helper.getChild(root, "d"); }), "Element 'a' has no child 'd'.");
  std::string message = messageOf<IOException>([&] { helper.stringToDOM("<a>"); });
  EXPECT_EQ(message.rfind("TXMLHelper.stringToDOM: ", 0), 0u) << message;

  QDomDocument created = helper.createDocument("root");
  EXPECT_EQ(created.documentElement().tagName(), "root");
  EXPECT_TRUE(created.doctype().name().isEmpty()) << "no document type";
}

TEST(XMLHelper, DOMToFileDeclaresUtf8AndRestoresTheDeclaration) {
  TempDir dir;
  TXMLHelper& helper = TXMLHelper::getInstance();
  QDomDocument document = helper.stringToDOM("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>x</a>");
  helper.DOMToFile(document, dir.file("a.xml"));
  std::string text = TempDir::read(dir.file("a.xml"));
  EXPECT_EQ(text.rfind("<?xml version=", 0), 0u) << text;
  EXPECT_NE(text.find(" encoding=\"UTF-8\"?>\r\n<a>x</a>\r\n"), std::string::npos) << text;
  auto declaration = [&] { return document.firstChild().toProcessingInstruction().data().toStdString(); };
  EXPECT_NE(declaration().find("ISO-8859-1"), std::string::npos);

  std::string message = messageOf<IOException>([&] { helper.DOMToFile(document, dir.path()); });
  EXPECT_EQ(message.rfind("TXMLHelper.DOMToFile: ", 0), 0u) << message;
  EXPECT_NE(declaration().find("ISO-8859-1"), std::string::npos) << "restored after a failure too";

  QDomDocument plain = helper.createDocument("root");
  helper.DOMToFile(plain, dir.file("plain.xml"));
  EXPECT_TRUE(plain.firstChild().isElement()) << "a declaration added for writing is taken out again";
}
