#include "app/lintraapplication.h"
#include "app/module1.h"
#include "mainwin/form1.h"
#include "platform/clock.h"
#include "platform/desktopshellopen.h"
#include "platform/widgetmessagebox.h"

#include <QFont>

namespace {

constexpr int DefaultPointSize = 9; // the text-size list starts at "9"

} // namespace

int main(int argc, char *argv[])
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
    form1 window(module, messageBox, clock, shell);
    window.show();
    return app.exec();
}
