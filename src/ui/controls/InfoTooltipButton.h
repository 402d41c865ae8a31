#pragma once

#include <QFont>
#include <QLabel>

#include <optional>

class TooltipBubble;

// The "info.circle" symbol in "DarkGray" that shows its tooltip while the pointer hovers over it.
class InfoTooltipButton : public QLabel {
    Q_OBJECT

public:
    InfoTooltipButton(const QString& tooltip, std::optional<QFont> font, QWidget* parent);

    static constexpr int symbolSize = 14;

    bool showTooltip() const;
    TooltipBubble* bubble() const { return m_bubble; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString m_text;
    std::optional<QFont> m_font;
    TooltipBubble* m_bubble = nullptr;
};
