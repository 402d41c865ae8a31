#include "Artwork.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

namespace {

QString artworkPath(const QString& name) {
    return QStringLiteral(":/artwork/%1.svg").arg(name);
}

} // namespace

bool hasArtwork(const QString& name) {
    return !name.isEmpty() && QFile::exists(artworkPath(name));
}

QPixmap artwork(const QString& name, QSize size, const QColor& tint, qreal scale) {
    if (!hasArtwork(name) || size.isEmpty())
        return {};
    QSvgRenderer renderer(artworkPath(name));
    if (!renderer.isValid())
        return {};
    QPixmap pixmap(size * scale);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QSizeF drawn = renderer.defaultSize().toSizeF();
    drawn.scale(QSizeF(size), Qt::KeepAspectRatio);
    const QRectF target(QPointF((size.width() - drawn.width()) / 2, (size.height() - drawn.height()) / 2), drawn);
    renderer.render(&painter, target);
    if (tint.isValid()) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRectF(QPointF(0, 0), QSizeF(size)), tint);
    }
    return pixmap;
}

QIcon artworkIcon(const QString& name, QSize size, const QColor& tint, qreal scale) {
    return QIcon(artwork(name, size, tint, scale));
}
