#pragma once

#include <QString>

#include <array>
#include <optional>

// The kind of an entry field. Its raw value is the title the entry controls show above the field; they
// also choose their marks, tooltip and secret entry by it.
class TextFieldType {
public:
    enum Case { createPin, confirmPin, activationCode, enterPin, enterCode };

    constexpr TextFieldType(Case value)
        : m_value(value) {}

    // The case whose title is exactly `rawValue`, or none.
    static std::optional<TextFieldType> fromRaw(const QString& rawValue);
    static constexpr std::array<Case, 5> allCases{createPin, confirmPin, activationCode, enterPin, enterCode};

    constexpr Case value() const { return m_value; }
    // "Create PIN", "Confirm PIN", "Activation Code", "Enter PIN" or "Enter Code".
    QString rawValue() const;

    friend constexpr bool operator==(TextFieldType, TextFieldType) = default;

private:
    Case m_value;
};
