#pragma once

#include "AppFont.h"

#include "app/Field.h"
#include "platform/Cancellable.h"

#include <QString>
#include <QWidget>

#include <array>
#include <functional>

class AppViewModel;
class ErrorMessageView;
class QPushButton;

// The layout and keyboard behaviour that the register-anew and remove-user confirmations share: three
// lines, two buttons with focus frames, and the status line, on the screens' own background.
//
// When shown it asks for the focus on the first button. While shown, Return acts on the button whose
// field is focused: the first runs `firstAction` and parks the focus on `unfocus`, the second runs
// `secondAction` and moves the focus to `focusAfterSecond`; Return elsewhere, and every other key, is
// passed on. A click runs the button's action without moving the focus. While the app state is loading,
// Return is passed on untouched. An action may delete the dialog, but only with deleteLater() when it
// runs from a click.
class ConfirmationDialogView : public QWidget {
    Q_OBJECT

public:
    struct Line {
        QString text;
        FontFace face;
        qreal points;
    };

    struct Content {
        std::array<Line, 3> lines;
        QString firstCaption;
        Field firstField;
        QString secondCaption;
        Field secondField;
        Field focusAfterSecond;
    };

    ConfirmationDialogView(AppViewModel& appViewModel, Content content, std::function<void()> firstAction,
                           std::function<void()> secondAction, QWidget* parent = nullptr);
    ~ConfirmationDialogView() override;

    // The flow's message for the status line (no success flag).
    void setErrorMessage(const QString& errorMessage);

    QPushButton* firstButton() const { return m_firstButton; }
    QPushButton* secondButton() const { return m_secondButton; }
    ErrorMessageView* statusLine() const { return m_statusLine; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeButtonCell(const QString& caption, Field field, std::function<void()> action,
                            QPushButton*& button);
    bool handleKeyDown(QKeyEvent& event);

    AppViewModel& m_appViewModel;
    Content m_content;
    std::function<void()> m_firstAction;
    std::function<void()> m_secondAction;
    QPushButton* m_firstButton = nullptr;
    QPushButton* m_secondButton = nullptr;
    ErrorMessageView* m_statusLine = nullptr;
};
