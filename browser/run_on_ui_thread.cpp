#include <QCoreApplication>
#include <QThread>

#include "browser/browser_engine.h"

void RunOnUiThread(QObject* context, std::function<void()> task) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !context) return;
    if (QThread::currentThread() == app->thread()) {
        task();
        return;
    }
    QMetaObject::invokeMethod(context, std::move(task), Qt::QueuedConnection);
}
