#include "app/startup.h"

#include "app/lintraapplication.h"
#include "app/module1.h"
#include "destinations/form2.h"
#include "destinations/pcipfile.h"
#include "mainwin/form1.h"
#include "platform/clock.h"
#include "platform/desktopshellopen.h"
#include "platform/widgetmessagebox.h"

#include <QFont>
#include <QTimer>

namespace {

constexpr int DefaultPointSize = 9; // the text-size list starts at "9"

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
    DesktopShellOpen shell;
    app.setMessageBox(&messageBox);

    Module1 module;
    Form2 editor(module, messageBox, shell, QString::fromLatin1(PCIPFile::DefaultName));
    form1 window(module, messageBox, clock, shell);
    window.setDestinationEditor(&editor);
    window.show();
    if (whenShown)
        QTimer::singleShot(0, &window, whenShown);
    return app.exec();
}
