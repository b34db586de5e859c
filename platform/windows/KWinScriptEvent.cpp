#include "platform/windows/KWinScriptEvent.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

std::string text(const QJsonValue& value) { return value.toString().toStdString(); }

}  // namespace

KWinScriptEvent KWinScriptEvent::parse(const QByteArray& json) {
  KWinScriptEvent report;
  const QJsonObject event = QJsonDocument::fromJson(json).object();
  // An integer, or no token: a number beyond what fits is no token either.
  report.token = event.value("k").toInteger(-1);
  if (report.token < 0) return report;
  const QString kind = event.value("e").toString();
  if (kind == QLatin1String("list")) {
    if (!event.value("w").isArray()) return report;
    for (const QJsonValue& entry : event.value("w").toArray()) {
      const QJsonArray pair = entry.toArray();
      if (pair.size() == 2 && pair[0].isString() && pair[1].isString()) {
        report.windows.emplace_back(text(pair[0]), text(pair[1]));
      }
    }
    report.kind = Kind::List;
    return report;
  }
  if (!event.value("id").isString() || event.value("id").toString().isEmpty()) return report;
  report.id = text(event.value("id"));
  if (kind == QLatin1String("close")) {
    report.kind = Kind::Close;
  } else if ((kind == QLatin1String("open") || kind == QLatin1String("title")) && event.value("t").isString()) {
    report.kind = kind == QLatin1String("open") ? Kind::Open : Kind::Title;
    report.title = text(event.value("t"));
  }
  return report;
}

bool KWinScriptEvent::applyTo(LiveWindowList& list) const {
  switch (kind) {
    case Kind::List:
      list.replace(windows);
      return true;
    case Kind::Open:
      return list.open(id, title);
    case Kind::Title:
      return list.retitle(id, title);
    case Kind::Close:
      return list.close(id);
    case Kind::Invalid:
      break;
  }
  return false;
}
