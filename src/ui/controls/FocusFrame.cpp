#include "FocusFrame.h"

#include <QEvent>
#include <QPainter>
#include <QPen>

FocusFrame::FocusFrame(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("focusFrame"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(parent->rect());
    parent->installEventFilter(this);
    hide();
}

bool FocusFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && (event->type() == QEvent::Resize || event->type() == QEvent::ChildAdded)) {
        setGeometry(parentWidget()->rect());
        raise();
    }
    return false;
}

void FocusFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QPen pen(Qt::white, lineWidth, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setDashPattern({dash / lineWidth, dash / lineWidth});
    pen.setMiterLimit(10);
    painter.setPen(pen);
    const qreal inset = lineWidth / 2;
    painter.drawRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset));
}
