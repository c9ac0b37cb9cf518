// Renders the README's pictures of the main window:
//   screenshots OUTDIR
// Starts harrox on 127.0.0.70, lets a second client say a few lines, joins
// with the real window and saves it connected, at each display size, and in
// a narrow and a short window.
#include "fakebackedform1.h"
#include "form2.h"
#include "form2window.h"
#include "frmabout.h"
#include "lintraapplication.h"
#include "pcipfile.h"
#include "waituntil.h"
#include "wire/cp932.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

void settle(int ms = 300)
{
    waitUntil([] { return false; }, ms);
}

void pick(form1 &window, const QString &caption)
{
    for (QAction *a : window.menuBar()->findChildren<QAction *>())
        if (a->text() == caption)
            a->trigger();
}

void save(form1 &window, const QString &path)
{
    settle();
    window.grab().save(path);
    std::printf("%s\n", qPrintable(path));
}

} // namespace

int main(int argc, char *argv[])
{
    LintraApplication app(argc, argv);
    app.installToolkitTranslations();
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK JP"), 9));
    if (argc < 2) {
        std::fprintf(stderr, "usage: screenshots OUTDIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir work;
    QDir::setCurrent(work.path());

    const QString address = QStringLiteral("127.0.0.70");
    QProcess harrox;
    harrox.start(QStringLiteral(HARROX_PATH),
                 {QStringLiteral("--listen"), address, QStringLiteral("--db"),
                  work.filePath(QStringLiteral("demo.db"))});
    harrox.waitForStarted();
    settle(500);

    QTcpSocket other;
    other.connectToHost(QHostAddress(address), 5001);
    other.waitForConnected(3000);
    const auto say = [&](const QString &request) {
        other.write(Cp932::encode(request + QStringLiteral("/*/~127.0.0.1/**/10")));
        other.flush();
        settle(150);
    };
    say(QStringLiteral("CanEnter?佐藤"));
    say(QStringLiteral("NormalTelおはようございます。今日の打ち合わせは15時からです。"));
    say(QStringLiteral("NormalTel資料は共有フォルダに置きました。"));

    PCIPRecord record;
    record.TryConnect = VBTrue;
    record.setName(QStringLiteral("本社サーバー"));
    record.setAddress(address);
    PCIPFile::rewrite(QStringLiteral("PCIP.dat"), {record});

    FakeBackedForm1<> desk;
    form1 &window = desk.window;
    window.show();
    window.findChild<QLineEdit *>(QStringLiteral("Text1"))->setText(QStringLiteral("山田"));
    window.findChild<QPushButton *>(QStringLiteral("Command2"))->click();
    auto *text2 = window.findChild<QLineEdit *>(QStringLiteral("Text2"));
    text2->setText(QStringLiteral("了解しました。よろしくお願いします。"));
    window.findChild<QPushButton *>(QStringLiteral("Command1"))->click();
    settle(500);
    save(window, out.filePath(QStringLiteral("main-connected.png")));

    const QSize size = window.size();
    window.resize(760, 520);
    pick(window, QStringLiteral("大きい"));
    save(window, out.filePath(QStringLiteral("size-large.png")));
    window.resize(640, 440);
    pick(window, QStringLiteral("中くらい"));
    save(window, out.filePath(QStringLiteral("size-medium.png")));
    window.resize(size);
    pick(window, QStringLiteral("小さい"));
    save(window, out.filePath(QStringLiteral("size-small.png")));
    window.resize(260, size.height());
    save(window, out.filePath(QStringLiteral("narrow.png")));
    window.resize(size.width(), 150);
    save(window, out.filePath(QStringLiteral("short.png")));

    // The destination editor at each display size.
    Form2 editor(desk.module, desk.box, desk.shell, QStringLiteral("PCIP.dat"));
    PCIPRecord second;
    second.TryConnect = VBFalse;
    second.setName(QStringLiteral("大阪支社"));
    second.setAddress(QStringLiteral("127.0.0.71"));
    PCIPFile::appendTo(QStringLiteral("PCIP.dat"), second);
    for (int points : {9, 14, 18}) {
        desk.module.DisplayFontSize = qint16(points);
        editor.open();
        settle();
        const QString shot = out.filePath(QStringLiteral("editor-%1.png").arg(points));
        editor.window()->grab().save(shot);
        std::printf("%s\n", qPrintable(shot));
        editor.window()->close();
    }

    // The about window.
    QTimer::singleShot(0, &app, [&] {
        if (QWidget *about = QApplication::activeModalWidget()) {
            settle();
            about->grab().save(out.filePath(QStringLiteral("about.png")));
            std::printf("%s\n", qPrintable(out.filePath(QStringLiteral("about.png"))));
            about->close();
        }
    });
    frmAbout::showModal();

    window.close();
    harrox.terminate();
    harrox.waitForFinished();
    return 0;
}
