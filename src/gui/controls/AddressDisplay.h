#pragma once

#include <QLabel>

#include <cstdint>

// An address shown as a result: text to read, select and copy, a stop in the tab order once it
// shows one, never an input. Blank until an address is set; a blank display reads 0.
class CAddressDisplay : public QLabel {
    Q_OBJECT

public:
    explicit CAddressDisplay(QWidget* parent = nullptr);

    std::uint32_t GetAddress() const { return m_nAddress; }
    void SetAddress(std::uint32_t address);  // host order; dotted, 0.0.0.0 included

protected:
    void focusInEvent(QFocusEvent* event) override;

private:
    std::uint32_t m_nAddress = 0;
};
