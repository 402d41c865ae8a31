#include "FocusFrame.h"

#include <QEvent>
#include <QPainter>
#include <QPen>

FocusFrame::FocusFrame(QWidget* parent, std::optional<QSize> outline)
    : QWidget(parent)
    , m_outline(outline) {
    setObjectName(QStringLiteral("focusFrame"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    place();
    parent->installEventFilter(this);
    hide();
}

void FocusFrame::place() {
    QRect area = parentWidget()->rect();
    if (m_outline) {
        QRect outline(QPoint(), *m_outline);
        outline.moveCenter(area.center());
        area = outline;
    }
    setGeometry(area);
}

bool FocusFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && (event->type() == QEvent::Resize || event->type() == QEvent::ChildAdded)) {
        place();
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
