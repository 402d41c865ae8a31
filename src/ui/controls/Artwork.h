#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

// The window's images and symbols, by their design names: "logoHeader", the tab icons "Login-Icon",
// "tabUserCreate", "help", "RemoveDevice", "logout", "downloadCloud", "errorClose", "boxChecked", "box",
// and the symbols "staroflife.fill", "info.circle", "eye.fill", "eye.slash.fill",
// "checkmark.circle.fill", "exclamationmark.triangle.fill".

// True when an image of that name exists.
bool hasArtwork(const QString& name);
// The image drawn into `size` (keeping its aspect ratio, centred) at the device pixel ratio `scale`.
// A valid `tint` paints every opaque pixel in that colour, as symbols are drawn. A null pixmap for an
// unknown name.
QPixmap artwork(const QString& name, QSize size, const QColor& tint = {}, qreal scale = 1.0);
// The image as an icon of `size`, tinted as above, sharp on a screen of `scale`.
QIcon artworkIcon(const QString& name, QSize size, const QColor& tint = {}, qreal scale = 2.0);
