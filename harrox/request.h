#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// One request as the splitter cut it out of the stream. The byte fields are
// exactly what the client sent (CP932); the accessors interpret them.
struct Request
{
    enum class Verb { Join, Message, Refresh };

    // The count clients ask for when the combo box holds no number, and the
    // most lines a reply carries (the server keeps as many in memory).
    static constexpr int DefaultLineCount = 10;
    static constexpr int MaxLineCount = 1000;

    // The wire texts, as bytes: the splitter works on the raw stream.
    static constexpr QByteArrayView JoinText = "CanEnter?";
    static constexpr QByteArrayView MessageText = "NormalTel";
    static constexpr QByteArrayView RefreshText = "/Reflesh/";
    static constexpr QByteArrayView AddressSeparator = "/*/~";
    static constexpr QByteArrayView LineCountSeparator = "/**/";
    static constexpr QByteArrayView ReplySeparator = "/*/";

    Verb verb = Verb::Refresh;
    QByteArray payload;   // user name or message
    QByteArray address;   // the address the client claims, for the log only
    QByteArray lineCount; // the combo box text

    // Digits only, at most MaxLineCount; anything else is DefaultLineCount.
    int lines() const { return linesFrom(lineCount); }
    static int linesFrom(QByteArrayView text);

    QString text() const;
    // False when the payload holds bytes that are not CP932.
    bool hasValidEncoding() const;

    static QByteArrayView verbText(Verb verb);
};
