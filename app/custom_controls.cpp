#include "app/circle_progress.h"
#include "ui/skin.h"

void RegisterCustomControls() {
    RegisterControl("CCircleProgressUI",
                    [](QWidget* parent) { return new CCircleProgressUI(parent); });
#ifdef TALVORA_COMPILED_LAYOUTS
    RegisterCompiledLayouts();
#endif
}
