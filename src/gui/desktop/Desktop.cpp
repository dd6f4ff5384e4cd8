#include "gui/desktop/Desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

#include "core/text/StringTable.h"

namespace {

DesktopHooks& Hooks() {
    static DesktopHooks hooks;
    return hooks;
}

}  // namespace

QString LoadText(int id) {
    return QString::fromLatin1(LoadString(id));
}

void SetDesktopHooks(DesktopHooks hooks) {
    Hooks() = std::move(hooks);
}

void ShowMessageBox(const QString& text, MessageIcon icon) {
    if (Hooks().messageBox) {
        Hooks().messageBox(text, icon);
        return;
    }
    QMessageBox box(
        icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::Warning,
        LoadText(IDS_APP_TITLE), text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

bool ShellOpen(const QString& target) {
    if (Hooks().open) {
        return Hooks().open(target);
    }
    const QUrl url = target.contains(QLatin1String("://"))
                         ? QUrl(target)
                         : QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath());
    return QDesktopServices::openUrl(url);
}

void ErrorBeep() {
    if (Hooks().beep) {
        Hooks().beep();
        return;
    }
    QApplication::beep();
}
