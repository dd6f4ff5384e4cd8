#pragma once

#include <QFont>
#include <QGroupBox>
#include <QLabel>

#include "gui/controls/HyperLink.h"
#include "gui/pages/PropertyPage.h"

// The About tab: title, description, version line, legal notice and the maker's web site.
class CAboutPage : public CPropertyPage {
    Q_OBJECT

public:
    explicit CAboutPage(CDesktop& desktop);

    bool OnInitDialog() override;

private:
    QGroupBox m_frameTitle;  // first: the controls inside it must go before it does
    CHyperLink m_linkSite;
    QLabel m_staticVersion;
    QLabel m_staticNotice;
};

// The notice up to its first ".", leading dots skipped.
QString FirstSentence(const QString& notice);
