#include "RequiredMark.h"

#include "Artwork.h"
#include "SemanticColor.h"

#include <QPainter>

RequiredMark::RequiredMark(QWidget* parent, int raise)
    : QWidget(parent) {
    setObjectName(QStringLiteral("requiredMark"));
    // A box taller by twice the raise, with the star at its top, puts the star `raise` above the centre.
    setFixedSize(side, side + 2 * raise);
}

void RequiredMark::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPixmap star = artwork(QStringLiteral("staroflife.fill"), QSize(side, side),
                                 namedColor(QStringLiteral("primaryYellow")), devicePixelRatioF());
    painter.drawPixmap(0, 0, star);
}
