// The 36 areas of the portal directory. Their order is the order of the area
// drop-down and the index of every portal table, and decides which name wins when a
// text names several: the five separately administered cities come before their
// provinces.
#pragma once

#include <string>
#include <vector>

constexpr int kAreaCount = 36;

// Area names in the system code page, in drop-down order. Filled by InitAreaList at
// start-up, before any window exists; read-only afterwards.
extern std::vector<std::string> g_areaList;

// Fills g_areaList in the current system code page (after the locale is set).
void InitAreaList();

// The UTF-8 name of area i (0 <= i < kAreaCount).
const char* AreaNameUtf8(int index);

// Index of the first entry of `names` (system code page) that occurs as a plain byte
// substring anywhere in `text`, logging each name tried; -1 when none does.
int FindAreaInText(const std::vector<std::string>& names, const std::string& text);
