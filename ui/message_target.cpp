#include "ui/message_target.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHash>

namespace {

const QEvent::Type kAppMessageEvent = static_cast<QEvent::Type>(QEvent::User + 424);

class AppMessageEvent : public QEvent {
public:
    explicit AppMessageEvent(AppMessage m) : QEvent(kAppMessageEvent), message(std::move(m)) {}
    AppMessage message;
};

QHash<AppWindow, QPointer<QWidget>>& Widgets() {
    static QHash<AppWindow, QPointer<QWidget>> widgets;
    return widgets;
}

}  // namespace

MessageTarget::MessageTarget(QWidget* owner, Handler handler)
    : QObject(nullptr), owner_(owner), handler_(std::move(handler)) {
    handle_ = RegisterAppWindow(this);
    Widgets().insert(handle_, owner);
    if (owner) owner->setProperty("appWindow", QVariant::fromValue<qulonglong>(handle_));
}

MessageTarget::~MessageTarget() {
    UnregisterAppWindow(handle_);
    Widgets().remove(handle_);
    // Events already queued for this object are discarded by Qt with it.
}

void MessageTarget::Deliver(AppMessage message) {
    QCoreApplication::postEvent(this, new AppMessageEvent(std::move(message)));
}

QWidget* MessageTarget::WidgetFor(AppWindow handle) {
    return Widgets().value(handle).data();
}

void MessageTarget::customEvent(QEvent* event) {
    if (event->type() != kAppMessageEvent) return;
    if (owner_.isNull() || !handler_) return;
    handler_(static_cast<AppMessageEvent*>(event)->message);
}
