#pragma once

#include <QColor>

class QPushButton;

// A row of a choice list: medium 12-point label centred in a 305-point-wide row whose whole area takes
// the click; the row's background is `pressedColor` while pressed, `backgroundColor` otherwise.
struct ListButtonStyle {
    QColor foregroundColor;
    QColor backgroundColor;
    QColor pressedColor;

    static constexpr int width = 305;

    // Styles `button`; applying again with other colours restyles it.
    void apply(QPushButton& button) const;
};
