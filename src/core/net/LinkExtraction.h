#pragma once

#include <string>

// Finds the value of `attribute` on the next `tag` tag at or after `cursor` in a NUL-terminated
// page text: a plain forward scan, not an HTML parser. On success the cursor moves to the end of
// the value. Names and values of 50 characters or more make the scanner give up that tag. On
// failure `value` is empty and the cursor is left alone; a null cursor finds nothing.
bool FindNextLink(const char*& cursor, const char* tag, const char* attribute, std::string& value);
