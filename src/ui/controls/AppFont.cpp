#include "AppFont.h"

#include <QFontDatabase>
#include <QtMath>

namespace {

const QString family = QStringLiteral("Inter");

} // namespace

bool loadAppFonts() {
    static const bool loaded = [] {
        bool all = true;
        for (const char* file : {":/fonts/Inter-Regular.otf", ":/fonts/Inter-Medium.otf", ":/fonts/Inter-Bold.otf"}) {
            if (QFontDatabase::addApplicationFont(QString::fromLatin1(file)) < 0) {
                qWarning("Could not load the font %s", file);
                all = false;
            }
        }
        return all;
    }();
    return loaded;
}

QString fontFaceName(FontFace face) {
    switch (face) {
    case FontFace::regular:
        return QStringLiteral("Switzer-Regular");
    case FontFace::medium:
        return QStringLiteral("Switzer-Medium");
    case FontFace::bold:
        return QStringLiteral("Switzer-Bold");
    }
    return {};
}

QFont appFont(FontFace face, qreal points) {
    loadAppFonts();
    QFont font(family);
    switch (face) {
    case FontFace::regular:
        font.setWeight(QFont::Normal);
        break;
    case FontFace::medium:
        font.setWeight(QFont::Medium);
        break;
    case FontFace::bold:
        font.setWeight(QFont::Bold);
        break;
    }
    // Qt sizes text in whole pixels; 16.5 becomes 17.
    font.setPixelSize(qMax(1, qRound(points)));
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}
