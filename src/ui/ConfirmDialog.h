// The order confirmation dialog: the submitters fill it with label/value rows and run it
// modally; IDOK means send. Showing it is left to the thread's confirm presenter.
#pragma once

#include "ui/ConfirmPresenter.h"
#include "platform/cstring.h"
#include "record/field_record.h"

namespace kdx {

inline constexpr COLORREF kConfirmLabelColour = RGB(52, 104, 154);
inline constexpr COLORREF kConfirmValueColour = RGB(68, 68, 68);
inline constexpr COLORREF kConfirmBuyColour = RGB(255, 0, 0);
inline constexpr COLORREF kConfirmSellColour = RGB(0, 255, 0);

// The dialog's owner-drawn buttons; they keep their child id.
class ConfirmButton {
 public:
  explicit ConfirmButton(int id) : m_nID(id) {}
  int GetDlgCtrlID() const { return m_nID; }

 private:
  int m_nID;
};

class ConfirmDialog {
 public:
  enum Kind { kNewOrder = 0, kCancel = 1, kReduce = 2, kPriceChange = 4 };

  ConfirmDialog() = default;
  ConfirmDialog(const ConfirmDialog&) = delete;
  ConfirmDialog& operator=(const ConfirmDialog&) = delete;

  void SetImageDirectory(const CString& directory) { m_strImageDir = directory; }
  void SetTitle(const CString& title, int kind);
  // Copies both texts. False, with nothing added, when the row cannot be stored.
  bool AddRow(const CString& label, COLORREF labelColour, const CString& value, COLORREF valueColour);
  // Hands the dialog to the thread's presenter; IDOK (1) means send the order.
  int DoModal();

  const CString& GetImageDirectory() const { return m_strImageDir; }
  const CString& GetTitle() const { return m_strTitle; }
  int GetKind() const { return m_nKind; }
  int GetRowCount() const { return m_nRowCount; }
  const FieldRecord& GetLabels() const { return m_recLabels; }
  const FieldRecord& GetValues() const { return m_recValues; }
  const ConfirmButton& GetOrderButton() const { return m_btnOrder; }
  const ConfirmButton& GetCancelButton() const { return m_btnCancel; }
  // What a presenter is shown: the rows as read back from the two records.
  ConfirmRequest BuildRequest() const;

 private:
  CString m_strImageDir;
  ConfirmButton m_btnOrder{IDOK};
  ConfirmButton m_btnCancel{IDCANCEL};
  CString m_strTitle;
  int32_t m_nRowCount = 0;
  // Text field i is row i's text, numeric field i its colour.
  FieldRecord m_recLabels;
  FieldRecord m_recValues;
  int32_t m_nKind = kNewOrder;
};

}  // namespace kdx
