#pragma once

#include <QColor>
#include <QWidget>

class CDesktop;

// A text that behaves as a web link: underlined, in the palette's link colour and red under the
// mouse, a pointing hand, a focus rectangle, activated by a click or the Space bar. With a target
// it opens it on `desktop`; with none it tells its parent through clicked(), so it also serves as
// a link-styled button. Screen readers meet a link named by its text, described by its target,
// that they can press.
class CHyperLink : public QWidget {
    Q_OBJECT

public:
    CHyperLink(const QString& text, CDesktop& desktop, QWidget* parent = nullptr);

    // A null tool tip shows the target; an empty one shows none.
    void SetTarget(const QString& target, const QString* toolTip = nullptr);
    const QString& Target() const { return m_strTarget; }
    const QString& Text() const { return m_strText; }

    // Opens the target: false, doing nothing, when there is none; the error beep when the
    // desktop refuses it.
    bool OpenTarget();
    // What a click or the Space bar does: opens the target, or tells the parent.
    void Activate();

    QColor TextColour() const;  // the colour the text is drawn in now

    QSize sizeHint() const override;

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void ResizeToText();

    CDesktop& m_desktop;
    QString m_strText;
    QString m_strTarget;
    QColor m_crHoverColour{255, 0, 0};
    bool m_bOverControl = false;
    int m_nFocusBorderWidth = 1;
    int m_nFocusBorderHeight = 1;
};
