#include "gui/pages/PropertyPage.h"

#include <QFontMetrics>
#include <QLabel>

QLabel* BuddyLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

void SizeInDialogUnits(QWidget* control, int units) {
    const QFontMetrics metrics(control->font());
    const QString sample = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int average = (metrics.horizontalAdvance(sample) / 26 + 1) / 2;
    control->setMinimumWidth(units * average / 4);
    control->setSizePolicy(QSizePolicy::Ignored, control->sizePolicy().verticalPolicy());
}

CPropertyPage::CPropertyPage(const QString& caption) : m_strCaption(caption) {
    setObjectName(caption);
}

bool CPropertyPage::OnInitDialog() {
    return UpdateData(false);
}

bool CPropertyPage::OnSetActive() {
    return true;
}

bool CPropertyPage::OnKillActive() {
    return UpdateData(true);
}

bool CPropertyPage::UpdateData(bool bSaveAndValidate) {
    return DoDataExchange(bSaveAndValidate);
}

bool CPropertyPage::DoDataExchange(bool) {
    return true;
}

void CPropertyPage::EnsureInitialized() {
    if (!m_bInitialized) {
        m_bInitialized = true;
        OnInitDialog();
    }
}
