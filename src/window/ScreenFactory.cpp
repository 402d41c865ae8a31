#include "ScreenFactory.h"

#include "api/Repository.h"
#include "flows/CreateAccountViewModel.h"
#include "ui/screens/CreateAccountView.h"

#include <QWidget>

#include <memory>

QWidget* createScreen(TabType tab, AppViewModel& appViewModel, Repository& repository, QWidget* parent) {
    Q_UNUSED(appViewModel);
    Q_UNUSED(repository);
    switch (tab) {
    case TabType::newRegisteration:
        return new CreateAccountView(
            appViewModel, std::make_unique<CreateAccountViewModel>(&repository, appViewModel), parent);
    case TabType::login:
    case TabType::removeUser:
    case TabType::homeScreen:
    case TabType::help:
    case TabType::logout:
        break;
    }
    return new QWidget(parent);
}
