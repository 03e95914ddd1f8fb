// A reply body as a worker hands it to the control: the first byte picks the request kind,
// the rest is the body. Lines, records, routing and the update events run as on the
// user-interface thread; every reply must end in exactly one update event.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "control/KdxCtrl.h"
#include "queries/HttpQuery.h"

namespace {

int g_updates = 0;

kdx::CORV_Velmar_KDXCtrl& Control() {
  static auto* ctrl = [] {
    auto* c = new kdx::CORV_Velmar_KDXCtrl;
    kdx::DispatchTable table = kdx::KdxEventTable();
    for (kdx::DISPID id : {kdx::kdxevent::StatementUpdate, kdx::kdxevent::QueryUpdate})
      table.Bind(id, kdx::MemberKind::Method, [](std::span<kdx::VARIANT>, kdx::VARIANT*) {
        ++g_updates;
        return kdx::S_OK;
      });
    c->FindConnectionPoint()->Advise(std::make_shared<kdx::DispatchObject>(std::move(table)));
    return c;
  }();
  return *ctrl;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static constexpr long kKinds[] = {kdx::kInfoRights, kdx::kInfoPerformance, kdx::kInfoQuery, 3};
  kdx::CORV_Velmar_KDXCtrl& ctrl = Control();
  kdx::HttpJob job;
  job.url = u"http://127.0.0.1/fuzz";
  job.infoType = static_cast<int32_t>(kKinds[data[0] % 4]);
  job.name = u"Q,tag";
  job.window = ctrl.GetSafeHwnd();
  std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
  job.bodyLength = body.size();
  g_updates = 0;
  ctrl.GetSafeHwnd().SendMessage(kdx::WM_HTTPREPLY, reinterpret_cast<kdx::WPARAM>(&job),
                                 body.empty() ? 0 : reinterpret_cast<kdx::LPARAM>(body.data()));
  if (g_updates != 1) std::abort();
  // Keep memory flat across runs.
  for (auto& rows : ctrl.m_arrStatementRows) rows.clear();
  ctrl.m_mapQueryTables.clear();
  return 0;
}
