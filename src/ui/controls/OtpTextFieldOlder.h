#pragma once

#include <QStringList>
#include <QWidget>

#include <vector>

class OTPDigitTextField;

// A row of six plain per-digit fields, 15 points apart. Each position keeps its own text; the row does not
// join them, limit them or move focus between them. Whoever uses it reads otp().
class OtpTextFieldOlder : public QWidget {
    Q_OBJECT

public:
    static constexpr int positionCount = 6;

    explicit OtpTextFieldOlder(QWidget* parent = nullptr);

    // One text per position, in order.
    const QStringList& otp() const { return m_otp; }
    OTPDigitTextField* position(int index) const { return m_fields.at(index); }

signals:
    void otpChanged(const QStringList& otp);

private:
    QStringList m_otp;
    std::vector<OTPDigitTextField*> m_fields;
};
