#include "SemanticColor.h"

#include <QHash>
#include <QPalette>
#include <QWidget>
#include <QtGlobal>

namespace {

// A dark theme: backgrounds near black, text in greys, the brand yellow for actions.
const QHash<QString, QColor>& assetColors() {
    static const QHash<QString, QColor> colors{
        {QStringLiteral("mainBg"), QColor(0x1f, 0x23, 0x2b)},
        {QStringLiteral("tabBgBlack"), QColor(0x12, 0x14, 0x18)},
        {QStringLiteral("primaryYellow"), QColor(0xff, 0xc7, 0x2c)},
        {QStringLiteral("Yellow"), QColor(0xf6, 0xc3, 0x1c)},
        {QStringLiteral("DarkGray"), QColor(0x9a, 0xa0, 0xa9)},
        {QStringLiteral("LightGray"), QColor(0xd4, 0xd7, 0xdc)},
        {QStringLiteral("BlueGray"), QColor(0x2c, 0x38, 0x4a)},
        {QStringLiteral("BlueGreyLite"), QColor(0x3d, 0x4b, 0x60)},
        {QStringLiteral("PureWhite"), QColor(0xff, 0xff, 0xff)},
        {QStringLiteral("PureBlack"), QColor(0x00, 0x00, 0x00)},
        {QStringLiteral("Blue"), QColor(0x2f, 0x6f, 0xeb)},
        {QStringLiteral("BlueLite"), QColor(0x7a, 0xa7, 0xf5)},
        {QStringLiteral("BlueGray0.6"), QColor(0x2c, 0x38, 0x4a, 153)},
    };
    return colors;
}

} // namespace

QColor namedColor(const QString& name) {
    const auto found = assetColors().constFind(name);
    if (found == assetColors().constEnd()) {
        qWarning("No colour named %s", qPrintable(name));
        return {};
    }
    return *found;
}

QColor color(SemanticColor semanticColor) {
    switch (semanticColor) {
    case SemanticColor::darkGray:
        return namedColor(QStringLiteral("DarkGray"));
    case SemanticColor::yellow:
        return namedColor(QStringLiteral("Yellow"));
    case SemanticColor::bluegray:
        return namedColor(QStringLiteral("BlueGray"));
    case SemanticColor::bluegrayLite:
        return namedColor(QStringLiteral("BlueGreyLite"));
    case SemanticColor::black:
        return namedColor(QStringLiteral("PureBlack"));
    case SemanticColor::white:
        return namedColor(QStringLiteral("PureWhite"));
    case SemanticColor::lightGray:
        return namedColor(QStringLiteral("LightGray"));
    case SemanticColor::clear:
        return QColor(Qt::transparent);
    case SemanticColor::red:
        return QColor(Qt::red);
    case SemanticColor::rose:
        return QColor::fromRgbF(0.965f, 0.361f, 0.361f, 0.5f);
    case SemanticColor::blue:
        return namedColor(QStringLiteral("Blue"));
    case SemanticColor::blueLite:
        return namedColor(QStringLiteral("BlueLite"));
    case SemanticColor::blueGrayTransparent:
        return namedColor(QStringLiteral("BlueGray0.6"));
    }
    return {};
}

void fillBackground(QWidget& widget, const QString& name) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, namedColor(name));
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

QPalette windowPalette(QPalette base) {
    const QColor background = namedColor(QStringLiteral("tabBgBlack"));
    base.setColor(QPalette::Window, background);
    base.setColor(QPalette::WindowText, color(SemanticColor::white));
    base.setColor(QPalette::Base, background);
    base.setColor(QPalette::Text, color(SemanticColor::white));
    base.setColor(QPalette::ButtonText, color(SemanticColor::white));
    return base;
}
