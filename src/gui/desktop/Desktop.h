#pragma once

#include <QString>

#include <functional>

// The desktop around the window: message boxes, the shell's "open", the error sound. Each goes
// through one hook that tests replace to see the call and answer it.

// A text of the string table, for the window.
QString LoadText(int id);

enum class MessageIcon { Exclamation, Information };

// A modal box captioned with the application's title, with an OK button.
void ShowMessageBox(const QString& text, MessageIcon icon);

// Opens a file path or URL with the desktop's handler; true when the desktop accepted it.
bool ShellOpen(const QString& target);

void ErrorBeep();

struct DesktopHooks {
    std::function<void(const QString& text, MessageIcon icon)> messageBox;
    std::function<bool(const QString& target)> open;
    std::function<void()> beep;
};

// Replaces the real desktop; empty members restore the real behaviour.
void SetDesktopHooks(DesktopHooks hooks);
