#include "gui/pages/AboutPage.h"

#include <QGridLayout>
#include <QIcon>
#include <QVBoxLayout>

#include "core/text/StringTable.h"
#include "core/version/ModuleVersion.h"
#include "gui/text/Bytes.h"

namespace {
const QString kWebsite = QStringLiteral(VELMO_WEBSITE);
}

QString FirstSentence(const QString& notice) {
    const QStringList sentences = notice.split('.', Qt::SkipEmptyParts);
    return sentences.isEmpty() ? QString() : sentences.front();
}

CAboutPage::CAboutPage(CDesktop& desktop)
    : CPropertyPage(QStringLiteral("About")),
      m_frameTitle(LoadText(IDS_APP_TITLE)),
      m_linkSite(kWebsite, desktop),
      m_staticVersion(QStringLiteral("<version>")),
      m_staticNotice(QStringLiteral("<copyright>")) {
    m_linkSite.setObjectName(QStringLiteral("siteLink"));
    m_frameTitle.setObjectName(QStringLiteral("titleFrame"));
    m_staticVersion.setObjectName(QStringLiteral("versionLabel"));
    m_staticVersion.setTextFormat(Qt::PlainText);
    m_staticNotice.setObjectName(QStringLiteral("copyrightLabel"));
    m_staticNotice.setTextFormat(Qt::PlainText);

    auto* icon = new QLabel(&m_frameTitle);
    icon->setPixmap(QIcon(QStringLiteral(":/velmo/velmo.svg")).pixmap(32, 32));
    auto* grid = new QGridLayout(&m_frameTitle);
    grid->addWidget(icon, 0, 0, 4, 1, Qt::AlignTop);
    grid->addWidget(
        new QLabel(QStringLiteral("A test application for HTML-enabled routers."), &m_frameTitle),
        0, 1);
    grid->addWidget(&m_staticVersion, 1, 1);
    grid->addWidget(&m_staticNotice, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("All rights reserved."), &m_frameTitle), 3, 1);
    auto* updates = new QLabel(
        QStringLiteral("For updates and other programs, please take a look at my website:"),
        &m_frameTitle);
    updates->setWordWrap(true);
    grid->addWidget(updates, 4, 1);
    grid->addWidget(&m_linkSite, 5, 1, Qt::AlignLeft);
    grid->setRowStretch(6, 1);
    grid->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(&m_frameTitle);
}

bool CAboutPage::OnInitDialog() {
    CPropertyPage::OnInitDialog();

    // Only the frame's caption grows; its contents keep the page's font.
    QFont title = font();
    if (title.pixelSize() > 0) {
        title.setPixelSize(title.pixelSize() * 170 / 100);
    } else {
        title.setPointSize(title.pointSize() * 170 / 100);
    }
    m_frameTitle.setFont(title);
    for (QWidget* child : m_frameTitle.findChildren<QWidget*>()) {
        QFont body = font();
        body.setUnderline(child == &m_linkSite);
        body.setResolveMask(QFont::AllPropertiesResolved);  // else the frame's font wins
        child->setFont(body);
    }

    CModuleVersion version;
    if (version.LoadVersion(nullptr)) {
        m_staticVersion.setText(QString::fromStdString(FormatVersionLine(version)));
        m_staticNotice.setText(
            FirstSentence(QString::fromStdString(version.QueryString("LegalCopyright"))));
    }

    const QString noToolTip;
    m_linkSite.SetTarget(kWebsite + '/', &noToolTip);
    return true;
}
