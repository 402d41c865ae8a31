#include "LoadingCircleBlinks.h"

#include <QEasingCurve>
#include <QPainter>

#include <chrono>

namespace {

// The toolkit's ease-in-out: a cubic Bézier through (0.42, 0) and (0.58, 1).
QEasingCurve easeInOut() {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

} // namespace

LoadingCircleBlinks::LoadingCircleBlinks(const QColor& color, int size, double speed, QWidget* parent)
    : QWidget(parent)
    , m_primaryColor(color)
    , m_size(size) {
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(std::chrono::milliseconds(qRound(speed * 0.5 * 1000)));
    connect(&m_timer, &QTimer::timeout, this, &LoadingCircleBlinks::tick);

    m_fade.setDuration(m_timer.interval());
    m_fade.setStartValue(0.0);
    m_fade.setEndValue(1.0);
    m_fade.setEasingCurve(easeInOut());
    connect(&m_fade, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_progress = value.toReal();
        update();
    });
    connect(&m_fade, &QAbstractAnimation::finished, this, [this] {
        if (m_fade.direction() == QAbstractAnimation::Forward) {
            m_fade.setDirection(QAbstractAnimation::Backward);
            m_fade.start();
            return;
        }
        // Played back: what stays is the step's own look.
        m_progress = 1;
        update();
    });
}

qreal LoadingCircleBlinks::shownOpacity(int index) const {
    const qreal to = opacity(m_counter, index);
    return m_fadeFrom[size_t(index)] + (to - m_fadeFrom[size_t(index)]) * m_progress;
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
    for (int i = 0; i < dotCount; ++i)
        m_fadeFrom[size_t(i)] = shownOpacity(i);
    m_counter = m_counter == dotCount - 1 ? 0 : m_counter + 1;
    m_fade.stop();
    m_fade.setDirection(QAbstractAnimation::Forward);
    m_progress = 0;
    m_fade.start();
    update();
}

void LoadingCircleBlinks::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_counter = 0;
    m_progress = 1;
    m_timer.start();
}

void LoadingCircleBlinks::hideEvent(QHideEvent* event) {
    m_timer.stop();
    m_fade.stop();
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
        const qreal alpha = shownOpacity(i);
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
