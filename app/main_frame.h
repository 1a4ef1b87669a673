// The main window.
#pragma once

#include <QLabel>
#include <QWidget>
#include <memory>

#include "platform/ui/message_target.h"

class CMainFrame : public QWidget {
    Q_OBJECT
public:
    CMainFrame();
    ~CMainFrame() override;
    AppWindow handle() const { return target_->handle(); }

private:
    void HandleCustomMessage(const AppMessage& message);
    void ShowAndBringToFront();

    std::unique_ptr<MessageTarget> target_;
};
