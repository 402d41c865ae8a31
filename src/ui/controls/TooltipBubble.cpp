#include "TooltipBubble.h"

#include "ButtonLook.h"
#include "SemanticColor.h"

#include <QEvent>

namespace {

constexpr int padding = 8;
constexpr int widestBubble = 420;

} // namespace

TooltipBubble::TooltipBubble(const QString& text, QWidget* anchor, std::optional<QFont> font, Side side)
    : QLabel(anchor->window())
    , m_anchor(anchor)
    , m_side(side) {
    setObjectName(QStringLiteral("tooltip"));
    setTextFormat(Qt::PlainText);
    setText(text);
    setWordWrap(false);
    if (font)
        setFont(*font);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setStyleSheet(QStringLiteral("QLabel { background: %1; color: %2; border: none; padding: %3px; }")
                      .arg(cssColor(namedColor(QStringLiteral("BlueGreyLite"))),
                           cssColor(namedColor(QStringLiteral("PureWhite"))))
                      .arg(padding));
    setMaximumWidth(widestBubble);
    hide();
    anchor->setAttribute(Qt::WA_Hover);
    anchor->installEventFilter(this);
}

bool TooltipBubble::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_anchor) {
        switch (event->type()) {
        case QEvent::Enter:
        case QEvent::HoverEnter:
            setShown(true);
            break;
        case QEvent::Leave:
        case QEvent::HoverLeave:
        case QEvent::Hide:
            setShown(false);
            break;
        default:
            break;
        }
    }
    return false;
}

void TooltipBubble::setShown(bool shown) {
    if (shown && m_anchor && m_anchor->isVisible()) {
        // The window may have been re-parented since construction.
        if (parentWidget() != m_anchor->window())
            setParent(m_anchor->window());
        adjustSize();
        place();
        show();
        raise();
    } else {
        hide();
    }
}

void TooltipBubble::place() {
    // Above the anchor, from its right end or centred on it, kept inside the window.
    QWidget* window = parentWidget();
    const QPoint top =
        m_anchor->mapTo(window, QPoint(m_side == Side::top ? m_anchor->width() / 2 : m_anchor->width(), 0));
    int x = m_side == Side::top ? top.x() - width() / 2 : top.x();
    int y = top.y() - height();
    x = qBound(0, x, qMax(0, window->width() - width()));
    y = qBound(0, y, qMax(0, window->height() - height()));
    move(x, y);
}
