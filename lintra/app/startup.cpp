#include "startup.h"

#include "clock.h"
#include "desktopinputmode.h"
#include "desktopshellopen.h"
#include "form1.h"
#include "form2.h"
#include "form2window.h"
#include "identity.h"
#include "lintraapplication.h"
#include "module1.h"
#include "widgetmessagebox.h"

#include <QDir>
#include <QFont>
#include <QStandardPaths>
#include <QTimer>

namespace {

constexpr int DefaultPointSize = 9; // the text-size list starts at "9"

// The desktop entry passes it: a menu starts the program in the home folder,
// where PCIP.dat does not belong. A start from a shell keeps its folder.
constexpr QLatin1String DataFolderOption("--data-folder");

// Works in $XDG_DATA_HOME/lintra (~/.local/share/lintra), made on first use.
void enterDataFolder(MessageBox &box)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
            + QStringLiteral("/lintra");
    if (!QDir().mkpath(folder) || !QDir::setCurrent(folder))
        box.exclamation(QStringLiteral("作業フォルダー %1 を作れませんでした。"
                                       "現在のフォルダー %2 で続けます。")
                                .arg(folder, QDir::currentPath()),
                        Identity::applicationName());
}

} // namespace

int runLintra(int &argc, char **argv, const std::function<void()> &whenShown)
{
    LintraApplication app(argc, argv);
    app.installToolkitTranslations();
    QFont font(QStringLiteral("Noto Sans CJK JP"), DefaultPointSize);
    font.setStyleHint(QFont::SansSerif);
    QApplication::setFont(font);

    WidgetMessageBox messageBox;
    SystemClock clock;
    DesktopShellOpen shell(messageBox);
    app.setMessageBox(&messageBox);
    if (QCoreApplication::arguments().contains(DataFolderOption))
        enterDataFolder(messageBox);
    DesktopInputMode inputMode;

    Module1 module;
    Form2 editor(module, messageBox, shell, module.PCIPPath);
    form1 window(module, messageBox, clock, shell);
    window.setDestinationEditor(&editor);
    window.setInputMode(inputMode);
    QObject::connect(&editor, &Form2::opened, &editor,
                     [&inputMode](Form2Window *w) { w->setInputMode(inputMode); });
    window.show();
    if (whenShown)
        QTimer::singleShot(0, &window, whenShown);
    return app.exec();
}
