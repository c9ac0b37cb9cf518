#pragma once

#include "wire/chatprotocol.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// One request as the splitter cut it out of the stream. The byte fields are
// exactly what the client sent (CP932); the accessors interpret them.
struct Request
{
    enum class Verb { Join, Message, Refresh };

    Verb verb = Verb::Refresh;
    QByteArray payload; // user name or message
    QByteArray address; // the address the client claims, for the log only
    QByteArray lineCount; // the combo box text

    // Digits only, at most ChatProtocol::MaxLineCount; anything else is
    // ChatProtocol::DefaultLineCount.
    int lines() const { return ChatProtocol::lineCountFrom(lineCount); }

    QString text() const;
    // False when the payload holds bytes that are not CP932.
    bool hasValidEncoding() const;

    static QByteArrayView verbText(Verb verb);
};
