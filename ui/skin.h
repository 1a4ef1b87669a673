// The skin folder beside the program and the loader of its layout files.
#pragma once

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

// Registers every custom control of the program (defined with the controls).
void RegisterCustomControls();
