#include "trayicons.h"

#include <QPainter>

namespace TrayIcons {

QImage trayImage(const QImage &logo, bool connected)
{
    if (logo.isNull())
        return QImage();
    // Tray icons are drawn at 16 to 32 pixels; 64 keeps them sharp on high-density screens.
    QImage image = logo.convertToFormat(QImage::Format_ARGB32)
                       .scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (!connected) {
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int gray = qGray(line[x]);
                // Dimmed as well, so that it reads as "off" on light and dark panels alike.
                line[x] = qRgba(gray, gray, gray, qAlpha(line[x]) * 3 / 4);
            }
        }
        return image;
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const int size = image.width() * 3 / 8;
    const QRect dot(image.width() - size - 1, image.height() - size - 1, size, size);
    painter.setPen(QPen(QColor(0x11, 0x13, 0x14), 3));
    painter.setBrush(QColor(0x62, 0xd3, 0x8a));
    painter.drawEllipse(dot);
    return image;
}

QIcon trayIcon(bool connected)
{
    static const QImage logo(QStringLiteral(":/assets/logo.png"));
    const QImage image = trayImage(logo, connected);
    return image.isNull() ? QIcon(QStringLiteral(":/assets/logo.png")) : QIcon(QPixmap::fromImage(image));
}

} // namespace TrayIcons
