#include "postedlines.h"

#include "wire/cp932.h"

namespace {

// The line as Harrox stores it: what code page 932 holds, control
// characters as spaces.
QString asStored(const QString &line)
{
    QString stored = Cp932::decode(Cp932::encode(line));
    for (QChar &c : stored) {
        if (c.unicode() < u' ')
            c = u' ';
    }
    return stored;
}

} // namespace

void PostedLines::replyShown(QStringView conversation)
{
    if (m_lines.isEmpty())
        return;
    const QList<QStringView> shown = conversation.split(u'\n');
    m_lines.removeIf([&shown](const QString &line) {
        const QString stored = asStored(line);
        const QString post = QStringLiteral("> ") + stored;
        for (QStringView row : shown) {
            if (row.endsWith(u'\r'))
                row.chop(1);
            if (row.endsWith(post) || (row.startsWith(NotStoredNotice) && row.endsWith(stored)))
                return true;
        }
        return false;
    });
}
