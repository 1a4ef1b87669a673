// Layouts read from the skin folder at run time through the form loader.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QUiLoader>

#include "core/log.h"
#include "ui/layout_source.h"

namespace {

class SkinLoader : public QUiLoader {
public:
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        ControlFactory factory = FindControlFactory(className);
        if (!factory) return QUiLoader::createWidget(className, parent, name);
        QWidget* w = factory(parent);
        if (w) w->setObjectName(name);
        return w;
    }
};

QString PathOf(const QString& file) {
    return QString::fromStdString(SkinDir()) + "/" + file;
}

}  // namespace

bool PrepareLayout(const QString& file, QByteArray* prepared) {
    QFile f(PathOf(file));
    if (f.open(QFile::ReadOnly)) *prepared = f.readAll();
    if (prepared->isEmpty()) {
        WriteLog("load layout failed: %s\r\n", PathOf(file).toLocal8Bit().constData());
        return false;
    }
    return true;
}

QWidget* BuildLayout(const QString& file, const QByteArray& prepared, QWidget* parent) {
    QBuffer buffer;
    buffer.setData(prepared);
    buffer.open(QIODevice::ReadOnly);
    SkinLoader loader;
    loader.setWorkingDirectory(QDir(QString::fromStdString(SkinDir())));
    QWidget* w = loader.load(&buffer, parent);
    if (!w) {
        WriteLog("load layout failed: %s %s\r\n", PathOf(file).toLocal8Bit().constData(),
                 loader.errorString().toLocal8Bit().constData());
    }
    return w;
}

QStringList AvailableLayouts() {
    QStringList files = QDir(QString::fromStdString(SkinDir())).entryList({"*.ui"}, QDir::Files);
    files.sort();
    return files;
}
