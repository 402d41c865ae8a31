#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>

// A ring of eight dots in which one bright dot runs clockwise with a fading trail. It steps on a timer
// while shown and starts again from the top each time it is shown.
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
};
