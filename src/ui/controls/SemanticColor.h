#pragma once

#include <QColor>
#include <QString>

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
