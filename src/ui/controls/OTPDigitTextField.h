#pragma once

#include <QWidget>

class QLineEdit;

// One position of a plain per-digit code entry: a borderless field over a one-point grey line. It neither
// limits its text nor moves focus; its owner keeps the text.
class OTPDigitTextField : public QWidget {
    Q_OBJECT

public:
    explicit OTPDigitTextField(QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    QLineEdit* lineEdit() const { return m_field; }

signals:
    void textEdited(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLineEdit* m_field;
};
