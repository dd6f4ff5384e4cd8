#include "gui/controls/HyperLink.h"

#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include <cmath>

#include "gui/desktop/Desktop.h"

namespace {

class CHyperLinkAccessible final : public QAccessibleWidget {
public:
    explicit CHyperLinkAccessible(CHyperLink* link) : QAccessibleWidget(link, QAccessible::Link) {}

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name:
                return Link()->accessibleName().isEmpty() ? Link()->Text()
                                                          : Link()->accessibleName();
            case QAccessible::Description:
                return Link()->Target();
            default:
                return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.linked = true;
        return state;
    }
    QStringList actionNames() const override {
        return QStringList(pressAction()) + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name != pressAction()) {
            QAccessibleWidget::doAction(name);
        } else if (Link()->isEnabled()) {
            Link()->Activate();
        }
    }

private:
    CHyperLink* Link() const { return static_cast<CHyperLink*>(widget()); }
};

QAccessibleInterface* HyperLinkAccessible(const QString& key, QObject* object) {
    auto* link = qobject_cast<CHyperLink*>(object);
    return key == QLatin1String("CHyperLink") && link != nullptr ? new CHyperLinkAccessible(link)
                                                                 : nullptr;
}

}  // namespace

// Until a target is set, the link opens its own text.
CHyperLink::CHyperLink(const QString& text, CDesktop& desktop, QWidget* parent)
    : QWidget(parent), m_desktop(desktop), m_strText(text), m_strTarget(text) {
    // The platform's registry of accessible interfaces, filled once for the whole program.
    [[maybe_unused]] static const bool bInstalled = [] {
        QAccessible::installFactory(&HyperLinkAccessible);
        return true;
    }();
    QFont linkFont = font();
    linkFont.setUnderline(true);
    setFont(linkFont);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setToolTip(m_strTarget);
    ResizeToText();
}

void CHyperLink::SetTarget(const QString& target, const QString* toolTip) {
    m_strTarget = target;
    ResizeToText();
    setToolTip(toolTip != nullptr ? *toolTip : m_strTarget);
}

bool CHyperLink::OpenTarget() {
    if (m_strTarget.isEmpty()) {
        return false;
    }
    if (m_desktop.Open(m_strTarget)) {
        update();
    } else {
        m_desktop.Beep();
    }
    return true;
}

QColor CHyperLink::TextColour() const {
    if (!isEnabled()) {
        return palette().color(QPalette::Disabled, QPalette::WindowText);
    }
    return m_bOverControl ? m_crHoverColour : palette().color(QPalette::Link);
}

QSize CHyperLink::sizeHint() const {
    const QFontMetricsF metrics(font());
    return {
        static_cast<int>(std::ceil(metrics.horizontalAdvance(m_strText))) + 4 * m_nFocusBorderWidth,
        static_cast<int>(std::ceil(metrics.height())) + 4 * m_nFocusBorderHeight};
}

void CHyperLink::ResizeToText() {
    setFixedSize(sizeHint());
}

void CHyperLink::Activate() {
    if (!OpenTarget()) {
        Q_EMIT clicked();
    }
}

void CHyperLink::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
    const QRect inner = rect().adjusted(2 * m_nFocusBorderWidth, 2 * m_nFocusBorderHeight,
                                        -2 * m_nFocusBorderWidth, -2 * m_nFocusBorderHeight);
    painter.setPen(TextColour());
    painter.setFont(font());
    const QString shown = QFontMetrics(font()).elidedText(m_strText, Qt::ElideRight, inner.width());
    painter.drawText(inner, Qt::AlignCenter | Qt::TextSingleLine, shown);
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        Activate();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void CHyperLink::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        Activate();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CHyperLink::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    m_bOverControl = true;
    update();
}

void CHyperLink::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    m_bOverControl = false;
    update();
}

void CHyperLink::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void CHyperLink::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

void CHyperLink::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        ResizeToText();
    }
}
