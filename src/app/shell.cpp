#include "shell.h"

#include "failure.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace {

QString programFolderOverride;
std::function<void(const QString &)> noticeObserver;

void ShowMessageBox(const MessageBox &box)
{
    QWidget *owner = box.topLevel ? nullptr : QApplication::activeWindow();
    QMessageBox dialog(box.errorIcon ? QMessageBox::Critical : QMessageBox::NoIcon, box.title, box.text,
                       QMessageBox::Ok, owner);
    // Texts from services and paths are shown as they stand, never read as markup.
    dialog.setTextFormat(Qt::PlainText);
    dialog.exec();
}

MessagePresenter &Presenter()
{
    static MessagePresenter presenter = ShowMessageBox;
    return presenter;
}

} // namespace

QString ProgramFolder()
{
    if (!programFolderOverride.isEmpty())
        return programFolderOverride;
    return QCoreApplication::applicationDirPath() + u'/';
}

void SetProgramFolder(const QString &folder)
{
    programFolderOverride = folder;
}

QString ApplicationTitle()
{
    return ApplicationTitleFor(QCoreApplication::applicationFilePath());
}

QString ApplicationTitleFor(const QString &programPath)
{
    QString name = programPath.mid(programPath.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.isEmpty())
        return name;
    const qsizetype head = name.size() > 1 && name[0].isHighSurrogate() ? 2 : 1;
    return name.left(head) + name.mid(head).toLower();
}

void SetNoticeObserver(std::function<void(const QString &text)> observer)
{
    noticeObserver = std::move(observer);
}

void ShowNotice(const QString &text)
{
    if (noticeObserver)
        noticeObserver(text);
    PresentMessage({ApplicationTitle(), text});
}

void FailAndQuit(const QString &text)
{
    ShowNotice(text);
    RequestQuit();
}

void PumpEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void SetMessagePresenter(MessagePresenter presenter)
{
    Presenter() = presenter ? std::move(presenter) : MessagePresenter(ShowMessageBox);
}

void PresentMessage(const MessageBox &box)
{
    const QCoreApplication *application = QCoreApplication::instance();
    if (application && QThread::currentThread() != application->thread())
        throw Failure("EInvalidOperation", "Messages must be shown in the main UI thread.");
    Presenter()(box);
}
