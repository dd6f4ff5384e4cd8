#include "gui/desktop/Desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "core/text/StringTable.h"
#include "gui/text/Bytes.h"

namespace {

class CSystemDesktop final : public CDesktop {
public:
    void ShowMessage(QWidget* owner, const QString& text, MessageIcon icon,
                     const QString& detail) override {
        Show(owner, text, icon, detail, {});
    }

    bool ShowChoice(QWidget* owner, const QString& text, MessageIcon icon,
                    const QString& action) override {
        return Show(owner, text, icon, {}, action);
    }

    bool ShowQuestion(QWidget* owner, const QString& text, const QString& detail,
                      const QString& action) override {
        QWidget* window = owner != nullptr ? owner->window() : nullptr;
        QMessageBox box(QMessageBox::Question, LoadText(IDS_APP_TITLE), text, QMessageBox::Cancel,
                        window);
        box.setInformativeText(detail);
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);  // a fingerprint to compare
        QPushButton* pressed = box.addButton(action, QMessageBox::AcceptRole);
        box.setDefaultButton(QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        if (window != nullptr) {
            box.setWindowIcon(window->windowIcon());
            box.setWindowModality(Qt::WindowModal);
        }
        box.exec();
        return box.clickedButton() == pressed;
    }

    bool Open(const QString& target) override {
        const QUrl url = target.contains(QLatin1String("://"))
                             ? QUrl(target)
                             : QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath());
        return QDesktopServices::openUrl(url);
    }

    void Beep() override { QApplication::beep(); }

private:
    // True when `action` was given and pressed.
    static bool Show(QWidget* owner, const QString& text, MessageIcon icon, const QString& detail,
                     const QString& action) {
        QWidget* window = owner != nullptr ? owner->window() : nullptr;
        QMessageBox box(
            icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::Warning,
            LoadText(IDS_APP_TITLE), text, QMessageBox::Ok, window);
        box.setInformativeText(detail);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        QPushButton* pressed =
            action.isEmpty() ? nullptr : box.addButton(action, QMessageBox::ActionRole);
        if (window != nullptr) {
            box.setWindowIcon(window->windowIcon());
            // Modal to its window only: the tray's menu stays usable while the box is up.
            box.setWindowModality(Qt::WindowModal);
        }
        box.exec();
        return pressed != nullptr && box.clickedButton() == pressed;
    }
};

}  // namespace

CDesktop& SystemDesktop() {
    static CSystemDesktop desktop;
    return desktop;
}
