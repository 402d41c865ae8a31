#pragma once

#include "app/TabModel.h"

#include <QWidget>

class FocusFrame;

// One entry of the tab bar: its icon and title, the underline of the selected tab, and the dashed focus
// frame, which stands `frameGap` clear of them. A click anywhere on it counts; the pointer turns into a
// pointing hand over it.
class TabItemView : public QWidget {
    Q_OBJECT

public:
    static constexpr int iconSide = 20;
    static constexpr int titlePoints = 12;
    static constexpr int underlineHeight = 3;
    // Between the focus frame and the icon, the title and the underline, so that the dashes run beside
    // them, not through them. The bar takes it back from its spacing and padding.
    static constexpr int frameGap = 3;

    TabItemView(const TabModel& tab, QWidget* parent = nullptr);

    const TabModel& tab() const { return m_tab; }
    // Shows another entry in this place (the bar switches between the two tab sets).
    void setTab(const TabModel& tab);

    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    bool isFrameVisible() const;
    void setFrameVisible(bool visible);

    QSize sizeHint() const override;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TabModel m_tab;
    bool m_selected = false;
    bool m_pressed = false;
    FocusFrame* m_frame;
};
