#pragma once

#include <QString>

// Masks the values of fields that carry secrets (an activation code, a PIN or its digest, a one-time code, a
// private key) so that requests, replies and URLs can be shown or written safely. It reads the text's
// structure rather than its spelling: JSON members at any depth and with escaped keys (also JSON inside other
// text), multipart fields, form fields and query items with nested keys ("user[pin]=") and encoded names.
QString redactSecretValues(QString text);
