#include "PinRule.h"

#include "FlowSupport.h"

#include <QSet>

#include <unicode/uchar.h>

#include <cstdlib>
#include <optional>
#include <vector>

namespace {

// Qt knows general categories only; the Numeric_Type property also admits, for example, the Han numerals.
bool isNumeric(const QString& character) {
    const char32_t first = character.toUcs4().value(0);
    return u_getIntPropertyValue(static_cast<UChar32>(first), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

// A character read as a signed integer: an optional sign and ASCII digits, nothing else.
std::optional<long long> asciiInteger(const QString& character) {
    qsizetype i = 0;
    if (i < character.size() && (character[i] == u'+' || character[i] == u'-'))
        ++i;
    if (i == character.size())
        return std::nullopt;
    for (qsizetype j = i; j < character.size(); ++j) {
        if (character[j] < u'0' || character[j] > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const long long value = character.toLongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

} // namespace

bool PinRule::evaluate(const QString& pin) {
    if (pin.isEmpty())
        return true;

    const std::vector<QString> characters = flows::userPerceivedCharacters(pin);
    QSet<QString> distinct;
    QString previous;
    int identicalRun = 1;
    int stepRun = 1;

    for (size_t index = 0; index < characters.size(); ++index) {
        const QString& character = characters[index];
        if (!isNumeric(character))
            return false;
        // Canonically equivalent spellings of one character count as the same character.
        const QString normalized = character.normalized(QString::NormalizationForm_C);

        if (index > 0) {
            if (normalized == previous) {
                if (identicalRun == 2)
                    return false;
                identicalRun = 2;
            } else {
                identicalRun = 1;
            }

            const auto before = asciiInteger(characters[index - 1]);
            const auto current = asciiInteger(character);
            if (before && current) {
                if (std::llabs(*before - *current) == 1) {
                    if (stepRun == 2)
                        return false;
                    stepRun = 2;
                } else {
                    stepRun = 1;
                }
            }
        }

        distinct.insert(normalized);
        previous = normalized;
    }

    return static_cast<size_t>(distinct.size()) >= characters.size() / 2;
}
