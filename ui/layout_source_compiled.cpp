// Layouts compiled into the program from the skin's layout files, for systems without
// the form loader. Images still come from the skin folder ("skin:" paths).
#include <QMap>
#include <mutex>

#include "core/log.h"
#include "ui/layout_source.h"

namespace {

std::mutex g_lock;

QMap<QString, CompiledLayout>& Compiled() {
    static QMap<QString, CompiledLayout> compiled;
    return compiled;
}

CompiledLayout Find(const QString& file) {
    std::lock_guard<std::mutex> hold(g_lock);
    return Compiled().value(file, nullptr);
}

}  // namespace

void RegisterCompiledLayout(const QString& file, CompiledLayout build) {
    std::lock_guard<std::mutex> hold(g_lock);
    Compiled().insert(file, build);
}

bool PrepareLayout(const QString& file, QByteArray*) {
    if (Find(file)) return true;
    WriteLog("load layout failed: %s is not in this program\r\n", file.toLocal8Bit().constData());
    return false;
}

QWidget* BuildLayout(const QString& file, const QByteArray&, QWidget* parent) {
    CompiledLayout build = Find(file);
    if (!build) {
        WriteLog("load layout failed: %s is not in this program\r\n",
                 file.toLocal8Bit().constData());
        return nullptr;
    }
    return build(parent);
}

QStringList AvailableLayouts() {
    std::lock_guard<std::mutex> hold(g_lock);
    return Compiled().keys();  // QMap keys are sorted
}
