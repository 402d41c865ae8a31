#pragma once

#include <QFont>
#include <QString>

// The window's one typeface in its three faces. Sizes are given in points of the layout, where one point
// is one device-independent pixel.
enum class FontFace { regular, medium, bold };

// The face at `points`; the typeface's files are registered with Qt on first use.
QFont appFont(FontFace face, qreal points);
// The face's name in the design ("Switzer-Regular", "Switzer-Medium", "Switzer-Bold").
QString fontFaceName(FontFace face);
// Registers the typeface's files from the program's resources; false when one could not be loaded.
// Safe to call again.
bool loadAppFonts();
