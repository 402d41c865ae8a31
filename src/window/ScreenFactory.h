#pragma once

#include "app/TabModel.h"

class AppViewModel;
class QWidget;
class Repository;

// The screen of `tab`, each time with a fresh view model of its flow; an empty area for a tab without a
// screen. The caller owns the result (it is parented to `parent`).
QWidget* createScreen(TabType tab, AppViewModel& appViewModel, Repository& repository, QWidget* parent);
