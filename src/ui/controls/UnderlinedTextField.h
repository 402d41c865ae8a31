#pragma once

#include "TextFieldType.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class CustomTextField;
class InfoTooltipButton;
class RequiredMark;

// A labelled entry line 312 points wide: the title (with the yellow required mark, or for `enterCode` the
// information symbol with the code tooltip), a plain text field, and a 1-point "DarkGray" underline.
class UnderlinedTextField : public QWidget {
    Q_OBJECT

public:
    UnderlinedTextField(const QString& title, std::optional<TextFieldType> textFieldType, QWidget* parent = nullptr);

    static constexpr int lineWidth = 312;
    static const QString codeTooltip;

    QString text() const;
    // Shows `text` without counting as the user's change.
    void setText(const QString& text);
    // Runs when the field is clicked or editing begins.
    void setOnTap(std::function<void()> onTap);

    CustomTextField* field() const { return m_field; }
    // The required mark, or none for `enterCode`.
    RequiredMark* requiredMark() const { return m_requiredMark; }
    // The information symbol, only for `enterCode`.
    InfoTooltipButton* infoButton() const { return m_infoButton; }

signals:
    // The user changed the text.
    void textWritten(const QString& text);

private:
    CustomTextField* m_field;
    RequiredMark* m_requiredMark = nullptr;
    InfoTooltipButton* m_infoButton = nullptr;
};
