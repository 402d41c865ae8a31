#pragma once

#include <QWidget>

#include <optional>

// The dashed focus frame, laid over its parent's whole area, or drawn at a size of its own centred on the
// parent (a control whose outline is not its own edge); it takes no clicks and follows the parent's
// geometry. Shown while the parent holds the focus.
class FocusFrame : public QWidget {
    Q_OBJECT

public:
    explicit FocusFrame(QWidget* parent, std::optional<QSize> outline = std::nullopt);

    static constexpr qreal lineWidth = 1.0;
    static constexpr qreal dash = 5.0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void place();

    std::optional<QSize> m_outline;
};
