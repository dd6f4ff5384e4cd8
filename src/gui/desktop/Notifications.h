#pragma once

#include <QString>

// Shows a notice through the desktop's notification service on the session bus, as "Velmo" with
// the program's icon and desktop entry. The call does not wait for an answer: without a service,
// or without a bus, nothing is shown and nothing else happens.
void ShowNotification(const QString& summary, const QString& body);
