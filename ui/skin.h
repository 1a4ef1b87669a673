// The skin folder beside the program and the loader of its layout files.
#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>
#include <functional>
#include <string>

// Also makes "skin:" a path prefix for images named in style sheets.
void SetSkinDir(const std::string& dir);
std::string SkinDir();

// Custom control classes that layouts may declare; register before loading any layout.
using ControlFactory = std::function<QWidget*(QWidget* parent)>;
void RegisterControl(const QString& className, ControlFactory factory);
bool IsControlRegistered(const QString& className);

// Loads <skin>/<file> into a widget tree under `parent`; null (logged) on failure.
QWidget* LoadLayout(const QString& file, QWidget* parent);

// A layout read from the skin folder once and built as often as needed: the rows of a
// long list are a few widgets made alike and reused.
class LayoutTemplate {
public:
    explicit LayoutTemplate(const QString& file);
    bool ok() const { return !text_.isEmpty(); }
    // A new widget tree of the layout under `parent`; null (logged) on failure.
    QWidget* Build(QWidget* parent) const;

private:
    QString file_;
    QByteArray text_;
};

// Registers every custom control of the program (defined with the controls).
void RegisterCustomControls();
