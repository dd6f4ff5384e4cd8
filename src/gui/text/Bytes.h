#pragma once

#include <QString>

#include <string>
#include <string_view>

// The engine's texts are 8-bit: router paths and page bytes are whatever the router sent, in no
// known encoding. The window shows each byte as the character of the same number (Latin-1), so
// every byte from 0x00 to 0xFF survives the way into a QString and back unchanged.

QString FromBytes(std::string_view bytes);

// The inverse of FromBytes for text that holds only characters up to U+00FF, which includes all
// text FromBytes made and everything typed in Latin-1. Text with any character above U+00FF
// cannot have come from a router; it was typed, and goes as UTF-8 as a whole, the encoding web
// servers of today expect, rather than losing characters.
std::string ToBytes(const QString& text);

// What the user types as a login or password goes as UTF-8, as browsers send Basic credentials.
std::string CredentialBytes(const QString& text);

// A text of the string table, for the window.
QString LoadText(int id);
