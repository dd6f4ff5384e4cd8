#pragma once

#include <QClipboard>
#include <QWidget>

#include <array>
#include <cstdint>

class QKeyEvent;
class QLineEdit;

// Four fields of 0 to 255 separated by dots, one stop in the tab order. A third digit moves on to
// the next field, and so do "." or a space typed at the end of a field's digits, except right
// after such a move; Right at the end of a field and Left at its start cross into the neighbour,
// Backspace in an empty field moves back. A value over 255 becomes 255. Pasting a dotted address
// fills all four fields. The value is the host-order address; a blank control reads 0.
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
    enum class Caret { SelectAll, Start, End };

    bool OnKeyPress(int index, const QKeyEvent& key);
    int TypeDigit(int index, QChar digit);  // gives the field that has the focus afterwards
    void Paste(int index, QClipboard::Mode mode);
    void ShowContextMenu(int index, const QPoint& globalPos);
    void LeaveBackwards();
    void ClampField(int index);
    void FocusField(int index, Caret caret);

    std::array<QLineEdit*, 4> m_fields{};
    bool m_bJustMoved = false;  // the last key filled a field and moved on
    int m_nClickedInto = -1;    // the field that a mouse press is giving the focus to
};
