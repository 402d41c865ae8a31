#pragma once

#include <QFont>
#include <QLabel>
#include <QPointer>

// The information tooltip: a text on "BlueGreyLite" without border or arrow, shown on one side of its
// anchor while the pointer is over the anchor. It is a child of the anchor's window, so it is drawn (and
// grabbed) with the window, above the other controls.
class TooltipBubble : public QLabel {
    Q_OBJECT

public:
    // Where the bubble stands: beside the anchor's top-right corner, or above the anchor, centred on it.
    enum class Side { topRight, top };

    // Follows the hovering of `anchor` from now on; `font` absent keeps the application's font.
    TooltipBubble(const QString& text, QWidget* anchor, std::optional<QFont> font = std::nullopt,
                  Side side = Side::topRight);

    // Shows or hides it at once, whatever the pointer does (the hover handling calls this).
    void setShown(bool shown);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();

    QPointer<QWidget> m_anchor;
    Side m_side;
};
