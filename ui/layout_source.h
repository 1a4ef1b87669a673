// Inside the toolkit layer: where a layout's widget tree comes from. The skin folder's
// layout files read by the form loader, or the classes compiled from those files.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "ui/skin.h"

// What Build needs of `file`, read once (the layout text where layouts are read).
// False (logged) when the build has no such layout.
bool PrepareLayout(const QString& file, QByteArray* prepared);
// A new widget tree of a prepared layout under `parent`; null (logged) on failure.
QWidget* BuildLayout(const QString& file, const QByteArray& prepared, QWidget* parent);
// Every layout the build can make, by file name, sorted.
QStringList AvailableLayouts();
// The factory registered for a custom control class, or null.
ControlFactory FindControlFactory(const QString& className);
