#include "ui/skin.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QUiLoader>

#include "core/log.h"

namespace {

std::string g_skinDir;

QMap<QString, ControlFactory>& Factories() {
    static QMap<QString, ControlFactory> factories;
    return factories;
}

class SkinLoader : public QUiLoader {
public:
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        auto it = Factories().find(className);
        if (it == Factories().end()) return QUiLoader::createWidget(className, parent, name);
        QWidget* w = it.value()(parent);
        if (w) w->setObjectName(name);
        return w;
    }
};

}  // namespace

void SetSkinDir(const std::string& dir) {
    g_skinDir = dir;
    // Style sheets name their images as "skin:folder/file.png".
    QDir::setSearchPaths("skin", {QString::fromStdString(dir)});
}

std::string SkinDir() {
    return g_skinDir;
}

void RegisterControl(const QString& className, ControlFactory factory) {
    Factories().insert(className, std::move(factory));
}

bool IsControlRegistered(const QString& className) {
    return Factories().contains(className);
}

QWidget* LoadLayout(const QString& file, QWidget* parent) {
    QString path = QString::fromStdString(g_skinDir) + "/" + file;
    QFile f(path);
    if (!f.open(QFile::ReadOnly)) {
        WriteLog("load layout failed: %s\r\n", path.toLocal8Bit().constData());
        return nullptr;
    }
    SkinLoader loader;
    loader.setWorkingDirectory(QDir(QString::fromStdString(g_skinDir)));
    QWidget* w = loader.load(&f, parent);
    if (!w) {
        WriteLog("load layout failed: %s %s\r\n", path.toLocal8Bit().constData(),
                 loader.errorString().toLocal8Bit().constData());
    }
    return w;
}

LayoutTemplate::LayoutTemplate(const QString& file) : file_(file) {
    const QString path = QString::fromStdString(g_skinDir) + "/" + file;
    QFile f(path);
    if (f.open(QFile::ReadOnly)) text_ = f.readAll();
    if (text_.isEmpty()) WriteLog("load layout failed: %s\r\n", path.toLocal8Bit().constData());
}

QWidget* LayoutTemplate::Build(QWidget* parent) const {
    if (text_.isEmpty()) return nullptr;
    QBuffer buffer;
    buffer.setData(text_);
    buffer.open(QIODevice::ReadOnly);
    SkinLoader loader;
    loader.setWorkingDirectory(QDir(QString::fromStdString(g_skinDir)));
    QWidget* w = loader.load(&buffer, parent);
    if (!w) {
        WriteLog("load layout failed: %s %s\r\n", file_.toLocal8Bit().constData(),
                 loader.errorString().toLocal8Bit().constData());
    }
    return w;
}
