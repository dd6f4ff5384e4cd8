#include "gui/pages/PropertyPage.h"

#include <QLabel>

QLabel* BuddyLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
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
