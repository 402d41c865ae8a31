#pragma once

#include <QColor>

class QPushButton;

// A main action button: medium 16.5-point label in `foregroundColor`, 10 points of padding, 312 points
// wide, on yellow that dims to 0.9 opacity while pressed. Never disabled: screens show readiness by the
// label's colour ("DarkGray" until the inputs are complete, "PureBlack" then).
struct ElevatedButtonStyle {
    QColor foregroundColor;

    static constexpr int width = 312;

    // Styles `button`; applying again with another colour restyles it.
    void apply(QPushButton& button) const;
};
