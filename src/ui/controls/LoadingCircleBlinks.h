#pragma once

#include <QColor>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>

#include <array>

// A ring of eight dots in which one bright dot runs clockwise with a fading trail. It steps on a timer
// while shown and starts again from the top each time it is shown. Each step fades the dots from what
// they showed to their new opacities, easing in and out over one step's time, and then plays the fade
// back once, as an auto-reversing animation does; the next step usually starts before that.
class LoadingCircleBlinks : public QWidget {
    Q_OBJECT

public:
    // `size`: the ring's square side in points; `speed`: seconds per round trip of a step's fade, half
    // of which is the step interval.
    LoadingCircleBlinks(const QColor& color, int size, double speed, QWidget* parent = nullptr);

    static constexpr int dotCount = 8;
    // The opacity of dot `index` while dot `counter` is the bright one. The trail does not wrap: at
    // counter 0 only dot 0 shows.
    static qreal opacity(int counter, int index);

    int counter() const { return m_counter; }
    // One step: the next dot becomes the bright one, 7 wraps to 0.
    void tick();
    // The opacity dot `index` is drawn with now, part way through a fade.
    qreal shownOpacity(int index) const;
    // The fade of the last step (its time can be set to see a moment of it).
    QVariantAnimation& fade() { return m_fade; }
    std::chrono::milliseconds timing() const { return m_timer.intervalAsDuration(); }
    bool isRunning() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QColor m_primaryColor;
    int m_size;
    int m_counter = 0;
    QTimer m_timer;
    // The opacities the last step fades from, and how far it has come (0 to 1, eased).
    std::array<qreal, dotCount> m_fadeFrom{};
    qreal m_progress = 1;
    QVariantAnimation m_fade;
};
