#include "LoadingCircleBlinks.h"

#include <QPainter>

#include <chrono>

LoadingCircleBlinks::LoadingCircleBlinks(const QColor& color, int size, double speed, QWidget* parent)
    : QWidget(parent)
    , m_primaryColor(color)
    , m_size(size) {
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(std::chrono::milliseconds(qRound(speed * 0.5 * 1000)));
    connect(&m_timer, &QTimer::timeout, this, &LoadingCircleBlinks::tick);
}

qreal LoadingCircleBlinks::opacity(int counter, int index) {
    switch (counter - index) {
    case 0:
        return 1.0;
    case 1:
        return 0.5;
    case 2:
        return 0.3;
    case 3:
        return 0.2;
    case 4:
        return 0.1;
    default:
        return 0.0;
    }
}

void LoadingCircleBlinks::tick() {
    m_counter = m_counter == dotCount - 1 ? 0 : m_counter + 1;
    update();
}

void LoadingCircleBlinks::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_counter = 0;
    m_timer.start();
}

void LoadingCircleBlinks::hideEvent(QHideEvent* event) {
    m_timer.stop();
    QWidget::hideEvent(event);
}

void LoadingCircleBlinks::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const qreal side = m_size;
    const qreal diameter = side / 5;
    const QPointF centre(side / 2, side / 2);
    for (int i = 0; i < dotCount; ++i) {
        const qreal alpha = opacity(m_counter, i);
        if (alpha <= 0)
            continue;
        painter.save();
        painter.translate(centre);
        painter.rotate(i * 45.0);
        painter.setOpacity(alpha);
        painter.setBrush(m_primaryColor);
        painter.drawEllipse(QRectF(-diameter / 2, -side / 2, diameter, diameter));
        painter.restore();
    }
}
