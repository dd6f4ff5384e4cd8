#pragma once

#include <QWidget>

class QLabel;

// A label whose mnemonic moves the focus to `buddy`.
QLabel* BuddyLabel(const QString& text, QWidget* buddy, QWidget* parent);

// Gives `control` a width of `units` dialog units (a quarter of the average character width of
// its font each) as its least, and shares out any width beyond in proportion to the layout's
// stretch factors instead of by what its parts would like, so fields keep the proportions that
// suit their contents at any font size and scale.
void SizeInDialogUnits(QWidget* control, int units);

// One tab of the test sheet. The sheet calls OnInitDialog once, before the page is first shown,
// OnSetActive each time it becomes the active tab and OnKillActive when the user leaves it; a page
// that answers false to OnKillActive keeps the user on it.
class CPropertyPage : public QWidget {
    Q_OBJECT

public:
    explicit CPropertyPage(const QString& caption);

    const QString& Caption() const { return m_strCaption; }

    virtual bool OnInitDialog();
    virtual bool OnSetActive();
    virtual bool OnKillActive();

    // Moves values between members and controls; toward the members it may refuse a value, show
    // why, and answer false.
    bool UpdateData(bool bSaveAndValidate);
    void EnsureInitialized();
    bool IsInitialized() const { return m_bInitialized; }

Q_SIGNALS:
    // The page wants to be the active tab, say to show why it refused something.
    void activationRequested();

protected:
    virtual bool DoDataExchange(bool bSaveAndValidate);

private:
    QString m_strCaption;
    bool m_bInitialized = false;
};
