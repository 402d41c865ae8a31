#include "InfoTooltipButton.h"

#include "Artwork.h"
#include "SemanticColor.h"
#include "TooltipBubble.h"

InfoTooltipButton::InfoTooltipButton(const QString& tooltip, std::optional<QFont> font, QWidget* parent)
    : QLabel(parent)
    , m_text(tooltip)
    , m_font(std::move(font)) {
    setObjectName(QStringLiteral("infoCircle"));
    setFixedSize(symbolSize, symbolSize);
    setPixmap(artwork(QStringLiteral("info.circle"), QSize(symbolSize, symbolSize),
                      namedColor(QStringLiteral("DarkGray")), 2.0));
    setScaledContents(true);
}

bool InfoTooltipButton::showTooltip() const {
    return m_bubble && m_bubble->isVisible();
}

void InfoTooltipButton::showEvent(QShowEvent* event) {
    QLabel::showEvent(event);
    // The bubble lives in the window, which is known only once the symbol is placed in one.
    if (!m_bubble)
        m_bubble = new TooltipBubble(m_text, this, m_font);
}
