#include "version.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lintra"));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(Version::Major)
                                            .arg(Version::Minor, 2, 10, QLatin1Char('0'))
                                            .arg(Version::Revision, 4, 10, QLatin1Char('0')));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Lintra"));
    window.show();
    return app.exec();
}
