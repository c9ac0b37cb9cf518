#include "platform/desktopshellopen.h"

#include <QDesktopServices>
#include <QUrl>

void DesktopShellOpen::open(const QString &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
