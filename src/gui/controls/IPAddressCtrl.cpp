#include "gui/controls/IPAddressCtrl.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>
#include <utility>

namespace {

constexpr int kDigits = 3;

bool IsDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// As wide as three digits with a little air, not the dozen characters of a general edit.
class CAddressField final : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

    QSize sizeHint() const override {
        ensurePolished();
        const QFontMetrics metrics = fontMetrics();
        // QLineEdit keeps 2 pixels between its frame and its text on each side.
        const int text = metrics.horizontalAdvance(QString(kDigits, u'0')) +
                         metrics.averageCharWidth() + 4 + textMargins().left() +
                         textMargins().right();
        QStyleOptionFrame option;
        initStyleOption(&option);
        const QSize general = QLineEdit::sizeHint();
        return {style()->sizeFromContents(QStyle::CT_LineEdit, &option, {text, 0}, this).width(),
                general.height()};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

}  // namespace

CIPAddressCtrl::CIPAddressCtrl(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            layout->addWidget(new QLabel(QStringLiteral("."), this));
        }
        auto* field = new CAddressField(this);
        field->setObjectName(QStringLiteral("field%1").arg(i));
        field->setMaxLength(kDigits);
        field->setAlignment(Qt::AlignCenter);
        field->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        field->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9]{0,3}")), field));
        // Tab enters at the first field and leaves from any.
        field->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        field->installEventFilter(this);
        connect(field, &QLineEdit::editingFinished, this, [this, i] { ClampField(i); });
        layout->addWidget(field);
        m_fields[i] = field;
    }
    // The control follows its column in a layout; its fields keep their size at its left.
    layout->addStretch();
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // A label's mnemonic focuses its buddy only when the buddy takes focus itself.
    setFocusPolicy(Qt::TabFocus);
    setFocusProxy(m_fields[0]);

    // Disabled, the control still shows a result: keep its digits and dots in the normal colour.
    QPalette palette = this->palette();
    for (const QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText}) {
        palette.setColor(QPalette::Disabled, role, palette.color(QPalette::Active, role));
    }
    setPalette(palette);
}

CIPAddressCtrl::~CIPAddressCtrl() {
    // The fields outlive this part of the object and report losing focus as they go.
    for (QLineEdit* field : m_fields) {
        field->removeEventFilter(this);
        disconnect(field, nullptr, this, nullptr);
    }
}

std::uint32_t CIPAddressCtrl::GetAddress() const {
    std::uint32_t address = 0;
    for (const QLineEdit* field : m_fields) {
        address = (address << 8) | std::min(field->text().toUInt(), 255u);
    }
    return address;
}

void CIPAddressCtrl::SetAddress(std::uint32_t address) {
    for (int i = 0; i < 4; ++i) {
        m_fields[i]->setText(QString::number((address >> (24 - 8 * i)) & 0xFF));
    }
}

void CIPAddressCtrl::ClearAddress() {
    for (QLineEdit* field : m_fields) {
        field->clear();
    }
}

bool CIPAddressCtrl::IsBlank() const {
    return std::all_of(m_fields.begin(), m_fields.end(),
                       [](const QLineEdit* field) { return field->text().isEmpty(); });
}

void CIPAddressCtrl::ClampField(int index) {
    if (m_fields[index]->text().toUInt() > 255) {
        m_fields[index]->setText(QStringLiteral("255"));
    }
}

void CIPAddressCtrl::FocusField(int index, Caret caret) {
    QLineEdit* field = m_fields[index];
    field->setFocus();
    if (caret == Caret::SelectAll) {
        field->selectAll();
    } else {
        field->setCursorPosition(caret == Caret::Start ? 0
                                                       : static_cast<int>(field->text().size()));
    }
}

int CIPAddressCtrl::TypeDigit(int index, QChar digit) {
    QLineEdit* field = m_fields[index];
    if (field->text().size() == kDigits && !field->hasSelectedText()) {
        // A full field could take no digit anywhere: it starts a new number instead.
        field->selectAll();
    }
    field->insert(digit);
    if (field->text().size() < kDigits) {
        return index;
    }
    ClampField(index);
    if (index == 3) {
        return index;
    }
    FocusField(index + 1, Caret::SelectAll);
    m_bJustMoved = true;
    return index + 1;
}

void CIPAddressCtrl::Paste(int index, QClipboard::Mode mode) {
    static const QRegularExpression dotted(
        QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$"));
    const QString text = QGuiApplication::clipboard()->text(mode).trimmed();
    if (const QRegularExpressionMatch match = dotted.match(text); match.hasMatch()) {
        for (int i = 0; i < 4; ++i) {
            m_fields[i]->setText(match.captured(i + 1));
            ClampField(i);
        }
        FocusField(3, Caret::End);
        return;
    }
    for (const QChar c : text) {
        if (IsDigit(c)) {
            index = TypeDigit(index, c);
        }
    }
}

void CIPAddressCtrl::ShowContextMenu(int index, const QPoint& globalPos) {
    QLineEdit* field = m_fields[index];
    QMenu* menu = field->createStandardContextMenu();
    for (QAction* action : menu->actions()) {
        // Qt has wired its Paste action both ways over the versions.
        if (disconnect(action, &QAction::triggered, field, &QLineEdit::paste) ||
            disconnect(action, SIGNAL(triggered()), field, SLOT(paste()))) {
            action->setObjectName(QStringLiteral("edit-paste"));
            connect(action, &QAction::triggered, this,
                    [this, index] { Paste(index, QClipboard::Clipboard); });
        }
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPos);
}

void CIPAddressCtrl::LeaveBackwards() {
    // Going back from a later field would stop at the first one; it is no stop on the way out.
    m_fields[0]->setFocusPolicy(Qt::ClickFocus);
    focusNextPrevChild(false);
    m_fields[0]->setFocusPolicy(Qt::StrongFocus);
}

bool CIPAddressCtrl::OnKeyPress(int index, const QKeyEvent& key) {
    switch (key.key()) {
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_Meta:
            return false;  // on some layouts "." itself needs Shift
        default:
            break;
    }
    const bool bJustMoved = std::exchange(m_bJustMoved, false);
    if (key.matches(QKeySequence::Paste)) {
        Paste(index, QClipboard::Clipboard);
        return true;
    }
    QLineEdit* field = m_fields[index];
    const bool bNoSelection = !field->hasSelectedText();
    const bool bAtEnd = bNoSelection && field->cursorPosition() == field->text().size();
    const bool bAtStart = bNoSelection && field->cursorPosition() == 0;
    const QString text = key.text();
    if (!(key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        if (text.size() == 1 && IsDigit(text[0])) {
            TypeDigit(index, text[0]);
            return true;
        }
        if (text == QStringLiteral(".") || text == QStringLiteral(" ")) {
            // After a third digit moved on, the user's own "." must not move again.
            if (!bJustMoved && bAtEnd && !field->text().isEmpty() && index < 3) {
                ClampField(index);
                FocusField(index + 1, Caret::SelectAll);
            }
            return true;
        }
    }
    const bool bBare = (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    switch (key.key()) {
        case Qt::Key_Right:
            if (bBare && bAtEnd && index < 3) {
                FocusField(index + 1, Caret::Start);
                return true;
            }
            break;
        case Qt::Key_Left:
            if (bBare && bAtStart && index > 0) {
                FocusField(index - 1, Caret::End);
                return true;
            }
            break;
        case Qt::Key_Backspace:
            if (field->text().isEmpty() && index > 0) {
                FocusField(index - 1, Caret::End);
                return true;
            }
            break;
        case Qt::Key_Tab:
            if (key.modifiers() & Qt::ShiftModifier) {
                LeaveBackwards();
                return true;
            }
            break;
        case Qt::Key_Backtab:
            LeaveBackwards();
            return true;
        default:
            break;
    }
    return false;
}

bool CIPAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
    const auto found = std::find(m_fields.begin(), m_fields.end(), watched);
    if (found == m_fields.end()) {
        return QWidget::eventFilter(watched, event);
    }
    const int index = static_cast<int>(found - m_fields.begin());
    switch (event->type()) {
        case QEvent::KeyPress:
            return OnKeyPress(index, *static_cast<QKeyEvent*>(event));
        case QEvent::FocusIn:
            m_bJustMoved = false;
            m_nClickedInto =
                static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason ? index : -1;
            break;
        case QEvent::MouseButtonPress:
            m_bJustMoved = false;
            if (std::exchange(m_nClickedInto, -1) == index &&
                static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                // A click that brings the focus selects the field, as Tab does, so typing
                // replaces it.
                m_fields[index]->selectAll();
                return true;
            }
            break;
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton &&
                QGuiApplication::clipboard()->supportsSelection()) {
                Paste(index, QClipboard::Selection);
                return true;
            }
            break;
        case QEvent::ContextMenu:
            ShowContextMenu(index, static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}
