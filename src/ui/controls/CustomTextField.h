#pragma once

#include <QLineEdit>

#include <functional>

// The application's text field: no frame, no focus ring, no background of its own.
// - A click runs the usual click handling first, then `tapAction`.
// - The first change of the text after the field took the keyboard counts as the start of editing: it
//   prints "NSTextField clicked/focused" and runs `tapAction` once more.
// - Each change by the user emits textWritten() at once and runs `onValueChange` with the field's text
//   one event-loop turn later.
// - Return and Enter print "Enter pressed" and do nothing else: the text stays, editing goes on, the
//   field emits no returnPressed(). Key handlers of the screens see the key before the field does.
// Secret entry (dots) is chosen at construction.
class CustomTextField : public QLineEdit {
    Q_OBJECT

public:
    CustomTextField(bool isSecure, Qt::Alignment alignment, QWidget* parent = nullptr);

    void setTapAction(std::function<void()> tapAction) { m_tapAction = std::move(tapAction); }
    void setLongPressAction(std::function<void()> longPressAction) { m_longPressAction = std::move(longPressAction); }
    void setOnValueChange(std::function<void(const QString&)> onValueChange) {
        m_onValueChange = std::move(onValueChange);
    }

    // Entry points for gestures; nothing attaches to them by itself.
    void handleTap();
    void handleLongPress();

signals:
    // The user changed the text to `text`; what the owner's bound value takes.
    void textWritten(const QString& text);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void userChangedText(const QString& text);

    std::function<void()> m_tapAction;
    std::function<void()> m_longPressAction;
    std::function<void(const QString&)> m_onValueChange;
    bool m_editing = false;
};
