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
#include <QToolTip>

#include <algorithm>
#include <utility>

#include "core/net/InetAddr.h"
#include "core/text/Ascii.h"
#include "gui/desktop/Desktop.h"

namespace {

constexpr int kDigits = 3;
constexpr int kTipMilliseconds = 3000;

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

CIPAddressCtrl::CIPAddressCtrl(CDesktop& desktop, QWidget* parent)
    : QWidget(parent), m_desktop(desktop) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            layout->addWidget(new QLabel(QStringLiteral("."), this));
        }
        auto* field = new CAddressField(this);
        field->setObjectName(QStringLiteral("field%1").arg(i));
        field->setAccessibleName(QStringLiteral("IP address, part %1 of 4").arg(i + 1));
        field->setMaxLength(kDigits);
        field->setAlignment(Qt::AlignCenter);
        field->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        field->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9]{0,3}")), field));
        // Tab enters at the first field and leaves from any.
        field->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        field->installEventFilter(this);
        connect(field, &QLineEdit::editingFinished, this, [this, i] { ClampField(i); });
        connect(field, &QLineEdit::textEdited, this, [this] { m_beforePaste.reset(); });
        layout->addWidget(field);
        m_fields[i] = field;
    }
    // The control follows its column in a layout; its fields keep their size at its left.
    layout->addStretch();
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // A label's mnemonic focuses its buddy only when the buddy takes focus itself.
    setFocusPolicy(Qt::TabFocus);
    setFocusProxy(m_fields[0]);
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
    QLineEdit* field = m_fields[index];
    if (field->text().toUInt() > 255) {
        field->setText(QStringLiteral("255"));
        ShowRangeTip(field);
    }
}

void CIPAddressCtrl::ShowRangeTip(QLineEdit* field) {
    // A tip of our own: Qt's goes at the next key release or change of focus, which the digit that
    // overflowed brings at once.
    if (m_pRangeTip == nullptr) {
        m_pRangeTip = new QLabel(QStringLiteral("Each part is at most 255."), this, Qt::ToolTip);
        m_pRangeTip->setObjectName(QStringLiteral("rangeTip"));
        m_pRangeTip->setPalette(QToolTip::palette());
        m_pRangeTip->setFont(QToolTip::font());
        m_pRangeTip->setAutoFillBackground(true);
        m_pRangeTip->setFrameStyle(QFrame::Box | QFrame::Plain);
        m_pRangeTip->setMargin(2);
        m_rangeTipTimer.setSingleShot(true);
        connect(&m_rangeTipTimer, &QTimer::timeout, m_pRangeTip, &QWidget::hide);
    }
    m_pRangeTip->adjustSize();
    m_pRangeTip->move(field->mapToGlobal(QPoint(0, field->height())));
    m_pRangeTip->show();
    m_rangeTipTimer.start(kTipMilliseconds);
}

void CIPAddressCtrl::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (m_pRangeTip != nullptr) {
        m_pRangeTip->hide();
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
        if (index == 3) {
            return index;  // nothing follows the last field: the digit is one too many
        }
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
    // The first dotted address in the text, wherever it stands; a part over 255 is clamped as a
    // typed one is. UTF-8 holds no digit or dot but the ASCII ones, so the bytes tell as the
    // characters would.
    const auto parts =
        FindDottedQuad(QGuiApplication::clipboard()->text(mode).toUtf8().toStdString());
    if (!parts) {
        m_desktop.Beep();
        return;
    }
    Texts before;
    for (int i = 0; i < 4; ++i) {
        before[i] = m_fields[i]->text();
        m_fields[i]->setText(QString::number((*parts)[static_cast<std::size_t>(i)]));
        ClampField(i);
    }
    m_beforePaste = before;
    m_nPastedInto = index;
    FocusField(3, Caret::End);
}

void CIPAddressCtrl::UndoPaste() {
    // Each field's own history ends at a paste, which sets its text: the four go back together.
    for (int i = 0; i < 4; ++i) {
        m_fields[i]->setText((*m_beforePaste)[i]);
    }
    m_beforePaste.reset();
    FocusField(m_nPastedInto, Caret::SelectAll);
}

void CIPAddressCtrl::ShowContextMenu(int index, const QPoint& globalPos) {
    QLineEdit* field = m_fields[index];
    QMenu* menu = field->createStandardContextMenu();
    for (QAction* action : menu->actions()) {
        // Qt has wired its actions both ways over the versions.
        if (disconnect(action, &QAction::triggered, field, &QLineEdit::paste) ||
            disconnect(action, SIGNAL(triggered()), field, SLOT(paste()))) {
            action->setObjectName(QStringLiteral("edit-paste"));
            connect(action, &QAction::triggered, this,
                    [this, index] { Paste(index, QClipboard::Clipboard); });
        } else if (m_beforePaste &&
                   (disconnect(action, &QAction::triggered, field, &QLineEdit::undo) ||
                    disconnect(action, SIGNAL(triggered()), field, SLOT(undo())))) {
            action->setObjectName(QStringLiteral("edit-undo"));
            action->setEnabled(true);
            connect(action, &QAction::triggered, this, &CIPAddressCtrl::UndoPaste);
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
    if (key.matches(QKeySequence::Undo) && m_beforePaste) {
        UndoPaste();
        return true;
    }
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
        if (text.size() == 1 && IsAsciiDigit(text[0].toLatin1())) {
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
        case QEvent::FocusIn: {
            m_bJustMoved = false;
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            m_nClickedInto = reason == Qt::MouseFocusReason ? index : -1;
            // Tab and the label's mnemonic select the field themselves. The program's own focus
            // (after a refused address) and the focus coming back with the window (after a
            // message box) must too, or the digits typed next land after the old ones. Moves
            // between fields place the caret afterwards.
            if (reason == Qt::OtherFocusReason || reason == Qt::ActiveWindowFocusReason) {
                m_fields[index]->selectAll();
            }
            break;
        }
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
