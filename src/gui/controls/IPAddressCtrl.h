#pragma once

#include <QWidget>

#include <array>
#include <cstdint>

class QLineEdit;

// Four fields of 0 to 255 separated by dots. "." or a space moves to the next field, and so does
// a third digit; a value over 255 becomes 255; backspace in an empty field moves back. The value
// is the host-order address; a blank control reads 0.
class CIPAddressCtrl : public QWidget {
    Q_OBJECT

public:
    explicit CIPAddressCtrl(QWidget* parent = nullptr);
    ~CIPAddressCtrl() override;

    std::uint32_t GetAddress() const;
    void SetAddress(std::uint32_t address);  // shows all four numbers, 0.0.0.0 included
    void ClearAddress();                     // shows blank
    bool IsBlank() const;
    QLineEdit* Field(int index) const { return m_fields[index]; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ClampField(int index);
    void FocusField(int index, bool bAtEnd);

    std::array<QLineEdit*, 4> m_fields{};
};
