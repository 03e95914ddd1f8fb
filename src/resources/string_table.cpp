#include "resources/string_table.h"

#include <algorithm>
#include <atomic>

namespace kdx {
namespace {

// Keep each table sorted by id.
constexpr StringResource kTraditional[] = {
    {1, u"ORV Velmar QN ZAZUZO Bridge Unicode Control"},
    {2, u"ORV Velmar QN ZAZUZO Bridge Unicode Property Page"},
    {203, u"證券"},
    {211, u"期貨"},
    {213, u"市價"},
    {215, u"自動"},
    {216, u"新倉"},
    {217, u"平倉"},
    {223, u"確認期貨刪單"},
    {224, u"確認期貨減量"},
    {228, u"限價"},
    {229, u"買進"},
    {230, u"賣出"},
    {231, u"委託失敗"},
    {232, u"ITS主機已接單"},
    {233, u"預約單"},
    {234, u"送至後台Gateway"},
    {235, u"後台已收單"},
    {236, u"完全成交"},
    {237, u"委託刪單成功"},
    {238, u"部分成交"},
    {239, u"委託成功"},
    {240, u"選擇權"},
    {241, u"平盤價"},
    {242, u"跌停價"},
    {243, u"漲停價"},
    {244, u"一般"},
    {245, u"融資"},
    {246, u"融券"},
    {250, u"Qenvar系統僅接受『新倉/平倉』\n不接受『自動』\n請重新下單。"},
    {251, u"Qenvar系統不接受當沖單\n請重新下單。"},
    {252, u"造市"},
    {260, u"平今倉"},
};

constexpr StringResource kSimplified[] = {
    {1, u"ORV Velmar QN ZAZUZO Bridge Unicode Control"},
    {2, u"ORV Velmar QN ZAZUZO Bridge Unicode Property Page"},
    {203, u"证券"},
    {211, u"期货"},
    {213, u"市价"},
    {215, u"自动"},
    {216, u"新仓"},
    {217, u"平仓"},
    {223, u"确认期货删单"},
    {224, u"确认期货减量"},
    {228, u"限价"},
    {229, u"买进"},
    {230, u"卖出"},
    {231, u"委托失败"},
    {232, u"ITS主机已接单"},
    {233, u"预约单"},
    {234, u"送至后台Gateway"},
    {235, u"后台已收单"},
    {236, u"完全成交"},
    {237, u"委托删单成功"},
    {238, u"部分成交"},
    {239, u"委托成功"},
    {240, u"选择权"},
    {241, u"平盘价"},
    {242, u"跌停价"},
    {243, u"涨停价"},
    {244, u"一般"},
    {245, u"融资"},
    {246, u"融券"},
    {250, u"Qenvar系统仅接受『新仓/平仓』\n不接受『自动』\n请重新下单。"},
    {251, u"Qenvar系统不接受平今委托方式，请重新下单。"},
    {252, u"造市"},
    {260, u"平今仓"},
};

std::atomic<uint16_t> g_uiLanguage{kLangTraditionalChinese};

}  // namespace

uint16_t UiLanguage() { return g_uiLanguage.load(std::memory_order_relaxed); }

void SetUiLanguage(uint16_t langId) {
  g_uiLanguage.store(langId == kLangSimplifiedChinese ? kLangSimplifiedChinese : kLangTraditionalChinese,
                     std::memory_order_relaxed);
}

std::span<const StringResource> StringTable(uint16_t langId) {
  if (langId == kLangSimplifiedChinese) return kSimplified;
  return kTraditional;
}

std::u16string_view LoadResourceString(uint32_t id) {
  auto table = StringTable(UiLanguage());
  auto it = std::lower_bound(table.begin(), table.end(), id,
                             [](const StringResource& r, uint32_t wanted) { return r.id < wanted; });
  return it != table.end() && it->id == id ? it->text : std::u16string_view{};
}

}  // namespace kdx
