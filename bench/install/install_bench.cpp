// One install through the real window, timed: the program folder given on the command line
// holds a pack.db for a running service; version 1 is installed from the click on the
// install button until the closing text. Also reports how long the window went without a
// repaint: the percentage under the bar is asked for one every 10 ms, as a desktop asks a
// window that is uncovered or moved, and the longest gap between its paints is given in all
// and for each text shown above the bar (downloading, unpacking, ...).
#include "application.h"
#include "form2.h"
#include "shell.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QTimer>
#include <cstdio>
#include <vector>

namespace {

// Records when the widgets it watches are painted, and what the text above the bar said then.
class PaintLog : public QObject {
public:
    PaintLog(QElapsedTimer &clock, const QLabel &stage) : clock_(clock), stage_(stage) {}
    QList<qint64> times;
    QStringList stages;

    // The longest time between two paints; with a stage, between two paints during it.
    qint64 LongestGap(const QString &stage = {}) const
    {
        qint64 longest = 0;
        for (qsizetype i = 1; i < times.size(); ++i)
            if (stage.isEmpty() || (stages[i - 1] == stage && stages[i] == stage))
                longest = qMax(longest, times[i] - times[i - 1]);
        return longest;
    }

    // The texts in the order they were first shown.
    QStringList StagesInOrder() const
    {
        QStringList order;
        for (const QString &stage : stages)
            if (!order.contains(stage))
                order.append(stage);
        return order;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            times.append(clock_.elapsed());
            stages.append(stage_.text());
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QElapsedTimer &clock_;
    const QLabel &stage_;
};

// Touches 2 GiB and frees it again, just before the click, as bench/warm_memory.sh does before
// the peers' run: on a virtual machine whose host takes back what the guest frees, the first
// touch of each page of cold memory costs a fault, and the window's own start-up lies between
// the script's warming and the click.
void WarmMemory()
{
    const std::vector<char> memory(size_t(2) << 30, 1);
}

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

    WarmMemory();
    QElapsedTimer clock;
    PaintLog paints(clock, *form.label1);
    form.bfb->installEventFilter(&paints);
    QTimer repaints;
    QObject::connect(&repaints, &QTimer::timeout, form.bfb, qOverload<>(&QWidget::update));
    repaints.start(10);
    clock.start();
    form.Button1Click();
    const qint64 elapsed = clock.elapsed();
    if (!notices.isEmpty()) {
        std::fprintf(stderr, "install_bench: %s\n", qPrintable(notices.join(u' ')));
        return 1;
    }
    // elapsed ms, paints, longest gap between two paints in ms, then the longest gap
    // while each text was shown above the bar, in the order they were shown
    std::printf("%lld %lld %lld", elapsed, qlonglong(paints.times.size()), paints.LongestGap());
    for (const QString &stage : paints.StagesInOrder())
        std::printf(" %lld", paints.LongestGap(stage));
    std::printf("\n");
    return 0;
}
