// The main window's area drop-down and its two per-area portal buttons.
#pragma once

#include <string>

#include "browser/portal_directory.h"

class QComboBox;

// Refills the drop-down with g_areaList (rows 23 pixels high) and selects an area: the
// saved one (g_config.area), else the first area named in `ipReply`, the lookup reply
// that came with WM_PORTALS_READY, which then also becomes `currentArea`. Only that
// selection raises the drop-down's selection notification, which the window handles
// as the user's choice; with no area found nothing is selected. UI thread.
void FillAreaCombo(QComboBox* areaCombo, int& currentArea, const std::wstring& ipReply);

// Opens the family's portal of the drop-down entry at `currentArea` in the shell;
// nothing while the drop-down or the family's list has no such entry. UI thread.
void OpenPortal(PortalFamily family, const QComboBox* areaCombo, int currentArea);
