#include "failure_boxes.h"

#include "failure.h"
#include "module_place.h"
#include "shell.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <new>

namespace {

struct FailureReport {
    QString kind;
    QString message;
    quintptr place = 0;
};

FailureReport Describe(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const Failure &f) {
        return {f.Kind(), f.Message(), f.Place()};
    } catch (const std::bad_alloc &) {
        return {"EOutOfMemory", "Out of memory"};
    } catch (const std::exception &e) {
        return {"Exception", QString::fromLocal8Bit(e.what())};
    } catch (...) {
        return {"Exception", "Unknown failure"};
    }
}

// A failure that wraps others (std::throw_with_nested) is shown by its innermost non-empty
// message.
QString InnermostMessage(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const std::nested_exception &wrapper) {
        if (wrapper.nested_ptr()) {
            QString inner = InnermostMessage(wrapper.nested_ptr());
            if (!inner.isEmpty())
                return inner;
        }
    } catch (...) {
    }
    return Describe(failure).message;
}

} // namespace

QString ErrorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

QString ApplicationErrorText(const QString &kind, const QString &module, quint32 place,
                             const QString &message)
{
    const QString hexPlace = QStringLiteral("%1").arg(place, 8, 16, QChar(u'0')).toUpper();
    QString text = QStringLiteral("Exception %1 in module %2 at %3.\n").arg(kind, module, hexPlace) + message;
    if (!message.isEmpty() && !message.endsWith(u'.'))
        text += u'.';
    return text + u'\n';
}

void ShowErrorBox(std::exception_ptr failure)
{
    PresentMessage({"Error", ErrorBoxText(InnermostMessage(failure)), true});
}

void ShowApplicationError(std::exception_ptr failure)
{
    const FailureReport report = Describe(failure);
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    PresentMessage({"Application Error",
                    ApplicationErrorText(report.kind, module, PlaceInModule(report.place), report.message),
                    true, true});
}
