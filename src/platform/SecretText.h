#pragma once

#include <QString>

// Masks the values of members that carry secrets (an activation code, a PIN or its digest, a one-time code,
// a private key) in JSON or url-encoded text, so that request and reply bodies can be shown or written
// safely.
QString redactSecretValues(QString text);
