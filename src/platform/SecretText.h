#pragma once

#include <QString>

// Masks the values of fields that carry secrets (an activation code, a PIN or its digest, a one-time code, a
// sign-in code and its second code, a private key) so that requests, replies and URLs can be shown or written
// safely. It reads the text's structure rather than its spelling: JSON members at any depth and with escaped
// keys (also JSON inside other text), multipart fields, form fields and query items with nested keys
// ("user[pin]=") and encoded names.
QString redactSecretValues(QString text);

// Overwrites the text (a PIN, say) where no other string shares it, then empties it. A copy shared with
// another string is only let go: that one is its holder's to wipe.
void wipeText(QString& text);
