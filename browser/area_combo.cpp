#include "browser/area_combo.h"

#include <QComboBox>
#include <QSignalBlocker>
#include <QSize>

#include "browser/area_list.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/text.h"

namespace {

constexpr int kAreaRowHeight = 23;

}  // namespace

void FillAreaCombo(QComboBox* areaCombo, int& currentArea, const std::wstring& ipReply) {
    if (!areaCombo) return;
    {
        // Refilling is no choice of the user's.
        QSignalBlocker quiet(areaCombo);
        areaCombo->clear();
        for (const std::string& name : g_areaList) {
            areaCombo->addItem(QString::fromStdWString(AnsiToWide(name)));
            areaCombo->setItemData(areaCombo->count() - 1, QSize(0, kAreaRowHeight),
                                   Qt::SizeHintRole);
        }
        areaCombo->setCurrentIndex(-1);
    }
    int saved;
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        saved = g_config->area;
    }
    WriteLog("area=%d\r\n", saved);
    if (saved != -1) {
        if (saved >= 0 && saved < areaCombo->count()) areaCombo->setCurrentIndex(saved);
        return;
    }
    std::vector<std::string> entries;
    for (int i = 0; i < areaCombo->count(); ++i)
        entries.push_back(WideToAnsi(areaCombo->itemText(i).toStdWString()));
    const int found = FindAreaInText(entries, WideToAnsi(ipReply));
    if (found < 0) return;
    currentArea = found;
    areaCombo->setCurrentIndex(found);
}

void OpenPortal(PortalFamily family, const QComboBox* areaCombo, int currentArea) {
    if (!areaCombo || currentArea < 0 || currentArea >= areaCombo->count()) return;
    OpenPortalForArea(family, WideToAnsi(areaCombo->itemText(currentArea).toStdWString()));
}
