#include "ScreenFactory.h"

#include "api/Repository.h"
#include "flows/CreateAccountViewModel.h"
#include "flows/HomeViewModel.h"
#include "flows/RemoveUserViewModel.h"
#include "ui/screens/CreateAccountView.h"
#include "ui/screens/HomeScreenView.h"
#include "ui/screens/LoginViewView.h"
#include "ui/screens/RemoveUserView.h"

#include <QWidget>

#include <memory>

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
    switch (tab) {
    case TabType::newRegisteration:
        return new CreateAccountView(
            appViewModel, std::make_unique<CreateAccountViewModel>(&repository, appViewModel), parent);
    case TabType::login:
        return new LoginViewView(appViewModel, std::make_unique<HomeViewModel>(&repository, appViewModel), parent);
    case TabType::homeScreen:
        return new HomeScreenView(appViewModel, std::make_unique<HomeViewModel>(&repository, appViewModel), parent);
    case TabType::removeUser:
        return new RemoveUserView(appViewModel, std::make_unique<RemoveUserViewModel>(appViewModel, &repository),
                                  parent);
    case TabType::help:
    case TabType::logout:
        break;
    }
    return emptyArea(parent);
}
