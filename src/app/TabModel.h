#pragma once

#include "Field.h"

#include <QString>

#include <optional>
#include <vector>

// The window's tabs. homeScreen has no entry in either tab set: only a successful unlock reaches it.
enum class TabType { login, newRegisteration, help, removeUser, logout, homeScreen };

// One entry of the tab bar; `image` names an image resource.
struct TabModel {
    QString title;
    QString image;
    TabType type;
    std::optional<Field> focus;

    bool operator==(const TabModel&) const = default;
};

// The tab set of a device on which nobody is signed in.
inline const std::vector<TabModel> loggedOutTabs{
    {QStringLiteral("Login"), QStringLiteral("Login-Icon"), TabType::login, Field::loginTab},
    {QStringLiteral("New Registration"), QStringLiteral("tabUserCreate"), TabType::newRegisteration,
     Field::regTab},
    {QStringLiteral("Help"), QStringLiteral("help"), TabType::help, Field::helpTab},
};

// The tab set of a signed-in user.
inline const std::vector<TabModel> loggedInTabs{
    {QStringLiteral("Remove User"), QStringLiteral("RemoveDevice"), TabType::removeUser,
     Field::removeUserTab},
    {QStringLiteral("Help"), QStringLiteral("help"), TabType::help, Field::helpTab},
    {QStringLiteral("Logout"), QStringLiteral("logout"), TabType::logout, Field::logoutTab},
};
