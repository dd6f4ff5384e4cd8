#pragma once

#include <QClipboard>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <optional>

class CDesktop;
class QKeyEvent;
class QLabel;
class QLineEdit;

// Four fields of 0 to 255 separated by dots, one stop in the tab order. A field that gets the
// focus from outside the control, by the keyboard or by the program, is selected whole, so typing
// replaces it. A third digit moves on to the next field, and so do "." or a space typed at the end
// of a field's digits, except right after such a move; a digit past the third of the last field is
// dropped. Right at the end of a field and Left at its start cross into the neighbour, Backspace
// in an empty field moves back. A value over 255 becomes 255, with a tip saying so. A paste fills
// all four fields from the first dotted address in the text, or changes nothing and beeps on
// `desktop`; Ctrl+Z undoes it as one step. The value is the host-order address; a blank control
// reads 0.
class CIPAddressCtrl : public QWidget {
    Q_OBJECT

public:
    explicit CIPAddressCtrl(CDesktop& desktop, QWidget* parent = nullptr);
    ~CIPAddressCtrl() override;

    std::uint32_t GetAddress() const;
    void SetAddress(std::uint32_t address);  // shows all four numbers, 0.0.0.0 included
    void ClearAddress();                     // shows blank
    bool IsBlank() const;
    QLineEdit* Field(int index) const { return m_fields[index]; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    enum class Caret { SelectAll, Start, End };
    using Texts = std::array<QString, 4>;

    bool OnKeyPress(int index, const QKeyEvent& key);
    int TypeDigit(int index, QChar digit);  // gives the field that has the focus afterwards
    void Paste(int index, QClipboard::Mode mode);
    void UndoPaste();
    void ShowContextMenu(int index, const QPoint& globalPos);
    void LeaveBackwards();
    void ClampField(int index);
    void ShowRangeTip(QLineEdit* field);
    void FocusField(int index, Caret caret);

    CDesktop& m_desktop;
    std::array<QLineEdit*, 4> m_fields{};
    bool m_bJustMoved = false;  // the last key filled a field and moved on
    int m_nClickedInto = -1;    // the field that a mouse press is giving the focus to
    // What the last paste replaced and where it was made, until the user edits a field.
    std::optional<Texts> m_beforePaste;
    int m_nPastedInto = 0;
    QLabel* m_pRangeTip = nullptr;  // made when first needed
    QTimer m_rangeTipTimer;
};
