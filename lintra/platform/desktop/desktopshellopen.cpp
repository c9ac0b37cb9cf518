#include "desktopshellopen.h"

#include "identity.h"
#include "messagebox.h"

#include <QDesktopServices>
#include <QUrl>

namespace {

// What the packages recommend and scripts/setup installs.
const char ViewerMissing[] = "ヘルプを開けませんでした。\n"
                             "ヘルプを読むには xchm と xdg-utils をインストールしてください。\n"
                             "例: sudo apt-get install xchm xdg-utils";

} // namespace

DesktopShellOpen::DesktopShellOpen(MessageBox &box, Opener opener)
    : m_box(box), m_opener(opener ? std::move(opener) : Opener(&QDesktopServices::openUrl))
{
}

void DesktopShellOpen::open(const QString &path)
{
    if (!m_opener(QUrl::fromLocalFile(path)))
        m_box.exclamation(QString::fromUtf8(ViewerMissing), Identity::applicationName());
}
