#include "default_banner.h"

#include <QLinearGradient>
#include <QPainter>

QImage DefaultBanner()
{
    QImage banner(965, 477, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&banner);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, banner.width(), banner.height());
    sky.setColorAt(0, QColor(0x12, 0x3A, 0x7A));
    sky.setColorAt(1, QColor(0x1C, 0x9C, 0xB8));
    painter.fillRect(banner.rect(), sky);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 28));
    painter.drawEllipse(QPoint(820, 90), 210, 210);
    painter.drawEllipse(QPoint(120, 430), 160, 160);
    painter.setBrush(QColor(255, 255, 255, 18));
    painter.drawEllipse(QPoint(560, 520), 260, 260);

    painter.setPen(Qt::white);
    QFont title = painter.font();
    title.setPixelSize(56);
    title.setBold(true);
    painter.setFont(title);
    painter.drawText(QRect(0, 150, banner.width(), 80), Qt::AlignCenter, QStringLiteral("软件在线安装"));

    QFont subtitle = painter.font();
    subtitle.setPixelSize(22);
    subtitle.setBold(false);
    painter.setFont(subtitle);
    painter.setPen(QColor(255, 255, 255, 210));
    painter.drawText(QRect(0, 240, banner.width(), 40), Qt::AlignCenter,
                     QStringLiteral("选择版本，点击下方按钮即可开始安装"));
    return banner;
}
