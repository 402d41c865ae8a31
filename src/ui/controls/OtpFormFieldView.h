#pragma once

#include "TextFieldType.h"

#include <QString>
#include <QWidget>

#include <functional>

class InfoTooltipButton;
class OTPFieldView;
class QPushButton;

// The titled entry of a PIN or an activation code, 312 by 55 points: the required mark and the kind's
// title, for `createPin` the information symbol with the PIN rules, for the PIN kinds an eye toggle that
// shows or hides the digits, and six code boxes below with 10 points of padding under them. An activation
// code is always shown plain.
//
// The title, the boxes and that padding take a little more than 55 points; they stay centred on the
// 55-point frame, which is what the screen lays out, and the padding's ends fall outside it.
class OtpFormFieldView : public QWidget {
    Q_OBJECT

public:
    OtpFormFieldView(TextFieldType textFieldType, bool isSecure, QWidget* parent = nullptr);

    static constexpr QSize frameSize{312, 55};
    static constexpr int numberOfFields = 6;
    static constexpr int paddingBelow = 10;
    static const QString pinRulesTooltip;

    TextFieldType textFieldType() const { return m_textFieldType; }
    // The entered code, owned by the screen.
    QString otpValue() const;
    // The screen's change of the code; see OTPFieldView::setOtp().
    void setOtpValue(const QString& otpValue);
    void setOnValueChange(std::function<void(const QString&, int)> onValueChange);
    void setOnTap(std::function<void()> onTap);

    bool isSecure() const { return m_isSecure; }
    bool showTooltip() const;

    OTPFieldView* codeBoxes() const { return m_codeBoxes; }
    // The eye toggle, or none for the kinds without one.
    QPushButton* eyeToggle() const { return m_eyeToggle; }
    InfoTooltipButton* infoButton() const { return m_infoButton; }

signals:
    // The boxes changed the code.
    void otpValueChanged(const QString& otpValue);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void setSecure(bool isSecure);
    void placeContent();

    TextFieldType m_textFieldType;
    bool m_isSecure;
    QWidget* m_content;
    OTPFieldView* m_codeBoxes;
    QPushButton* m_eyeToggle = nullptr;
    InfoTooltipButton* m_infoButton = nullptr;
};
