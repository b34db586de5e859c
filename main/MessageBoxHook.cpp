#include "main/MessageBoxHook.h"

#include <QApplication>
#include <QMessageBox>

#include "debug/DialogHook.h"

void installMessageBoxHook() {
  setDialogHook([](DialogKind kind, const std::string& text) {
    const bool error = kind == DialogKind::Error;
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Information,
                    error ? QCoreApplication::translate("MessageBoxHook", "Fehler")
                          : QCoreApplication::translate("MessageBoxHook", "Information"),
                    QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())),
                    QMessageBox::Ok);
    box.exec();
  });
}
