#pragma once
// Icons and pictures of the windows, drawn in code so the program needs no
// image files.
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace tarvik {

QIcon ConnectIcon();
QIcon DisconnectIcon();
QIcon AboutIcon();
QIcon ClearIcon();
// A small hidden device picture of the main window, labelled with its number.
QPixmap DevicePicture(const QString& number);
// The banner across the top of the About window.
QPixmap AboutBanner(int width, int height);

}  // namespace tarvik
