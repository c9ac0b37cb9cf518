#include "frmabout.h"

#include "identity.h"
#include "twips.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace {

constexpr int IconPixels = 32;

} // namespace

frmAbout::frmAbout(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    const double dpi = logicalDpiY();
    setFixedSize(Twips::toPixels(3492, dpi), Twips::toPixels(1284, dpi));

    // Form_Load
    setWindowTitle(Identity::applicationName() + QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報"));
    picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setPixmap(QIcon(QStringLiteral(":/icons/lintra-32.png")).pixmap(IconPixels));
    picIcon->setAccessibleName(Identity::applicationName());
    picIcon->setGeometry(Twips::toPixels(QRectF(240, 240, 432, 432), dpi));

    lblTitle = new QLabel(Identity::applicationName(), this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QPalette black = lblTitle->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    lblTitle->setPalette(black);
    lblTitle->move(Twips::toPixels(1050, dpi), Twips::toPixels(240, dpi));
    lblTitle->adjustSize();

    lblVersion = new QLabel(QStringLiteral("ﾊﾞｰｼﾞｮﾝ %1.%2.%3")
                                    .arg(Version::Major)
                                    .arg(Version::Minor)
                                    .arg(Version::Revision),
                            this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->move(Twips::toPixels(1080, dpi), Twips::toPixels(600, dpi));
    lblVersion->adjustSize();

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdOK->setGeometry(Twips::toPixels(QRectF(1920, 840, 1380, 345), dpi));
    // Esc rejects a dialog, Enter presses the default button: both close.
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    setTabOrder(cmdOK, lblTitle);
}

void frmAbout::showModal()
{
    auto *about = new frmAbout;
    about->setWindowModality(Qt::ApplicationModal);
    about->exec();
}
