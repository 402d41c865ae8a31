#include "LoadingIndicator.h"

#include "LoadingCircleBlinks.h"

#include <QVBoxLayout>

LoadingIndicator::LoadingIndicator(LoadingAnimation animation, Size size, Speed speed, const QColor& color,
                                   QWidget* parent)
    : QWidget(parent)
    , m_animation(animation)
    , m_size(rawValue(size))
    , m_speed(rawValue(speed))
    , m_color(color) {
    setObjectName(QStringLiteral("loadingIndicator"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_circleBlinks = new LoadingCircleBlinks(m_color, static_cast<int>(m_size), m_speed, this);
    layout->addWidget(m_circleBlinks, 0, Qt::AlignCenter);
}

double LoadingIndicator::rawValue(Speed speed) {
    switch (speed) {
    case Speed::slow:
        return 1.0;
    case Speed::normal:
        return 0.5;
    case Speed::fast:
        return 0.25;
    }
    return 0.5;
}

std::optional<LoadingIndicator::Size> LoadingIndicator::sizeFromRaw(double raw) {
    for (Size size : {Size::small, Size::medium, Size::large, Size::extraLarge}) {
        if (rawValue(size) == raw)
            return size;
    }
    return std::nullopt;
}

std::optional<LoadingIndicator::Speed> LoadingIndicator::speedFromRaw(double raw) {
    for (Speed speed : {Speed::slow, Speed::normal, Speed::fast}) {
        if (rawValue(speed) == raw)
            return speed;
    }
    return std::nullopt;
}
