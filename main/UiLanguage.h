#pragma once
// The language of the window and its dialogs. German is the language the
// texts are written in and the default: it is kept where the user's first
// language is German or where none is set (the C or POSIX locale); every
// other language gets the English translation, since English is understood
// more widely than German. Data (logs, diagnostic entries, mail, reports)
// never changes with the language.

#include <QStringList>

class QCoreApplication;

// Whether `uiLanguages` (QLocale::uiLanguages(): the user's languages, the
// first preferred) asks for German, or for nothing in particular.
bool speaksGerman(const QStringList& uiLanguages);

// Chooses the language from the system locale (LANGUAGE, LC_ALL,
// LC_MESSAGES, LANG as Qt reads them) and, for English, installs the
// translation "morvane_en.qm" found first in the program's own folder, then
// in the installed data folder. A missing or unreadable translation, and any
// text it lacks or leaves empty, leave the German text. Returns whether the
// translation was installed.
bool installUiTranslation(QCoreApplication& application);
