#pragma once

#include <QString>

class QWidget;

enum class MessageIcon { Exclamation, Information };

// The desktop around the window: message boxes, the shell's "open", the error sound. The window
// reaches them only through one of these, so tests put in one that records the calls.
class CDesktop {
public:
    virtual ~CDesktop() = default;

    // A modal box captioned with the application's title, with an OK button, owned by `owner`'s
    // window: centred on it and carrying its icon. A `detail` goes below the text, as a smaller
    // note.
    virtual void ShowMessage(QWidget* owner, const QString& text, MessageIcon icon,
                             const QString& detail = {}) = 0;
    // The same box with a second button, `action`, beside OK, which stays the default; true when
    // the user pressed `action`.
    virtual bool ShowChoice(QWidget* owner, const QString& text, MessageIcon icon,
                            const QString& action) = 0;
    // A box that asks before something is done: `action` and Cancel, Cancel the default (Enter and
    // Escape press it), `detail` below the text; true only when the user pressed `action`.
    virtual bool ShowQuestion(QWidget* owner, const QString& text, const QString& detail,
                              const QString& action) = 0;
    // Opens a file path or URL with the desktop's handler; true when the desktop accepted it.
    virtual bool Open(const QString& target) = 0;
    virtual void Beep() = 0;
};

// The real desktop. It holds no state, so one serves every window.
CDesktop& SystemDesktop();
