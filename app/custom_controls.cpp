#include <QProgressBar>

#include "platform/ui/skin.h"

void RegisterCustomControls() {
    RegisterControl("CCircleProgressUI", [](QWidget* parent) { return new QProgressBar(parent); });
}
