#pragma once

#include <QColor>
#include <QPalette>
#include <QString>

class QWidget;

// The palette. Every colour of the window comes from here, by its asset name ("DarkGray", "BlueGreyLite",
// ...) or by a SemanticColor case; no widget spells a colour value of its own.
enum class SemanticColor {
    darkGray,
    yellow,
    bluegray,
    bluegrayLite,
    black,
    white,
    lightGray,
    clear,
    red,
    rose,
    blue,
    blueLite,
    blueGrayTransparent,
};

inline constexpr int semanticColorCount = static_cast<int>(SemanticColor::blueGrayTransparent) + 1;

// The colour of a palette case.
QColor color(SemanticColor semanticColor);

// The asset colour of that exact name ("BlueGreyLite" and "BlueGray" are both names); an invalid colour
// for a name the palette does not have.
QColor namedColor(const QString& name);

// Fills `widget`'s whole area with the asset colour `name` behind everything it holds, as a screen's
// background layer ("mainBg") does.
void fillBackground(QWidget& widget, const QString& name);

// The window's own look, under every screen: the shell's "tabBgBlack" behind white text.
QPalette windowPalette(QPalette base = QPalette());
