#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

class LoadingCircleBlinks;

// The window's busy sign: an animated ring of dots, `size` points square. The shell shows it at medium
// size, fast, in "Yellow" over the dimmed window while the app state is loading.
class LoadingIndicator : public QWidget {
    Q_OBJECT

public:
    enum class LoadingAnimation { circleBlinks };
    // The raw value is the side in points.
    enum class Size { small = 25, medium = 50, large = 100, extraLarge = 150 };
    enum class Speed { slow, normal, fast };

    LoadingIndicator(LoadingAnimation animation, Size size, Speed speed, const QColor& color,
                     QWidget* parent = nullptr);

    // The case with exactly that raw value, or none.
    static std::optional<Size> sizeFromRaw(double rawValue);
    static std::optional<Speed> speedFromRaw(double rawValue);
    static double rawValue(Size size) { return static_cast<int>(size); }
    // 1.0, 0.5 or 0.25: seconds per step's fade; half of it is the step interval.
    static double rawValue(Speed speed);

    LoadingAnimation animation() const { return m_animation; }
    double size() const { return m_size; }
    double speed() const { return m_speed; }
    QColor color() const { return m_color; }
    LoadingCircleBlinks* circleBlinks() const { return m_circleBlinks; }

private:
    LoadingAnimation m_animation;
    double m_size;
    double m_speed;
    QColor m_color;
    LoadingCircleBlinks* m_circleBlinks;
};
