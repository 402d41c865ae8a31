#pragma once

class QPushButton;

// A confirmation dialog's button: medium 14-point caption in "BlueGray" in a 120-point-wide label, 10
// points of padding left and right and 5 above and below (140 points in all), on "Yellow" that turns
// "DarkGray" while pressed.
struct DialogButtonStyle {
    static constexpr int labelWidth = 120;
    static constexpr int width = labelWidth + 2 * 10;

    void apply(QPushButton& button) const;
};
