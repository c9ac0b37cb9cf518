#pragma once

#include <QAbstractSocket>
#include <QString>

// What the status line says of a socket failure: Japanese, whatever the
// toolkit's translations hold.
QString socketErrorText(QAbstractSocket::SocketError code);
