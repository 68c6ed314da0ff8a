#include "form2.h"

#include <QMouseEvent>
#include <QPixmap>

TImage::TImage(QWidget *parent) : QLabel(parent)
{
    setCursor(Qt::PointingHandCursor);
    // QLabel stretches its pixmap over the whole control, aspect ratio ignored.
    setScaledContents(true);
}

void TImage::SetPicture(const QImage &picture)
{
    picture_ = picture;
    setPixmap(QPixmap::fromImage(picture));
}

void TImage::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Click();
}
