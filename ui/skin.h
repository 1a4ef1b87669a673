// The skin folder beside the program and the layouts of the windows, made by their
// file name: read from the skin folder, or where the system lacks the form loader
// (Windows), compiled from the same files into the program.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <string>

// Also makes "skin:" a path prefix for images named in style sheets and compiled
// layouts, and sets the application style the skin is drawn over.
void SetSkinDir(const std::string& dir);
std::string SkinDir();

// Custom control classes that layouts may declare; register before loading any layout.
using ControlFactory = std::function<QWidget*(QWidget* parent)>;
void RegisterControl(const QString& className, ControlFactory factory);
bool IsControlRegistered(const QString& className);

// Makes the layout <file> ("login.ui") as a widget tree under `parent`; null (logged)
// on failure.
QWidget* LoadLayout(const QString& file, QWidget* parent);
// The file names of every layout this build can make, sorted.
QStringList LayoutFiles();

// A layout compiled into the program: makes its tree under `parent`.
using CompiledLayout = QWidget* (*)(QWidget* parent);
// Only builds with compiled layouts have these; RegisterCompiledLayouts is generated
// with the layouts and runs from RegisterCustomControls.
void RegisterCompiledLayout(const QString& file, CompiledLayout build);
void RegisterCompiledLayouts();

// A layout prepared once (read from the skin folder) and built as often as needed: the
// rows of a long list are a few widgets made alike and reused.
class LayoutTemplate {
public:
    explicit LayoutTemplate(const QString& file);
    bool ok() const { return ok_; }
    // A new widget tree of the layout under `parent`; null (logged) on failure.
    QWidget* Build(QWidget* parent) const;

private:
    QString file_;
    QByteArray prepared_;
    bool ok_ = false;
};

// Registers every custom control of the program (defined with the controls).
void RegisterCustomControls();
