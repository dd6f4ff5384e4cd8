#include "gui/controls/IPAddressCtrl.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

CIPAddressCtrl::CIPAddressCtrl(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            layout->addWidget(new QLabel(QStringLiteral("."), this));
        }
        auto* field = new QLineEdit(this);
        field->setObjectName(QStringLiteral("field%1").arg(i));
        field->setMaxLength(3);
        field->setAlignment(Qt::AlignCenter);
        field->setValidator(new QIntValidator(0, 999, field));
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) {
            if (text.size() == 3) {
                ClampField(i);
                if (i < 3) {
                    FocusField(i + 1, false);
                }
            }
        });
        connect(field, &QLineEdit::editingFinished, this, [this, i] { ClampField(i); });
        layout->addWidget(field);
        m_fields[i] = field;
    }
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
    if (m_fields[index]->text().toUInt() > 255) {
        m_fields[index]->setText(QStringLiteral("255"));
    }
}

void CIPAddressCtrl::FocusField(int index, bool bAtEnd) {
    m_fields[index]->setFocus();
    if (bAtEnd) {
        m_fields[index]->end(false);
    } else {
        m_fields[index]->selectAll();
    }
}

bool CIPAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return QWidget::eventFilter(watched, event);
    }
    const auto found = std::find(m_fields.begin(), m_fields.end(), watched);
    if (found == m_fields.end()) {
        return QWidget::eventFilter(watched, event);
    }
    const int index = static_cast<int>(found - m_fields.begin());
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Period || key->key() == Qt::Key_Space) {
        if (index < 3 && !m_fields[index]->text().isEmpty()) {
            ClampField(index);
            FocusField(index + 1, false);
        }
        return true;
    }
    if (key->key() == Qt::Key_Backspace && m_fields[index]->text().isEmpty() && index > 0) {
        FocusField(index - 1, true);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
