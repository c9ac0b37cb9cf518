#include "lintraapplication.h"

#include "identity.h"
#include "messagebox.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

#include <exception>

LintraApplication::LintraApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(Identity::applicationName());
    setApplicationVersion(Identity::version());
    // No display name: the window system would add it to every title, and
    // the titles must read exactly as the windows set them.
    setDesktopFileName(QStringLiteral("lintra"));
    // One icon for every window: 32 px as drawn, the large one for docks.
    QIcon icon(QStringLiteral(":/icons/lintra-32.png"));
    icon.addFile(QStringLiteral(":/icons/lintra-256.png"));
    setWindowIcon(icon);
}

void LintraApplication::installToolkitTranslations()
{
    auto *translator = new QTranslator(this);
    if (translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qt"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(translator);
    else
        delete translator;
}

bool LintraApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        report(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        report(QStringLiteral("不明なエラー"));
    }
    return false;
}

void LintraApplication::report(const QString &what)
{
    // A failure while the box itself is up is not shown again.
    if (!m_messageBox || m_reporting)
        return;
    m_reporting = true;
    m_messageBox->exclamation(QStringLiteral("予期しないエラーが発生しました: ") + what,
                              Identity::applicationName());
    m_reporting = false;
}
