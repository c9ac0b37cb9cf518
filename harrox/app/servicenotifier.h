#pragma once

#include <QString>

// Tells systemd (a Type=notify unit) when harrox serves, reloads and stops,
// and what it is doing, for `systemctl status`. Outside such a unit there is
// no NOTIFY_SOCKET and each call does nothing.
namespace ServiceNotifier {

void ready();
void reloading();
void stopping();
void status(const QString &text);

} // namespace ServiceNotifier
