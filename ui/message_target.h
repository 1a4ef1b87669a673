// Connects a Qt widget to the numbered-message registry: messages posted from any
// thread arrive on the UI thread in the handler; once the target is gone they are dropped.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "core/app_message.h"

class MessageTarget : public QObject, public AppMessageSink {
    Q_OBJECT
public:
    using Handler = std::function<void(const AppMessage&)>;
    MessageTarget(QWidget* owner, Handler handler);
    ~MessageTarget() override;

    AppWindow handle() const { return handle_; }
    void Deliver(AppMessage message) override;

    // The widget behind a handle (UI thread only); null when it is gone.
    static QWidget* WidgetFor(AppWindow handle);

protected:
    void customEvent(QEvent* event) override;

private:
    AppWindow handle_ = 0;
    QPointer<QWidget> owner_;
    Handler handler_;
};
