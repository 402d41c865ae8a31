#include "FocusSink.h"

FocusSink::FocusSink(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("focusSink"));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(0, 0);
}

FocusSink* FocusSink::of(QWidget* within) {
    if (!within)
        return nullptr;
    return within->window()->findChild<FocusSink*>(QString(), Qt::FindDirectChildrenOnly);
}

void FocusSink::park(QWidget* within) {
    if (!within)
        return;
    FocusSink* sink = of(within);
    if (!sink) {
        sink = new FocusSink(within->window());
        sink->show();
    }
    sink->setFocus(Qt::OtherFocusReason);
}
