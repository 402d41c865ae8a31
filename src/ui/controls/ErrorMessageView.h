#pragma once

#include <QString>
#include <QWidget>

#include <optional>

class QLabel;

// The status line under a screen's controls: a flow's message with a green check mark for a success and
// a red warning triangle otherwise. Without a message it keeps a blank 40 points high, and a message takes
// at least as much, so the controls around it do not move when a message comes or goes. The message is shown
// as plain text, never as markup: it may be the server's.
class ErrorMessageView : public QWidget {
    Q_OBJECT

public:
    explicit ErrorMessageView(QWidget* parent = nullptr);

    static constexpr int emptyHeight = 40;
    static constexpr int messageWidth = 580;

    // The empty text means no message. Only `isSuccess` true shows the check mark.
    void setMessage(const QString& errorMessage, std::optional<bool> isSuccess = std::nullopt);
    QString errorMessage() const { return m_errorMessage; }
    std::optional<bool> isSuccess() const { return m_isSuccess; }

    QLabel* iconLabel() const { return m_icon; }
    QLabel* messageLabel() const { return m_message; }

private:
    QString m_errorMessage;
    std::optional<bool> m_isSuccess;
    QWidget* m_row;
    QLabel* m_icon;
    QLabel* m_message;
};
