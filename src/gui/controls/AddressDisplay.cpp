#include "gui/controls/AddressDisplay.h"

#include <QFocusEvent>

#include "core/net/InetAddr.h"

CAddressDisplay::CAddressDisplay(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // Blank, there is nothing to read or copy: a stop there would be one the user cannot see.
    setFocusPolicy(Qt::NoFocus);
}

void CAddressDisplay::SetAddress(std::uint32_t address) {
    m_nAddress = address;
    setText(QString::fromStdString(DottedAddress(address)));
    setFocusPolicy(Qt::StrongFocus);
}

void CAddressDisplay::focusInEvent(QFocusEvent* event) {
    QLabel::focusInEvent(event);
    // Reached by the keyboard, the whole address is selected, ready for Ctrl+C.
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
        reason == Qt::ShortcutFocusReason) {
        setSelection(0, static_cast<int>(text().size()));
    }
}
