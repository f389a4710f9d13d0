#pragma once

#include <QIcon>
#include <QImage>

// The tray's two looks: the logo in colour with a green dot while the tunnel
// is up, the logo greyed out while it is not.
namespace TrayIcons {

QImage trayImage(const QImage &logo, bool connected);

// From ":/assets/logo.png".
QIcon trayIcon(bool connected);

} // namespace TrayIcons
