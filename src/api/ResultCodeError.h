#pragma once

#include "ResultCode.h"

// A refused reply as a dialog: title, message and the one button, which logs out when the service no longer
// knows the user or this device.
class ResultCodeError {
public:
    // Never fails: a code the service does not define counts as `unknown`.
    explicit ResultCodeError(qint64 code);

    ResultCode type() const { return m_type; }
    bool logoutRequired() const { return m_logoutRequired; }

    QString title() const;
    QString message() const;
    QString buttonTitle() const;

    friend bool operator==(const ResultCodeError&, const ResultCodeError&) = default;

private:
    ResultCode m_type;
    bool m_logoutRequired;
};
