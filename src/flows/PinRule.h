#pragma once

#include <QString>

// Whether a PIN chosen at enrolment is strong enough: numeric characters only, no character three times in
// a row, no three ASCII digits in a row that each step by one (either way), and enough different characters.
// The unlock never applies it; it only compares hashes.
class PinRule {
public:
    static bool evaluate(const QString& pin);
};
