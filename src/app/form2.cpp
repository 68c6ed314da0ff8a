#include "form2.h"

#include "default_banner.h"
#include "failure.h"
#include "network_wait.h"
#include "package_reader.h"
#include "shell.h"
#include "transfer_log.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QProgressBar>
#include <QPushButton>

namespace {

QFrame *MakePanel(QWidget *parent, const QRect &placement)
{
    auto *panel = new QFrame(parent);
    panel->setGeometry(placement);
    panel->setAutoFillBackground(true);
    return panel;
}

QLabel *MakeLabel(QWidget *parent, const QRect &placement, const QString &text, Qt::Alignment alignment)
{
    auto *label = new QLabel(text, parent);
    // label1 shows the service's notice as it stands, never read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(placement);
    label->setAlignment(alignment | Qt::AlignVCenter);
    return label;
}

} // namespace

TForm2::TForm2()
{
    setWindowTitle(QStringLiteral("软件在线安装"));
    // Single border: fixed size, close and minimize only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);

    Panel1 = MakePanel(this, {0, 0, ClientWidth, 477});
    Image2ad = new TImage(Panel1);
    Image2ad->setGeometry(Panel1->rect());
    Image2ad->SetPicture(DefaultBanner());

    Panel3 = MakePanel(this, {0, 477, ClientWidth, ClientHeight - 477});
    Button1 = new QPushButton(QStringLiteral("点击现在安装"), Panel3);
    Button1->setGeometry(717, 48, 129, 33);
    Button1->setCursor(Qt::PointingHandCursor);
    // Pressed by Return and Enter as well as Space once it has the focus, as desktop buttons are.
    Button1->setAutoDefault(true);
    ComboBox1 = new QComboBox(Panel3);
    ComboBox1->setGeometry(133, 56, 153, 22);
    // A child of ComboBox1 at (-64, 4) would be clipped away; the same place in Panel3.
    Label3 = MakeLabel(Panel3, {69, 60, 61, 17}, QStringLiteral("选择版本"), Qt::AlignLeft);

    // Created last so that, once shown, it covers the version list and the install button.
    Panel2 = MakePanel(Panel3, Panel3->rect());
    Panel2->hide();
    label1 = MakeLabel(Panel2, {152, 40, 657, 17}, QStringLiteral("正在获取软件安装程序，请耐心等待......"),
                       Qt::AlignHCenter);
    loading = new QProgressBar(Panel2);
    loading->setGeometry(184, 64, 585, 20);
    loading->setOrientation(Qt::Horizontal);
    loading->setRange(0, 100);
    loading->setValue(0);
    loading->setTextVisible(false);
    bfb = MakeLabel(Panel2, {416, 89, 120, 18}, QStringLiteral("0.00%"), Qt::AlignHCenter);
    rateLabel = MakeLabel(Panel2, {184, 110, 585, 18}, QString(), Qt::AlignHCenter);

    setTabOrder(Button1, ComboBox1);

    connect(Image2ad, &TImage::Click, this, &TForm2::Image2adClick);
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(ComboBox1, &QComboBox::activated, this, &TForm2::ComboBox1Change);

    // Transfers wait on the network in slices; between them the window repaints and takes
    // input, and once it has been closed the transfer ends.
    SetThreadWaitHook([this] {
        PumpEvents();
        if (closed)
            throw Failure("EAbort", QStringLiteral("Operation aborted"));
    });
    SetThreadTransferLog([this](const QString &line) { runLog.Note(line); });
    SetNoticeObserver([this](const QString &text) { runLog.Note(QStringLiteral("notice: ") + text); });
    runLog.Note(QStringLiteral("Installer %1 started").arg(QLatin1String(INSTALLER_VERSION)));

    FormCreate();
}

TForm2::~TForm2()
{
    SetThreadWaitHook({});
    SetThreadTransferLog({});
    SetNoticeObserver({});
}

void TForm2::FormCreate()
{
    const QString path = PackagePath(ProgramFolder());
    const PackageLoad load = LoadPackage(path);
    Settings = load.Settings;
    Session.ServiceNumber = load.ServiceNumber;
    if (load.Outcome != PackageOutcome::Loaded)
        FailAndQuit(PackageNotice(load.Outcome, path));
}

void TForm2::FormClose()
{
    // The outcome is of no interest: a missing archive or one that cannot go is left alone.
    if (!Session.ArchivePath.isEmpty())
        QFile::remove(Session.ArchivePath);
}

void TForm2::ComboBox1Change() {}

void TForm2::closeEvent(QCloseEvent *event)
{
    event->ignore();
    closed = true;
    if (installing)
        closedDuringInstall = true;
    FormClose();
    RequestQuit();
}
