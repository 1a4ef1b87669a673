#include "browser/area_list.h"

#include "core/log.h"
#include "core/text.h"

namespace {

const char* const kAreaNames[kAreaCount] = {
    "深圳",   "厦门", "宁波", "大连", "青岛",   "北京", "重庆", "上海", "天津",
    "内蒙古", "宁夏", "新疆", "西藏", "黑龙江", "辽宁", "吉林", "山东", "河北",
    "河南",   "湖北", "湖南", "安徽", "江西",   "四川", "贵州", "云南", "山西",
    "陕西",   "甘肃", "青海", "广东", "广西",   "江苏", "浙江", "福建", "海南",
};

}  // namespace

std::vector<std::string> g_areaList;

void InitAreaList() {
    std::vector<std::string> list;
    list.reserve(kAreaCount);
    for (const char* name : kAreaNames) list.push_back(Utf8ToAnsi(name));
    g_areaList.swap(list);
}

const char* AreaNameUtf8(int index) {
    return index >= 0 && index < kAreaCount ? kAreaNames[index] : "";
}

int FindAreaInText(const std::vector<std::string>& names, const std::string& text) {
    const std::string label = Utf8ToAnsi("地区:");
    for (size_t i = 0; i < names.size(); ++i) {
        WriteLog("%s%s\r\n", label.c_str(), names[i].c_str());
        if (!names[i].empty() && text.find(names[i]) != std::string::npos)
            return static_cast<int>(i);
    }
    return -1;
}
