#include "main/UiLanguage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// A translator that never hands out an empty text: Qt then shows the
// German source instead of a blank caption.
class NonEmptyTranslator : public QTranslator {
 public:
  using QTranslator::QTranslator;
  QString translate(const char* context, const char* sourceText, const char* disambiguation,
                    int n) const override {
    QString text = QTranslator::translate(context, sourceText, disambiguation, n);
    return text.isEmpty() ? QString() : text;
  }
};

}  // namespace

bool speaksGerman(const QStringList& uiLanguages) {
  if (uiLanguages.isEmpty()) return true;
  const QString first = uiLanguages.first();
  // Qt names the C and POSIX locales "C"; "und" is a language it could not tell.
  if (first.isEmpty() || first == u"C" || first == u"POSIX" || first == u"und") return true;
  return first == u"de" || first.startsWith(u"de-") || first.startsWith(u"de_");
}

bool installUiTranslation(QCoreApplication& application) {
  if (speaksGerman(QLocale::system().uiLanguages())) return false;
  const QString programFolder = QCoreApplication::applicationDirPath();
  auto* translator = new NonEmptyTranslator(&application);
  for (const QString& folder :
       {programFolder, QDir::cleanPath(programFolder + u'/' + QStringLiteral(MORVANE_TRANSLATIONS_FROM_PROGRAM))}) {
    // Named in full: given a bare name, QTranslator would also try shortened
    // ones, down to "morvane", the program itself.
    const QString file = folder + QStringLiteral("/morvane_en.qm");
    if (QFileInfo(file).isFile() && translator->load(file) && !translator->isEmpty()) {
      return QCoreApplication::installTranslator(translator);
    }
  }
  delete translator;
  return false;
}
