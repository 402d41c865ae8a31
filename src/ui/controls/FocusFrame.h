#pragma once

#include <QWidget>

// The dashed focus frame, laid over its parent's whole area; it takes no clicks and follows the parent's
// size. Shown while the parent holds the focus.
class FocusFrame : public QWidget {
    Q_OBJECT

public:
    explicit FocusFrame(QWidget* parent);

    static constexpr qreal lineWidth = 1.0;
    static constexpr qreal dash = 5.0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};
