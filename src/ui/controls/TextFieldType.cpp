#include "TextFieldType.h"

QString TextFieldType::rawValue() const {
    switch (m_value) {
    case createPin:
        return QStringLiteral("Create PIN");
    case confirmPin:
        return QStringLiteral("Confirm PIN");
    case activationCode:
        return QStringLiteral("Activation Code");
    case enterPin:
        return QStringLiteral("Enter PIN");
    case enterCode:
        return QStringLiteral("Enter Code");
    }
    return {};
}

std::optional<TextFieldType> TextFieldType::fromRaw(const QString& rawValue) {
    for (Case candidate : allCases) {
        if (TextFieldType(candidate).rawValue() == rawValue)
            return TextFieldType(candidate);
    }
    return std::nullopt;
}
