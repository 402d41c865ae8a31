#include "LoadingOverlay.h"

#include "ui/controls/LoadingIndicator.h"
#include "ui/controls/SemanticColor.h"

#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

LoadingOverlay::LoadingOverlay(QWidget* parent)
    : QWidget(parent)
    , m_indicator(new LoadingIndicator(LoadingIndicator::LoadingAnimation::circleBlinks,
                                       LoadingIndicator::Size::medium, LoadingIndicator::Speed::fast,
                                       namedColor(QStringLiteral("Yellow")), this)) {
    setObjectName(QStringLiteral("loadingOverlay"));
    setAttribute(Qt::WA_NoMousePropagation);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);
    layout->addWidget(m_indicator, 0, Qt::AlignCenter);
    layout->addStretch(1);
}

void LoadingOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor shade = color(SemanticColor::black);
    shade.setAlphaF(dimming);
    painter.fillRect(rect(), shade);
}

void LoadingOverlay::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void LoadingOverlay::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void LoadingOverlay::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}

void LoadingOverlay::wheelEvent(QWheelEvent* event) {
    event->accept();
}
