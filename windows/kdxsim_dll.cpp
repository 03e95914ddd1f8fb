// kdxsim.dll: the simulated trade-API component as a COM class under the component's CLSID,
// so that the control runs end to end with no broker installed. Its market is on: market
// orders fill at once and resting orders fill as the price walks. Each call first delivers
// the events already due, as a component servicing its connection inside calls does, so a
// client that pumps no messages (a script host) still sees its log-in and orders complete.
#include <memory>
#include <string>

#include "platform/class_factory.h"
#include "platform/message_window.h"
#include "platform/registry.h"
#include "platform/win32/com_server.h"
#include "sim/SimTradeApi.h"

namespace kdx {
namespace {

// The component's dispatch and event interfaces (the simulation's own identifiers).
constexpr IID kSimDispatchIid{0x5D3C1E27, 0x8A41, 0x4F0B, {0x9C, 0x35, 0x6E, 0x21, 0x7A, 0x40, 0xB1, 0x58}};
constexpr IID kSimEventsIid{0x5D3C1E28, 0x8A41, 0x4F0B, {0x9C, 0x35, 0x6E, 0x21, 0x7A, 0x40, 0xB1, 0x58}};
constexpr std::u16string_view kSimProgID = u"ORVOMNIDEALAPI.Simulated.1";

class ServedSimApi final : public sim::SimTradeApi {
 public:
  using SimTradeApi::SimTradeApi;
  HRESULT Invoke(DISPID id, WORD flags, std::span<VARIANT> args, VARIANT* result) override {
    // Held: an event delivered here may lead the caller to release this component.
    const auto self = shared_from_this();
    MessageLoop::ForCurrentThread().RunPending();
    return SimTradeApi::Invoke(id, flags, args, result);
  }
};

std::u16string ClassKey() { return u"CLSID\\" + StringFromCLSID(CLSID_ORVOMNIDEALAPI); }

HRESULT RegisterSim() {
  Registry& root = ClassesRoot();
  const std::u16string key = ClassKey(), progId(kSimProgID);
  const std::u16string rows[][3] = {
      {key, u"", u"Simulated trade-API component"},
      {key + u"\\InprocServer32", u"", CurrentModulePath()},
      {key + u"\\InprocServer32", u"ThreadingModel", u"Apartment"},
      {key + u"\\ProgID", u"", progId},
      {progId, u"", u"Simulated trade-API component"},
      {progId + u"\\CLSID", u"", StringFromCLSID(CLSID_ORVOMNIDEALAPI)},
  };
  for (const auto& row : rows)
    if (FAILED(root.SetValue(row[0], row[1], row[2]))) return SELFREG_E_CLASS;
  return S_OK;
}

HRESULT UnregisterSim() {
  return SUCCEEDED(ClassesRoot().DeleteTrees({ClassKey(), std::u16string(kSimProgID)})) ? S_OK : SELFREG_E_CLASS;
}

const com::ComClass kClasses[] = {
    {u"Simulated trade API", CLSID_ORVOMNIDEALAPI, kSimDispatchIid, kSimEventsIid, false, 0,
     [](std::shared_ptr<IDispatch>* out) {
       sim::SimConfig config;
       config.market = true;
       config.recordCalls = false;  // a long-running host would otherwise keep every call
       *out = std::make_shared<ServedSimApi>(std::move(config));
       return S_OK;
     },
     nullptr, nullptr},
};

const com::ComServer kServer{kClasses, false, RegisterSim, UnregisterSim,
                             [] { return sim::SimTradeApi::AliveCount() == 0 ? S_OK : S_FALSE; }};

[[maybe_unused]] const bool kServed = (com::SetComServer(&kServer), true);

}  // namespace
}  // namespace kdx
