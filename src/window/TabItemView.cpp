#include "TabItemView.h"

#include "ui/controls/AppFont.h"
#include "ui/controls/Artwork.h"
#include "ui/controls/FocusFrame.h"
#include "ui/controls/SemanticColor.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

namespace {

// Between the icon and the title, and between that row and the underline.
constexpr int rowSpacing = 6;
constexpr int stackSpacing = 6;

QFont titleFont() {
    return appFont(FontFace::regular, TabItemView::titlePoints);
}

} // namespace

TabItemView::TabItemView(const TabModel& tab, QWidget* parent)
    : QWidget(parent)
    , m_tab(tab)
    , m_frame(new FocusFrame(this)) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_frame->hide();
    setTab(tab);
}

void TabItemView::setTab(const TabModel& tab) {
    m_tab = tab;
    setObjectName(tab.focus ? fieldName(*tab.focus) : tab.title);
    setAccessibleName(tab.title);
    updateGeometry();
    update();
}

void TabItemView::setSelected(bool selected) {
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

bool TabItemView::isFrameVisible() const {
    return !m_frame->isHidden();
}

void TabItemView::setFrameVisible(bool visible) {
    m_frame->setVisible(visible);
}

QSize TabItemView::sizeHint() const {
    const QFontMetrics metrics(titleFont());
    const int rowHeight = std::max(iconSide, metrics.height());
    return QSize(iconSide + rowSpacing + metrics.horizontalAdvance(m_tab.title),
                 rowHeight + stackSpacing + underlineHeight)
        .grownBy(QMargins(frameGap, frameGap, frameGap, frameGap));
}

void TabItemView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFont font = titleFont();
    const QFontMetrics metrics(font);
    const int rowHeight = std::max(iconSide, metrics.height());
    const int rowWidth = iconSide + rowSpacing + metrics.horizontalAdvance(m_tab.title);
    const QRect content = rect().marginsRemoved(QMargins(frameGap, frameGap, frameGap, frameGap));
    const int left = content.left() + (content.width() - rowWidth) / 2;
    const int top = content.top();

    const QColor tint = namedColor(m_selected ? QStringLiteral("Yellow") : QStringLiteral("PureWhite"));
    const QPixmap icon = artwork(m_tab.image, QSize(iconSide, iconSide), tint, devicePixelRatioF());
    painter.drawPixmap(QPoint(left, top + (rowHeight - iconSide) / 2), icon);

    painter.setFont(font);
    painter.setPen(namedColor(QStringLiteral("PureWhite")));
    painter.drawText(QRect(left + iconSide + rowSpacing, top, rowWidth, rowHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, m_tab.title);

    if (m_selected)
        painter.fillRect(
            QRect(content.left(), content.bottom() + 1 - underlineHeight, content.width(), underlineHeight),
            namedColor(QStringLiteral("primaryYellow")));
}

void TabItemView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressed = true;
    event->accept();
}

void TabItemView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_pressed) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_pressed = false;
    event->accept();
    if (rect().contains(event->position().toPoint()))
        emit clicked();
}
