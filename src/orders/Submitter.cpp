#include "orders/Submitter.h"

#include <charconv>

#include "control/KdxCtrl.h"
#include "platform/message_box.h"
#include "platform/safearray.h"
#include "reports/ReportText.h"
#include "ui/ConfirmDialog.h"

namespace kdx {
namespace {

constexpr ULONG kOrderFieldCount = 36;

// The component's order argument: a VARIANT holding a safe array of 36 empty VARIANTs, with
// access to its elements held until released. Every path out frees the array and its texts.
class COrderFieldArray {
 public:
  COrderFieldArray() : order_(VARIANT::Array(SafeArrayCreateVector(VT_VARIANT, 0, kOrderFieldCount))), access_(order_.parray) {}
  VARIANT* Elements() const { return access_.Variants(); }
  void ReleaseAccess() { access_.Release(); }
  VARIANT* Order() { return &order_; }

 private:
  VARIANT order_;
  SafeArrayDataAccess access_;
};

}  // namespace

void COrderContext::Set(OV id, CString text, COLORREF colour) {
  Value& v = values_[static_cast<std::size_t>(id)];
  v.text = std::move(text);
  v.colour = colour ? colour : kConfirmValueColour;
  v.set = true;
}

CString DecimalText(int64_t number) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  return CString(std::u16string(digits, end));
}

void COrderContext::SetNumber(OV id, int64_t number) {
  Set(id, DecimalText(number));
  values_[static_cast<std::size_t>(id)].number = number;
}

const CString& COrderContext::RowText(int field) {
  const auto [it, added] = rowTexts_.try_emplace(field);
  if (added) {
    CORVOMNIDEALAPI& api = *ctrl.m_pTradeApi;
    it->second = def->overseasRow ? api.GetOBDataString(kind, row, field) : api.GetDataString(kind, row, field);
  }
  return it->second;
}

int64_t COrderContext::RowNumber(int field) {
  const auto [it, added] = rowNumbers_.try_emplace(field);
  if (added) {
    CORVOMNIDEALAPI& api = *ctrl.m_pTradeApi;
    // Overseas numbers come as doubles; past 64 bits they are as unusable as they are absurd.
    it->second = def->overseasRow ? TruncateToInt64(api.GetOBDataValue(kind, row, field)).value_or(INT64_MIN)
                                 : api.GetDataValue(kind, row, field);
  }
  return it->second;
}

std::optional<long> COrderContext::Refuse(const char16_t* what) {
  ctrl.FireLog(0, CString(def->name) + u" REFUSED ! " + what + u" out of range");
  return 0;
}

void COrderContext::SetLogin() {
  Set(OV::LoginID, ctrl.m_strLoginID);
  Set(OV::Password, ctrl.m_strLoginPassword);
  if (Prompting()) Set(OV::Broker, ctrl.m_strBrokerName + u" " + ctrl.m_strBroker);
}

bool COrderContext::Prompting() const { return ctrl.m_bOrderPrompt != 0 && !skipPrompt; }

void COrderContext::SetAccountShown(const CString& account) {
  if (Prompting()) Set(OV::AccountShown, ctrl.m_strRocIDPrefix + u"-" + account);
}

void COrderContext::SetSide(const CString& side) {
  Set(OV::Side, side);
  if (side == u"B") {
    Set(OV::SideShown, u"Buy", kConfirmBuyColour);
  } else {
    Set(OV::SideShown, u"Sell", kConfirmSellColour);
  }
}

class COrderSubmitter {
 public:
  // The value a table entry names; fixed texts and row fields are worked out into `scratch`.
  static const COrderContext::Value& Resolve(COrderContext& order, const Src& src, COrderContext::Value& scratch) {
    switch (src.kind) {
      case Src::Named:
        return order.values_[static_cast<std::size_t>(src.id)];
      case Src::Literal:
        scratch = {src.text, 0, kConfirmValueColour, true};
        break;
      case Src::RowText:
        scratch = {order.RowText(src.id), 0, kConfirmValueColour, true};
        break;
      case Src::RowNumber: {
        const int64_t n = order.RowNumber(src.id);
        scratch = {DecimalText(n), n, kConfirmValueColour, true};
        break;
      }
    }
    return scratch;
  }

  static CString LogLine(COrderContext& order) {
    std::u16string line;
    line.reserve(320);
    line.append(u"(").append(order.def->name).append(u")");
    COrderContext::Value scratch;
    for (const LogKey& key : order.def->log) {
      if (&key != order.def->log.data()) line += u',';
      line.append(key.key).append(u"=").append(Resolve(order, key.src, scratch).text);
    }
    return CString(std::move(line));
  }

  // IDOK, or whatever else the dialog ended with.
  static int Confirm(COrderContext& order) {
    const SubmitterDef& def = *order.def;
    ConfirmDialog dialog;
    dialog.SetImageDirectory(order.ctrl.m_strImagePath);
    const bool reduce = def.reduceTitle != nullptr && order.quantity != 0;
    dialog.SetTitle(reduce ? def.reduceTitle : def.title, reduce ? ConfirmDialog::kReduce : def.dialogKind);
    COrderContext::Value scratch;
    for (const DialogRow& row : def.rows) {
      const COrderContext::Value& value = Resolve(order, row.src, scratch);
      if (value.set) dialog.AddRow(row.label, kConfirmLabelColour, value.text, value.colour);
    }
    return dialog.DoModal();
  }
};

long RunSubmitter(COrderContext& order) {
  CORV_Velmar_KDXCtrl& ctrl = order.ctrl;
  COrderFieldArray array;
  VARIANT* elements = array.Elements();
  if (elements == nullptr) return 0;
  if (const auto refused = order.def->hook(order)) return *refused;
  const SubmitterDef& def = *order.def;
  COrderContext::Value scratch;
  for (const ArrayField& field : def.fields) {
    const COrderContext::Value& value = COrderSubmitter::Resolve(order, field.src, scratch);
    if (field.vt == VT_I4) {
      elements[field.element] = VARIANT(static_cast<int32_t>(value.number));
    } else {
      elements[field.element] = VARIANT(std::u16string_view(value.text));
    }
  }

  // The dialog runs the message loop and the Log handlers are the host's: either may log out,
  // log in again or destroy the control.
  const CORV_Velmar_KDXCtrl::CFireGuard guard(ctrl);
  const CString name(def.name);
  if (ctrl.m_bOrderPrompt != 0 && !order.skipPrompt) {
    const int answer = COrderSubmitter::Confirm(order);
    if (!guard.ControlAlive()) return 0;
    if (answer != IDOK) {
      ctrl.FireLog(1, name + u" CANCELED !");
      return -100;
    }
  }
  ctrl.FireLog(2, COrderSubmitter::LogLine(order));
  if (!guard.ControlAlive()) return 0;
  array.ReleaseAccess();
  if (ctrl.m_bTestMode != 0) {
    ctrl.FireLog(1, name + u" TESTED !");
    return -101;
  }
  if (!guard.SameLogin()) {
    ctrl.FireLog(0, name + u" NOT SENT ! not logged in");
    return 0;
  }
  return def.send(*ctrl.m_pTradeApi, order.sendQuantity, array.Order());
}

}  // namespace kdx
