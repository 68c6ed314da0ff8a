// One install through the real window, timed: the program folder given on the command line
// holds a pack.db for a running service; version 1 is installed from the click on the
// install button until the closing text. Also reports how steadily the progress bar was
// repainted during the download.
#include "application.h"
#include "form2.h"
#include "shell.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QProgressBar>
#include <cstdio>

namespace {

// Records when the progress bar is painted.
class PaintLog : public QObject {
public:
    explicit PaintLog(QElapsedTimer &clock) : clock_(clock) {}
    QList<qint64> times;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            times.append(clock_.elapsed());
        return QObject::eventFilter(watched, event);
    }

private:
    QElapsedTimer &clock_;
};

} // namespace

int main(int argc, char **argv)
{
    TApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: install_bench PROGRAM_FOLDER\n");
        return 2;
    }
    SetProgramFolder(QString::fromLocal8Bit(argv[1]) + u'/');
    QStringList notices;
    SetMessagePresenter([&notices](const MessageBox &box) { notices.append(box.text); });

    TForm2 form;
    form.show();
    form.FormShow();
    if (form.ComboBox1->count() == 0 || !notices.isEmpty()) {
        std::fprintf(stderr, "install_bench: no version to install %s\n", qPrintable(notices.join(u' ')));
        return 1;
    }
    form.ComboBox1->setCurrentIndex(0);

    QElapsedTimer clock;
    PaintLog paints(clock);
    form.loading->installEventFilter(&paints);
    clock.start();
    form.Button1Click();
    const qint64 elapsed = clock.elapsed();
    if (!notices.isEmpty()) {
        std::fprintf(stderr, "install_bench: %s\n", qPrintable(notices.join(u' ')));
        return 1;
    }
    qint64 longestGap = 0;
    for (qsizetype i = 1; i < paints.times.size(); ++i)
        longestGap = qMax(longestGap, paints.times[i] - paints.times[i - 1]);
    // elapsed ms, bar paints, longest gap between two bar paints in ms
    std::printf("%lld %lld %lld\n", elapsed, qlonglong(paints.times.size()), longestGap);
    return 0;
}
