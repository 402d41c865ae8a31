#pragma once

#include <QWidget>

// The busy layer: black at half opacity over the whole window with the busy indicator in its middle. It
// takes every click, so nothing under it can be worked while a request runs.
class LoadingOverlay : public QWidget {
    Q_OBJECT

public:
    static constexpr qreal dimming = 0.5;

    explicit LoadingOverlay(QWidget* parent = nullptr);

    QWidget* indicator() const { return m_indicator; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    QWidget* m_indicator;
};
