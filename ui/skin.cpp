#include "ui/skin.h"

#include <QApplication>
#include <QDir>
#include <QMap>
#include <QStyle>
#include <QStyleFactory>

#include "ui/layout_source.h"

namespace {

std::string g_skinDir;

QMap<QString, ControlFactory>& Factories() {
    static QMap<QString, ControlFactory> factories;
    return factories;
}

}  // namespace

void SetSkinDir(const std::string& dir) {
    g_skinDir = dir;
    // The skin's style sheets are drawn over Qt's own style, the same on every system.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) &&
        QApplication::style()->name().compare("fusion", Qt::CaseInsensitive) != 0) {
        if (QStyle* fusion = QStyleFactory::create("Fusion")) QApplication::setStyle(fusion);
    }
    // Style sheets and compiled layouts name their images as "skin:folder/file.png".
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

ControlFactory FindControlFactory(const QString& className) {
    return Factories().value(className);
}

QWidget* LoadLayout(const QString& file, QWidget* parent) {
    QByteArray prepared;
    if (!PrepareLayout(file, &prepared)) return nullptr;
    return BuildLayout(file, prepared, parent);
}

QStringList LayoutFiles() {
    return AvailableLayouts();
}

LayoutTemplate::LayoutTemplate(const QString& file) : file_(file) {
    ok_ = PrepareLayout(file, &prepared_);
}

QWidget* LayoutTemplate::Build(QWidget* parent) const {
    if (!ok_) return nullptr;
    return BuildLayout(file_, prepared_, parent);
}
